#include "data/backup.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <map>
#include <tuple>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/db_target.h"
#include "core/ini_file.h"
#include "data/db_connection.h"
#include "data/revisions.h"
#include "data/session.h"

namespace ondrel {

namespace {

const QString kStamp = QStringLiteral("yyyyMMdd-HHmmss");

QString InUsePath(const QString& database) { return database + QStringLiteral(".inuse"); }

QString Sha256Of(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return QString::fromLatin1(hash.result().toHex());
}

// A new, empty file that only its owner may read, whatever the umask.
bool CreatePrivate(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

bool WriteSha256(const QString& copy) {
    const QString sum = copy + QStringLiteral(".sha256");
    const QString part = sum + QStringLiteral(".part");
    QFile f(part);
    const bool written =
        CreatePrivate(part) && f.open(QIODevice::WriteOnly) &&
        f.write(
            (Sha256Of(copy) + QStringLiteral("  ") + QFileInfo(copy).fileName() + u'\n').toUtf8()) >
            0 &&
        f.flush() && ::fsync(f.handle()) == 0;
    f.close();
    if (written &&
        ::rename(QFile::encodeName(part).constData(), QFile::encodeName(sum).constData()) == 0)
        return true;
    QFile::remove(part);
    return false;
}

bool WriteAnchor(const QString& copy, const QString& anchor) {
    const QString path = copy + QStringLiteral(".anchor");
    QFile f(path);
    const bool written = CreatePrivate(path) && f.open(QIODevice::WriteOnly) &&
                         f.write((anchor + u'\n').toUtf8()) > 0 && f.flush() &&
                         ::fsync(f.handle()) == 0;
    if (!written) QFile::remove(path);
    return written;
}

QString IntegrityOf(const QString& file) {
    sqlite3* db = nullptr;
    QString result = QStringLiteral("開けません");
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return result;
}

// What SQLite keeps beside a database file while it writes.
const char* const kCompanions[] = {"-journal", "-wal", "-shm"};

void RemoveWithCompanions(const QString& file) {
    QFile::remove(file);
    for (const char* companion : kCompanions) QFile::remove(file + QString::fromLatin1(companion));
}

// A copy of one moment of a database file, made by SQLite into a new file
// `to` (0600). The source is opened for writing, so that a journal left by an
// interrupted write (a crash just before) is rolled back first and the copy
// is consistent; a source the OS lets us only read is opened read-only. The
// copy keeps no journal of its own: on failure nothing is left behind.
QString SqliteCopy(const QString& from, const QString& to) {
    sqlite3* source = nullptr;
    sqlite3* target = nullptr;
    int rc = CreatePrivate(to) ? SQLITE_OK : SQLITE_CANTOPEN;
    if (rc == SQLITE_OK)
        rc = sqlite3_open_v2(from.toUtf8().constData(), &source, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_open_v2(to.toUtf8().constData(), &target, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(target, "PRAGMA journal_mode=MEMORY", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(source, int(BusyTimeout().count()));
        // One step for the whole file: a copy of one moment, even while
        // another program writes (the step holds a read lock).
        sqlite3_backup* b = sqlite3_backup_init(target, "main", source, "main");
        rc = b ? sqlite3_backup_step(b, -1) : sqlite3_errcode(target);
        if (b) sqlite3_backup_finish(b);
        if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    const QString why = QString::fromUtf8(sqlite3_errstr(rc));
    sqlite3_close(target);
    sqlite3_close(source);
    if (rc != SQLITE_OK) {
        RemoveWithCompanions(to);
        return why;
    }
    return {};
}

QString BackupFile(const QString& copy) { return QFileInfo(copy).fileName(); }

// The copies in the folder with the time in their names, oldest first
// (names of one moment in the order they were taken).
std::vector<std::pair<QDateTime, QString>> Copies(const QString& folder) {
    // Older copies were named to the second; a counter follows a name taken.
    static const QRegularExpression name(
        QStringLiteral("^ondrel-(\\d{8}-\\d{6})(?:-(\\d{3}))?(?:-(\\d+))?\\.(db|dump)$"));
    std::vector<std::tuple<QDateTime, int, QString>> found;
    for (const QString& f : QDir(folder).entryList(QDir::Files)) {
        const auto m = name.match(f);
        if (!m.hasMatch()) continue;
        QDateTime t = QDateTime::fromString(m.captured(1), kStamp);
        if (!t.isValid()) continue;
        t = t.addMSecs(m.captured(2).toInt());
        found.emplace_back(t, m.captured(3).toInt(), QDir(folder).filePath(f));
    }
    std::sort(found.begin(), found.end());
    std::vector<std::pair<QDateTime, QString>> copies;
    for (auto& [t, n, path] : found) copies.emplace_back(t, std::move(path));
    return copies;
}

// A name no copy in the folder has: the time to the millisecond, and a
// counter should another copy have taken that one.
QString NewCopyName(const QString& folder, const QDateTime& now, const QString& suffix) {
    const QString base = QStringLiteral("ondrel-") + now.toString(kStamp) + u'-' +
                         now.toString(QStringLiteral("zzz"));
    QString name = base + suffix;
    for (int n = 1; QFileInfo::exists(QDir(folder).filePath(name)) ||
                    QFileInfo::exists(QDir(folder).filePath(name + QStringLiteral(".part")));
         ++n)
        name = base + u'-' + QString::number(n) + suffix;
    return QDir(folder).filePath(name);
}

// `made`, the copy just taken, is kept whatever the counts and the clock say.
void Rotate(const BackupPlan& plan, const QString& made) {
    const auto copies = Copies(plan.folder);
    std::vector<QDateTime> times;
    for (const auto& c : copies) times.push_back(c.first);
    std::set<size_t> kept = KeptBackups(times, plan.counts);
    for (size_t i = 0; i < copies.size(); ++i) {
        if (kept.count(i) || copies[i].second == made) continue;
        QFile::remove(copies[i].second);
        QFile::remove(copies[i].second + QStringLiteral(".sha256"));
    }
}

QString RunTool(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000)) return program + QStringLiteral(" を起動できません。");
    p.waitForFinished(-1);
    if (out) *out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return program + QStringLiteral(": ") +
               QString::fromUtf8(p.readAllStandardError()).trimmed();
    return {};
}

}  // namespace

BackupPlan ReadBackupPlan(const AppContext& ctx, const QString& database) {
    const QString file = SettingsFilePath(ctx);
    BackupPlan plan;
    const QString folder = ReadIniString(file, QStringLiteral("Backup"), QStringLiteral("Folder"));
    plan.folder = !folder.isEmpty() ? folder
                  : DbTarget::Of(database).IsServer()
                      ? QDir(ctx.ProgramFolder).filePath(QStringLiteral("backup"))
                      : QFileInfo(database).absoluteDir().filePath(QStringLiteral("backup"));
    auto count = [&](const char* key, int fallback) {
        bool ok = false;
        const int n =
            ReadIniString(file, QStringLiteral("Backup"), QString::fromLatin1(key)).toInt(&ok);
        return ok && n >= 0 ? n : fallback;
    };
    plan.counts = {count("Daily", 7), count("Weekly", 4), count("Monthly", 12)};
    return plan;
}

std::set<size_t> KeptBackups(const std::vector<QDateTime>& taken, const BackupCounts& counts) {
    std::vector<size_t> order(taken.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return taken[a] > taken[b]; });
    std::set<size_t> kept;
    // The newest copy of each period, for the newest `limit` periods that have one.
    auto keep = [&](int limit, auto periodOf) {
        std::set<qint64> seen;
        for (const size_t i : order) {
            if (int(seen.size()) >= limit) break;
            if (seen.insert(periodOf(taken[i].date())).second) kept.insert(i);
        }
    };
    keep(counts.daily, [](const QDate& d) { return d.toJulianDay(); });
    keep(counts.weekly, [](const QDate& d) {
        int year = 0;
        const int week = d.weekNumber(&year);
        return qint64(year) * 100 + week;
    });
    keep(counts.monthly, [](const QDate& d) { return qint64(d.year()) * 100 + d.month(); });
    return kept;
}

bool HasBackupOn(const BackupPlan& plan, const QDate& day) {
    for (const auto& c : Copies(plan.folder)) {
        if (c.first.date() == day) return true;
    }
    return false;
}

QString MakeBackup(const QString& database, const BackupPlan& plan, QString* made) {
    const bool server = DbTarget::Of(database).IsServer();
    if (!server && QFileInfo(database).isDir())
        return QStringLiteral("データベースではなくフォルダーです: ") + database;
    // A folder made here is the owner's alone; one that exists keeps the
    // mode its owner gave it (a folder shared on purpose stays shared).
    if (!QFileInfo(plan.folder).isDir()) {
        if (!QDir().mkpath(plan.folder))
            return QStringLiteral("バックアップのフォルダーを作れません: ") + plan.folder;
        QFile::setPermissions(
            plan.folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    // The chain's head as it stands before the copy: the copy's own head is
    // the same or later, so the anchor is in the copy's chain too.
    QString anchor;
    try {
        DbConnection cn;
        if (OpenDbConnectionAt(database, cn)) anchor = ChainAnchor(cn);
    } catch (const AppError&) {
        // The copy below tells what is wrong with the database.
    }
    const QString copy = NewCopyName(plan.folder, QDateTime::currentDateTime(),
                                     server ? QStringLiteral(".dump") : QStringLiteral(".db"));
    const QString part = copy + QStringLiteral(".part");
    QFile::remove(part);
    if (server) {
        if (!CreatePrivate(part)) return QStringLiteral("バックアップを書けません: ") + part;
        if (QString e = RunTool(QStringLiteral("pg_dump"),
                                {QStringLiteral("-Fc"), QStringLiteral("-f"), part, database});
            !e.isEmpty()) {
            QFile::remove(part);
            return QStringLiteral("バックアップできませんでした: ") + e;
        }
        QFile::setPermissions(part, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (QString e = RunTool(QStringLiteral("pg_restore"), {QStringLiteral("--list"), part});
            !e.isEmpty()) {
            QFile::remove(part);
            return QStringLiteral("バックアップを確かめられませんでした: ") + e;
        }
    } else {
        if (const QString why = SqliteCopy(database, part); !why.isEmpty())
            return QStringLiteral("バックアップできませんでした: ") + why;
        if (const QString check = IntegrityOf(part); check != u"ok") {
            QFile::remove(part);
            return QStringLiteral("バックアップが壊れています: ") + check;
        }
    }
    if (!QFile::rename(part, copy) || !WriteSha256(copy)) {
        QFile::remove(part);
        QFile::remove(copy);
        return QStringLiteral("バックアップを書けません: ") + copy;
    }
    // Kept when the copy is rotated away: `verify --anchors` checks the
    // chain against every head a backup ever saw.
    if (!anchor.isEmpty() && !WriteAnchor(copy, anchor)) {
        QFile::remove(copy);
        QFile::remove(copy + QStringLiteral(".sha256"));
        return QStringLiteral("バックアップを書けません: ") + copy + QStringLiteral(".anchor");
    }
    Rotate(plan, copy);
    if (made) *made = copy;
    return {};
}

QString CheckBackup(const QString& copy) {
    QFile sum(copy + QStringLiteral(".sha256"));
    if (!sum.open(QIODevice::ReadOnly))
        return QStringLiteral("SHA-256 のファイルがありません: ") + copy +
               QStringLiteral(".sha256");
    const QString expected = QString::fromUtf8(sum.readAll()).section(u' ', 0, 0).trimmed();
    if (expected.isEmpty() || expected != Sha256Of(copy))
        return QStringLiteral(
                   "バックアップが SHA-256 と合いません（壊れているか書き換えられています）: ") +
               BackupFile(copy);
    if (copy.endsWith(QStringLiteral(".dump"))) {
        if (QString e = RunTool(QStringLiteral("pg_restore"), {QStringLiteral("--list"), copy});
            !e.isEmpty())
            return QStringLiteral("バックアップを読めません: ") + e;
        return {};
    }
    if (const QString check = IntegrityOf(copy); check != u"ok")
        return QStringLiteral("バックアップが壊れています: ") + check;
    return {};
}

namespace {

// The live file kept before a restore replaces it, as one with what an
// interrupted write left beside it: SQLite settles and copies it; a file it
// cannot read (the damage the restore is for) is kept as it lies, with its
// companions under the same name.
QString KeepLiveFile(const QString& database, const QString& old, QString* kept) {
    if (!QFile::exists(database)) return {};
    if (SqliteCopy(database, old).isEmpty()) {
        if (kept) *kept = old;
        return {};
    }
    if (!QFile::copy(database, old)) return QStringLiteral("今のデータベースを残せません: ") + old;
    for (const char* companion : kCompanions) {
        const QString c = database + QString::fromLatin1(companion);
        if (QFile::exists(c) && !QFile::copy(c, old + QString::fromLatin1(companion)))
            return QStringLiteral("今のデータベースを残せません: ") + old;
    }
    if (kept) *kept = old;
    return {};
}

// Whether a database's record holds: the chain walked and every memo matched
// with its latest revision, as `ondrel-db verify` does. A copy from before
// the records existed gains them as any such file does when opened. Empty
// when sound, else what the user is told.
QString ChainProblem(const QString& database) {
    DbConnection cn;
    try {
        if (!OpenDbConnectionAt(database, cn)) return QStringLiteral("開けません");
        UpgradeOlderFile(cn);
        const QStringList findings = VerifyRecords(cn);
        if (findings.isEmpty()) return {};
        return QStringLiteral("%1 件。最初: %2").arg(findings.size()).arg(findings.first());
    } catch (const DatabaseBusy& e) {
        return e.UserMessage();
    } catch (const AppError& e) {
        return ErrorText(e.number());
    }
}

QString ChainRefused(const QString& why) {
    return QStringLiteral(
               "バックアップの記録（変更履歴）に異常があるため戻しません"
               "（書き換えられたおそれがあります）: ") +
           why;
}

}  // namespace

QString RestoreBackup(const QString& copy, const QString& database, QString* kept) {
    if (!DbTarget::Of(database).IsServer() && QFileInfo(database).isDir())
        return QStringLiteral("データベースではなくフォルダーです: ") + database;
    if (const QString problem = CheckBackup(copy); !problem.isEmpty()) return problem;
    if (DbTarget::Of(database).IsServer()) {
        if (!copy.endsWith(QStringLiteral(".dump")))
            return QStringLiteral("サーバーへは pg_dump のバックアップ（.dump）だけを戻せます。");
        QByteArray others;
        if (QString e = RunTool(QStringLiteral("psql"),
                                {database, QStringLiteral("-qAt"), QStringLiteral("-c"),
                                 QStringLiteral("select count(*) from pg_stat_activity where "
                                                "datname = current_database() and pid <> "
                                                "pg_backend_pid()")},
                                &others);
            !e.isEmpty())
            return e;
        if (others.trimmed() != "0")
            return QStringLiteral(
                "データベースを使っているプログラムがあります。すべて終了してから戻して下さい。");
        // The live database is kept as it is now, as a dump beside the backup.
        const QString old = QFileInfo(copy).absoluteDir().filePath(
            QStringLiteral("ondrel-replaced-") + QDateTime::currentDateTime().toString(kStamp) +
            QStringLiteral(".dump"));
        if (QString e = CreatePrivate(old)
                            ? RunTool(QStringLiteral("pg_dump"),
                                      {QStringLiteral("-Fc"), QStringLiteral("-f"), old, database})
                            : QStringLiteral("書けません: ") + old;
            !e.isEmpty()) {
            QFile::remove(old);
            return QStringLiteral("今のデータベースを残せません: ") + e;
        }
        if (kept) *kept = old;
        auto restoreFrom = [&](const QString& dump) {
            return RunTool(
                QStringLiteral("pg_restore"),
                {QStringLiteral("--clean"), QStringLiteral("--if-exists"),
                 QStringLiteral("--single-transaction"), QStringLiteral("-d"), database, dump});
        };
        if (QString e = restoreFrom(copy); !e.isEmpty())
            return QStringLiteral("戻せませんでした: ") + e;
        // A server's copy can only be walked once it is in: one whose record
        // does not hold is taken out again, the database as it was put back.
        if (const QString why = ChainProblem(database); !why.isEmpty()) {
            if (QString e = restoreFrom(old); !e.isEmpty())
                return ChainRefused(why) +
                       QStringLiteral(
                           "\n元のデータベースを戻せませんでした（%1 から戻して下さい）: ")
                           .arg(old) +
                       e;
            return ChainRefused(why) + QStringLiteral("\nデータベースは元のままです。");
        }
        return {};
    }
    // No program may hold the database meanwhile.
    const int fd = ::open(InUsePath(database).toLocal8Bit().constData(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) return QStringLiteral("データベースのフォルダーに書けません: ") + database;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return QStringLiteral(
            "データベースを使っているプログラムがあります。すべて終了してから戻して下さい。");
    }
    // The copy is put beside the live file and its own record must hold
    // before anything is kept or replaced.
    const QString tmp = database + QStringLiteral(".restoring");
    RemoveWithCompanions(tmp);
    QString result;
    if (!QFile::copy(copy, tmp) || Sha256Of(tmp) != Sha256Of(copy))
        result = QStringLiteral("バックアップを写せません: ") + tmp;
    if (result.isEmpty()) {
        if (const QString why = ChainProblem(tmp); !why.isEmpty()) result = ChainRefused(why);
    }
    if (result.isEmpty()) {
        result = KeepLiveFile(
            database,
            database + QStringLiteral(".replaced-") + QDateTime::currentDateTime().toString(kStamp),
            kept);
    }
    if (result.isEmpty()) {
        // Nothing the old file left beside it may be replayed into the new one.
        for (const char* companion : kCompanions)
            QFile::remove(database + QString::fromLatin1(companion));
        if (::rename(tmp.toLocal8Bit().constData(), database.toLocal8Bit().constData()) != 0) {
            result = QStringLiteral("戻せませんでした: ") + database;
        } else if (const QString check = IntegrityOf(database); check != u"ok") {
            result = QStringLiteral("戻したデータベースを確かめると異常があります: ") + check;
        }
    }
    RemoveWithCompanions(tmp);
    ::close(fd);
    return result;
}

void HoldDatabaseInUse(const QString& database) {
    if (DbTarget::Of(database).IsServer()) return;
    static std::map<QString, int> held;
    if (held.count(database)) return;
    const int fd = ::open(InUsePath(database).toLocal8Bit().constData(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) return;  // a read-only folder: nothing can be restored there either
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd);  // a restore is under way; it finishes in moments
        return;
    }
    held[database] = fd;  // for the life of the program
}

}  // namespace ondrel
