#include "data/revisions.h"

#include <pwd.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDate>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSysInfo>
#include <map>
#include <set>

#include "core/app_context.h"
#include "core/app_error.h"
#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/japanese_date.h"
#include "data/server_records.h"
#include "data/system_db.h"
#include "data/tables.h"

namespace ondrel {

namespace {

const QString& RevisionSelect() {
    static const QString sql =
        QStringLiteral("Select RevisionKey, MainKey, Action, ChangedAt, ChangedBy, Workstation, ") +
        tables::RevisionMemoColumns().join(QStringLiteral(", ")) +
        QStringLiteral(", PrevDigest, Digest From tblDatRevision");
    return sql;
}

// A value as the chain and the comparisons see it: dates as dates, whole
// numbers as numbers, whatever engine gave them.
QVariant Canonical(const QVariant& v, bool isDate) {
    if (v.isNull()) return QVariant();
    if (isDate) return v.typeId() == QMetaType::QDate ? v.toDate() : ParseShortDate(v.toString());
    if (v.typeId() == QMetaType::QString) return v.toString();
    return v.toLongLong();
}

}  // namespace

QByteArray DigestBytes(const QVariant& v) {
    QByteArray bytes;
    if (v.isNull()) {
        bytes = "N";
    } else if (v.typeId() == QMetaType::QDate) {
        bytes = "D" + v.toDate().toString(Qt::ISODate).toUtf8();
    } else if (v.typeId() == QMetaType::QString) {
        bytes = "T" + v.toString().toUtf8();
    } else {
        bytes = "I" + QByteArray::number(v.toLongLong());
    }
    return QByteArray::number(bytes.size()) + ':' + bytes;
}

namespace {

int DateColumn() { return int(tables::RevisionMemoColumns().indexOf(QStringLiteral("CreDate"))); }

}  // namespace

QVariantList MemoValuesAt(const RowReader& r, int first) {
    QVariantList values;
    const int date = DateColumn();
    for (int c = 0; c < tables::RevisionMemoColumns().size(); ++c)
        values << Canonical(r.Value(first + c), c == date);
    return values;
}

QVariantList MemoValuesAt(const QSqlQuery& q, int first) {
    QVariantList values;
    const int date = DateColumn();
    for (int c = 0; c < tables::RevisionMemoColumns().size(); ++c)
        values << Canonical(ValueAt(q, first + c), c == date);
    return values;
}

namespace {

Revision FromQuery(const QSqlQuery& q) {
    Revision r;
    r.key = q.value(0).toLongLong();
    r.mainKey = q.value(1).toInt();
    r.action = ValueAt(q, 2).toString();
    r.changedAt = ValueAt(q, 3).toString();
    r.changedBy = ValueAt(q, 4).toString();
    r.workstation = ValueAt(q, 5).toString();
    r.memo = MemoValuesAt(q, 6);
    const int after = 6 + int(tables::RevisionMemoColumns().size());
    r.prevDigest = q.value(after).toString();
    r.digest = q.value(after + 1).toString();
    return r;
}

bool SameValues(const QVariantList& a, const QVariantList& b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (DigestBytes(a[i]) != DigestBytes(b[i])) return false;
    }
    return true;
}

}  // namespace

QString Workstation() {
    static const QString host = QSysInfo::machineHostName();
    return host;
}

namespace {

int Column(const QString& name) { return int(tables::RevisionMemoColumns().indexOf(name)); }

std::vector<Revision> SelectRevisions(AppContext& ctx, const QString& where,
                                      const QVariantList& values) {
    return WithSystemDb(ctx, [&](DbConnection& cn) {
        std::vector<Revision> revisions;
        QSqlQuery q = RunQuery(cn, RevisionSelect() + where, values);
        while (q.next()) revisions.push_back(FromQuery(q));
        return revisions;
    });
}

}  // namespace

FullChartNo ChartOf(const QVariantList& memo) {
    return FullChartNo(memo[Column(QStringLiteral("KarteNoBranch"))].toInt());
}

