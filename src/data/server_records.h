#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <optional>

#include "core/records.h"

namespace ondrel {

class DbConnection;

// On a server the server writes the record: a memo's change goes through
// functions owned by the database owner (SECURITY DEFINER) that append its
// revision and its access record in the same transaction, the person being
// the login the server knows (session_user). The workstations' role may
// call them and read the tables, and change no memo or record row itself.

// Run by the owner (init, and init again on a database that has the
// tables): the functions, made anew, and who may call them.
QStringList ServerRecordFunctions();
// The names of the functions the workstations' role calls.
const QStringList& ServerRecordEntryPoints();

// Each in the caller's transaction, on a server connection; `commits`: the
// transaction is committed in the same round trip (ForEachRowAndCommit).
qint32 ServerInsertMemo(DbConnection& cn, const CommonRecord& r);
// action: "update" or "revert"; false when the memo is no longer at r.RowVersion.
bool ServerUpdateMemo(DbConnection& cn, const CommonRecord& r, const QString& action,
                      bool commits = false);
bool ServerDeleteMemo(DbConnection& cn, qint32 mainKey, qint32 rowVersion, bool commits = false);
// From the memo's delete revision `revisionKey`; false when that is not the
// memo's latest revision or the memo is there.
bool ServerRestoreMemo(DbConnection& cn, qint64 revisionKey);

// The statement that writes queued views and reports ("表示", "帳票") as
// the login, with its values.
std::pair<QString, QVariantList> ServerAccessLog(const QStringList& at, const QList<int>& charts,
                                                 const QStringList& actions);

}  // namespace ondrel
