#pragma once

#include <QString>
#include <optional>

namespace ondrel {

// SystemDB names a database server when it is a libpq connection URI
// ("postgresql://user@host:5432/ondrel?sslmode=verify-full"); otherwise it is
// the path of a database file.
bool IsServerUri(const QString& systemDb);

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

}  // namespace ondrel
