#pragma once

#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <optional>
#include <vector>

#include "core/records.h"

namespace ondrel {

struct AppContext;
class DbConnection;
class RowReader;

// One change of a memo as tblDatRevision keeps it: the memo's columns after
// an insert, update, restore or revert, and as they were before a delete.
struct Revision {
    qint64 key = 0;
    qint32 mainKey = 0;
    QString action;  // insert, update, delete, restore, revert, baseline
    QString changedAt, changedBy, workstation;
    QVariantList memo;  // tables::RevisionMemoColumns(); CreDate a QDate, empty texts NULL
    QString prevDigest, digest;
};

// The action as the dialogs show it: 追加, 更新, 削除, 復元, 版戻し, 移行.
QString ActionText(const QString& action);
// The memo's text of its own category; the first line for lists.
QString RevisionText(const Revision& r);
CommonRecord RevisionRecord(const Revision& r);

// SHA-256 (hex) over the previous digest and the revision's content, each
// value typed and length-prefixed: no two different rows give the same bytes.
QString RevisionDigest(const QString& prevDigest, const Revision& r);

// A memo's columns read from a query, from column `first` on, as revisions keep them.
QVariantList MemoValuesAt(const QSqlQuery& q, int first);
QVariantList MemoValuesAt(const RowReader& r, int first);
// In the caller's transaction: the memo's date and seven texts written while
// the row is still at memo.RowVersion (raised by one); the row as written,
// or nullopt when another workstation changed or deleted it first.
std::optional<QVariantList> UpdateMemoRow(DbConnection& cn, const CommonRecord& memo);
// The bytes a value adds to a digest: typed and length-prefixed, so no two
// different rows give the same bytes.
QByteArray DigestBytes(const QVariant& value);
// In the caller's transaction: the memo's row as it is now (nullopt: none).
std::optional<QVariantList> MemoRowValues(DbConnection& cn, qint32 mainKey);
// In the caller's transaction: one revision chained to the last one. The
// time comes from the database, the person is the server login or the OS
// account, the workstation the host name.
void AppendRevision(DbConnection& cn, qint32 mainKey, const QString& action,
                    const QVariantList& memo);

// Where, for the records: the host name. (Who: DbConnection::Person.)
QString Workstation();

// The full chart number a memo's row values hold.
FullChartNo ChartOf(const QVariantList& memo);

// A memo's revisions, oldest first.
std::vector<Revision> ReadRevisions(AppContext& ctx, qint32 mainKey);
// The patient's category's memos that are deleted now: each one's delete revision.
std::vector<Revision> ReadDeletedMemos(AppContext& ctx, int formCode, BaseChartNo karteNo);

enum class RestoreOutcome { Done, ChangedElsewhere, NotDeleted };
// The revision's date and texts become the memo's current version (a new
// revision, "revert"), while the memo is still at `rowVersion`.
RestoreOutcome RevertToRevision(AppContext& ctx, const Revision& revision, qint32 rowVersion);
// A deleted memo comes back as it was, with its key (a new revision, "restore").
RestoreOutcome RestoreDeletedMemo(AppContext& ctx, const Revision& deleted);

// Walks the chain and compares every memo with its latest revision; what is
// wrong, one line each (empty: nothing). `checked` receives the rows walked.
QStringList VerifyRecords(DbConnection& cn, qint64* checked = nullptr);

// The chain's head as one line a clinic can print or keep elsewhere:
// "ondrel-anchor RevisionKey=N Digest=HEX At=yyyy-MM-dd hh:mm:ss.zzz".
// Empty when the chain has no row yet.
QString ChainAnchor(DbConnection& cn);
// Every anchor line in `text` (others are passed over) checked against the
// chain: the row with the anchor's key must be there with the same digest,
// else the chain was rewritten up to there, digests recomputed or not. What
// breaks, oldest anchor first, each naming `source`; `checked` counts the
// anchors read.
QStringList CheckAnchors(DbConnection& cn, const QString& text, const QString& source,
                         int* checked = nullptr);

// A file made before revisions existed gains the tables, and every memo a
// first revision ("baseline"), in one transaction; nothing when it has them.
// A file that had them (marked by its user_version) and lost one or both is
// refused (DatabaseUnavailable, the connection closed): the history is not
// begun anew over what was removed.
void AddRecordTables(DbConnection& cn);
// The same refusal on either engine when a record table is missing.
void RequireRecordTables(DbConnection& cn);

}  // namespace ondrel
