#include "data/memo_store.h"

#include <QSqlQuery>
#include <QStringList>

#include "core/app_context.h"
#include "core/app_error.h"
#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/engine_paths.h"
#include "data/japanese_date.h"
#include "data/revisions.h"
#include "data/server_records.h"
#include "data/system_db.h"
#include "data/tables.h"

namespace ondrel {

namespace {

qint32 IntValue(const QVariant& v, const QString& name) {
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (v.isNull() || !ok || n < INT32_MIN || n > INT32_MAX) {
        throw AppError(v.isNull() || !ok ? err::TypeMismatch : err::Overflow, name);
    }
    return qint32(n);
}

qint32 IntField(const QSqlQuery& q, const QString& name) { return IntValue(Field(q, name), name); }

QDate DateValue(const QVariant& v, const QString& name) {
    // A server gives dates; a file gives the text it stored.
    const QDate d = v.typeId() == QMetaType::QDate ? v.toDate() : ParseShortDate(v.toString());
    if (!d.isValid()) throw AppError(err::TypeMismatch, QStringLiteral("not a date in ") + name);
    return d;
}

}  // namespace

std::optional<CommonRecord> ReadCommon(AppContext& ctx, int formCode, BaseChartNo karteNo,
                                       FetchMode mode, qint32 mainKey) {
    return WithSystemDb(ctx, [&](DbConnection& cn) -> std::optional<CommonRecord> {
        QString sql =
            QStringLiteral("Select * From tblDatCommon Where (FormCode = ?) And (KarteNo = ?)");
        QVariantList values{formCode, karteNo.value};
        if (mode == FetchMode::Latest) {
            // Only the first row is read: a server need not send the others.
            sql += QStringLiteral(" Order By ") + tables::MemoOrderNewestFirst() +
                   QStringLiteral(" Limit 1");
        } else {
            sql += QStringLiteral(" And (MainKey = ?)");
            values << mainKey;
        }
        QSqlQuery q = RunQuery(cn, sql, values);
        if (!q.next()) return std::nullopt;
        CommonRecord read;
        read.MainKey = IntField(q, QStringLiteral("MainKey"));
        read.RowVersion = IntField(q, QStringLiteral("RowVersion"));
        read.FormCode = IntField(q, QStringLiteral("FormCode"));
        read.KarteNo = BaseChartNo(IntField(q, QStringLiteral("KarteNo")));
        read.KarteNoBranch = FullChartNo(IntField(q, QStringLiteral("KarteNoBranch")));
        read.CreDate =
            ShortDate(DateValue(Field(q, QStringLiteral("CreDate")), QStringLiteral("CreDate")));
        for (int i = 0; i < kCategoryCount; ++i)
            read.LText[i] = NullToEmpty(Field(q, tables::TextColumn(i)));
        return read;
    });
}

qint32 InsertCommon(AppContext& ctx, const CommonRecord& r) {
    WaitCursorGuard wait(ctx.waitCursor);
    return WithSystemDb(ctx, [&](DbConnection& cn) {
        BeginTransaction(cn);
        if (cn.engine() == Engine::Postgres) {  // the server writes the record
            const size_t sent = AppendQueuedAccess(ctx, cn);
            const qint32 key = ServerInsertMemo(cn, r);
            CommitWithAccess(ctx, cn, sent);
            return key;
        }
        QVariantList values{r.FormCode, r.KarteNo.value, r.KarteNoBranch.value, SqlDate(r.CreDate)};
        for (const QString& t : r.LText) values << SqlText(t);
        // The key the engine gave this very row, not the table's highest.
        std::optional<qlonglong> returned;
        ForEachRow(cn, tables::MemoInsert(), values,
                   [&](const RowReader& row) { returned = row.Value(0).toLongLong(); });
        if (!returned) throw AppError(err::DatabaseBase + 1, QStringLiteral("no key returned"));
        // A file's keys go on past the 32 bits a memo's key has.
        if (*returned > INT32_MAX) ThrowKeysExhausted(QStringLiteral("MainKey %1").arg(*returned));
        const qint32 key = IntValue(*returned, QStringLiteral("MainKey"));
        const QVariantList row = *MemoRowValues(cn, key);
        AppendRevision(cn, key, QStringLiteral("insert"), row);
        const size_t sent = AppendAccess(ctx, cn, ChartOf(row), AccessAction::Saved);
        CommitWithAccess(ctx, cn, sent);
        return key;
    });
}

namespace {

// Why a change found no row of the version read; in the change's transaction.
WriteOutcome Conflict(DbConnection& cn, qint32 mainKey) {
    QSqlQuery q = RunQuery(
        cn, QStringLiteral("Select RowVersion From tblDatCommon Where (MainKey = ?)"), {mainKey});
    return q.next() ? WriteOutcome::ChangedElsewhere : WriteOutcome::DeletedElsewhere;
}

}  // namespace

WriteOutcome UpdateCommon(AppContext& ctx, const CommonRecord& r) {
    WaitCursorGuard wait(ctx.waitCursor);
    return WithSystemDb(ctx, [&](DbConnection& cn) {
        BeginTransaction(cn);
        if (cn.engine() == Engine::Postgres) {
            const size_t sent = AppendQueuedAccess(ctx, cn);
            const WriteOutcome outcome = ServerUpdateMemo(cn, r, QStringLiteral("update"))
                                             ? WriteOutcome::Done
                                             : Conflict(cn, r.MainKey);
            CommitWithAccess(ctx, cn, sent);
            return outcome;
        }
        const auto row = UpdateMemoRow(cn, r);
        const WriteOutcome outcome = row ? WriteOutcome::Done : Conflict(cn, r.MainKey);
        size_t sent = 0;
        if (row) {
            AppendRevision(cn, r.MainKey, QStringLiteral("update"), *row);
            sent = AppendAccess(ctx, cn, ChartOf(*row), AccessAction::Saved);
        }
        CommitWithAccess(ctx, cn, sent);
        return outcome;
    });
}

WriteOutcome DeleteCommon(AppContext& ctx, qint32 mainKey, qint32 rowVersion) {
    WaitCursorGuard wait(ctx.waitCursor);
    return WithSystemDb(ctx, [&](DbConnection& cn) {
        BeginTransaction(cn);
        if (cn.engine() == Engine::Postgres) {
            const size_t sent = AppendQueuedAccess(ctx, cn);
            const WriteOutcome outcome = ServerDeleteMemo(cn, mainKey, rowVersion)
                                             ? WriteOutcome::Done
                                             : Conflict(cn, mainKey);
            CommitWithAccess(ctx, cn, sent);
            return outcome;
        }
        const auto before = MemoRowValues(cn, mainKey);
        const WriteOutcome outcome =
            RunChange(
                cn,
                QStringLiteral("Delete From tblDatCommon Where (MainKey = ?) And (RowVersion = ?)"),
                {mainKey, rowVersion}) == 1
                ? WriteOutcome::Done
                : Conflict(cn, mainKey);
        size_t sent = 0;
        if (outcome == WriteOutcome::Done) {
            AppendRevision(cn, mainKey, QStringLiteral("delete"), *before);
            sent = AppendAccess(ctx, cn, ChartOf(*before), AccessAction::Deleted);
        }
        CommitWithAccess(ctx, cn, sent);
        return outcome;
    });
}

std::vector<DateListRow> ReadDateList(AppContext& ctx, int formCode, BaseChartNo karteNo) {
    WaitCursorGuard wait(ctx.waitCursor);
    return WithSystemDb(ctx, [&](DbConnection& cn) {
        std::vector<DateListRow> rows;
        QSqlQuery q = RunQuery(cn,
                               QStringLiteral("Select CreDate, MainKey From tblDatCommon "
                                              "Where (FormCode = ?) And (KarteNo = ?) Order By ") +
                                   tables::MemoOrderNewestFirst(),
                               {formCode, karteNo.value});
        const QString date = QStringLiteral("CreDate"), key = QStringLiteral("MainKey");
        while (q.next()) {
            rows.push_back(DateListRowOf(DateValue(q.value(0), date), IntValue(q.value(1), key)));
        }
        return rows;
    });
}

DateListRow DateListRowOf(const QDate& date, qint32 mainKey) { return {date, mainKey}; }

std::vector<DateListRow> DateListOf(const std::vector<HistoryEntry>& entries) {
    std::vector<DateListRow> rows;
    rows.reserve(entries.size());
    for (const HistoryEntry& e : entries) rows.push_back(DateListRowOf(e.date, e.mainKey));
    return rows;
}

namespace {

// The history's rows of a patient's category, each handed to `row` as
// (date, key, slot text) in the order asked; the key only when asked for
// (0 otherwise: the history text does without the extra column).
template <typename Row>
void ForEachHistoryRow(AppContext& ctx, int formCode, BaseChartNo karteNo, HistoryOrder order,
                       const QDate& from, const QDate& to, bool withKey, Row&& row) {
    WaitCursorGuard wait(ctx.waitCursor);
    WithSystemDb(ctx, [&](DbConnection& cn) {
        if (formCode < 0 || formCode >= kCategoryCount) throw AppError(err::InvalidProcedureCall);
        QString sql = QStringLiteral("Select CreDate, ") + tables::TextColumn(formCode) +
                      QStringLiteral(
                          " AS INFO, MainKey From tblDatCommon Where (FormCode = ?) "
                          "And (KarteNo = ?)");
        QVariantList values{formCode, karteNo.value};
        if (from.isValid() && to.isValid()) {
            sql += QStringLiteral(" And (CreDate Between ? And ?)");
            values << from << to;
        }
        sql += QStringLiteral(" Order By ") + (order == HistoryOrder::NewestFirst
                                                   ? tables::MemoOrderNewestFirst()
                                                   : tables::MemoOrderOldestFirst());
        const QString date = QStringLiteral("CreDate"), key = QStringLiteral("MainKey");
        ForEachRow(cn, sql, values, [&](const RowReader& r) {
            // A NULL slot is an empty text.
            row(DateValue(r.Value(0), date), withKey ? IntValue(r.Value(2), key) : 0, r.Text(1));
        });
    });
}

void AppendHistory(QString& text, const QDate& date, const QString& memo) {
    text.append(u'●')
        .append(DateWithWeekday(date))
        .append(u"\r\n")
        .append(memo)
        .append(u"\r\n\r\n");
}

}  // namespace

std::vector<HistoryEntry> ReadHistory(AppContext& ctx, int formCode, BaseChartNo karteNo,
                                      HistoryOrder order, const QDate& from, const QDate& to) {
    std::vector<HistoryEntry> entries;
    ForEachHistoryRow(ctx, formCode, karteNo, order, from, to, true,
                      [&](const QDate& d, qint32 key, QString memo) {
                          entries.push_back({d, key, std::move(memo)});
                      });
    return entries;
}

QString FormatHistory(const std::vector<HistoryEntry>& entries) {
    QString text;
    for (const HistoryEntry& e : entries) {
        text.append(u'●')
            .append(DateWithWeekday(e.date))
            .append(u"\r\n")
            .append(e.text)
            .append(u"\r\n\r\n");
    }
    return text;
}

bool NewerInHistory(const HistoryEntry& a, const HistoryEntry& b) {
    return a.date != b.date ? a.date > b.date : a.mainKey > b.mainKey;
}

QString HistoryText(AppContext& ctx, int formCode, BaseChartNo karteNo, HistoryOrder order,
                    const QDate& from, const QDate& to) {
    QString text;
    ForEachHistoryRow(
        ctx, formCode, karteNo, order, from, to, false,
        [&](const QDate& d, qint32, const QString& memo) { AppendHistory(text, d, memo); });
    return text;
}

}  // namespace ondrel
