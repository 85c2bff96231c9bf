#pragma once

#include <QString>
#include <optional>

namespace ondrel {

struct ServerTarget {
    QString host;      // a name, an address or a socket folder; empty: libpq's default
    int port = -1;     // -1: libpq's default
    QString database;  // empty: libpq's default (the user's name)
    QString user;      // empty: the OS account
    QString options;   // further libpq keywords, "key=value;key=value"
    QString shown;     // for messages: "host:port/database", never a password
};

// The URI taken apart for the driver; nullopt with `error` set when it is not
// a URI this program accepts (a password in it is refused: it would sit in
// the settings file for anyone who can read it).
std::optional<ServerTarget> ParseServerUri(const QString& uri, QString* error);

// What a SystemDB value names, decided once: the path of a database file, or
// a server, when it is a libpq connection URI
// ("postgresql://user@host:5432/ondrel?sslmode=verify-full"). Nothing else
// looks at the text to tell the two apart.
class DbTarget {
  public:
    static DbTarget Of(const QString& systemDb);
    bool IsServer() const { return isServer_; }
    // As SystemDB has it: the file's path, or the URI.
    const QString& Text() const { return text_; }
    // The server URI taken apart; nullopt for a file, or for a URI this
    // program does not accept (Problem() says why).
    const std::optional<ServerTarget>& Server() const { return server_; }
    const QString& Problem() const { return problem_; }
    // For messages: the file's path, or "host:port/database" (never a password).
    QString Shown() const { return server_ ? server_->shown : text_; }

  private:
    QString text_;
    bool isServer_ = false;
    std::optional<ServerTarget> server_;
    QString problem_;
};

}  // namespace ondrel
