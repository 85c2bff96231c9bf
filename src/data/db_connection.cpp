#include "db_connection.h"

#include <QDate>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <QUrl>
#include <QUuid>
#include <new>

#include "app_context.h"
#include "app_error.h"
#include "japanese_date.h"
#include "system_db.h"

namespace ondrel {

namespace {

constexpr int kBusyTimeoutMs = 5000;

constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;

bool IsBusy(const QSqlError& error) {
    bool ok = false;
    const int primary = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (primary == kSqliteBusy || primary == kSqliteLocked);
}

[[noreturn]] void ThrowDbError(const QSqlError& error) {
    if (IsBusy(error)) throw DatabaseBusy(error.text());
    bool ok = false;
    int code = error.nativeErrorCode().toInt(&ok);
    throw AppError(ok ? DatabaseErrorNumber(code) : err::DatabaseBase + 1, error.text());
}

void RequireOpen(const DbConnection& cn) {
    if (!cn.IsOpen()) throw AppError(err::DatabaseNotOpen, QStringLiteral("connection not open"));
}

QSqlQuery Prepared(DbConnection& cn, const QString& sql, const QVariantList& values) {
    RequireOpen(cn);
    QSqlQuery q(cn.Database());
    q.setForwardOnly(true);
    if (!q.prepare(sql)) ThrowDbError(q.lastError());
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) ThrowDbError(q.lastError());
    return q;
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
    inTransaction_ = false;
}

void DbConnection::RollbackAndClose() noexcept {
    if (IsOpen() && inTransaction_) {
        QSqlQuery q(Database());
        q.exec(QStringLiteral("ROLLBACK"));  // failure ignored: nothing more can be done
    }
    Release();
}

bool OpenDbConnection(const AppContext& ctx, DbConnection& cn) {
    return OpenDbConnectionAt(ctx.settings.SystemDB, cn);
}

bool OpenDbConnectionAt(const QString& file, DbConnection& cn, bool allowEmptyFile) {
    cn.Release();
    cn.name_ = QStringLiteral("ondrel-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), cn.name_);
    if (!db.isValid())
        throw AppError(err::CannotCreateObject, QStringLiteral("QSQLITE driver missing"));

    // SQLite would take an empty file for an empty database and a missing one
    // for a new database; neither is the clinic's system database.
    const QFileInfo info(file);
    if (!info.isFile() || (info.size() == 0 && !allowEmptyFile)) return false;
    db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                       QStringLiteral("?mode=rw"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=") +
                         QString::number(kBusyTimeoutMs));
    if (!db.open()) return false;
    // The first read of the header tells a database from any other file; a
    // database locked by another program is in use, not missing.
    const bool isDatabase = [&] {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA schema_version")) || !q.next()) {
            if (IsBusy(q.lastError())) {
                q = QSqlQuery();
                db.close();
                throw DatabaseBusy(QStringLiteral("locked at open"));
            }
            return false;
        }
        q.finish();
        return q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    }();
    if (!isDatabase) db.close();
    if (isDatabase) cn.openedAt_ = file;
    return isDatabase;
}

void CloseDbConnection(DbConnection& cn) {
    if (!cn.HoldsConnection() || !cn.IsOpen()) return;
    cn.Release();
}

void BeginTransaction(DbConnection& cn) {
    RunChange(cn, QStringLiteral("BEGIN IMMEDIATE"));
    cn.inTransaction_ = true;
}

void CommitTransaction(DbConnection& cn) {
    RunChange(cn, QStringLiteral("COMMIT"));
    cn.inTransaction_ = false;
}

QSqlQuery RunQuery(DbConnection& cn, const QString& sql, const QVariantList& values) {
    return Prepared(cn, sql, values);
}

void RunChange(DbConnection& cn, const QString& sql, const QVariantList& values) {
    Prepared(cn, sql, values);
}

QVariant Field(const QSqlQuery& q, const QString& name) {
    const int i = q.record().indexOf(name);
    if (i < 0) throw AppError(err::ItemNotFound, QStringLiteral("no column ") + name);
    return q.value(i);
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

CommandConnection::CommandConnection(AppContext& ctx)
    : ctx_(ctx), outermost_(ctx.commandConnection == nullptr) {
    if (outermost_) ctx_.commandConnection = &cn_;
}

CommandConnection::~CommandConnection() {
    if (outermost_) ctx_.commandConnection = nullptr;
}

namespace detail {

bool ConnectionFor(AppContext& ctx, DbConnection& own, DbConnection*& use) {
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
