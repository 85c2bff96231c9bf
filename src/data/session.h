#pragma once

#include <QSet>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "core/db_target.h"
#include "core/records.h"
#include "data/db_connection.h"

namespace ondrel {

struct AppContext;
class DbSession;

namespace detail {

// The command's connection when one is open or can be opened on the current
// SystemDB, else `own`; false when the database cannot be opened.
bool ConnectionFor(AppContext& ctx, DbConnection& own, DbConnection*& use);

}  // namespace detail

// An access record not yet written: the workstation's time, the full chart
// number, the action's text.
struct PendingAccess {
    QString at;
    qint32 chart = 0;
    QString action;
};

// A memo's change whose COMMIT went unanswered: what identifies its revision
// if the server kept it.
struct UncertainSave {
    enum class Kind { Insert, Update, Delete };
    Kind kind = Kind::Update;
    qint32 mainKey = 0;
    qint32 rowVersion = 0;  // the version the revision would record
    CommonRecord sent;      // the date and texts sent (an insert or an update)
    std::vector<PendingAccess> accessSent;
};

// A run's life with its system database: the target SystemDB names, parsed
// when its text changes rather than at every open; the server connection
// kept from one command to the next; the connection a command's procedures
// share; the access records not yet written; and which older files were
// brought up to date in this run.
class DbSession {
  public:
    const DbTarget& Target(const QString& systemDb);
    // The kept server connection is closed; the next command opens a new one
    // (the settings named another server, or a restore needs it gone).
    void CloseKept() { kept_.reset(); }

    // A memo was written in this run (the daily backup follows it).
    bool memoWritten = false;
    // Oldest first; written with the next change or flush.
    std::vector<PendingAccess> pendingAccess;
    // Checked before the next save or delete, once the server answers.
    std::optional<UncertainSave> uncertainSave;

  private:
    friend class CommandConnection;
    friend bool detail::ConnectionFor(AppContext&, DbConnection&, DbConnection*&);

    std::optional<DbTarget> target_;
    DbConnection* command_ = nullptr;
    std::unique_ptr<DbConnection> kept_;
    QSet<QString> upgraded_;
};

// The run's session, made at its first use.
DbSession& Session(AppContext& ctx);

// A file made by an older version gains what this one needs: the row
// version column, and the record tables with a baseline revision of each
// memo. Nothing happens on a server or on a file that has them.
void UpgradeOlderFile(DbConnection& cn);

// For the length of one user's command the data procedures share one
// connection: opening costs more than most of the statements a command runs.
// Nested scopes use the outer one. The connection holds no lock between
// statements; it is closed when the outermost scope ends.
class CommandConnection {
  public:
    explicit CommandConnection(AppContext& ctx);
    ~CommandConnection();
    CommandConnection(const CommandConnection&) = delete;
    CommandConnection& operator=(const CommandConnection&) = delete;

  private:
    DbSession& session_;
    DbConnection cn_;
    bool outermost_;
};

// Before the window opens on a server: empty when it answers and holds a
// system database, else the message for the user (naming the server and
// the reason).
QString ServerStartProblem(AppContext& ctx);

}  // namespace ondrel
