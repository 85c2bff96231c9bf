#include "data/db_connection.h"

#include <pwd.h>
#include <unistd.h>

#include <QDate>
#include <QSqlDriver>
#include <QSqlRecord>
#include <QUuid>
#include <atomic>

#include "core/app_error.h"
#include "data/engine_paths.h"
#include "data/japanese_date.h"

namespace ondrel {

namespace {

std::atomic<int> busyTimeoutMs{int(kBusyTimeout.count())};

}  // namespace

QString OsAccount() {
    static const QString account = [] {
        if (const passwd* pw = getpwuid(getuid())) return QString::fromLocal8Bit(pw->pw_name);
        return qEnvironmentVariable("USER");
    }();
    return account;
}

std::chrono::milliseconds BusyTimeout() { return std::chrono::milliseconds(busyTimeoutMs.load()); }

void SetBusyTimeout(std::chrono::milliseconds timeout) { busyTimeoutMs = int(timeout.count()); }

namespace {
std::atomic<bool> serverDeadlineEnabled{true};
}  // namespace

std::chrono::milliseconds ServerDeadline() {
    using namespace std::chrono_literals;
    return serverDeadlineEnabled ? BusyTimeout() + 3000ms : 0ms;
}

void SetServerDeadlineEnabled(bool enabled) { serverDeadlineEnabled = enabled; }

namespace {
// Set and read on the window's thread only.
QString signedInPerson;
}  // namespace

void SetSignedInPerson(const QString& shown) { signedInPerson = shown; }
QString SignedInPerson() { return signedInPerson; }

QString PersonWith(const QString& signedIn, const QString& account) {
    return signedIn.isEmpty() ? account : signedIn + QStringLiteral(" (") + account + u')';
}

QString DbConnection::Person() const { return PersonWith(signedInPerson, person_); }

DbConnection::~DbConnection() { Release(); }

bool DbConnection::IsOpen() const { return HoldsConnection() && Database().isOpen(); }

QSqlDatabase DbConnection::Database() const { return QSqlDatabase::database(name_, false); }

void DbConnection::Release() noexcept {
    if (name_.isEmpty()) return;
    {
        QSqlDatabase db = Database();
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(name_);
    name_.clear();
    target_ = DbTarget();
    person_.clear();
    inTransaction_ = false;
    deferred_.clear();
    serverTransaction_ = false;
}

void DbConnection::RollbackAndClose() noexcept {
    const bool file = HoldsConnection() && engine_ == Engine::SQLite;
    const QString path = target_.Text();
    // A server's transaction whose BEGIN still waits was never begun there.
    if (IsOpen() && inTransaction_ && (engine_ == Engine::SQLite || serverTransaction_)) {
        QSqlQuery q(Database());
        q.exec(QStringLiteral("ROLLBACK"));  // failure ignored: nothing more can be done
    }
    Release();
    if (file) SqlitePath::Settle(path);
}

bool OpenDbConnection(const DbTarget& target, DbConnection& cn, bool allowEmptyFile) {
    cn.Release();
    const bool server = target.IsServer();
    if (server && !target.Server()) return false;  // not a URI this program accepts
    const QString driver = server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    cn.name_ = QStringLiteral("ondrel-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, cn.name_);
    if (!db.isValid())
        throw AppError(err::CannotCreateObject, driver + QStringLiteral(" driver missing"));
    const bool open = server ? ServerPath::Open(*target.Server(), db)
                             : SqlitePath::Open(target.Text(), db, allowEmptyFile);
    if (!open) return false;
    cn.engine_ = server ? Engine::Postgres : Engine::SQLite;
    cn.target_ = target;
    cn.person_ = server ? ServerPath::Person(db) : OsAccount();
    return true;
}

bool OpenDbConnectionAt(const QString& systemDb, DbConnection& cn, bool allowEmptyFile) {
    return OpenDbConnection(DbTarget::Of(systemDb), cn, allowEmptyFile);
}

void CloseDbConnection(DbConnection& cn) {
    if (!cn.HoldsConnection() || !cn.IsOpen()) return;
    cn.Release();
}

void BeginTransaction(DbConnection& cn) {
    RequireOpen(cn);
    if (cn.engine() == Engine::Postgres) {
        ServerPath::Begin(cn);
        return;
    }
    RunChange(cn, QStringLiteral("BEGIN IMMEDIATE"));
    cn.inTransaction_ = true;
}

void CommitTransaction(DbConnection& cn) {
    RequireOpen(cn);
    if (cn.engine() == Engine::Postgres) {
        ServerPath::Commit(cn);
        return;
    }
    RunChange(cn, QStringLiteral("COMMIT"));
    cn.inTransaction_ = false;
}

void RunLater(DbConnection& cn, const QString& sql, const QVariantList& values) {
    RequireOpen(cn);
    if (cn.engine() == Engine::Postgres) {
        ServerPath::Later(cn, sql, values);
    } else {
        SqlitePath::Change(cn, sql, values);
    }
}

QSqlQuery RunQuery(DbConnection& cn, const QString& sql, const QVariantList& values) {
    RequireOpen(cn);
    return cn.engine() == Engine::Postgres ? ServerPath::Execute(cn, sql, values)
                                           : SqlitePath::Execute(cn, sql, values);
}

int RunChange(DbConnection& cn, const QString& sql, const QVariantList& values) {
    RequireOpen(cn);
    return cn.engine() == Engine::Postgres ? ServerPath::Change(cn, sql, values)
                                           : SqlitePath::Change(cn, sql, values);
}

void ForEachRow(DbConnection& cn, const QString& sql, const QVariantList& values,
                const std::function<void(const RowReader&)>& row) {
    RequireOpen(cn);
    if (cn.engine() == Engine::Postgres) {
        ServerPath::ForEachRow(cn, sql, values, row);
    } else {
        SqlitePath::ForEachRow(cn, sql, values, row);
    }
}

void ForEachRowAndCommit(DbConnection& cn, const QString& sql, const QVariantList& values,
                         const std::function<void(const RowReader&)>& row) {
    RequireOpen(cn);
    if (cn.engine() == Engine::Postgres) {
        ServerPath::CommitAfter(cn, sql, values, row);
        return;
    }
    SqlitePath::ForEachRow(cn, sql, values, row);
    CommitTransaction(cn);
}

QVariant ValueAt(const QSqlQuery& q, int column) {
    QVariant v = q.value(column);
    if (v.typeId() == QMetaType::QString && !v.isNull() && q.driver() &&
        q.driver()->dbmsType() == QSqlDriver::PostgreSQL) {
        v = ServerPath::FromServerText(v.toString());
    }
    return v;
}

QVariant Field(const QSqlQuery& q, const QString& name) {
    const int i = q.record().indexOf(name);
    if (i < 0) throw AppError(err::ItemNotFound, QStringLiteral("no column ") + name);
    return ValueAt(q, i);
}

QString TableFieldList(DbConnection& cn, const QString& table) {
    try {
        // Column names come from the table itself, so a schema that gained a
        // column is still described exactly.
        QSqlRecord rec = cn.Database().record(table);
        if (rec.isEmpty()) return {};
        QStringList names;
        for (int i = 0; i < rec.count(); ++i) names << rec.fieldName(i);
        return names.join(QStringLiteral(", "));
    } catch (...) {
        return {};
    }
}

QString NullToEmpty(const QVariant& value) {
    if (value.isNull()) return {};
    if (value.typeId() == QMetaType::QDate) return ShortDate(value.toDate());
    return value.toString();
}

QVariant SqlText(const QString& value) {
    return value.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(value);
}

QVariant SqlDate(const QString& shortDate) {
    if (shortDate.isEmpty()) return QVariant(QMetaType(QMetaType::QDate));
    const QDate d = ParseShortDate(shortDate);
    if (!d.isValid()) throw AppError(err::TypeMismatch, QStringLiteral("not a date: ") + shortDate);
    return d;
}

bool HoldsTable(DbConnection& cn, const QString& table) {
    QSqlQuery q =
        RunQuery(cn,
                 cn.engine() == Engine::Postgres
                     ? QStringLiteral("Select to_regclass(?) Is Not Null")
                     : QStringLiteral("Select Count(*) > 0 From sqlite_master Where type = 'table' "
                                      "And lower(name) = lower(?)"),
                 {table.toLower()});
    return q.next() && q.value(0).toBool();
}

}  // namespace ondrel
