#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <chrono>
#include <functional>

#include "core/db_target.h"
#include "core/error_report.h"
#include "data/tables.h"

namespace ondrel {

// One connection to the system database: a file (SQLite) or a server
// (PostgreSQL). Every difference between the two stays inside this layer.
class DbConnection final : public ReleasableConnection {
  public:
    DbConnection() = default;
    ~DbConnection() override;
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    bool HoldsConnection() const { return !name_.isEmpty(); }
    bool IsOpen() const;
    // What this connection was opened on.
    const DbTarget& Target() const { return target_; }
    // The SystemDB value (file or URI) this connection was opened on.
    const QString& OpenedAt() const { return target_.Text(); }
    Engine engine() const { return engine_; }
    // Who the records name: the server's login, or the OS account on one PC;
    // after the person signed in on the workstation when there is one.
    QString Person() const;
    QSqlDatabase Database() const;
    void RollbackAndClose() noexcept override;

  private:
    friend bool OpenDbConnection(const DbTarget&, DbConnection&, bool);
    friend void CloseDbConnection(DbConnection&);
    friend void BeginTransaction(DbConnection&);
    friend void CommitTransaction(DbConnection&);
    friend struct SqlitePath;
    friend struct ServerPath;
    friend struct ServerBatch;
    void Release() noexcept;

    QString name_;
    DbTarget target_;
    Engine engine_ = Engine::SQLite;
    QString person_;
    bool inTransaction_ = false;
    // On a server: statements whose answer nobody reads, sent with the next
    // one; whether the server has begun our transaction.
    QStringList deferred_;
    bool serverTransaction_ = false;
};

// The person signed in on this workstation ("login 氏名"; empty: nobody,
// the records name the login or account alone).
void SetSignedInPerson(const QString& shown);
QString SignedInPerson();
// "login 氏名 (account)", as the server's records write it too.
QString PersonWith(const QString& signedIn, const QString& account);

// How long a statement waits for another program's lock before the database
// counts as busy (DatabaseBusy): 5 s, on a file and on a server alike.
inline constexpr std::chrono::milliseconds kBusyTimeout{5000};
// The wait in force for connections opened from now on. Only a test fixture
// changes it, so that a busy case does not wait out the real 5 s.
std::chrono::milliseconds BusyTimeout();
void SetBusyTimeout(std::chrono::milliseconds timeout);
// How long a statement on a server may go unanswered before the command is
// ended and told (the connection dropped): the lock wait and 3 s more, so a
// busy database is still told as busy. 0: no deadline (the command-line
// tools, whose long reads are meant).
std::chrono::milliseconds ServerDeadline();
void SetServerDeadlineEnabled(bool enabled);

// Opens a system database read-write. A file is never created: false when
// it is missing, a folder, unreadable or not a database; DatabaseBusy when
// another program keeps it locked past the busy timeout. A server URI: false
// when it is not one this program accepts; DatabaseBusy, with a message that
// names the server and the reason, when the server does not answer.
// allowEmptyFile: only for the tool that lays a schema into a new file.
// A run of the program opens through its session (data/session.h), which
// also brings an older file up to date once.
[[nodiscard]] bool OpenDbConnection(const DbTarget& target, DbConnection& cn,
                                    bool allowEmptyFile = false);
// The same for a SystemDB value as written (the tools' arguments, tests).
[[nodiscard]] bool OpenDbConnectionAt(const QString& systemDb, DbConnection& cn,
                                      bool allowEmptyFile = false);
// Failures are ignored; the variable holds no connection afterwards.
void CloseDbConnection(DbConnection& cn);

// Writes begin with an immediate lock (SQLite), so a second writer waits
// here, not at commit.
void BeginTransaction(DbConnection& cn);
void CommitTransaction(DbConnection& cn);

// Statements with bound values ("?"); a failure throws AppError with the
// engine's code, DatabaseBusy for a locked file or a lost server.
QSqlQuery RunQuery(DbConnection& cn, const QString& sql, const QVariantList& values = {});
// The number of rows the change touched.
int RunChange(DbConnection& cn, const QString& sql, const QVariantList& values = {});
// A change inside a transaction whose count nobody reads: on a server it goes
// with the transaction's next statement, in the same round trip (a failure is
// raised there, or at the commit); on a file it runs at once.
void RunLater(DbConnection& cn, const QString& sql, const QVariantList& values = {});
// A column's value by position, as the program stored it.
QVariant ValueAt(const QSqlQuery& q, int column);

// One row of a result read by ForEachRow, by column position.
class RowReader {
  public:
    virtual ~RowReader() = default;
    // As ValueAt gives it (a file's dates are the text it stored).
    virtual QVariant Value(int column) const = 0;
    // Empty for NULL.
    virtual QString Text(int column) const = 0;
};
// Runs a query and hands each row to `row`, as RunQuery would. On a file the
// rows come straight from SQLite: QtSql's caching and per-value conversion
// was most of the cost of reading a long history.
void ForEachRow(DbConnection& cn, const QString& sql, const QVariantList& values,
                const std::function<void(const RowReader&)>& row);
// The same, and the transaction committed with it: on a server in one round
// trip (a COMMIT whose answer never comes throws CommitUnanswered).
void ForEachRowAndCommit(DbConnection& cn, const QString& sql, const QVariantList& values,
                         const std::function<void(const RowReader&)>& row);
// Reads a column by name; a missing column is a failure, as it was for the chart tables.
QVariant Field(const QSqlQuery& q, const QString& name);

// The table's column names in order, joined by ", "; empty on any failure.
QString TableFieldList(DbConnection& cn, const QString& table);
// Whether the database holds the table (any case): tables a newer version
// added are missing from a database made before it.
bool HoldsTable(DbConnection& cn, const QString& table);

// Who the records name on one PC: the OS account.
QString OsAccount();

// Field value as text: empty for NULL, dates as "yyyy/MM/dd".
QString NullToEmpty(const QVariant& value);
// The one place where an empty text or date becomes NULL.
QVariant SqlText(const QString& value);
QVariant SqlDate(const QString& shortDate);

}  // namespace ondrel
