#include "data/db_connection.h"

#include <dlfcn.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <QDate>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QUrl>
#include <QUuid>
#include <atomic>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/server_uri.h"
#include "data/japanese_date.h"
#include "data/revisions.h"
#include "data/system_db.h"

namespace ondrel {

namespace {

std::atomic<int> busyTimeoutMs{int(kBusyTimeout.count())};

constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;

// A server's lock waits end as a file's do: after the busy timeout, as a
// busy database. A statement never holds the window for long.
QString ServerSessionOptions() {
    return QStringLiteral("options='-c lock_timeout=%1 -c statement_timeout=30000'")
        .arg(busyTimeoutMs.load());
}

// PostgreSQL text cannot hold U+0000: it is stored as kEscape followed by '0',
// and kEscape itself doubled, so every text comes back exactly as it went in.
constexpr char16_t kEscape = u'\uE000';

QString ToServerText(const QString& s) {
    if (!s.contains(QChar(u'\0')) && !s.contains(QChar(kEscape))) return s;
    QString out;
    out.reserve(s.size() + 8);
    for (const QChar ch : s) {
        if (ch == u'\0') {
            out.append(QChar(kEscape)).append(u'0');
        } else if (ch == kEscape) {
            out.append(QChar(kEscape)).append(QChar(kEscape));
        } else {
            out.append(ch);
        }
    }
    return out;
}

QString FromServerText(const QString& s) {
    if (!s.contains(QChar(kEscape))) return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == kEscape && i + 1 < s.size()) {
            ++i;
            out.append(s[i] == u'0' ? QChar(u'\0') : s[i]);
        } else {
            out.append(s[i]);
        }
    }
    return out;
}

bool IsBusy(const QSqlError& error, Engine engine) {
    if (engine == Engine::Postgres) {
        // lock_not_available, deadlock_detected, serialization_failure
        const QString state = error.nativeErrorCode();
        return state == u"55P03" || state == u"40P01" || state == u"40001";
    }
    bool ok = false;
    const int primary = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (primary == kSqliteBusy || primary == kSqliteLocked);
}

// A server's SQLSTATE as the file engine's result code, so an error report
// reads the same on both: a constraint, a full disk, a refused right.
int ResultCodeOf(const QString& state) {
    if (state.startsWith(u"23")) return 19;  // constraint
    if (state == u"53100") return 13;        // disk full
    if (state == u"42501") return 3;         // no permission
    return 1;
}

