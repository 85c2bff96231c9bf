#include "data/access_log.h"

#include <QDateTime>
#include <QSqlQuery>
#include <algorithm>

#include "core/app_context.h"
#include "core/app_error.h"
#include "data/db_connection.h"
#include "data/revisions.h"
#include "data/server_records.h"
#include "data/system_db.h"
#include "data/tables.h"

namespace ondrel {

namespace {

void WriteRecords(DbConnection& cn, const std::vector<PendingAccess>& all) {
    if (all.empty()) return;
    if (cn.engine() == Engine::Postgres) {  // written by the server as the login
        QStringList at, actions;
        QList<int> charts;
        for (const PendingAccess& p : all) {
            at << p.at;
            charts << p.chart;
            actions << p.action;
        }
        const auto [sql, values] = ServerAccessLog(at, charts, actions);
        RunLater(cn, sql, values);
        return;
    }
    const QString person = cn.Person(), host = Workstation();
    // Several rows to a statement: a save writes its record with the views
    // queued since the last change, and each statement is parsed anew.
    constexpr size_t kRowsPerStatement = 100;
    for (size_t from = 0; from < all.size(); from += kRowsPerStatement) {
        const size_t to = std::min(all.size(), from + kRowsPerStatement);
        QString sql = QStringLiteral(
            "Insert Into tblAccessLog (At, Person, Workstation, KarteNo, Action) Values ");
        QVariantList values;
        for (size_t i = from; i < to; ++i) {
            sql += i == from ? QStringLiteral("(?,?,?,?,?)") : QStringLiteral(",(?,?,?,?,?)");
            values << all[i].at << person << host << all[i].chart << all[i].action;
        }
        RunLater(cn, sql, values);
    }
}

QString Now() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

}  // namespace

QString AccessActionText(AccessAction action) {
    switch (action) {
        case AccessAction::Shown:
            return QStringLiteral("表示");
        case AccessAction::Saved:
            return QStringLiteral("保存");
        case AccessAction::Deleted:
            return QStringLiteral("削除");
        case AccessAction::Restored:
            return QStringLiteral("復元");
        case AccessAction::Report:
            return QStringLiteral("帳票");
    }
    return {};
}

void QueueAccess(AppContext& ctx, FullChartNo chart, AccessAction action) {
    Session(ctx).pendingAccess.push_back({Now(), chart.value, AccessActionText(action)});
}

void QueueSignInEvent(AppContext& ctx, SignInEvent event, const QString& triedLogin) {
    QString text;
    switch (event) {
        case SignInEvent::SignedIn:
            text = QStringLiteral("サインイン");
            break;
        case SignInEvent::Failed: {
            // What was typed, as far as a login goes: never a password typed
            // into the wrong box at length, never a control character.
            QString tried;
            for (const QChar c : triedLogin.left(32)) tried += c.isPrint() ? c : QChar(u'?');
            text = QStringLiteral("サインイン失敗（%1）").arg(tried);
            break;
        }
        case SignInEvent::Locked:
            text = QStringLiteral("ロック");
            break;
        case SignInEvent::SignedOut:
            text = QStringLiteral("サインアウト");
            break;
    }
    Session(ctx).pendingAccess.push_back({Now(), 0, text});
}

void QueueSearchEvent(AppContext& ctx, int termLength, int hits) {
    Session(ctx).pendingAccess.push_back(
        {Now(), 0, QStringLiteral("検索（%1文字・%2件）").arg(termLength).arg(hits)});
}

size_t AppendAccess(AppContext& ctx, DbConnection& cn, FullChartNo chart, AccessAction action) {
    Session(ctx).memoWritten = true;
    // The change's own record is not queued: should the change fail, so has it.
    std::vector<PendingAccess> records = Session(ctx).pendingAccess;
    records.push_back({Now(), chart.value, AccessActionText(action)});
    WriteRecords(cn, records);
    return records.size() - 1;
}

size_t AppendQueuedAccess(AppContext& ctx, DbConnection& cn) {
    Session(ctx).memoWritten = true;
    WriteRecords(cn, Session(ctx).pendingAccess);
    return Session(ctx).pendingAccess.size();
}

void CommitWithAccess(AppContext& ctx, DbConnection& cn, size_t sent) {
    CommitTransaction(cn);
    auto& queue = Session(ctx).pendingAccess;
    queue.erase(queue.begin(), queue.begin() + qsizetype(std::min(sent, queue.size())));
}

void FlushAccessLog(AppContext& ctx) {
    if (Session(ctx).pendingAccess.empty()) return;
    try {
        WithSystemDb(ctx, [&](DbConnection& cn) {
            BeginTransaction(cn);
            WriteRecords(cn, Session(ctx).pendingAccess);
            CommitTransaction(cn);
        });
        Session(ctx).pendingAccess.clear();
    } catch (const DatabaseBusy&) {
        // kept for the next flush
    }
}

std::vector<AccessRecord> ReadAccessLog(DbConnection& cn, const QDate& from, const QDate& to,
                                        std::optional<qint32> chart) {
    QString sql = QStringLiteral(
        "Select At, Person, Workstation, KarteNo, Action From tblAccessLog Where (1 = 1)");
    QVariantList values;
    if (from.isValid()) {
        sql += QStringLiteral(" And (At >= ?)");
        values << from.toString(Qt::ISODate);
    }
    if (to.isValid()) {
        sql += QStringLiteral(" And (At < ?)");
        values << to.addDays(1).toString(Qt::ISODate);
    }
    if (chart) {
        sql += QStringLiteral(" And (KarteNo = ?)");
        values << *chart;
    }
    sql += QStringLiteral(" Order By LogKey");
    std::vector<AccessRecord> records;
    QSqlQuery q = RunQuery(cn, sql, values);
    while (q.next()) {
        records.push_back({ValueAt(q, 0).toString(), ValueAt(q, 1).toString(),
                           ValueAt(q, 2).toString(), q.value(3).toInt(), ValueAt(q, 4).toString()});
    }
    return records;
}

}  // namespace ondrel