QString ActionText(const QString& action) {
    static const std::map<QString, QString> texts{
        {QStringLiteral("insert"), QStringLiteral("追加")},
        {QStringLiteral("update"), QStringLiteral("更新")},
        {QStringLiteral("delete"), QStringLiteral("削除")},
        {QStringLiteral("restore"), QStringLiteral("復元")},
        {QStringLiteral("revert"), QStringLiteral("版戻し")},
        {QStringLiteral("baseline"), QStringLiteral("移行")},
        {QStringLiteral("import"), QStringLiteral("取込")},
    };
    const auto it = texts.find(action);
    return it == texts.end() ? action : it->second;
}

CommonRecord RevisionRecord(const Revision& r) {
    CommonRecord c;
    c.MainKey = r.mainKey;
    c.FormCode = r.memo[Column(QStringLiteral("FormCode"))].toInt();
    c.KarteNo = BaseChartNo(r.memo[Column(QStringLiteral("KarteNo"))].toInt());
    c.KarteNoBranch = FullChartNo(r.memo[Column(QStringLiteral("KarteNoBranch"))].toInt());
    c.CreDate = ShortDate(r.memo[DateColumn()].toDate());
    for (int k = 0; k < kCategoryCount; ++k)
        c.LText[k] = r.memo[Column(tables::TextColumn(k))].toString();
    c.RowVersion = r.memo[Column(QStringLiteral("RowVersion"))].toInt();
    return c;
}

QString RevisionText(const Revision& r) {
    const CommonRecord c = RevisionRecord(r);
    return c.FormCode >= 0 && c.FormCode < kCategoryCount ? c.LText[c.FormCode] : QString();
}

QString RevisionDigest(const QString& prevDigest, const Revision& r) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(DigestBytes(prevDigest));
    hash.addData(DigestBytes(qlonglong(r.mainKey)));
    for (const QString* s : {&r.action, &r.changedAt, &r.changedBy, &r.workstation})
        hash.addData(DigestBytes(*s));
    for (const QVariant& v : r.memo) hash.addData(DigestBytes(v));
    return QString::fromLatin1(hash.result().toHex());
}

std::optional<QVariantList> UpdateMemoRow(DbConnection& cn, const CommonRecord& memo) {
    QString sql =
        QStringLiteral("Update tblDatCommon Set RowVersion = RowVersion + 1, CreDate = ?");
    QVariantList values{SqlDate(memo.CreDate)};
    for (int i = 0; i < kCategoryCount; ++i) {
        sql += u',' + tables::TextColumn(i) + QStringLiteral(" = ?");
        values << SqlText(memo.LText[i]);
    }
    // The row as written comes back with the update, for its revision.
    sql += QStringLiteral(" Where (MainKey = ?) And (RowVersion = ?) Returning ") +
           tables::RevisionMemoColumns().join(QStringLiteral(", "));
    values << memo.MainKey << memo.RowVersion;
    std::optional<QVariantList> row;
    ForEachRow(cn, sql, values, [&](const RowReader& r) { row = MemoValuesAt(r, 0); });
    return row;
}

std::optional<QVariantList> MemoRowValues(DbConnection& cn, qint32 mainKey) {
    std::optional<QVariantList> row;
    ForEachRow(cn,
               QStringLiteral("Select ") +
                   tables::RevisionMemoColumns().join(QStringLiteral(", ")) +
                   QStringLiteral(" From tblDatCommon Where (MainKey = ?)"),
               {mainKey}, [&](const RowReader& r) { row = MemoValuesAt(r, 0); });
    return row;
}

void AppendRevision(DbConnection& cn, qint32 mainKey, const QString& action,
                    const QVariantList& memo) {
    for (const QString& sql : tables::LockRevisions(cn.engine())) RunLater(cn, sql);
    Revision r;
    r.mainKey = mainKey;
    r.action = action;
    r.memo = memo;
    {
        // The clock and the last digest in one round trip.
        bool read = false;
        ForEachRow(cn,
                   QStringLiteral("Select ") + tables::NowExpression(cn.engine()) +
                       QStringLiteral(", (Select Digest From tblDatRevision Order By RevisionKey "
                                      "Desc Limit 1)"),
                   {}, [&](const RowReader& row) {
                       read = true;
                       r.changedAt = row.Value(0).toString();
                       const QVariant last = row.Value(1);
                       r.prevDigest = last.isNull() ? QStringLiteral("") : last.toString();
                   });
        if (!read) throw AppError(err::DatabaseBase + 1, QStringLiteral("no clock"));
        r.changedBy = cn.Person();
    }
    r.workstation = Workstation();
    r.digest = RevisionDigest(r.prevDigest, r);
    QStringList marks;
    const qsizetype n = 5 + tables::RevisionMemoColumns().size() + 2;
    for (qsizetype i = 0; i < n; ++i) marks << QStringLiteral("?");
    QVariantList values{mainKey, r.action, r.changedAt, r.changedBy, r.workstation};
    values += r.memo;
    values << r.prevDigest << r.digest;
    RunLater(cn,
             QStringLiteral("Insert Into tblDatRevision (MainKey, Action, ChangedAt, ChangedBy, "
                            "Workstation, ") +
                 tables::RevisionMemoColumns().join(QStringLiteral(", ")) +
                 QStringLiteral(", PrevDigest, Digest) Values (") + marks.join(u',') + u')',
             values);
}

