// Copies of the system database a clinic can count on: taken while the
// program writes, checked before they count, rotated, and put back only when
// sound and when no program uses the database.
#include <sys/stat.h>

#include <QProcess>
#include <QtTest>

#include "data/backup.h"
#include "data/db_connection.h"
#include "data/session.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

class TstBackup : public QObject {
    Q_OBJECT

    // As the next program to open the file finds it.
    static QString Integrity(const QString& file) {
        DbConnection cn;
        if (!OpenDbConnectionAt(file, cn)) return QStringLiteral("cannot open");
        QSqlQuery q = RunQuery(cn, "PRAGMA integrity_check");
        return q.next() ? q.value(0).toString() : QString();
    }
    // A database of 200 memos, several pages long, and a checked copy of it.
    static QString BackedUp(TestDbProgram& p, BackupPlan& plan) {
        for (int i = 0; i < 200; ++i) p.AddMemo(0, 12345, "2024-01-01", QString(200, u'字'));
        plan.folder = p.Root() + "/backup";
        QString copy;
        return MakeBackup(p.OwnerDbPath(), plan, &copy).isEmpty() ? copy : QString();
    }
    // Another program killed in the middle of its write: its rollback journal
    // stays beside the file (every memo was being appended '途中').
    static void InterruptedWrite(const QString& db) {
        QProcess writer;
        writer.start("sqlite3", {db});
        QVERIFY(writer.waitForStarted());
        writer.write(
            "PRAGMA cache_size = 1;\nBEGIN;\nDROP TRIGGER trgDatSearchUpdate;\n"
            "UPDATE tblDatCommon SET LText000 = LText000 || '途中';\n");
        const QString journal = db + "-journal";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(journal).size() > 4096, 10000);
        writer.kill();
        writer.waitForFinished();
        QVERIFY(QFileInfo(journal).size() > 0);
    }
    // A checksum made anew for a changed copy, as a forger would.
    static void RewriteSum(const QString& copy) {
        QProcess sum;
        sum.setWorkingDirectory(QFileInfo(copy).absolutePath());
        sum.start("sh", {"-c", "sha256sum " + QFileInfo(copy).fileName() + " > " +
                                   QFileInfo(copy).fileName() + ".sha256"});
        QVERIFY(sum.waitForFinished());
    }
    static qint64 Memos(const QString& file) {
        DbConnection cn;
        if (!OpenDbConnectionAt(file, cn)) return -1;
        QSqlQuery q = RunQuery(cn, "Select Count(*) From tblDatCommon");
        return q.next() ? q.value(0).toLongLong() : -1;
    }

  private slots:
    void rotation_data();
    void rotation();
    void backupWhileAnotherProcessWrites();
    void restoreChecksAndKeepsTheReplacedFile();
    void restoreOverAnInterruptedWrite();
    void restoreRefusesWhatIsUnsound_data();
    void restoreRefusesWhatIsUnsound();
    void serverBackupAndRestore();
    void filesAreTheOwnersAlone();
    void folderAsDatabaseRefusedByName();
    void backupsOfOneSecondAllKept();
    void backupRightAfterACrash();
    void backupOnAFullDiskLeavesNothing();
};

// Copies taken at these times (days after 2026-11-30, one at noon each);
// the days rotation keeps with 7 daily, 4 weekly, 12 monthly.
void TstBackup::rotation_data() {
    QTest::addColumn<QList<int>>("days");
    QTest::addColumn<QList<int>>("kept");
    QTest::newRow("one copy") << QList<int>{1} << QList<int>{1};
    QList<int> month;
    for (int d = 1; d <= 31; ++d) month << d;  // 2026-12-01 … 2026-12-31
    // Dec 25-31 by day; the weeks' newest: Dec 27 (Sun), Dec 20, Dec 13.
    QTest::newRow("a month of days") << month << QList<int>{13, 20, 25, 26, 27, 28, 29, 30, 31};
    QTest::newRow("days with gaps") << QList<int>{1, 2, 9, 30, 31} << QList<int>{1, 2, 9, 30, 31};
    QList<int> year;
    for (int m = 0; m < 14; ++m)
        year << int(QDate(2026, 12, 1).daysTo(QDate(2027, 1 + m % 12, 15).addYears(m / 12))) + 1;
    QList<int> newest12 = year.mid(2);
    QTest::newRow("fourteen months") << year << newest12;
}

