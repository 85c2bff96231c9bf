#include <QDir>
#include <QProcess>
#include <QtTest>

#include "core/ini_file.h"
#include "core/startup.h"
#include "test_support.h"

using namespace ondrel;
using namespace ondrel::test;

class TstStartup : public QObject {
    Q_OBJECT
  private slots:
    void systemDbExists_data();
    void systemDbExists();
    void startKarteNo_data();
    void startKarteNo();
    void noSettingsStopsAtSystemDb();
    void secondInstanceRefused();
    void hugeSettingsFileRefused();
};

void TstStartup::systemDbExists_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("exists");
    QTest::newRow("ordinary file") << "file" << true;
    QTest::newRow("link to a file") << "link" << true;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("missing") << "missing" << false;
    QTest::newRow("empty setting") << "empty" << false;
    QTest::newRow("device") << "device" << false;
}

void TstStartup::systemDbExists() {
    QFETCH(QString, kind);
    QFETCH(bool, exists);
    TestProgram prog;
    const QString file = prog.Root() + QStringLiteral("/sys.db");
    WriteBytes(file, "x");
    QFile::link(file, prog.Root() + QStringLiteral("/link.db"));
    const QHash<QString, QString> paths{{"file", file},
                                        {"link", prog.Root() + "/link.db"},
                                        {"folder", prog.Folder()},
                                        {"missing", prog.Root() + "/none.db"},
                                        {"empty", ""},
                                        {"device", "/dev/null"}};
    prog.ctx->settings.SystemDB = paths[kind];
    QCOMPARE(SystemDbExists(*prog.ctx), exists);
}

void TstStartup::startKarteNo_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("none") << QStringList{} << "0";
    QTest::newRow("number") << QStringList{"123"} << "123";
    QTest::newRow("not a number, unchanged") << QStringList{" 12a "} << " 12a ";
    QTest::newRow("several joined by one blank") << QStringList{"1234", "-5"} << "1234 -5";
    QTest::newRow("one empty argument") << QStringList{""} << "0";
}

void TstStartup::startKarteNo() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    TestProgram prog;
    WriteBytes(prog.Root() + "/sys.db", "x");
    prog.WriteIniText({"[System]", "Title=T", "SystemDB=" + prog.Root() + "/sys.db"});
    SingleInstance instance(prog.Folder() + "/ondrel");
    QCOMPARE(RunStartupSteps(*prog.ctx, args, instance), StartupOutcome::Continue);
    QCOMPARE(prog.ctx->settings.StartKarteNo, expected);
    QVERIFY(prog.prompter.shown.empty());
}

void TstStartup::noSettingsStopsAtSystemDb() {
    TestProgram prog;
    SingleInstance instance(prog.Folder() + "/ondrel");
    QCOMPARE(RunStartupSteps(*prog.ctx, {}, instance), StartupOutcome::NoSystemDb);
    QCOMPARE(prog.prompter.shown.size(), size_t(1));
    QCOMPARE(prog.prompter.shown[0].kind, Shown::Warning);
    QCOMPARE(prog.prompter.shown[0].title, QString());
    QCOMPARE(prog.prompter.shown[0].text,
             QStringLiteral("システムデータベースが見つかりません。\r\n先にzevシステムバーから環境"
                            "設定を行って下さい。"));
}

// A settings file of megabytes (a log written over it, a wrong file copied
// in) is told at once, and neither read key by key nor rewritten.
void TstStartup::hugeSettingsFileRefused() {
    TestProgram prog;
    QStringList lines{"[System]", "Title=T", "SystemDB=" + prog.Root() + "/x.db"};
    for (int i = 0; i < 40000; ++i)
        lines << QStringLiteral("Junk%1=%2").arg(i).arg(QString(30, u'x'));
    prog.WriteIniText(lines);
    const QByteArray before = ReadBytes(SettingsFilePath(*prog.ctx));
    QVERIFY(before.size() > kIniSizeLimit);
    SingleInstance instance(prog.Folder() + "/ondrel");
    QCOMPARE(RunStartupSteps(*prog.ctx, {}, instance), StartupOutcome::SettingsTooLarge);
    QCOMPARE(prog.prompter.shown.size(), size_t(1));
    QVERIFY2(prog.prompter.Texts()[0].contains(QStringLiteral("大きすぎる")),
             qPrintable(prog.prompter.Texts()[0]));
    QCOMPARE(ReadIniString(SettingsFilePath(*prog.ctx), "System", "Title"), QString());
    WriteIniString(SettingsFilePath(*prog.ctx), "System", "WindowTop", "1");
    QCOMPARE(ReadBytes(SettingsFilePath(*prog.ctx)), before);
}

void TstStartup::secondInstanceRefused() {
    TestProgram prog;
    const QString exe = prog.Folder() + "/ondrel";
    QProcess holder;
    holder.start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/instance_holder", {exe});
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readAll().trimmed(), QByteArray("locked"));

    prog.WriteIniText({"[System]", "Title=T"});
    SingleInstance instance(exe);
    QCOMPARE(RunStartupSteps(*prog.ctx, {}, instance), StartupOutcome::AlreadyRunning);
    QCOMPARE(prog.prompter.beeps, 1);
    QCOMPARE(prog.prompter.Texts(), QStringList{"当システムは既に起動されています。"});
    QCOMPARE(prog.prompter.shown[0].title, QString());  // settings not loaded yet
    QCOMPARE(prog.ctx->settings.Title, QString());

    // Another program folder is another program.
    SingleInstance other(prog.Root() + "/elsewhere/ondrel");
    QVERIFY(other.TryAcquire());

    // A crashed holder leaves a stale lock that the next start takes over.
    holder.kill();
    holder.waitForFinished();
    QVERIFY(QFile::exists(instance.LockFilePath()));
    SingleInstance next(exe);
    QVERIFY(next.TryAcquire());
}

QTEST_GUILESS_MAIN(TstStartup)
#include "tst_startup.moc"