// What a refused statement lacked, where the server's message names the
// object: the verb of the statement sent that touches it.
QString RefusedRight(const QString& message, const QString& statements) {
    static const QRegularExpression refused(QStringLiteral(
        R"(permission denied for (table|relation|sequence|schema|function) "?([^\s"]+))"));
    const QRegularExpressionMatch m = refused.match(message);
    if (!m.hasMatch()) return {};
    const QString kind = m.captured(1), name = m.captured(2);
    if (kind == u"sequence" || kind == u"schema") return name + QStringLiteral(" への USAGE");
    if (kind == u"function") return name + QStringLiteral(" への EXECUTE");
    for (const QString& statement : statements.split(QStringLiteral(";\n"))) {
        if (!statement.contains(name, Qt::CaseInsensitive)) continue;
        const QString verb = statement.trimmed().section(u' ', 0, 0).toUpper();
        for (const char* known : {"SELECT", "INSERT", "UPDATE", "DELETE"}) {
            if (verb == QLatin1String(known)) return name + QStringLiteral(" への ") + verb;
        }
    }
    return name;
}

[[noreturn]] void ThrowDbError(const QSqlError& error, Engine engine,
                               const QString& statements = {}) {
    if (IsBusy(error, engine)) throw DatabaseBusy(error.text());
    if (engine == Engine::Postgres && error.nativeErrorCode() == u"42501") {
        // The server's first line without its severity ("ERROR:  ").
        QString reason = error.databaseText().section(u'\n', 0, 0);
        if (const qsizetype at = reason.indexOf(QStringLiteral(":  ")); at >= 0)
            reason = reason.mid(at + 3);
        reason = reason.trimmed();
        throw DatabaseNoRight(error.text(), RefusedRight(reason, statements), reason);
    }
    bool ok = false;
    const int code = engine == Engine::Postgres ? ResultCodeOf(error.nativeErrorCode())
                                                : error.nativeErrorCode().toInt(&ok);
    if (engine == Engine::Postgres) ok = true;
    throw AppError(ok ? DatabaseErrorNumber(code) : err::DatabaseBase + 1, error.text());
}

void RequireOpen(const DbConnection& cn) {
    if (!cn.IsOpen()) throw AppError(err::DatabaseNotOpen, QStringLiteral("connection not open"));
}

// libpq's PQstatus, from the copy the server driver loaded. The program does
// not link libpq itself: it and the libraries it needs would be loaded at
// every start, also on a PC that never talks to a server.
ConnStatusType (*LoadedPQstatus())(const PGconn*) {
    static const auto status = [] {
        void* pq = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
        return pq ? reinterpret_cast<ConnStatusType (*)(const PGconn*)>(::dlsym(pq, "PQstatus"))
                  : nullptr;
    }();
    return status;
}

// The rest of libpq the program calls itself, from the same copy: a
// statement sent with those waiting for it, its answer read as it came.
struct Pq {
    PGresult* (*exec)(PGconn*, const char*);
    ExecStatusType (*resultStatus)(const PGresult*);
    char* (*errorField)(const PGresult*, int);
    char* (*errorMessage)(const PGconn*);
    int (*ntuples)(const PGresult*);
    char* (*getvalue)(const PGresult*, int, int);
    int (*getlength)(const PGresult*, int, int);
    int (*getisnull)(const PGresult*, int, int);
    Oid (*ftype)(const PGresult*, int);
    char* (*cmdTuples)(PGresult*);
    void (*clear)(PGresult*);
};

const Pq* LoadedPq() {
    static const std::optional<Pq> loaded = []() -> std::optional<Pq> {
        void* lib = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
        if (!lib) return std::nullopt;
        Pq pq{};
        bool all = true;
        auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
            all = all && fn;
        };
        get(pq.exec, "PQexec");
        get(pq.resultStatus, "PQresultStatus");
        get(pq.errorField, "PQresultErrorField");
        get(pq.errorMessage, "PQerrorMessage");
        get(pq.ntuples, "PQntuples");
        get(pq.getvalue, "PQgetvalue");
        get(pq.getlength, "PQgetlength");
        get(pq.getisnull, "PQgetisnull");
        get(pq.ftype, "PQftype");
        get(pq.cmdTuples, "PQcmdTuples");
        get(pq.clear, "PQclear");
        if (!all) return std::nullopt;
        return pq;
    }();
    return loaded ? &*loaded : nullptr;
}

struct PgResultFree {
    void operator()(PGresult* r) const {
        if (r) LoadedPq()->clear(r);
    }
};
using PgResult = std::unique_ptr<PGresult, PgResultFree>;

// The server driver's libpq connection; null on a file. Qt names the type
// by libpq's struct tag.
PGconn* ServerHandle(const QSqlDatabase& db) {
    const QVariant handle = db.driver()->handle();
    const char* type = handle.typeName();
    if (qstrcmp(type, "pg_conn*") != 0 && qstrcmp(type, "PGconn*") != 0) return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

// Whether the server is gone from under this connection (a restart, a
// network fault): libpq marks the connection bad after the failed call.
bool ServerLost(const QSqlDatabase& db) {
    if (!db.isOpen()) return true;
    PGconn* conn = ServerHandle(db);
    const auto status = LoadedPQstatus();
    return !conn || (status && status(conn) == CONNECTION_BAD);
}

QString ServerShown(const QString& uri) {
    const auto t = ParseServerUri(uri, nullptr);
    return t ? t->shown : QString();
}

// The statement with each "?" outside quotes replaced by its value as the
// driver writes a literal (escaped by libpq): one round trip, where a
// prepared statement takes three.
QString WithValues(const QSqlDriver* driver, const QString& sql, const QVariantList& values) {
    QString out;
    out.reserve(sql.size() + values.size() * 8);
    qsizetype next = 0;
    QChar quote;
    for (const QChar ch : sql) {
        if (!quote.isNull()) {
            if (ch == quote) quote = QChar();
            out.append(ch);
        } else if (ch == u'\'' || ch == u'"') {
            quote = ch;
            out.append(ch);
        } else if (ch == u'?') {
            if (next >= values.size())
                throw AppError(err::InvalidProcedureCall, QStringLiteral("too few values"));
            QVariant v = values[next++];
            if (v.typeId() == QMetaType::QString && !v.isNull()) v = ToServerText(v.toString());
            QSqlField field(QString(), v.metaType());
            field.setValue(v);
            out.append(driver->formatValue(field));
        } else {
            out.append(ch);
        }
    }
    if (next != values.size())
        throw AppError(err::InvalidProcedureCall, QStringLiteral("too many values"));
    return out;
}

// Older files lack the row version; it is added the first time this run
// opens them (an added column with a default keeps every row as it was).
void AddRowVersion(QSqlDatabase& db, const QString& file) {
    static QSet<QString> checked;
    if (checked.contains(file)) return;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(tblDatCommon)"))) return;
    bool any = false, has = false;
    while (q.next()) {
        any = true;
        has = has || q.value(1).toString().compare(u"RowVersion", Qt::CaseInsensitive) == 0;
    }
    q.finish();
    if (any && !has &&
        !q.exec(QStringLiteral(
            "ALTER TABLE tblDatCommon ADD COLUMN RowVersion INTEGER NOT NULL DEFAULT 0"))) {
        ThrowDbError(q.lastError(), Engine::SQLite);
    }
    checked.insert(file);
}

bool OpenFile(const QString& file, QSqlDatabase& db, bool allowEmptyFile) {
    // SQLite would take an empty file for an empty database and a missing one
    // for a new database; neither is the clinic's system database.
    const QFileInfo info(file);
    if (!info.isFile() || (info.size() == 0 && !allowEmptyFile)) return false;
    db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                       QStringLiteral("?mode=rw"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=") +
                         QString::number(busyTimeoutMs.load()));
    if (!db.open()) return false;
    // The first read of the header tells a database from any other file; a
    // database locked by another program is in use, not missing. Both on
    // SQLite's own handle: QtSql's statement objects cost more than the pragmas.
    const bool isDatabase = [&] {
        const QVariant handle = db.driver()->handle();
        if (qstrcmp(handle.typeName(), "sqlite3*") != 0) return false;
        sqlite3* h = *static_cast<sqlite3* const*>(handle.constData());
        sqlite3_stmt* st = nullptr;
        int rc = sqlite3_prepare_v2(h, "PRAGMA schema_version", -1, &st, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_ROW) {
            if ((rc & 0xff) == kSqliteBusy || (rc & 0xff) == kSqliteLocked) {
                db.close();
                throw DatabaseBusy(QStringLiteral("locked at open"));
            }
            return false;
        }
        return sqlite3_exec(h, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) == SQLITE_OK;
    }();
    if (!isDatabase) {
        db.close();
        return false;
    }
    AddRowVersion(db, info.absoluteFilePath());
    return true;
}

bool OpenServer(const QString& uri, QSqlDatabase& db) {
    QString why;
    const auto t = ParseServerUri(uri, &why);
    if (!t) return false;
    db.setHostName(t->host);
    if (t->port > 0) db.setPort(t->port);
    db.setDatabaseName(t->database);
    db.setUserName(t->user);
    QString options = t->options;
    if (!options.contains(QStringLiteral("options="))) options += u';' + ServerSessionOptions();
    db.setConnectOptions(options);
    if (!db.open()) {
        const QString reason = db.lastError().databaseText();
        throw DatabaseBusy(reason, ServerUnreachableMessage(t->shown, reason));
    }
    return true;
}

}  // namespace

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
    openedAt_.clear();
    person_.clear();
    inTransaction_ = false;
    deferred_.clear();
    serverTransaction_ = false;
}