void TstBackup::rotation() {
    QFETCH(QList<int>, days);
    QFETCH(QList<int>, kept);
    std::vector<QDateTime> taken;
    for (int d : days) taken.emplace_back(QDate(2026, 11, 30).addDays(d), QTime(12, 0));
    QList<int> got;
    for (size_t i : KeptBackups(taken, {})) got << days[qsizetype(i)];
    std::sort(got.begin(), got.end());
    QCOMPARE(got, kept);
}

// The copy opens, passes its check and holds every commit made before it
// started, though another process writes all the while.
void TstBackup::backupWhileAnotherProcessWrites() {
    if (OnServer()) QSKIP("a file's online backup");
    TestDbProgram p;
    QProcess writer;
    writer.start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/crash_writer", {p.DbPath()});
    QVERIFY(writer.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(Memos(p.DbPath()) >= 20, 30000);
    const qint64 before = Memos(p.DbPath());
    BackupPlan plan;
    plan.folder = p.Root() + "/backup";
    QString copy;
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &copy), QString());
    QTRY_VERIFY_WITH_TIMEOUT(Memos(p.DbPath()) > Memos(copy), 30000);  // still writing
    writer.kill();
    writer.waitForFinished();
    QVERIFY(Memos(copy) >= before);
    QCOMPARE(CheckBackup(copy), QString());
    QVERIFY(QFile::exists(copy + ".sha256"));
    QVERIFY(HasBackupOn(plan, QDate::currentDate()));
}

void TstBackup::restoreChecksAndKeepsTheReplacedFile() {
    if (OnServer()) QSKIP("a file's restore");
    TestDbProgram p;
    p.AddMemo(0, 12345, "2024-01-01", "バックアップ前");
    BackupPlan plan;
    plan.folder = p.Root() + "/backup";
    QString copy;
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &copy), QString());
    p.AddMemo(0, 12345, "2024-01-02", "バックアップ後");
    QString kept;
    QCOMPARE(RestoreBackup(copy, p.OwnerDbPath(), &kept), QString());
    QCOMPARE(Memos(p.DbPath()), 1);
    QCOMPARE(Memos(kept), 2);
}

// A write killed half-way leaves its rollback journal beside the live file.
// The restored file must not have that journal replayed into it, and the
// copy kept of the live file is the file as the journal settles it.
void TstBackup::restoreOverAnInterruptedWrite() {
    if (OnServer()) QSKIP("a file's restore");
    TestDbProgram p;
    BackupPlan plan;
    const QString copy = BackedUp(p, plan);
    QVERIFY(!copy.isEmpty());
    p.AddMemo(0, 12345, "2024-01-02", "バックアップ後");
    InterruptedWrite(p.DbPath());
    if (QTest::currentTestFailed()) return;
    QString kept;
    QCOMPARE(RestoreBackup(copy, p.OwnerDbPath(), &kept), QString());
    QVERIFY(!QFile::exists(p.DbPath() + "-journal"));
    QCOMPARE(Integrity(p.DbPath()), QStringLiteral("ok"));
    QCOMPARE(Memos(p.DbPath()), 200);
    QCOMPARE(Integrity(kept), QStringLiteral("ok"));
    QCOMPARE(Memos(kept), 201);
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon Where LText000 Like '%途中%'").toInt(), 0);
}

void TstBackup::restoreRefusesWhatIsUnsound_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("told");
    QTest::newRow("a byte changed") << "flip"
                                    << "SHA-256 と合いません";
    QTest::newRow("no SHA-256 file") << "nosum"
                                     << "SHA-256 のファイルがありません";
    QTest::newRow("broken inside, sum rewritten") << "rehash"
                                                  << "壊れています";
    QTest::newRow("a memo changed, sum rewritten") << "memo"
                                                   << "変更履歴）に異常がある";
    QTest::newRow("history rewritten, sum rewritten") << "history"
                                                      << "変更履歴）に異常がある";
    QTest::newRow("history dropped, sum rewritten") << "dropped"
                                                    << "tblDatRevision）がありません";
    QTest::newRow("a program uses the database") << "inuse"
                                                 << "使っているプログラムがあります";
}