std::vector<Revision> ReadRevisions(AppContext& ctx, qint32 mainKey) {
    return SelectRevisions(ctx, QStringLiteral(" Where (MainKey = ?) Order By RevisionKey"),
                           {mainKey});
}

std::vector<Revision> ReadDeletedMemos(AppContext& ctx, int formCode, BaseChartNo karteNo) {
    return SelectRevisions(
        ctx,
        QStringLiteral(" r Where (Action = 'delete') And (FormCode = ?) And (KarteNo = ?) "
                       "And Not Exists (Select 1 From tblDatCommon c Where c.MainKey = r.MainKey) "
                       "And RevisionKey = (Select Max(x.RevisionKey) From tblDatRevision x "
                       "Where x.MainKey = r.MainKey) Order By RevisionKey Desc"),
        {formCode, karteNo.value});
}

RestoreOutcome RevertToRevision(AppContext& ctx, const Revision& revision, qint32 rowVersion) {
    const CommonRecord old = RevisionRecord(revision);
    return WithSystemDb(ctx, [&](DbConnection& cn) {
        BeginTransaction(cn);
        CommonRecord memo = old;
        memo.RowVersion = rowVersion;
        if (cn.engine() == Engine::Postgres) {  // the server writes the record
            const size_t sent = AppendQueuedAccess(ctx, cn);
            const bool done = ServerUpdateMemo(cn, memo, QStringLiteral("revert"));
            CommitWithAccess(ctx, cn, sent);
            return done ? RestoreOutcome::Done : RestoreOutcome::ChangedElsewhere;
        }
        const auto now = UpdateMemoRow(cn, memo);
        if (!now) {
            CommitTransaction(cn);
            return RestoreOutcome::ChangedElsewhere;
        }
        AppendRevision(cn, revision.mainKey, QStringLiteral("revert"), *now);
        const size_t sent = AppendAccess(ctx, cn, ChartOf(*now), AccessAction::Restored);
        CommitWithAccess(ctx, cn, sent);
        return RestoreOutcome::Done;
    });
}

RestoreOutcome RestoreDeletedMemo(AppContext& ctx, const Revision& deleted) {
    return WithSystemDb(ctx, [&](DbConnection& cn) {
        BeginTransaction(cn);
        if (cn.engine() == Engine::Postgres) {
            const size_t sent = AppendQueuedAccess(ctx, cn);
            const bool done = ServerRestoreMemo(cn, deleted.key);
            CommitWithAccess(ctx, cn, sent);
            return done ? RestoreOutcome::Done : RestoreOutcome::NotDeleted;
        }
        if (MemoRowValues(cn, deleted.mainKey)) {
            CommitTransaction(cn);
            return RestoreOutcome::NotDeleted;  // brought back by another workstation meanwhile
        }
        QVariantList values{deleted.mainKey};
        values += deleted.memo;
        values.back() = values.back().toInt() + 1;  // a new version of the memo
        RunChange(cn, tables::MemoInsertKeyed(), values);
        const QVariantList now = *MemoRowValues(cn, deleted.mainKey);
        AppendRevision(cn, deleted.mainKey, QStringLiteral("restore"), now);
        const size_t sent = AppendAccess(ctx, cn, ChartOf(now), AccessAction::Restored);
        CommitWithAccess(ctx, cn, sent);
        return RestoreOutcome::Done;
    });
}

