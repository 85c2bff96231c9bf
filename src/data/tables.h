#pragma once

#include <QString>
#include <QStringList>

#include "core/records.h"

namespace ondrel {

enum class Engine { SQLite, Postgres };

}  // namespace ondrel

namespace ondrel::tables {

// The one place for the tables' names, columns, shared orderings and the
// statements the two engines write differently.

// tblDatCommon: one row a memo.
QString TextColumn(int category);  // LText000 … LText006
// Every column after MainKey, in table order: what an insert binds.
const QStringList& MemoValueColumns();
// "Insert Into tblDatCommon (FormCode, …, LText006) Values (?, …) Returning
// MainKey": the key the engine gave this very row.
const QString& MemoInsert();
// The same with the key given (a copy or an import keeps its keys).
const QString& MemoInsertKeyed();
// Newest first; equal dates: the later key first. Oldest first is its reverse.
const QString& MemoOrderNewestFirst();
const QString& MemoOrderOldestFirst();

// tblMasSystemA: category names and use flags.
QString NameColumn(int category);   // Name01 … Name07
QString CheckColumn(int category);  // Check02 … Check07 for 1 … 6

// The chart system's tables, read only.
const QStringList& PatientColumns();
const QStringList& ClinicColumns();

// tblDatRevision: every change of a memo, append-only, chained by digests.
// The memo's columns as a revision keeps them, in this order.
const QStringList& RevisionMemoColumns();
// tblAccessLog: who worked on which patient, when.

// tblMasStaff: who may sign in (made when missing: a database made before
// it existed gains it with the first person).
QStringList StaffStatements();

// The statements that lay out an empty system database.
QStringList SchemaStatements(Engine engine);
// The revision and access-log tables alone (a file made before they existed
// gains them).
QStringList RecordStatements(Engine engine);
// The database's clock as text "yyyy-MM-dd hh:mm:ss.zzz" (a server's own
// clock, not the workstation's).
QString NowExpression(Engine engine);
// Taken before the last digest is read, so two writers never chain to the same row.
QStringList LockRevisions(Engine engine);
// The key of the server's advisory lock that serialises the chain's writers
// ("ondrel" in ASCII); other programs on the same database must not use it.
inline constexpr qint64 kRevisionChainLock = 0x6f6e6472656cLL;
// The highest key an imported memo may have: 147 million keys stay above
// it for new memos (decades of a busy clinic), where a memo's key has 32 bits.
inline constexpr qint32 kMaxImportedMemoKey = 2'000'000'000;
// A file's user_version once it has the record tables: set by the schema
// and by the one-time upgrade, so that tables lost later are not re-made.
inline constexpr int kRecordsFileVersion = 1;
// After rows came in with their keys: the next key the engine gives follows them.
QStringList AfterKeyedInsert(Engine engine);

}  // namespace ondrel::tables