void TstBackup::restoreRefusesWhatIsUnsound() {
    if (OnServer()) QSKIP("a file's restore");
    QFETCH(QString, fault);
    QFETCH(QString, told);
    TestDbProgram p;
    BackupPlan plan;
    const QString copy = BackedUp(p, plan);
    QVERIFY(!copy.isEmpty());
    const QByteArray original = ReadBytes(p.DbPath());
    if (fault == u"flip" || fault == u"rehash") {
        QByteArray bytes = ReadBytes(copy);
        for (qsizetype i = 4096; i < 4096 + 512; ++i) bytes[i] = char(0x5a);  // inside a page
        WriteBytes(copy, bytes);
        if (fault == u"rehash") RewriteSum(copy);
    } else if (fault == u"memo" || fault == u"history" || fault == u"dropped") {
        // Changed with plain SQL, as someone with the file in hand could.
        const char* sql =
            // The search index's trigger needs the program's own function.
            fault == u"memo" ? "Drop Trigger trgDatSearchUpdate; Update tblDatCommon Set LText000 "
                               "= '書き換え' Where MainKey = 5"
            : fault == u"history" ? "Drop Trigger trgtblDatRevisionUPDATE; Update tblDatRevision "
                                    "Set LText000 = '書き換え' Where RevisionKey = 5"
                                  : "Drop Table tblDatRevision";
        QProcess sqlite;
        sqlite.start("sqlite3", {copy, QString::fromUtf8(sql)});
        QVERIFY(sqlite.waitForFinished());
        QCOMPARE(sqlite.exitCode(), 0);
        RewriteSum(copy);
    } else if (fault == u"nosum") {
        QFile::remove(copy + ".sha256");
    } else {
        HoldDatabaseInUse(p.DbPath());
    }
    const QString answer = RestoreBackup(copy, p.OwnerDbPath());
    QVERIFY2(answer.contains(told), qPrintable(answer));
    QCOMPARE(ReadBytes(p.DbPath()), original);
    // Nothing of the refused restore is left beside the database.
    QCOMPARE(QDir(p.Root()).entryList({"*.restoring*", "*.replaced-*"}, QDir::Files),
             QStringList());
}

// A server's copy is pg_dump's, checked by pg_restore --list; restore puts
// it back and is refused while another connection uses the database.
void TstBackup::serverBackupAndRestore() {
    if (!OnServer()) QSKIP("needs the test server");
    TestDbProgram p;
    p.AddMemo(0, 12345, "2024-01-01", "サーバーのメモ");
    BackupPlan plan;
    plan.folder = p.Root() + "/backup";
    QString copy;
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &copy), QString());
    QVERIFY(copy.endsWith(".dump"));
    QCOMPARE(CheckBackup(copy), QString());
    p.AddMemo(0, 12345, "2024-01-02", "後から");
    {
        DbConnection other;  // a program still on the database
        QVERIFY(OpenDbConnectionAt(p.DbPath(), other));
        QVERIFY(RestoreBackup(copy, p.OwnerDbPath()).contains("使っているプログラムがあります"));
    }
    Session(*p.ctx).CloseKept();
    QString kept;
    QCOMPARE(RestoreBackup(copy, p.OwnerDbPath(), &kept), QString());
    QCOMPARE(Memos(p.DbPath()), 1);
    // The database as it was before is kept, for the owner alone.
    QVERIFY2(QFileInfo(kept).size() > 0, qPrintable(kept));
    QCOMPARE(QFile::permissions(kept) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
             QFileDevice::Permissions());
    QProcess list;
    list.start("pg_restore", {"--list", kept});
    QVERIFY(list.waitForFinished(60000));
    QCOMPARE(list.exitCode(), 0);
    // A copy whose record does not hold is taken out again: the database as it was.
    p.Exec("Update tblDatCommon Set LText000 = '裏で変更'");
    QString forged;
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &forged), QString());
    p.Exec("Update tblDatCommon Set LText000 = 'サーバーのメモ'");
    p.AddMemo(0, 12345, "2024-01-03", "戻す前");
    const QString answer = RestoreBackup(forged, p.OwnerDbPath());
    QVERIFY2(answer.contains(QStringLiteral("変更履歴）に異常がある")) &&
                 answer.contains(QStringLiteral("元のまま")),
             qPrintable(answer));
    QCOMPARE(Memos(p.DbPath()), 2);
}

