#pragma once

#include <QDateTime>
#include <QString>
#include <set>
#include <vector>

namespace ondrel {

struct AppContext;

// How many copies rotation keeps: the newest of each of the last `daily`
// days, `weekly` weeks and `monthly` months that have one.
struct BackupCounts {
    int daily = 7;
    int weekly = 4;
    int monthly = 12;
};

struct BackupPlan {
    QString folder;  // default: backup/ beside the database file
    BackupCounts counts;
};

// [Backup] Folder, Daily, Weekly, Monthly of the settings file.
BackupPlan ReadBackupPlan(const AppContext& ctx, const QString& database);

// Which of the copies taken at these times rotation keeps (their indexes).
std::set<size_t> KeptBackups(const std::vector<QDateTime>& taken, const BackupCounts& counts);

// A copy of the system database into the folder: a file by SQLite's online
// backup (the program may be writing meanwhile), a server's by pg_dump. It
// counts only once checked (the copy's integrity check or pg_restore --list,
// and a SHA-256 file beside it); then the folder is rotated. Empty on
// success (`made`: the copy's path), else the message for the user.
QString MakeBackup(const QString& database, const BackupPlan& plan, QString* made = nullptr);
// Whether the folder already holds a copy taken on this day.
bool HasBackupOn(const BackupPlan& plan, const QDate& day);
// Checks a copy against its SHA-256 file and its own integrity; empty when sound.
QString CheckBackup(const QString& copy);
// Puts a checked copy in place of the database; refused while a program
// uses it. The replaced file is kept beside it (`kept`).
QString RestoreBackup(const QString& copy, const QString& database, QString* kept = nullptr);

// Held by a running program for its database file: restore waits for none.
void HoldDatabaseInUse(const QString& database);

}  // namespace ondrel
