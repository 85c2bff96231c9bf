#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>

namespace ondrel::tool {

// Each returns an empty text on success, else the message for the user.
QString InitDatabase(const QString& file);
// As InitDatabase; on a server database that holds the tables already, the
// group role's rights are given anew instead (*renewed set): what its owner
// runs when a workstation is told it lacks a right.
QString InitOrRenewDatabase(const QString& file, bool* renewed);
// Why the file is not a system database this program can use (empty: it is).
// Only read; a wrong file picked by mistake is never changed.
QString SystemDatabaseFileProblem(const QString& file);
// rows, when given, receives the number of rows taken in; replaced, the
// number of patients that were there already and were replaced. A chart
// number twice in the file refuses the file.
QString ImportCsv(const QString& file, const QString& csvPath, const QString& table,
                  int* rows = nullptr, int* replaced = nullptr);
QString MakeDemoDatabase(const QString& file, const QDate& today);
// The old system's memos (tblDatCommon exported as CSV, by the Windows
// database's text export or mdb-export), keys kept, each with its first
// revision; all or nothing: a key already there refuses the whole file.
QString ImportMemos(const QString& file, const QString& csvPath, int* rows = nullptr);
// The old system's category names and use flags (tblMasSystemA, one row).
QString ImportMaster(const QString& file, const QString& csvPath);
// Moves a whole system database to another (a file or a server's database,
// made when it does not exist yet), keys kept, in one transaction on the
// target, refused when the target already holds memos, and checked before
// it is committed (row counts and a digest of every memo on both sides).
// `report` receives the counts and the digest.
// Walks the revision chain and compares every memo with its latest revision;
// `findings` receives what is wrong (empty: all holds).
QString VerifyDatabase(const QString& file, QStringList* findings, qint64* checked);
// The same, and the chain checked against the heads kept in `anchors`: a
// file of anchor lines, or a folder whose *.anchor files (the backups') are
// read. `anchorsRead` receives how many anchors were checked.
QString VerifyDatabase(const QString& file, const QString& anchors, QStringList* findings,
                       qint64* checked, int* anchorsRead);
// The chain's head as one line (ondrel-db anchor).
QString AnchorOf(const QString& file, QString* line);
// The access log as CSV (header 日時,入力者,端末,カルテ番号,操作; fields quoted
// where they need it; CR LF), filtered by days and chart number.
QString AccessLogCsv(const QString& file, const QDate& from, const QDate& to,
                     std::optional<qint32> chart, QString* csv);
QString CopyDatabase(const QString& from, const QString& to, QString* report = nullptr);

// ondrel-db staff: who may sign in. A database made before the staff table
// existed gains it with the first person.
QString StaffAdd(const QString& file, const QString& login, const QString& name,
                 const QString& role, const QByteArray& password);
// One line a person (職員ID, 氏名, 役割, 状態, tab-separated) under a header.
QString StaffList(const QString& file, QString* table);
// 定型文 as CSV (UTF-8: 分類,文言, 分類 共通 or 1 … 7), to move them between clinics.
QString PhrasesExport(const QString& file, const QString& csvPath, int* rows);
// Adds the file's phrases at the end of their lists; one already in its list
// is skipped. Any row that cannot be kept refuses the whole file.
QString PhrasesImport(const QString& file, const QString& csvPath, int* added, int* skipped);
QString StaffDisable(const QString& file, const QString& login);
QString StaffSetPassword(const QString& file, const QString& login, const QByteArray& password);
QString StaffSetRole(const QString& file, const QString& login, const QString& role);

}  // namespace ondrel::tool
