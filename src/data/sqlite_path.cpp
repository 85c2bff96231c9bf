#include <sqlite3.h>

#include <QFileInfo>
#include <QSqlDriver>
#include <QUrl>

#include "core/app_error.h"
#include "data/engine_paths.h"
#include "data/memo_search.h"

namespace ondrel {

namespace {

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

// As the driver gives a row, for a connection whose own handle cannot be reached.
class QueryRow final : public RowReader {
  public:
    explicit QueryRow(const QSqlQuery& q) : q_(q) {}
    QVariant Value(int column) const override { return ValueAt(q_, column); }
    QString Text(int column) const override { return ValueAt(q_, column).toString(); }

  private:
    const QSqlQuery& q_;
};

}  // namespace

bool SqlitePath::Open(const QString& file, QSqlDatabase& db, bool allowEmptyFile) {
    // SQLite would take an empty file for an empty database and a missing one
    // for a new database; neither is the clinic's system database.
    const QFileInfo info(file);
    if (!info.isFile() || (info.size() == 0 && !allowEmptyFile)) return false;
    db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                       QStringLiteral("?mode=rw"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=") +
                         QString::number(BusyTimeout().count()));
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
        // The search index's triggers fold with it, on every connection that writes.
        RegisterSearchFold(h);
        return sqlite3_exec(h, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) == SQLITE_OK;
    }();
    if (!isDatabase) {
        db.close();
        return false;
    }
    return true;
}

QSqlQuery SqlitePath::Execute(DbConnection& cn, const QString& sql, const QVariantList& values) {
    QSqlQuery q(cn.Database());
    q.setForwardOnly(true);
    if (!q.prepare(sql)) ThrowDbError(q.lastError(), Engine::SQLite);
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) ThrowDbError(q.lastError(), Engine::SQLite);
    return q;
}

int SqlitePath::Change(DbConnection& cn, const QString& sql, const QVariantList& values) {
    // A save's several statements each skip QtSql's parsing and conversions.
    if (sqlite3* db = SqliteHandle(cn)) {
        SqliteStatement st(db, sql, values);
        while (st.Step()) {
        }
        return sqlite3_changes(db);
    }
    return Execute(cn, sql, values).numRowsAffected();
}

void SqlitePath::ForEachRow(DbConnection& cn, const QString& sql, const QVariantList& values,
                            const std::function<void(const RowReader&)>& row) {
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

void SqlitePath::Rollback(DbConnection& cn) noexcept {
    if (sqlite3* db = SqliteHandle(cn)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    cn.inTransaction_ = false;
}

void SqlitePath::Settle(const QString& file) noexcept {
    if (QFileInfo(file + QStringLiteral("-journal")).size() <= 0) return;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, int(BusyTimeout().count()));
        // The first read rolls a hot journal back.
        sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
}

// An added column with a default keeps every row as it was.
void SqlitePath::AddRowVersion(DbConnection& cn) {
    bool any = false, has = false;
    ForEachRow(cn, QStringLiteral("PRAGMA table_info(tblDatCommon)"), {}, [&](const RowReader& r) {
        any = true;
        has = has || r.Text(1).compare(u"RowVersion", Qt::CaseInsensitive) == 0;
    });
    if (any && !has) {
        Change(cn,
               QStringLiteral(
                   "ALTER TABLE tblDatCommon ADD COLUMN RowVersion INTEGER NOT NULL DEFAULT 0"),
               {});
    }
}

}  // namespace ondrel
