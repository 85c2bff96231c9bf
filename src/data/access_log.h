#pragma once

#include <QDate>
#include <QString>
#include <optional>
#include <vector>

#include "core/records.h"

namespace ondrel {

struct AppContext;
class DbConnection;

// Who worked on which patient, when (tblAccessLog).
enum class AccessAction { Shown, Saved, Deleted, Restored, Report };
QString AccessActionText(AccessAction action);  // 表示, 保存, 削除, 復元, 帳票

// In the caller's transaction (a memo's change), with whatever was queued.
// The queued records leave the queue only once that transaction is
// committed: the caller commits with CommitWithAccess and the count returned
// here; a transaction that fails leaves them queued.
[[nodiscard]] size_t AppendAccess(AppContext& ctx, DbConnection& cn, FullChartNo chart,
                                  AccessAction action);
// Commits the caller's transaction, then takes the `sent` queued records off.
void CommitWithAccess(AppContext& ctx, DbConnection& cn, size_t sent);
// The same for the queue alone, where the change's own record is written by
// the server with the change.
[[nodiscard]] size_t AppendQueuedAccess(AppContext& ctx, DbConnection& cn);
// A patient shown or a report made: queued with the workstation's time and
// written with the next change or flush, so a patient switch waits for no
// disk write.
void QueueAccess(AppContext& ctx, FullChartNo chart, AccessAction action);
// Sign-ins, kept in the same log with chart number 0 (no patient): サインイン,
// サインイン失敗（the login tried）, ロック, サインアウト. Queued; the caller
// flushes before the person changes, so each names the person it concerns.
enum class SignInEvent { SignedIn, Failed, Locked, SignedOut };
void QueueSignInEvent(AppContext& ctx, SignInEvent event, const QString& triedLogin = {});
// A search across patients (chart number 0): 検索（3文字・12件）, the term's
// length and the hits shown, never the text searched for.
void QueueSearchEvent(AppContext& ctx, int termLength, int hits);
// Writes the queue in one transaction; a database that cannot take it now
// keeps it for the next try (never a message, never the error report).
void FlushAccessLog(AppContext& ctx);

struct AccessRecord {
    QString at, person, workstation;
    qint32 chart = 0;
    QString action;
};
// Oldest first; `from`/`to` are days, both included.
std::vector<AccessRecord> ReadAccessLog(DbConnection& cn, const QDate& from, const QDate& to,
                                        std::optional<qint32> chart);

}  // namespace ondrel
