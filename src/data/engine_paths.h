#pragma once

// Inside the data layer only: the two engines' own ways of running a
// statement, which db_connection.cpp dispatches to, and the mapping of their
// failures to the program's.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <functional>

#include "core/db_target.h"
#include "data/db_connection.h"

namespace ondrel {

inline constexpr int kSqliteBusy = 5;
inline constexpr int kSqliteLocked = 6;

// A failure as the program's: DatabaseBusy for a lock or a lost server,
// DatabaseNoRight for a refused right (`statements`: the text sent, to name
// the right), else AppError with the engine's code.
[[noreturn]] void ThrowDbError(const QSqlError& error, Engine engine,
                               const QString& statements = {});
void RequireOpen(const DbConnection& cn);
// No key is left for a new memo (a key imported near the top of the range):
// told, the save rolled back, the text on screen kept.
[[noreturn]] void ThrowKeysExhausted(const QString& detail);

// A file: SQLite behind QtSql, a save and a long read on SQLite's own handle
// (QtSql's statement parsing and per-value caching were most of their cost).
struct SqlitePath {
    // False when the file is missing, a folder, unreadable or not a
    // database; DatabaseBusy when another program keeps it locked.
    static bool Open(const QString& file, QSqlDatabase& db, bool allowEmptyFile);
    static QSqlQuery Execute(DbConnection& cn, const QString& sql, const QVariantList& values);
    static int Change(DbConnection& cn, const QString& sql, const QVariantList& values);
    static void ForEachRow(DbConnection& cn, const QString& sql, const QVariantList& values,
                           const std::function<void(const RowReader&)>& row);
    // A file made by an older version gains the row version column.
    static void AddRowVersion(DbConnection& cn);
    // After a write that failed half-way (a full disk, an I/O error), SQLite
    // leaves its journal for the next opener to roll back; this rolls it
    // back now, so the file is whole on its own. Nothing when there is no
    // journal, or when it is another writer's.
    static void Settle(const QString& file) noexcept;
    // Ends the transaction without its changes; the connection stays open.
    static void Rollback(DbConnection& cn) noexcept;
};

// A server: libpq as the server driver loaded it; statements whose answer
// nobody reads wait and go with the next one, in one round trip.
struct ServerPath {
    // DatabaseBusy, naming the server and the reason, when it does not answer.
    static bool Open(const ServerTarget& target, QSqlDatabase& db);
    static QString Person(QSqlDatabase& db);
    static QSqlQuery Execute(DbConnection& cn, const QString& sql, const QVariantList& values);
    static int Change(DbConnection& cn, const QString& sql, const QVariantList& values);
    static void ForEachRow(DbConnection& cn, const QString& sql, const QVariantList& values,
                           const std::function<void(const RowReader&)>& row);
    static void Later(DbConnection& cn, const QString& sql, const QVariantList& values);
    static void Begin(DbConnection& cn);
    static void Commit(DbConnection& cn);
    static void CommitAfter(DbConnection& cn, const QString& sql, const QVariantList& values,
                            const std::function<void(const RowReader&)>& row);
    // A text as the program stored it (see ToServerText in server_path.cpp).
    static QString FromServerText(const QString& s);
};

}  // namespace ondrel
