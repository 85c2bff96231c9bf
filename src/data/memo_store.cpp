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
#include "data/session.h"
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

// A server's memo change and its COMMIT (`commit`, which answers the
// change's outcome); one whose COMMIT went unanswered is kept for the check
// at the next save, and the user told so.
template <typename Commit>
auto CommitServerChange(AppContext& ctx, size_t sent, UncertainSave change, Commit&& commit) {
    auto& queue = Session(ctx).pendingAccess;
    change.accessSent.assign(queue.begin(),
                             queue.begin() + qsizetype(std::min(sent, queue.size())));
    try {
        auto outcome = commit();
        queue.erase(queue.begin(), queue.begin() + qsizetype(std::min(sent, queue.size())));
        return outcome;
    } catch (const CommitUnanswered& e) {
        const QString what = change.kind == UncertainSave::Kind::Delete ? QStringLiteral("削除")
                                                                        : QStringLiteral("保存");
        Session(ctx).uncertainSave = std::move(change);
        throw DatabaseBusy(
            e.detail(),
            QStringLiteral("データベースサーバー（%1）から%2の完了の知らせが届きませんでした。\r\n"
                           "画面の内容はそのままです。%2されたかどうかは、次にサーバーに"
                           "つながったときに確かめてお知らせします。")
                .arg(e.Server(), what));
    }
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
            // The key is known only from the answer: the COMMIT goes on its own.
            return CommitServerChange(ctx, sent, {UncertainSave::Kind::Insert, key, 0, r, {}}, [&] {
                CommitTransaction(cn);
                return key;
            });
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

// Why a change found no row of the version read: in the change's transaction,
// or on a server just after it (committed with its answer).
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
            const bool done = CommitServerChange(
                ctx, sent, {UncertainSave::Kind::Update, r.MainKey, r.RowVersion + 1, r, {}},
                [&] { return ServerUpdateMemo(cn, r, QStringLiteral("update"), true); });
            return done ? WriteOutcome::Done : Conflict(cn, r.MainKey);
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
            const bool done = CommitServerChange(
                ctx, sent, {UncertainSave::Kind::Delete, mainKey, rowVersion, {}, {}},
                [&] { return ServerDeleteMemo(cn, mainKey, rowVersion, true); });
            return done ? WriteOutcome::Done : Conflict(cn, mainKey);
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

std::optional<SettledSave> SettleUncertainSave(AppContext& ctx) {
    auto& pending = Session(ctx).uncertainSave;
    if (!pending) return std::nullopt;
    const UncertainSave change = *pending;
    const bool kept = WithSystemDb(ctx, [&](DbConnection& cn) {
        BeginTransaction(cn);
        // A COMMIT still under way there (waiting for its standby) holds the
        // chain's lock until it ends: what it did is seen once this is had.
        for (const QString& lock : tables::LockRevisions(cn.engine())) RunQuery(cn, lock);
        QString sql = QStringLiteral(
            "Select Count(*) From tblDatRevision Where (MainKey = ?) And (Action = ?) "
            "And (RowVersion = ?) And (Workstation = ?)");
        QVariantList values{change.mainKey,
                            change.kind == UncertainSave::Kind::Insert   ? QStringLiteral("insert")
                            : change.kind == UncertainSave::Kind::Update ? QStringLiteral("update")
                                                                         : QStringLiteral("delete"),
                            change.rowVersion, Workstation()};
        // Another workstation's change of the same version cannot be taken
        // for ours unless it wrote the very same thing.
        if (change.kind != UncertainSave::Kind::Delete) {
            sql += QStringLiteral(" And (CreDate Is Not Distinct From ?)");
            values << SqlDate(change.sent.CreDate);
            for (int k = 0; k < kCategoryCount; ++k) {
                sql +=
                    QStringLiteral(" And (%1 Is Not Distinct From ?)").arg(tables::TextColumn(k));
                values << SqlText(change.sent.LText[k]);
            }
        }
        QSqlQuery q = RunQuery(cn, sql, values);
        const bool found = q.next() && q.value(0).toLongLong() > 0;
        CommitTransaction(cn);
        return found;
    });
    pending.reset();
    // The access records that went with it are written already.
    auto& queue = Session(ctx).pendingAccess;
    const auto& sent = change.accessSent;
    if (kept && sent.size() <= queue.size() &&
        std::equal(sent.begin(), sent.end(), queue.begin(), [](const auto& a, const auto& b) {
            return a.at == b.at && a.chart == b.chart && a.action == b.action;
        })) {
        queue.erase(queue.begin(), queue.begin() + qsizetype(sent.size()));
    }
    return SettledSave{change, kept};
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
