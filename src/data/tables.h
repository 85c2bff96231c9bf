#pragma once

#include <QString>
#include <QStringList>

namespace ondrel::tables {

// The one place for the tables' names, columns, shared orderings and the
// statements that a second engine would write differently.

inline constexpr int kTextColumns = 7;

// tblDatCommon: one row a memo.
QString TextColumn(int category);  // LText000 … LText006
// Every column after MainKey, in table order: what an insert binds.
const QStringList& MemoValueColumns();
// "Insert Into tblDatCommon (FormCode, …, LText006) Values (?, …)".
const QString& MemoInsert();
// Newest first; equal dates: the later key first. Oldest first is its reverse.
const QString& MemoOrderNewestFirst();
const QString& MemoOrderOldestFirst();

// tblMasSystemA: category names and use flags.
QString NameColumn(int category);   // Name01 … Name07
QString CheckColumn(int category);  // Check02 … Check07 for 1 … 6

// The chart system's tables, read only.
const QStringList& PatientColumns();
const QStringList& ClinicColumns();

// The statements that lay out an empty system database.
const QStringList& SchemaStatements();

}  // namespace ondrel::tables