namespace {

mode_t ModeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

// Copies and their checksums hold patient data: the owner's alone, whatever
// the umask. A backup folder made here is too; one that exists keeps its mode.
void TstBackup::filesAreTheOwnersAlone() {
    const mode_t mask = ::umask(0);
    struct Restore {
        mode_t mask;
        ~Restore() { ::umask(mask); }
    } restore{mask};
    TestDbProgram p;
    p.AddMemo(0, 12345, "2024-01-01", "メモ");
    BackupPlan plan;
    plan.folder = p.Root() + "/backup";
    QString copy;
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &copy), QString());
    QCOMPARE(ModeOf(plan.folder), mode_t(0700));
    QCOMPARE(ModeOf(copy), mode_t(0600));
    QCOMPARE(ModeOf(copy + ".sha256"), mode_t(0600));
    const QString shared = p.Root() + "/shared";
    QVERIFY(QDir().mkpath(shared));
    QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 02775), 0);
    plan.folder = shared;
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &copy), QString());
    QCOMPARE(ModeOf(shared), mode_t(02775));
    QCOMPARE(ModeOf(copy), mode_t(0600));
}

void TstBackup::folderAsDatabaseRefusedByName() {
    if (OnServer()) QSKIP("a file's backup");
    TestProgram p;
    BackupPlan plan;
    plan.folder = p.Root() + "/backup";
    const QString folder = p.Root() + "/prog";
    QVERIFY(MakeBackup(folder, plan).contains(QStringLiteral("フォルダーです")));
    QVERIFY(!QFileInfo::exists(plan.folder));
    QVERIFY(RestoreBackup(p.Root() + "/x.db", folder).contains(QStringLiteral("フォルダーです")));
}

// Backups taken within one second (the daily one and a manual one) each get
// their own name; rotation never removes the copy it was just given, even
// when the counts keep none.
void TstBackup::backupsOfOneSecondAllKept() {
    TestDbProgram p;
    p.AddMemo(0, 12345, "2024-01-01", "メモ");
    BackupPlan plan;
    plan.folder = p.Root() + "/backup";
    QStringList made;
    for (int i = 0; i < 3; ++i) {
        QString copy;
        QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &copy), QString());
        made << copy;
    }
    QCOMPARE(QSet<QString>(made.begin(), made.end()).size(), 3);
    QCOMPARE(CheckBackup(made.last()), QString());
    plan.counts = {0, 0, 0};
    QString copy;
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &copy), QString());
    QCOMPARE(CheckBackup(copy), QString());
    QCOMPARE(QDir(plan.folder).entryList({"*.db", "*.dump", "*.sha256"}, QDir::Files),
             (QStringList{QFileInfo(copy).fileName(), QFileInfo(copy).fileName() + ".sha256"}));
    // The chain's heads stay for `verify --anchors`, the copies' gone or not.
    QCOMPARE(QDir(plan.folder).entryList({"*.anchor"}, QDir::Files).size(), 4);
}

// A writer killed half-way leaves a hot journal: the backup settles the
// file first, so the copy is taken and holds the last commit, not the half write.
void TstBackup::backupRightAfterACrash() {
    if (OnServer()) QSKIP("a file's journal");
    TestDbProgram p;
    for (int i = 0; i < 200; ++i) p.AddMemo(0, 12345, "2024-01-01", QString(200, u'字'));
    InterruptedWrite(p.DbPath());
    if (QTest::currentTestFailed()) return;
    BackupPlan plan;
    plan.folder = p.Root() + "/backup";
    QString copy;
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan, &copy), QString());
    QCOMPARE(Memos(copy), 200);
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(copy, cn));
    QSqlQuery q = RunQuery(cn, "Select Count(*) From tblDatCommon Where LText000 Like '%途中%'");
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 0);
}

// A disk that fills up during the copy: told, and the folder holds nothing
// new (no half copy, no journal).
void TstBackup::backupOnAFullDiskLeavesNothing() {
    if (OnServer()) QSKIP("a file's copy");
    TestDbProgram p;
    for (int i = 0; i < 200; ++i) p.AddMemo(0, 12345, "2024-01-01", QString(200, u'字'));
    BackupPlan plan;
    plan.folder = p.Root() + "/backup";
    QVERIFY(QDir().mkpath(plan.folder));
    QString answer;
    {
        FileSizeLimit full(16 * 1024);
        answer = MakeBackup(p.OwnerDbPath(), plan);
    }
    QVERIFY2(answer.contains(QStringLiteral("バックアップできませんでした")), qPrintable(answer));
    QCOMPARE(QDir(plan.folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(MakeBackup(p.OwnerDbPath(), plan), QString());  // and once there is room, it is taken
}

QTEST_MAIN(TstBackup)
#include "tst_backup.moc"