void DbConnection::RollbackAndClose() noexcept {
    // A server's transaction whose BEGIN still waits was never begun there.
    if (IsOpen() && inTransaction_ && (engine_ == Engine::SQLite || serverTransaction_)) {
        QSqlQuery q(Database());
        q.exec(QStringLiteral("ROLLBACK"));  // failure ignored: nothing more can be done
    }
    Release();
}

bool OpenDbConnection(const AppContext& ctx, DbConnection& cn) {
    return OpenDbConnectionAt(ctx.settings.SystemDB, cn);
}

bool OpenDbConnectionAt(const QString& target, DbConnection& cn, bool allowEmptyFile) {
    cn.Release();
    const bool server = IsServerUri(target);
    const QString driver = server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    cn.name_ = QStringLiteral("ondrel-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, cn.name_);
    if (!db.isValid())
        throw AppError(err::CannotCreateObject, driver + QStringLiteral(" driver missing"));
    const bool open = server ? OpenServer(target, db) : OpenFile(target, db, allowEmptyFile);
    if (!open) return false;
    cn.engine_ = server ? Engine::Postgres : Engine::SQLite;
    cn.openedAt_ = target;
    if (server) {
        QSqlQuery q(db);
        q.setForwardOnly(false);
        if (!q.exec(QStringLiteral("Select current_user")) || !q.next())
            ThrowDbError(q.lastError(), cn.engine_);
        cn.person_ = q.value(0).toString();
    } else {
        cn.person_ = OsAccount();
    }
    if (!server && !allowEmptyFile) {
        // Once a run for each file: one made before the records existed gains them.
        static QSet<QString> upgraded;
        const QString file = QFileInfo(target).absoluteFilePath();
        if (!upgraded.contains(file)) {
            AddRecordTables(cn);
            upgraded.insert(file);
        }
    }
    return true;
}

void CloseDbConnection(DbConnection& cn) {
    if (!cn.HoldsConnection() || !cn.IsOpen()) return;
    cn.Release();
}

// A server's statements with those waiting for them, in one round trip.
struct ServerBatch {
    static PgResult Run(DbConnection& cn, const QString& statement, bool commits = false);
    static void Later(DbConnection& cn, const QString& sql, const QVariantList& values) {
        RequireOpen(cn);
        if (cn.engine_ != Engine::Postgres || !cn.inTransaction_) {
            RunChange(cn, sql, values);
            return;
        }
        cn.deferred_ << WithValues(cn.Database().driver(), sql, values);
    }
    static void Flush(DbConnection& cn) {
        if (!cn.deferred_.isEmpty()) Run(cn, {});
    }
    static void Reconnect(DbConnection& cn, const QSqlError& error, bool retry);
};

// The waiting statements and then `statement` as one text; the answer is the
// last statement's, and a failure of any of them is the failure. A kept
// connection the server dropped gets one new connection, unless our
// transaction had begun there or the text commits it (it may have been done).
PgResult ServerBatch::Run(DbConnection& cn, const QString& statement, bool commits) {
    const Pq* pq = LoadedPq();
    if (!pq) throw AppError(err::CannotCreateObject, QStringLiteral("libpq not loaded"));
    for (int attempt = 0;; ++attempt) {
        QStringList parts = cn.deferred_;
        if (!statement.isEmpty()) parts << statement;
        PGconn* conn = ServerHandle(cn.Database());
        PgResult r(conn ? pq->exec(conn, parts.join(QStringLiteral(";\n")).toUtf8().constData())
                        : nullptr);
        const ExecStatusType status = r ? pq->resultStatus(r.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            cn.deferred_.clear();
            if (cn.inTransaction_) cn.serverTransaction_ = true;
            return r;
        }
        // As the Qt driver words it, so a report reads the same either way.
        QString message = conn ? QString::fromUtf8(pq->errorMessage(conn)) : QString();
        QString state;
        if (r) {
            const char* code = pq->errorField(r.get(), PG_DIAG_SQLSTATE);
            state = QString::fromLatin1(code ? code : "");
            message += u'(' + state + u')';
        }
        const QSqlError error(QStringLiteral("QPSQL: Unable to create query"), message,
                              QSqlError::StatementError, state);
        if (!ServerLost(cn.Database())) {
            const QString sent = parts.join(QStringLiteral(";\n"));
            cn.deferred_.clear();
            ThrowDbError(error, Engine::Postgres, sent);
        }
        Reconnect(cn, error, attempt == 0 && !cn.serverTransaction_ && !commits);
    }
}

// A kept connection the server dropped (a restart, an idle cut) gets one new
// connection when `retry` allows, with the statements still waiting; else,
// or when the server does not answer, the command ends as for a busy database.
void ServerBatch::Reconnect(DbConnection& cn, const QSqlError& error, bool retry) {
    const QString target = cn.openedAt_;
    const QStringList waiting = cn.deferred_;
    const bool inTransaction = cn.inTransaction_;
    cn.Release();
    if (!retry || !OpenDbConnectionAt(target, cn)) {
        throw DatabaseBusy(error.text(),
                           ServerUnreachableMessage(ServerShown(target), error.databaseText()));
    }
    cn.deferred_ = waiting;
    cn.inTransaction_ = inTransaction;
}

void BeginTransaction(DbConnection& cn) {
    if (cn.engine() == Engine::Postgres) {
        // Sent with the transaction's first statement.
        RequireOpen(cn);
        cn.deferred_ << QStringLiteral("BEGIN");
        cn.inTransaction_ = true;
        return;
    }
    RunChange(cn, QStringLiteral("BEGIN IMMEDIATE"));
    cn.inTransaction_ = true;
}

void CommitTransaction(DbConnection& cn) {
    if (cn.engine() == Engine::Postgres) {
        RequireOpen(cn);
        ServerBatch::Run(cn, QStringLiteral("COMMIT"), true);
        cn.serverTransaction_ = false;
    } else {
        RunChange(cn, QStringLiteral("COMMIT"));
    }
    cn.inTransaction_ = false;
}

void RunLater(DbConnection& cn, const QString& sql, const QVariantList& values) {
    ServerBatch::Later(cn, sql, values);
}

QSqlQuery Execute(DbConnection& cn, const QString& sql, const QVariantList& values) {
    RequireOpen(cn);
    if (cn.engine_ == Engine::SQLite) {
        QSqlQuery q(cn.Database());
        q.setForwardOnly(true);
        if (!q.prepare(sql)) ThrowDbError(q.lastError(), cn.engine_);
        for (const QVariant& v : values) q.addBindValue(v);
        if (!q.exec()) ThrowDbError(q.lastError(), cn.engine_);
        return q;
    }
    ServerBatch::Flush(cn);
    const QString text = WithValues(cn.Database().driver(), sql, values);
    for (int attempt = 0;; ++attempt) {
        QSqlError error;
        {
            QSqlQuery q(cn.Database());
            // Not forward-only: the driver would fetch a server's rows one
            // message each; the whole result in one answer is several times faster.
            q.setForwardOnly(false);
            if (q.exec(text)) return q;
            error = q.lastError();
        }
        if (!ServerLost(cn.Database())) ThrowDbError(error, cn.engine_, text);
        // Not inside a transaction: that one is gone with its connection.
        ServerBatch::Reconnect(cn, error, attempt == 0 && !cn.inTransaction_);
    }
}

QSqlQuery RunQuery(DbConnection& cn, const QString& sql, const QVariantList& values) {
    return Execute(cn, sql, values);
}

QVariant ValueAt(const QSqlQuery& q, int column) {
    QVariant v = q.value(column);
    if (v.typeId() == QMetaType::QString && !v.isNull() && q.driver() &&
        q.driver()->dbmsType() == QSqlDriver::PostgreSQL) {
        v = FromServerText(v.toString());
    }
    return v;
}

namespace {

class QueryRow final : public RowReader {
  public:
    explicit QueryRow(const QSqlQuery& q) : q_(q) {}
    QVariant Value(int column) const override { return ValueAt(q_, column); }
    QString Text(int column) const override { return ValueAt(q_, column).toString(); }

  private:
    const QSqlQuery& q_;
};

// A server's row as the Qt driver decodes it: the type from the column's
// type (these are the schema's types), a text unescaped as ValueAt does.
class PgRow final : public RowReader {
  public:
    PgRow(const Pq& pq, const PGresult* r) : pq_(pq), r_(r) {}
    int row = 0;

    QVariant Value(int column) const override {
        const Oid oid = pq_.ftype(r_, column);
        const QMetaType type = TypeOf(oid);
        if (pq_.getisnull(r_, row, column)) return QVariant(type);
        const char* v = pq_.getvalue(r_, row, column);
        const QByteArray raw = QByteArray::fromRawData(v, pq_.getlength(r_, row, column));
        switch (type.id()) {
            case QMetaType::Bool:
                return QVariant(v[0] == 't');
            case QMetaType::LongLong:
                // Unsigned when not negative, as the driver gives it.
                return v[0] == '-' ? QVariant(raw.toLongLong()) : QVariant(raw.toULongLong());
            case QMetaType::Int:
                return QVariant(raw.toInt());
            case QMetaType::Double:
                return QVariant(raw.toDouble());
            case QMetaType::QDate: {
                // The server writes ISO dates (the driver sets DateStyle ISO),
                // the stored form a file's own parser reads fastest.
                const QString text = QString::fromLatin1(raw);
                if (text.size() == 10 && text[4] == u'-') return QVariant(ParseShortDate(text));
                return QVariant(QDate::fromString(text, Qt::ISODate));
            }
            default:
                return FromServerText(QString::fromUtf8(raw));
        }
    }
    QString Text(int column) const override {
        if (TypeOf(pq_.ftype(r_, column)).id() != QMetaType::QString)
            return Value(column).toString();
        if (pq_.getisnull(r_, row, column)) return {};
        return FromServerText(
            QString::fromUtf8(pq_.getvalue(r_, row, column), pq_.getlength(r_, row, column)));
    }

  private:
    static QMetaType TypeOf(Oid oid) {
        switch (oid) {
            case 16:  // bool
                return QMetaType::fromType<bool>();
            case 20:  // int8
                return QMetaType::fromType<qlonglong>();
            case 21:  // int2
            case 23:  // int4
            case 26:  // oid
                return QMetaType::fromType<int>();
            case 700:   // float4
            case 701:   // float8
            case 1700:  // numeric
                return QMetaType::fromType<double>();
            case 1082:  // date
                return QMetaType::fromType<QDate>();
            default:
                return QMetaType::fromType<QString>();
        }
    }

    const Pq& pq_;
    const PGresult* r_;
};

class SqliteRow final : public RowReader {
  public:
    explicit SqliteRow(sqlite3_stmt* st) : st_(st) {}
    QVariant Value(int column) const override {
        switch (sqlite3_column_type(st_, column)) {
            case SQLITE_NULL:
                return QVariant(QMetaType::fromType<QString>());  // as the driver gives it
            case SQLITE_INTEGER:
                return QVariant(qlonglong(sqlite3_column_int64(st_, column)));
            case SQLITE_FLOAT:
                return QVariant(sqlite3_column_double(st_, column));
            case SQLITE_BLOB:
                return QByteArray(static_cast<const char*>(sqlite3_column_blob(st_, column)),
                                  sqlite3_column_bytes(st_, column));
            default:
                return Text(column);
        }
    }
    QString Text(int column) const override {
        // A file keeps its texts as UTF-8; Qt's decoder is several times
        // faster than SQLite's own conversion to UTF-16.
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st_, column));
        if (!text) return {};
        return QString::fromUtf8(text, sqlite3_column_bytes(st_, column));
    }

  private:
    sqlite3_stmt* st_;
};

}  // namespace