QString ChainAnchor(DbConnection& cn) {
    RequireRecordTables(cn);
    QSqlQuery q = RunQuery(cn, QStringLiteral("Select RevisionKey, Digest, ChangedAt From "
                                              "tblDatRevision Order By RevisionKey Desc Limit 1"));
    if (!q.next()) return {};
    return QStringLiteral("ondrel-anchor RevisionKey=%1 Digest=%2 At=%3")
        .arg(q.value(0).toLongLong())
        .arg(ValueAt(q, 1).toString(), ValueAt(q, 2).toString());
}

QStringList CheckAnchors(DbConnection& cn, const QString& text, const QString& source,
                         int* checked) {
    RequireRecordTables(cn);
    static const QRegularExpression line(
        QStringLiteral("^ondrel-anchor RevisionKey=(\\d{1,18}) Digest=([0-9a-f]{64}) At=(.*)$"),
        QRegularExpression::MultilineOption);
    struct Anchor {
        qint64 key;
        QString digest, at;
    };
    std::vector<Anchor> anchors;
    for (auto it = line.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        anchors.push_back({m.captured(1).toLongLong(), m.captured(2), m.captured(3).trimmed()});
    }
    std::sort(anchors.begin(), anchors.end(),
              [](const Anchor& a, const Anchor& b) { return a.key < b.key; });
    if (checked) *checked += int(anchors.size());
    QStringList findings;
    for (const Anchor& a : anchors) {
        QSqlQuery q = RunQuery(
            cn, QStringLiteral("Select Digest From tblDatRevision Where RevisionKey = ?"), {a.key});
        const QString where =
            QStringLiteral("アンカー（%1、RevisionKey %2、%3）: ").arg(source).arg(a.key).arg(a.at);
        if (!q.next()) {
            findings << where +
                            QStringLiteral("変更履歴にその行がありません（削除または入れ替え）");
        } else if (ValueAt(q, 0).toString() != a.digest) {
            findings << where + QStringLiteral(
                                    "ダイジェストが違います（その行まで、またはそれより前の"
                                    "変更履歴が書き換えられ、計算し直されています）");
        }
    }
    return findings;
}

QStringList VerifyRecords(DbConnection& cn, qint64* checked) {
    RequireRecordTables(cn);
    // Both tables from one snapshot: a save committed between the two reads
    // would read as a memo changed outside the program.
    RunChange(cn, cn.engine() == Engine::Postgres
                      ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                      : QStringLiteral("BEGIN"));
    QStringList findings;
    std::map<qint32, Revision> latest;
    QString prev;
    qint64 row = 0;
    {
        QSqlQuery q = RunQuery(cn, RevisionSelect() + QStringLiteral(" Order By RevisionKey"));
        while (q.next()) {
            Revision r = FromQuery(q);
            ++row;
            const QString where = QStringLiteral("変更履歴 %1 行目（RevisionKey %2、メモ %3）: ")
                                      .arg(row)
                                      .arg(r.key)
                                      .arg(r.mainKey);
            if (r.prevDigest != prev)
                findings << where + QStringLiteral(
                                        "前の行とつながりません（行の削除・入れ替え・挿入）");
            if (RevisionDigest(r.prevDigest, r) != r.digest)
                findings << where + QStringLiteral("内容がダイジェストと合いません（書き換え）");
            prev = r.digest;
            const qint32 key = r.mainKey;
            latest[key] = std::move(r);
        }
    }
    std::set<qint32> present;
    {
        QSqlQuery q = RunQuery(cn, QStringLiteral("Select MainKey, ") +
                                       tables::RevisionMemoColumns().join(QStringLiteral(", ")) +
                                       QStringLiteral(" From tblDatCommon Order By MainKey"));
        while (q.next()) {
            const qint32 key = q.value(0).toInt();
            present.insert(key);
            const auto it = latest.find(key);
            const QString memo = QStringLiteral("メモ %1: ").arg(key);
            if (it == latest.end()) {
                findings << memo + QStringLiteral("変更履歴がありません（プログラムの外で追加）");
            } else if (it->second.action == u"delete") {
                findings << memo + QStringLiteral(
                                       "削除の記録があるのに残っています（プログラムの外で復元）");
            } else if (!SameValues(MemoValuesAt(q, 1), it->second.memo)) {
                findings << memo + QStringLiteral(
                                       "最新の変更履歴と内容が違います（プログラムの外で変更）");
            }
        }
    }
    for (const auto& [key, r] : latest) {
        if (r.action != u"delete" && !present.count(key)) {
            findings << QStringLiteral(
                            "メモ %1: 削除の記録がないのにありません（プログラムの外で削除）")
                            .arg(key);
        }
    }
    RunChange(cn, QStringLiteral("COMMIT"));
    if (checked) *checked = row;
    return findings;
}

