#include "admin/db_tool.h"

#include <sqlite3.h>

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

#include "admin/csv_reader.h"
#include "core/app_error.h"
#include "core/db_target.h"
#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/japanese_date.h"
#include "data/memo_search.h"
#include "data/phrases.h"
#include "data/revisions.h"
#include "data/schema.h"
#include "data/server_records.h"
#include "data/session.h"
#include "data/staff.h"
#include "data/tables.h"

namespace ondrel::tool {

namespace {

QString Describe(const AppError& e) {
    return QStringLiteral("(%1) %2").arg(e.number()).arg(ErrorText(e.number()));
}

// The group role a clinic's logins join: it may read the memos and the
// records, change them only through the server's own functions (which write
// each change's revision and access record as the login), write the category
// names and read the chart system's tables; no table is made or changed
// through it otherwise. Given anew on a database made by an older version:
// rights it had are taken back.
const QStringList& ServerRoleStatements() {
    static const QStringList statements = [] {
        QStringList s = tables::StaffStatements() + tables::PhraseStatements(Engine::Postgres);
        s << QStringList{
            // The role is the cluster's: an init of another database may make it meanwhile.
            QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = "
                           "'ondrel_users') THEN CREATE ROLE ondrel_users NOLOGIN; END IF; "
                           "EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END $$"),
            QStringLiteral("GRANT USAGE ON SCHEMA public TO ondrel_users"),
            QStringLiteral("REVOKE ALL ON tblDatCommon, tblDatRevision, tblAccessLog "
                           "FROM ondrel_users"),
            QStringLiteral("REVOKE ALL ON SEQUENCE tbldatcommon_mainkey_seq, "
                           "tbldatrevision_revisionkey_seq, tblaccesslog_logkey_seq "
                           "FROM ondrel_users"),
            QStringLiteral("GRANT SELECT ON tblDatCommon, tblDatRevision, tblAccessLog "
                           "TO ondrel_users"),
            QStringLiteral("GRANT SELECT, UPDATE ON tblMasSystemA TO ondrel_users"),
            QStringLiteral("GRANT SELECT ON 患者マスター, 医院情報 TO ondrel_users"),
            // Sign-in reads the staff; only the owner (ondrel-db staff) changes them.
            QStringLiteral("REVOKE ALL ON tblMasStaff FROM ondrel_users"),
            QStringLiteral("GRANT SELECT ON tblMasStaff TO ondrel_users"),
            // 定型文 are edited from the workstations (the program lets an
            // admin do it once sign-in is on).
            QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON tblMasPhrase TO ondrel_users"),
            QStringLiteral("GRANT USAGE ON SEQUENCE tblmasphrase_phrasekey_seq TO ondrel_users"),
        };
        return s + ServerRecordFunctions();
    }();
    return statements;
}

// Opens a file or a server's database; the message for the user when it cannot.
QString OpenTarget(const QString& target, DbConnection& cn) {
    try {
        if (OpenDbConnectionAt(target, cn)) {
            UpgradeOlderFile(cn);
            return {};
        }
    } catch (const DatabaseBusy& e) {
        return e.UserMessage();
    }
    return QStringLiteral("データベースを開けません: ") + target;
}

// After a failed transaction: rolled back, and what the user is told.
QString RolledBack(DbConnection& cn, const QString& what, const AppError& e,
                   bool withDetail = false) {
    cn.RollbackAndClose();
    if (const auto* busy = dynamic_cast<const DatabaseBusy*>(&e)) return what + busy->UserMessage();
    return what + Describe(e) + (withDetail ? u' ' + e.detail() : QString());
}

// Whether the server's database already holds the program's tables.
bool HoldsTables(DbConnection& cn) {
    QSqlQuery q = RunQuery(cn, QStringLiteral("SELECT to_regclass('tbldatcommon') IS NOT NULL"));
    return q.next() && q.value(0).toBool();
}

// Gives ondrel_users its rights anew on a server database that holds the
// tables already; nothing else is touched.
QString RenewServerRights(DbConnection& cn) {
    try {
        BeginTransaction(cn);
        for (const QString& sql : ServerRoleStatements()) RunChange(cn, sql);
        CommitTransaction(cn);
    } catch (const AppError& e) {
        return RolledBack(cn, QStringLiteral("権限を設定できません: "), e);
    }
    return {};
}

// Lays the schema and the rows every system database starts with into a
// new file, readable by its owner only, or into an empty database on a
// server (with the program's group role there). A server database that
// holds the tables already is refused, or, with `renewed`, has its rights
// given anew (*renewed set).
QString CreateDatabase(const QString& file, DbConnection& cn, bool* renewed = nullptr) {
    const bool server = DbTarget::Of(file).IsServer();
    if (!server && QFileInfo::exists(file))
        return QStringLiteral("既にファイルがあります: ") + file;
    if (!server) {
        QFile f(file);
        if (!f.open(QIODevice::NewOnly | QIODevice::WriteOnly)) {
            return QStringLiteral("ファイルを作成できません: ") + file;
        }
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    try {
        if (!OpenDbConnectionAt(file, cn, true)) throw AppError(err::DatabaseNotOpen);
        if (server && HoldsTables(cn)) {
            if (!renewed) return QStringLiteral("既にシステムデータベースがあります: ") + file;
            *renewed = true;
            return RenewServerRights(cn);
        }
        CreateSchema(cn);
        BeginTransaction(cn);
        QVariantList master;
        for (const char16_t* n : {u"所見補助１", u"所見補助２", u"所見補助３", u"所見補助４",
                                  u"所見補助５", u"所見補助６", u"所見補助７"}) {
            master << QString::fromUtf16(n);
        }
        for (int i = 0; i < 6; ++i) master << QStringLiteral("1");
        RunChange(cn,
                  QStringLiteral("Insert Into tblMasSystemA Values (?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                  master);
        RunChange(cn, QStringLiteral("Insert Into 医院情報 (医院名称) Values (NULL)"));
        if (server) {
            for (const QString& sql : ServerRoleStatements()) RunChange(cn, sql);
        }
        CommitTransaction(cn);
    } catch (const AppError& e) {
        const QString told = RolledBack(cn, QStringLiteral("データベースを作成できません: "), e);
        if (!server) QFile::remove(file);
        return told;
    }
    return {};
}

// What a name, a patient's or the clinic's column may hold, and a memo's text.
constexpr int kNameLimit = 255;
constexpr int kMemoLimit = 1000000;

// True when the row replaced a patient already there.
bool ImportPatientRow(DbConnection& cn, const QStringList& header, const QStringList& row) {
    QStringList marks;
    QVariantList values;
    for (int i = 0; i < header.size(); ++i) {
        marks << QStringLiteral("?");
        values << SqlText(row[i]);
    }
    const int key = header.indexOf(QStringLiteral("カルテ番号"));
    const int replaced = RunChange(
        cn, QStringLiteral("Delete From 患者マスター Where (カルテ番号 = ?)"), {values[key]});
    RunChange(cn,
              QStringLiteral("Insert Into 患者マスター (") + header.join(u',') +
                  QStringLiteral(") Values (") + marks.join(u',') + u')',
              values);
    return replaced > 0;
}

}  // namespace

// A server's search index, outside any transaction so that saves go on
// while it is built. Without it search still works, reading every memo; the
// owner is told why it is missing.
void MakeServerSearchIndex(const QString& target) {
    DbConnection cn;
    try {
        if (!OpenDbConnectionAt(target, cn)) return;
        // A build that failed half-way leaves an index marked invalid.
        QSqlQuery q =
            RunQuery(cn, QStringLiteral("SELECT NOT indisvalid FROM pg_index WHERE "
                                        "indexrelid = to_regclass('idxdatcommonsearch')"));
        const bool invalid = q.next() && q.value(0).toBool();
        q.finish();
        if (invalid) RunChange(cn, QStringLiteral("DROP INDEX CONCURRENTLY idxdatcommonsearch"));
        for (const QString& sql : tables::ServerSearchIndexStatements()) RunChange(cn, sql);
    } catch (const AppError& e) {
        cn.RollbackAndClose();
        std::fprintf(stderr, "%s\n",
                     qPrintable(QStringLiteral("検索の索引を作成できません（pg_trgm が要ります。"
                                               "Debian では postgresql-contrib）: ") +
                                e.detail().trimmed() +
                                QStringLiteral("\n検索は索引なしで動きます（遅くなります）。")));
    }
}

QString InitDatabase(const QString& file) {
    DbConnection cn;
    const QString error = CreateDatabase(file, cn);
    cn.RollbackAndClose();
    if (error.isEmpty() && DbTarget::Of(file).IsServer()) MakeServerSearchIndex(file);
    return error;
}

QString InitOrRenewDatabase(const QString& file, bool* renewed) {
    DbConnection cn;
    *renewed = false;
    const QString error = CreateDatabase(file, cn, renewed);
    cn.RollbackAndClose();
    if (error.isEmpty() && DbTarget::Of(file).IsServer()) MakeServerSearchIndex(file);
    return error;
}

QString SystemDatabaseFileProblem(const QString& file) {
    if (!QFileInfo(file).isFile()) return QStringLiteral("ファイルがありません: ") + file;
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(file);
    int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    int tables = 0;
    if (rc == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        rc = sqlite3_prepare_v2(db,
                                "Select Count(*) From sqlite_master Where type = 'table' And "
                                "lower(name) In ('tbldatcommon', 'tblmassystema')",
                                -1, &st, nullptr);
        if (rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) tables = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    if (rc != SQLITE_OK || tables != 2) {
        return QStringLiteral("指導指示管理のシステムデータベースではありません: ") + file;
    }
    return {};
}

QString ImportCsv(const QString& file, const QString& csvPath, const QString& table, int* rows,
                  int* replaced) {
    const bool patients = table == QStringLiteral("患者マスター");
    const QStringList& known = patients ? tables::PatientColumns() : tables::ClinicColumns();
    QFile f(csvPath);
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("CSV ファイルを読めません: ") + csvPath;
    QString error;
    const CsvTable csv = ParseCsv(f.readAll(), &error);
    if (!error.isEmpty()) return error;
    for (const QString& h : csv.header) {
        if (!known.contains(h)) {
            return QStringLiteral("1 行目: 知らない列名です: ") + h +
                   QStringLiteral("（使える列名: ") + known.join(QStringLiteral(", ")) + u'）';
        }
    }
    if (QSet<QString>(csv.header.begin(), csv.header.end()).size() != csv.header.size()) {
        return QStringLiteral("1 行目: 同じ列名が二度あります。");
    }
    if (const QString e = TooLong(csv, kNameLimit); !e.isEmpty()) return e;
    const int keyColumn = csv.header.indexOf(QStringLiteral("カルテ番号"));
    if (patients && keyColumn < 0) return QStringLiteral("1 行目: カルテ番号の列がありません。");
    if (patients) {
        QHash<int, int> lineOfKey;
        for (size_t r = 0; r < csv.rows.size(); ++r) {
            bool ok = false;
            const int key = csv.rows[r][keyColumn].trimmed().toInt(&ok);
            if (!ok || key < 1) {
                return QStringLiteral(
                           "%1 行目: カルテ番号が 1 から 2147483647 までの数字ではありません: %2")
                    .arg(csv.lineOfRow[r])
                    .arg(csv.rows[r][keyColumn]);
            }
            if (lineOfKey.contains(key)) {
                return QStringLiteral("%1 行目: カルテ番号 %2 は %3 行目にもあります。")
                    .arg(csv.lineOfRow[r])
                    .arg(key)
                    .arg(lineOfKey[key]);
            }
            lineOfKey.insert(key, csv.lineOfRow[r]);
        }
    }
    int replacedPatients = 0;

    DbConnection cn;
    if (const QString error = OpenTarget(file, cn); !error.isEmpty()) return error;
    try {
        BeginTransaction(cn);
        if (!patients) RunChange(cn, QStringLiteral("Delete From 医院情報"));
        for (const QStringList& row : csv.rows) {
            if (patients) {
                if (ImportPatientRow(cn, csv.header, row)) ++replacedPatients;
            } else {
                QStringList marks;
                QVariantList values;
                for (const QString& v : row) marks << QStringLiteral("?"), values << SqlText(v);
                RunChange(cn,
                          QStringLiteral("Insert Into 医院情報 (") + csv.header.join(u',') +
                              QStringLiteral(") Values (") + marks.join(u',') + u')',
                          values);
            }
        }
        CommitTransaction(cn);
    } catch (const AppError& e) {
        return RolledBack(cn, QStringLiteral("取り込めませんでした（何も変更していません）: "), e);
    }
    if (rows) *rows = int(csv.rows.size());
    if (replaced) *replaced = replacedPatients;
    return {};
}

namespace {

struct TableCopy {
    QString table;
    QStringList columns;
    QString order;
};

std::vector<TableCopy> CopiedTables() {
    QStringList masterColumns;
    for (int k = 0; k < kCategoryCount; ++k) masterColumns << tables::NameColumn(k);
    for (int k = 1; k < kCategoryCount; ++k) masterColumns << tables::CheckColumn(k);
    return {
        {QStringLiteral("tblDatCommon"),
         QStringList{QStringLiteral("MainKey")} + tables::MemoValueColumns() +
             QStringList{QStringLiteral("RowVersion")},
         QStringLiteral("MainKey")},
        {QStringLiteral("tblMasSystemA"), masterColumns, QString()},
        {QStringLiteral("患者マスター"), tables::PatientColumns(), QStringLiteral("カルテ番号")},
        {QStringLiteral("医院情報"), tables::ClinicColumns(), QString()},
        {QStringLiteral("tblDatRevision"),
         QStringList{QStringLiteral("RevisionKey"), QStringLiteral("MainKey"),
                     QStringLiteral("Action"), QStringLiteral("ChangedAt"),
                     QStringLiteral("ChangedBy"), QStringLiteral("Workstation")} +
             tables::RevisionMemoColumns() +
             QStringList{QStringLiteral("PrevDigest"), QStringLiteral("Digest")},
         QStringLiteral("RevisionKey")},
        {QStringLiteral("tblAccessLog"),
         {QStringLiteral("LogKey"), QStringLiteral("At"), QStringLiteral("Person"),
          QStringLiteral("Workstation"), QStringLiteral("KarteNo"), QStringLiteral("Action")},
         QStringLiteral("LogKey")},
        {QStringLiteral("tblMasStaff"),
         {QStringLiteral("Login"), QStringLiteral("Name"), QStringLiteral("Role"),
          QStringLiteral("Active"), QStringLiteral("PasswordHash")},
         QStringLiteral("Login")},
        // Without their keys: the target numbers them itself.
        {QStringLiteral("tblMasPhrase"),
         {QStringLiteral("Category"), QStringLiteral("SortOrder"), QStringLiteral("Phrase")},
         QStringLiteral("Category, SortOrder, PhraseKey")},
    };
}

// Every row of the table, each value as the program stored it; dates as dates.
std::vector<QVariantList> ReadRows(DbConnection& cn, const TableCopy& t) {
    std::vector<QVariantList> rows;
    QSqlQuery q = RunQuery(
        cn, QStringLiteral("Select ") + t.columns.join(u',') + QStringLiteral(" From ") + t.table +
                (t.order.isEmpty() ? QString() : QStringLiteral(" Order By ") + t.order));
    const int date = int(t.columns.indexOf(QStringLiteral("CreDate")));
    while (q.next()) {
        QVariantList row;
        for (int c = 0; c < t.columns.size(); ++c) {
            QVariant v = ValueAt(q, c);
            if (c == date && !v.isNull()) v = ParseShortDate(v.toString());
            row << v;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// SHA-256 over every memo's columns in key order, each value as the chain
// encodes it.
QString MemoDigest(const std::vector<QVariantList>& memos) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QVariantList& row : memos) {
        for (const QVariant& v : row) hash.addData(DigestBytes(v));
        hash.addData("\n");
    }
    return QString::fromLatin1(hash.result().toHex());
}

qint64 CountRows(DbConnection& cn, const QString& table) {
    QSqlQuery q = RunQuery(cn, QStringLiteral("Select Count(*) From ") + table);
    return q.next() ? q.value(0).toLongLong() : -1;
}

}  // namespace

QString CopyDatabase(const QString& from, const QString& to, QString* report) {
    DbConnection source;
    if (const QString error = OpenTarget(from, source); !error.isEmpty()) return error;
    bool created = false;
    if (DbTarget::Of(to).IsServer() ? [&] {
            DbConnection probe;
            return OpenTarget(to, probe).isEmpty() && !HoldsTables(probe);
        }()
                        : !QFileInfo::exists(to)) {
        if (const QString error = InitDatabase(to); !error.isEmpty()) return error;
        created = true;
    }
    DbConnection target;
    if (const QString error = OpenTarget(to, target); !error.isEmpty()) return error;
    const auto all = CopiedTables();
    QStringList counts;
    QString digest;
    try {
        std::vector<std::vector<QVariantList>> rows;
        // Not in a database made before them.
        const bool staff = HoldsStaffTable(source);
        const bool phrases = HoldsTable(source, QStringLiteral("tblMasPhrase"));
        for (const TableCopy& t : all) {
            const bool missing =
                (t.table == u"tblMasStaff" && !staff) || (t.table == u"tblMasPhrase" && !phrases);
            rows.push_back(missing ? std::vector<QVariantList>{} : ReadRows(source, t));
        }
        digest = MemoDigest(rows[0]);
        BeginTransaction(target);
        for (const QString& sql :
             tables::StaffStatements() + tables::PhraseStatements(target.engine()))
            RunChange(target, sql);
        if (CountRows(target, QStringLiteral("tblDatCommon")) > 0) {
            target.RollbackAndClose();
            return QStringLiteral("コピー先には既にメモがあります。何も変更していません: ") + to;
        }
        for (size_t i = 0; i < all.size(); ++i) {
            const TableCopy& t = all[i];
            RunChange(target, QStringLiteral("Delete From ") + t.table);
            QStringList marks;
            for (qsizetype c = 0; c < t.columns.size(); ++c) marks << QStringLiteral("?");
            const QString insert = QStringLiteral("Insert Into ") + t.table + QStringLiteral(" (") +
                                   t.columns.join(u',') + QStringLiteral(") Values (") +
                                   marks.join(u',') + u')';
            for (const QVariantList& row : rows[i]) RunChange(target, insert, row);
        }
        for (const QString& sql : tables::AfterKeyedInsert(target.engine())) RunQuery(target, sql);
        // Checked inside the transaction: a copy that differs is never committed.
        for (size_t i = 0; i < all.size(); ++i) {
            const qint64 n = CountRows(target, all[i].table);
            if (n != qint64(rows[i].size())) {
                throw AppError(err::DatabaseBase + 1, QStringLiteral("%1: %2 rows, copied %3")
                                                          .arg(all[i].table)
                                                          .arg(rows[i].size())
                                                          .arg(n));
            }
            counts << QStringLiteral("%1 %2 行").arg(all[i].table).arg(n);
        }
        const QString copied = MemoDigest(ReadRows(target, all[0]));
        if (copied != digest) {
            throw AppError(err::DatabaseBase + 1, QStringLiteral("memo digest differs"));
        }
        CommitTransaction(target);
    } catch (const AppError& e) {
        const QString told = RolledBack(
            target, QStringLiteral("コピーできませんでした（何も変更していません）: "), e, true);
        if (created && !DbTarget::Of(to).IsServer()) QFile::remove(to);
        return told;
    }
    if (report) {
        *report = counts.join(QStringLiteral("、")) +
                  QStringLiteral("\nメモのダイジェスト (SHA-256): ") + digest;
    }
    return {};
}

QString VerifyDatabase(const QString& file, QStringList* findings, qint64* checked) {
    int anchors = 0;
    return VerifyDatabase(file, QString(), findings, checked, &anchors);
}

QString VerifyDatabase(const QString& file, const QString& anchors, QStringList* findings,
                       qint64* checked, int* anchorsRead) {
    // The anchors first: a folder or file that cannot be read is told before
    // anything else is done.
    std::vector<std::pair<QString, QString>> texts;  // source, text
    if (!anchors.isEmpty()) {
        const QFileInfo where(anchors);
        QStringList paths;
        if (where.isDir()) {
            for (const QString& name :
                 QDir(anchors).entryList({QStringLiteral("*.anchor")}, QDir::Files, QDir::Name))
                paths << QDir(anchors).filePath(name);
        } else {
            paths << anchors;
        }
        for (const QString& path : paths) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly) || f.size() > (1 << 20))
                return QStringLiteral("アンカーを読めません: ") + path;
            texts.emplace_back(QFileInfo(path).fileName(), QString::fromUtf8(f.readAll()));
        }
    }
    DbConnection cn;
    if (const QString error = OpenTarget(file, cn); !error.isEmpty()) return error;
    try {
        *findings = VerifyRecords(cn, checked);
        *anchorsRead = 0;
        for (const auto& [source, text] : texts)
            *findings += CheckAnchors(cn, text, source, anchorsRead);
    } catch (const DatabaseBusy& e) {
        return e.UserMessage();
    } catch (const AppError& e) {
        return QStringLiteral("確かめられませんでした: ") + Describe(e) + u' ' + e.detail();
    }
    if (!anchors.isEmpty() && *anchorsRead == 0)
        return QStringLiteral("アンカーが見つかりません: ") + anchors;
    return {};
}

QString AnchorOf(const QString& file, QString* line) {
    DbConnection cn;
    if (const QString error = OpenTarget(file, cn); !error.isEmpty()) return error;
    try {
        *line = ChainAnchor(cn);
    } catch (const DatabaseBusy& e) {
        return e.UserMessage();
    } catch (const AppError& e) {
        return QStringLiteral("読めませんでした: ") + Describe(e) + u' ' + e.detail();
    }
    if (line->isEmpty()) return QStringLiteral("変更履歴がまだありません: ") + file;
    return {};
}

QString AccessLogCsv(const QString& file, const QDate& from, const QDate& to,
                     std::optional<qint32> chart, QString* csv) {
    DbConnection cn;
    if (const QString error = OpenTarget(file, cn); !error.isEmpty()) return error;
    auto field = [](QString v) {
        // A cell a spreadsheet would take for a formula (a login or host name
        // chosen to look like one) is kept as text by a leading apostrophe.
        static const QString kFormulaStart = QStringLiteral("=+-@\t\r");
        if (!v.isEmpty() && kFormulaStart.contains(v[0])) v.prepend(u'\'');
        if (!v.contains(u',') && !v.contains(u'"') && !v.contains(u'\n') && !v.contains(u'\r'))
            return v;
        return u'"' + v.replace(u'"', QStringLiteral("\"\"")) + u'"';
    };
    try {
        QString out = QStringLiteral("日時,入力者,端末,カルテ番号,操作\r\n");
        for (const AccessRecord& r : ReadAccessLog(cn, from, to, chart)) {
            out += QStringList{field(r.at), field(r.person), field(r.workstation),
                               QString::number(r.chart), field(r.action)}
                       .join(u',') +
                   QStringLiteral("\r\n");
        }
        *csv = out;
    } catch (const DatabaseBusy& e) {
        return e.UserMessage();
    } catch (const AppError& e) {
        return QStringLiteral("読めませんでした: ") + Describe(e) + u' ' + e.detail();
    }
    return {};
}

namespace {

// The CSV's columns matched to the table's (names compared without regard
// to case); empty `error` when every column is known and none twice.
std::vector<int> MatchColumns(const QStringList& header, const QStringList& known, QString* error) {
    std::vector<int> at;
    QStringList seen;
    for (const QString& h : header) {
        int found = -1;
        for (int k = 0; k < known.size(); ++k) {
            if (known[k].compare(h, Qt::CaseInsensitive) == 0) found = k;
        }
        if (found < 0) {
            *error = QStringLiteral("1 行目: 知らない列名です: ") + h +
                     QStringLiteral("（使える列名: ") + known.join(QStringLiteral(", ")) + u'）';
            return {};
        }
        if (seen.contains(known[found])) {
            *error = QStringLiteral("1 行目: 同じ列名が二度あります: ") + h;
            return {};
        }
        seen << known[found];
        at.push_back(found);
    }
    return at;
}

// "2024/04/01 0:00:00", "2024-04-01 00:00:00" or the day alone.
QDate ExportedDate(const QString& text) {
    static const QRegularExpression form(QStringLiteral(
        "^(\\d{4})[/-](\\d{1,2})[/-](\\d{1,2})(?:[ T]\\d{1,2}:\\d{2}(?::\\d{2}(?:\\.\\d+)?)?)?$"));
    const auto m = form.match(text.trimmed());
    if (!m.hasMatch()) return {};
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

CsvTable ReadCsv(const QString& csvPath, QString* error) {
    QFile f(csvPath);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("CSV ファイルを読めません: ") + csvPath;
        return {};
    }
    return ParseCsv(f.readAll(), error);
}

}  // namespace

QString ImportMemos(const QString& file, const QString& csvPath, int* rows) {
    QString error;
    const CsvTable csv = ReadCsv(csvPath, &error);
    if (!error.isEmpty()) return error;
    const QStringList known = QStringList{QStringLiteral("MainKey")} + tables::MemoValueColumns();
    const std::vector<int> at = MatchColumns(csv.header, known, &error);
    if (!error.isEmpty()) return error;
    for (const char* needed : {"MainKey", "FormCode", "KarteNo", "KarteNoBranch", "CreDate"}) {
        if (std::find(at.begin(), at.end(), known.indexOf(QLatin1String(needed))) == at.end())
            return QStringLiteral("1 行目: %1 の列がありません。").arg(QLatin1String(needed));
    }
    if (const QString e = TooLong(csv, kMemoLimit); !e.isEmpty()) return e;
    // Every value checked before anything is written.
    std::vector<QVariantList> memos;
    for (size_t r = 0; r < csv.rows.size(); ++r) {
        QVariantList values(known.size() + 1);  // known columns, then RowVersion 0
        for (int k = 0; k < known.size(); ++k)
            values[k] = k >= known.indexOf(QStringLiteral("LText000"))
                            ? QVariant(QMetaType(QMetaType::QString))
                            : QVariant();
        values.back() = 0;
        for (size_t c = 0; c < at.size(); ++c) {
            const QString& name = known[at[c]];
            const QString& v = csv.rows[r][qsizetype(c)];
            if (name == u"CreDate") {
                const QDate d = ExportedDate(v);
                if (!d.isValid()) {
                    return QStringLiteral("%1 行目: CreDate が日付ではありません: %2")
                        .arg(csv.lineOfRow[r])
                        .arg(v);
                }
                values[at[c]] = d;
            } else if (name.startsWith(u"LText")) {
                values[at[c]] = SqlText(v);
            } else {
                bool ok = false;
                const int n = v.trimmed().toInt(&ok);
                if (!ok) {
                    return QStringLiteral("%1 行目: %2 が数字ではありません: %3")
                        .arg(csv.lineOfRow[r])
                        .arg(name, v);
                }
                if (name == u"MainKey" && (n < 1 || n > tables::kMaxImportedMemoKey)) {
                    return QStringLiteral("%1 行目: MainKey は 1 から %2 までの数字です: %3")
                        .arg(csv.lineOfRow[r])
                        .arg(tables::kMaxImportedMemoKey)
                        .arg(v);
                }
                values[at[c]] = n;
            }
        }
        memos.push_back(values);
    }
    DbConnection cn;
    if (error = OpenTarget(file, cn); !error.isEmpty()) return error;
    try {
        BeginTransaction(cn);
        for (size_t r = 0; r < memos.size(); ++r) {
            const qint32 key = memos[r][0].toInt();
            if (MemoRowValues(cn, key)) {
                cn.RollbackAndClose();
                return QStringLiteral(
                           "%1 行目: MainKey %2 のメモは既にあります。何も取り込んでいません。")
                    .arg(csv.lineOfRow[r])
                    .arg(key);
            }
            RunChange(cn, tables::MemoInsertKeyed(), memos[r]);
            AppendRevision(cn, key, QStringLiteral("import"), *MemoRowValues(cn, key));
        }
        for (const QString& sql : tables::AfterKeyedInsert(cn.engine())) RunQuery(cn, sql);
        CommitTransaction(cn);
    } catch (const AppError& e) {
        return RolledBack(cn, QStringLiteral("取り込めませんでした（何も変更していません）: "), e,
                          true);
    }
    if (rows) *rows = int(memos.size());
    return {};
}

QString ImportMaster(const QString& file, const QString& csvPath) {
    QString error;
    const CsvTable csv = ReadCsv(csvPath, &error);
    if (!error.isEmpty()) return error;
    QStringList known;
    for (int k = 0; k < kCategoryCount; ++k) known << tables::NameColumn(k);
    for (int k = 1; k < kCategoryCount; ++k) known << tables::CheckColumn(k);
    const std::vector<int> at = MatchColumns(csv.header, known, &error);
    if (!error.isEmpty()) return error;
    if (csv.rows.size() != 1) {
        return QStringLiteral("tblMasSystemA は 1 行です（CSV には %1 行あります）。")
            .arg(csv.rows.size());
    }
    if (const QString e = TooLong(csv, kNameLimit); !e.isEmpty()) return e;
    DbConnection cn;
    if (error = OpenTarget(file, cn); !error.isEmpty()) return error;
    try {
        BeginTransaction(cn);
        QStringList columns, marks;
        QVariantList values;
        for (size_t c = 0; c < at.size(); ++c) {
            columns << known[at[c]];
            marks << QStringLiteral("?");
            values << SqlText(csv.rows[0][qsizetype(c)]);
        }
        RunChange(cn, QStringLiteral("Delete From tblMasSystemA"));
        RunChange(cn,
                  QStringLiteral("Insert Into tblMasSystemA (") + columns.join(u',') +
                      QStringLiteral(") Values (") + marks.join(u',') + u')',
                  values);
        CommitTransaction(cn);
    } catch (const AppError& e) {
        return RolledBack(cn, QStringLiteral("取り込めませんでした（何も変更していません）: "), e);
    }
    return {};
}

QString MakeDemoDatabase(const QString& file, const QDate& today) {
    DbConnection cn;
    QString error = CreateDatabase(file, cn);
    if (!error.isEmpty()) return error;
    std::mt19937 rng(20261210);
    auto pick = [&](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
    const QStringList surnames{"佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺",   "山本",
                               "中村", "小林", "加藤", "吉田", "山田", "佐々木", "山口",
                               "松本", "井上", "木村", "林",   "清水", "髙橋"};
    const QStringList surnameKana{"サトウ",   "スズキ",   "タカハシ", "タナカ",   "イトウ",
                                  "ワタナベ", "ヤマモト", "ナカムラ", "コバヤシ", "カトウ",
                                  "ヨシダ",   "ヤマダ",   "ササキ",   "ヤマグチ", "マツモト",
                                  "イノウエ", "キムラ",   "ハヤシ",   "シミズ",   "タカハシ"};
    const QStringList men{"太郎", "一郎", "健二", "誠", "博", "茂", "翔太", "大輔", "勇", "清"};
    const QStringList menKana{"タロウ", "イチロウ", "ケンジ",   "マコト", "ヒロシ",
                              "シゲル", "ショウタ", "ダイスケ", "イサム", "キヨシ"};
    const QStringList women{"花子", "幸子",   "恵子", "美咲",   "陽子",
                            "和子", "さくら", "裕子", "久美子", "千代"};
    const QStringList womenKana{"ハナコ", "サチコ", "ケイコ", "ミサキ", "ヨウコ",
                                "カズコ", "サクラ", "ユウコ", "クミコ", "チヨ"};
    const QStringList memos{
        "塩分を控えめにするよう指導。\n味噌汁は一日一杯まで。",
        "毎日三十分の散歩を勧めた。",
        "服薬を忘れないよう、お薬カレンダーの使用を提案。",
        "血圧手帳を毎朝記録すること。",
        "間食を減らし、野菜を先に食べるよう説明。",
        "禁煙外来の案内をした。本人は'考えてみる'とのこと。",
        "水分をこまめに取るよう指導（一日1.5L目安）。",
        "転倒予防のため、室内の段差に注意するよう説明。",
    };
    try {
        BeginTransaction(cn);
        RunChange(cn, QStringLiteral("Delete From 医院情報"));
        RunChange(cn, QStringLiteral("Insert Into 医院情報 Values (?,?,?,?,?,?)"),
                  {QStringLiteral("みどり内科クリニック"), QStringLiteral("150-0001"),
                   QStringLiteral("東京都渋谷区神宮前1-2-3"), QStringLiteral("03-1234-5678"),
                   QStringLiteral("03-1234-5679"), QStringLiteral("緑川 誠")});
        for (int i = 0; i < 50; ++i) {
            const qint32 chart = i == 0 ? 12345 : 10000 + i * 137 + pick(10);
            const bool male = pick(2) == 0;
            const int s = pick(surnames.size()), g = pick(10);
            // Birth days from 大正 to 令和.
            const QDate birth =
                QDate(1915, 1, 1).addDays(pick(int(QDate(1915, 1, 1).daysTo(today) - 30)));
            const QString era = FormatEraShort(birth);
            const QStringList parts = era.mid(1).split(u'/');
            RunChange(
                cn, QStringLiteral("Insert Into 患者マスター Values (?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                {chart, surnames[s] + QStringLiteral("　") + (male ? men[g] : women[g]),
                 surnameKana[s] + QStringLiteral(" ") + (male ? menKana[g] : womenKana[g]),
                 male ? QStringLiteral("1") : QStringLiteral("2"), era.left(1), parts[0], parts[1],
                 parts[2], QStringLiteral("03-%1-%2").arg(1000 + pick(9000)).arg(1000 + pick(9000)),
                 QStringLiteral("1%1-00%2").arg(pick(90) + 10).arg(pick(90) + 10),
                 QStringLiteral("東京都世田谷区"),
                 QStringLiteral("%1-%2").arg(pick(5) + 1).arg(pick(20) + 1), QStringLiteral("")});
            const int memoCount = i == 0 ? 12 : pick(8);
            for (int m = 0; m < memoCount; ++m) {
                const int category = i == 0 ? m % 3 : pick(4);
                QVariantList values{category, chart / 10, chart, today.addDays(-pick(730))};
                for (int k = 0; k < kCategoryCount; ++k) {
                    values << (k == category ? QVariant(memos[pick(memos.size())])
                                             : QVariant(QMetaType(QMetaType::QString)));
                }
                // Each memo with its first revision, as the program writes one.
                QSqlQuery q = RunQuery(cn, tables::MemoInsert(), values);
                if (!q.next()) throw AppError(err::DatabaseBase + 1, QStringLiteral("no key"));
                const qint32 key = q.value(0).toInt();
                q = QSqlQuery();
                AppendRevision(cn, key, QStringLiteral("insert"), *MemoRowValues(cn, key));
            }
        }
        CommitTransaction(cn);
    } catch (const AppError& e) {
        cn.RollbackAndClose();
        if (!DbTarget::Of(file).IsServer()) QFile::remove(file);
        return QStringLiteral("デモ データベースを作成できません: ") + Describe(e);
    }
    return {};
}

namespace {

// One change of the staff table in its own transaction; `change` returns
// the message for the user when it refuses.
QString ChangeStaff(const QString& file, const std::function<QString(DbConnection&)>& change) {
    DbConnection cn;
    if (const QString error = OpenTarget(file, cn); !error.isEmpty()) return error;
    try {
        BeginTransaction(cn);
        for (const QString& sql : tables::StaffStatements()) RunChange(cn, sql);
        // A server database made before the table: its workstations read it.
        if (cn.engine() == Engine::Postgres) {
            RunChange(cn, QStringLiteral(
                              "DO $$ BEGIN IF EXISTS (SELECT FROM pg_roles WHERE rolname = "
                              "'ondrel_users') THEN REVOKE ALL ON tblMasStaff FROM ondrel_users; "
                              "GRANT SELECT ON tblMasStaff TO ondrel_users; END IF; END $$"));
        }
        if (const QString refused = change(cn); !refused.isEmpty()) {
            cn.RollbackAndClose();
            return refused;
        }
        CommitTransaction(cn);
    } catch (const AppError& e) {
        return RolledBack(cn, QStringLiteral("職員を登録できません: "), e, true);
    }
    return {};
}

QString UnknownLogin(const QString& login) {
    return QStringLiteral("職員ID「%1」は登録されていません。").arg(login);
}

QString UnknownRole(const QString& role) {
    return QStringLiteral("役割「%1」はありません（doctor, nurse, clerk, admin のいずれか）。")
        .arg(role);
}

// Changes one column of a person who is there; 1 row or "unknown".
QString SetStaffColumn(const QString& file, const QString& login, const QString& column,
                       const QVariant& value) {
    return ChangeStaff(file, [&](DbConnection& cn) {
        const int rows = RunChange(
            cn, QStringLiteral("Update tblMasStaff Set %1 = ? Where Login = ?").arg(column),
            {value, login});
        return rows == 1 ? QString() : UnknownLogin(login);
    });
}

}  // namespace

QString StaffAdd(const QString& file, const QString& login, const QString& name,
                 const QString& role, const QByteArray& password) {
    if (const QString p = StaffLoginProblem(login); !p.isEmpty()) return p + u'。';
    if (const QString p = StaffNameProblem(name); !p.isEmpty()) return p + u'。';
    if (!StaffRoleNamed(role)) return UnknownRole(role);
    if (const QString p = PasswordProblem(password); !p.isEmpty()) return p + u'。';
    const QString hash = HashPassword(password);
    return ChangeStaff(file, [&](DbConnection& cn) {
        if (FindStaff(cn, login))
            return QStringLiteral("職員ID「%1」は既に登録されています。").arg(login);
        RunChange(cn,
                  QStringLiteral("Insert Into tblMasStaff (Login, Name, Role, Active, "
                                 "PasswordHash) Values (?, ?, ?, 1, ?)"),
                  {login, name, role, hash});
        return QString();
    });
}

QString PhrasesExport(const QString& file, const QString& csvPath, int* rows) {
    DbConnection cn;
    if (const QString error = OpenTarget(file, cn); !error.isEmpty()) return error;
    std::vector<Phrase> phrases;
    try {
        phrases = ReadPhrases(cn);
    } catch (const DatabaseBusy& e) {
        return e.UserMessage();
    } catch (const AppError& e) {
        return QStringLiteral("読めませんでした: ") + Describe(e) + u' ' + e.detail();
    }
    QSaveFile out(csvPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(PhrasesCsv(phrases)) < 0 || !out.commit())
        return QStringLiteral("CSV ファイルを書けません: ") + csvPath;
    *rows = int(phrases.size());
    return {};
}

QString PhrasesImport(const QString& file, const QString& csvPath, int* added, int* skipped) {
    *added = *skipped = 0;
    QString error;
    const CsvTable csv = ReadCsv(csvPath, &error);
    if (!error.isEmpty()) return error;
    const int categoryAt = int(csv.header.indexOf(QStringLiteral("分類")));
    const int textAt = int(csv.header.indexOf(QStringLiteral("文言")));
    if (categoryAt < 0 || textAt < 0)
        return QStringLiteral("1 行目: 分類 と 文言 の列が要ります。");
    std::vector<Phrase> incoming;
    for (size_t r = 0; r < csv.rows.size(); ++r) {
        const QString c = csv.rows[r].value(categoryAt).trimmed();
        bool ok = false;
        const int n = c.toInt(&ok);
        if (c != QStringLiteral("共通") && !(ok && n >= 1 && n <= kCategoryCount)) {
            return QStringLiteral("%1 行目: 分類は 共通 か 1 から %2 までの数字です: %3")
                .arg(csv.lineOfRow[r])
                .arg(kCategoryCount)
                .arg(c);
        }
        const QString text = csv.rows[r].value(textAt);
        if (const QString problem = PhraseProblem(text); !problem.isEmpty())
            return QStringLiteral("%1 行目: ").arg(csv.lineOfRow[r]) + problem;
        incoming.push_back({ok ? n - 1 : kCommonPhrases, text});
    }
    DbConnection cn;
    if (const QString e = OpenTarget(file, cn); !e.isEmpty()) return e;
    try {
        BeginTransaction(cn);
        const std::vector<Phrase> present = ReadPhrases(cn);
        for (int category = kCommonPhrases; category < kCategoryCount; ++category) {
            QStringList list = PhraseList(present, category);
            const qsizetype before = list.size();
            for (const Phrase& p : incoming) {
                if (p.category != category) continue;
                if (list.contains(p.text)) {
                    ++*skipped;
                } else {
                    list << p.text;
                }
            }
            if (list.size() == before) continue;
            *added += int(list.size() - before);
            WritePhrases(cn, category, list);
        }
        CommitTransaction(cn);
    } catch (const AppError& e) {
        return RolledBack(cn, QStringLiteral("取り込めませんでした: "), e, true);
    }
    return {};
}

QString StaffList(const QString& file, QString* table) {
    DbConnection cn;
    if (const QString error = OpenTarget(file, cn); !error.isEmpty()) return error;
    try {
        QString out = QStringLiteral("職員ID\t氏名\t役割\t状態\n");
        for (const StaffRow& r : ReadStaff(cn)) {
            const QString state = !r.problem.isEmpty() ? QStringLiteral("使えません（") +
                                                             r.problem + QStringLiteral("）")
                                  : r.member.active ? QStringLiteral("有効")
                                                    : QStringLiteral("無効");
            out +=
                QStringList{r.member.login, r.member.name,
                            r.problem.isEmpty() ? StaffRoleName(r.member.role) : QString(), state}
                    .join(u'\t') +
                u'\n';
        }
        *table = out;
    } catch (const DatabaseBusy& e) {
        return e.UserMessage();
    } catch (const AppError& e) {
        return QStringLiteral("読めませんでした: ") + Describe(e) + u' ' + e.detail();
    }
    return {};
}

QString StaffDisable(const QString& file, const QString& login) {
    return SetStaffColumn(file, login, QStringLiteral("Active"), 0);
}

QString StaffSetPassword(const QString& file, const QString& login, const QByteArray& password) {
    if (const QString p = PasswordProblem(password); !p.isEmpty()) return p + u'。';
    return SetStaffColumn(file, login, QStringLiteral("PasswordHash"), HashPassword(password));
}

QString StaffSetRole(const QString& file, const QString& login, const QString& role) {
    if (!StaffRoleNamed(role)) return UnknownRole(role);
    return SetStaffColumn(file, login, QStringLiteral("Role"), role);
}

}  // namespace ondrel::tool