namespace {

// A file's own SQLite handle behind the QtSql connection; null on a server.
sqlite3* SqliteHandle(DbConnection& cn) {
    if (cn.engine() != Engine::SQLite) return nullptr;
    const QVariant handle = cn.Database().driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

// One statement on that handle, its values bound as the driver binds them
// (numbers as numbers, the rest as text); finalized also when a reader throws.
class SqliteStatement {
  public:
    SqliteStatement(sqlite3* db, const QString& sql, const QVariantList& values) : db_(db) {
        Check(sqlite3_prepare16_v2(db, sql.utf16(), int(sql.size() * 2), &st_, nullptr));
        for (int i = 0; i < int(values.size()); ++i) Check(Bind(i + 1, values[i]));
    }
    ~SqliteStatement() { sqlite3_finalize(st_); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // True while there is a row.
    bool Step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) Check(rc);
        return false;
    }
    sqlite3_stmt* get() const { return st_; }

  private:
    int Bind(int at, const QVariant& v) {
        switch (v.isNull() ? QMetaType::UnknownType : v.typeId()) {
            case QMetaType::UnknownType:
                return sqlite3_bind_null(st_, at);
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::LongLong:
            case QMetaType::Bool:
                return sqlite3_bind_int64(st_, at, v.toLongLong());
            case QMetaType::Double:
                return sqlite3_bind_double(st_, at, v.toDouble());
            default: {
                const QString text = v.toString();
                return sqlite3_bind_text16(st_, at, text.utf16(), int(text.size() * 2),
                                           SQLITE_TRANSIENT);
            }
        }
    }
    // The same failure a QtSql statement would have raised.
    void Check(int rc) {
        if (rc == SQLITE_OK) return;
        ThrowDbError(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(db_)),
                               QSqlError::StatementError, QString::number(rc)),
                     Engine::SQLite);
    }

    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

}  // namespace