namespace {

// The tables of the record a database lacks, by name.
QStringList MissingRecordTables(DbConnection& cn) {
    QStringList missing;
    for (const char* table : {"tblDatRevision", "tblAccessLog"}) {
        const QString name = QString::fromLatin1(table);
        QSqlQuery q =
            cn.engine() == Engine::SQLite
                ? RunQuery(cn,
                           QStringLiteral("Select Count(*) From sqlite_master Where type = "
                                          "'table' And name = ? Collate NoCase"),
                           {name})
                : RunQuery(cn,
                           QStringLiteral("Select Count(*) From pg_tables Where tablename = "
                                          "? And schemaname = current_schema()"),
                           {name.toLower()});
        if (!(q.next() && q.value(0).toInt() > 0)) missing << name;
    }
    return missing;
}

int FileVersion(DbConnection& cn) {
    QSqlQuery q = RunQuery(cn, QStringLiteral("PRAGMA user_version"));
    return q.next() ? q.value(0).toInt() : 0;
}

// Closed as well: no command goes on with a database whose records are gone.
[[noreturn]] void RefuseLostRecords(DbConnection& cn, const QStringList& missing) {
    cn.RollbackAndClose();
    throw DatabaseUnavailable(
        err::DatabaseBase + 11, QStringLiteral("record tables missing: ") + missing.join(u' '),
        QStringLiteral("データベースの記録の表（%1）がありません。"
                       "誰かが削除したおそれがあります。\r\n"
                       "記録が確かめられるまで、このデータベースは使えません。"
                       "管理者に連絡して下さい（ondrel-db verify、バックアップから戻す）。")
            .arg(missing.join(QStringLiteral("、"))));
}

}  // namespace

void RequireRecordTables(DbConnection& cn) {
    if (const QStringList missing = MissingRecordTables(cn); !missing.isEmpty())
        RefuseLostRecords(cn, missing);
}

void AddRecordTables(DbConnection& cn) {
    if (cn.engine() != Engine::SQLite) return;
    auto hasMemos = [&] {
        QSqlQuery q = RunQuery(cn, QStringLiteral("Select Count(*) From sqlite_master Where "
                                                  "type = 'table' And name = 'tblDatCommon'"));
        return q.next() && q.value(0).toInt() > 0;
    };
    if (!hasMemos()) return;
    QStringList missing = MissingRecordTables(cn);
    if (missing.isEmpty()) {
        // A file made before files were marked: marked now, so that losing
        // its records later is told. Best effort: a read-only copy still opens.
        if (FileVersion(cn) < tables::kRecordsFileVersion) {
            try {
                RunChange(
                    cn,
                    QStringLiteral("PRAGMA user_version = %1").arg(tables::kRecordsFileVersion));
            } catch (const AppError&) {
            }
        }
        return;
    }
    // Only a file that never had the records gains them; one that had them
    // and lost them (marked, or one of the two left) is refused.
    if (missing.size() < 2 || FileVersion(cn) >= tables::kRecordsFileVersion)
        RefuseLostRecords(cn, missing);
    BeginTransaction(cn);
    missing = MissingRecordTables(cn);
    if (missing.isEmpty()) {  // another program got there first
        CommitTransaction(cn);
        return;
    }
    if (missing.size() < 2 || FileVersion(cn) >= tables::kRecordsFileVersion)
        RefuseLostRecords(cn, missing);
    for (const QString& sql : tables::RecordStatements(Engine::SQLite)) RunChange(cn, sql);
    std::vector<qint32> keys;
    {
        QSqlQuery q =
            RunQuery(cn, QStringLiteral("Select MainKey From tblDatCommon Order By MainKey"));
        while (q.next()) keys.push_back(q.value(0).toInt());
    }
    for (const qint32 key : keys)
        AppendRevision(cn, key, QStringLiteral("baseline"), *MemoRowValues(cn, key));
    CommitTransaction(cn);
}

}  // namespace ondrel