void ForEachRow(DbConnection& cn, const QString& sql, const QVariantList& values,
                const std::function<void(const RowReader&)>& row) {
    RequireOpen(cn);
    if (cn.engine() == Engine::Postgres) {
        // The rows straight from libpq, the statements waiting sent with it.
        const PgResult r = ServerBatch::Run(cn, WithValues(cn.Database().driver(), sql, values));
        PgRow reader(*LoadedPq(), r.get());
        for (const int n = LoadedPq()->ntuples(r.get()); reader.row < n; ++reader.row) row(reader);
        return;
    }
    sqlite3* db = SqliteHandle(cn);
    if (!db) {
        QSqlQuery q = Execute(cn, sql, values);
        const QueryRow reader(q);
        while (q.next()) row(reader);
        return;
    }
    SqliteStatement st(db, sql, values);
    const SqliteRow reader(st.get());
    while (st.Step()) row(reader);
}

int RunChange(DbConnection& cn, const QString& sql, const QVariantList& values) {
    RequireOpen(cn);
    // A save's several statements each skip QtSql's parsing and conversions.
    if (sqlite3* db = SqliteHandle(cn)) {
        SqliteStatement st(db, sql, values);
        while (st.Step()) {
        }
        return sqlite3_changes(db);
    }
    if (cn.engine() == Engine::Postgres) {
        const PgResult r = ServerBatch::Run(cn, WithValues(cn.Database().driver(), sql, values));
        return QByteArray(LoadedPq()->cmdTuples(r.get())).toInt();
    }
    return Execute(cn, sql, values).numRowsAffected();
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

std::chrono::milliseconds BusyTimeout() { return std::chrono::milliseconds(busyTimeoutMs.load()); }

void SetBusyTimeout(std::chrono::milliseconds timeout) { busyTimeoutMs = int(timeout.count()); }

CommandConnection::CommandConnection(AppContext& ctx)
    : ctx_(ctx), outermost_(ctx.commandConnection == nullptr) {
    if (outermost_) ctx_.commandConnection = &cn_;
}

CommandConnection::~CommandConnection() {
    if (outermost_) ctx_.commandConnection = nullptr;
}

QString ServerStartProblem(AppContext& ctx) {
    QString why;
    const auto target = ParseServerUri(ctx.settings.SystemDB, &why);
    if (!target) {
        return QStringLiteral(
                   "Ondrel.ini の SystemDB に書かれたデータベースサーバーの指定が"
                   "正しくありません。\r\n") +
               why;
    }
    const QString server = QStringLiteral("データベースサーバー（") + target->shown + u'）';
    // Opened as the program keeps it: the first command finds it open.
    DbConnection own;
    DbConnection* cn = &own;
    try {
        if (!detail::ConnectionFor(ctx, own, cn))
            return server + QStringLiteral("に接続できません。");
        QSqlQuery q =
            RunQuery(*cn, QStringLiteral("SELECT to_regclass('tbldatcommon') IS NOT NULL"));
        if (q.next() && q.value(0).toBool()) return {};
        return server + QStringLiteral(
                            "にシステムデータベースがありません。\r\n"
                            "先に ondrel-db init で作成して下さい。");
    } catch (const DatabaseBusy& e) {
        return server + QStringLiteral("に接続できません。\r\n理由: ") + e.detail().trimmed();
    } catch (const AppError& e) {
        return server + QStringLiteral("を使えません。\r\n理由: ") + e.detail().trimmed();
    }
}

namespace detail {

bool ConnectionFor(AppContext& ctx, DbConnection& own, DbConnection*& use) {
    // A server connection is kept from one command to the next: opening one
    // costs more than a patient switch (the connection is checked at use and
    // opened again when the server has dropped it).
    if (IsServerUri(ctx.settings.SystemDB)) {
        if (!ctx.keptConnection) ctx.keptConnection = std::make_shared<DbConnection>();
        auto* kept = static_cast<DbConnection*>(ctx.keptConnection.get());
        use = kept;
        if (kept->IsOpen() && kept->OpenedAt() == ctx.settings.SystemDB) return true;
        return OpenDbConnection(ctx, *kept);
    }
    auto* shared = static_cast<DbConnection*>(ctx.commandConnection);
    // A command that changed SystemDB (the settings) reaches the new file.
    if (shared && shared->IsOpen() && shared->OpenedAt() == ctx.settings.SystemDB) {
        use = shared;
        return true;
    }
    DbConnection& cn = shared ? *shared : own;
    use = &cn;
    return OpenDbConnection(ctx, cn);
}

}  // namespace detail

}  // namespace ondrel
