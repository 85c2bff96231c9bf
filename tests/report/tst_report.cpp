#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <csignal>

#include "core/error_report.h"
#include "core/trap.h"
#include "report/guidance_report.h"
#include "report/office.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

namespace {

struct Workbook {
    QString sheet, a2, c2, a4, a6;
};

}  // namespace

class TstReport : public QObject {
    Q_OBJECT

    QTemporaryDir officeHome_;
    std::unique_ptr<Office> office_;

    OfficeConfig Config() const {
        OfficeConfig c;
        c.pipeName = QStringLiteral("ondrel-test-%1").arg(QCoreApplication::applicationPid());
        c.profileDir = officeHome_.path() + "/profile";
        c.withDisplay = false;
        return c;
    }

    // A program folder with the template installed and 帳票 beside it.
    static void Install(TestProgram& p) {
        QDir(p.Folder()).mkpath("Template");
        QDir(p.Folder()).mkpath("帳票");
        QFile::copy(QStringLiteral(ONDREL_TEMPLATE), p.Folder() + "/Template/指導指示管理.xls");
    }

    Workbook Read(const QString& path) {
        auto doc = office_->LoadForReading(path);
        Workbook w{doc->FirstSheetName(), doc->CellText(2, 1), doc->CellText(2, 3),
                   doc->CellText(4, 1), doc->CellText(6, 1)};
        doc->Close();
        return w;
    }

    void Report(TestProgram& p, const QString& karteNo, const QString& name,
                const QString& category, const QString& date, const QString& memo) {
        Rtn_GuidanceReport(*p.ctx, *office_, ReportInfo{karteNo, name, category, date, memo},
                           std::nullopt);
    }

    // The test's own print service (scripts/test-printer), started before the
    // office so that the office finds its printer; empty where none starts.
    QString printerDir_;
    QString printerOut_;

    // The last job the printer kept (printed.<job number>).
    static QString Printed(const QString& dir) {
        QString last;
        int highest = 0;
        for (const QString& f : QDir(dir).entryList({"printed.*"}, QDir::Files)) {
            const int job = f.section(u'.', 1).toInt();
            if (job > highest) {
                highest = job;
                last = dir + u'/' + f;
            }
        }
        return last;
    }
    static int CupsCommand(const QString& program, const QStringList& args) {
        return QProcess::execute(program, args);
    }

  private slots:
    void initTestCase() {
        QProcess printer;
        printer.start(QStringLiteral(ONDREL_SOURCE_DIR "/scripts/test-printer"), {"start"});
        if (printer.waitForFinished(30000) && printer.exitCode() == 0) {
            const QStringList parts =
                QString::fromUtf8(printer.readAllStandardOutput()).split(u' ');
            printerDir_ = parts.value(0).trimmed();
            printerOut_ = printerDir_ + "/out";
            qputenv("CUPS_SERVER", parts.value(1).trimmed().toUtf8());
        }
        office_ = std::make_unique<Office>(Config());
        QElapsedTimer t;
        t.start();
        office_->Connect();
        qInfo("office started in %lld ms", t.elapsed());
        // An office that outlives us must not hold our streams: a caller
        // waiting for them to close (a terminal, the test runner) would wait for it.
        for (const char* fd : {"0", "1", "2"}) {
            const QString target = QFile::symLinkTarget(
                QStringLiteral("/proc/%1/fd/%2").arg(office_->ProcessGroup()).arg(fd));
            QCOMPARE(target, QStringLiteral("/dev/null"));
        }
    }
    void cleanupTestCase() {
        office_->Terminate();
        if (!printerDir_.isEmpty())
            QProcess::execute(QStringLiteral(ONDREL_SOURCE_DIR "/scripts/test-printer"),
                              {"stop", printerDir_});
    }
    void printsOnAPrinter_data();
    void printsOnAPrinter();

    void compose_data();
    void compose();
    void sheetNames_data();
    void sheetNames();
    void oneMemoReport();
    void rangeAndEdgeCells_data();
    void rangeAndEdgeCells();
    void secondReportReplacesFirst();
    void missingTemplate();
    void outputFolderProblems_data();
    void outputFolderProblems();
    void officeThatCannotStart_data();
    void officeThatCannotStart();
    void batchCommand_data();
    void batchCommand();
    void officePerProgramFolder();
    void stoppedOfficeReplaced();
    void failedReportRetriedOnFreshOffice();
    void idleOfficeEndsWithTheProgram();
    void officeKeepsTheUsersMask();
    void profileWithoutStartScreen_data();
    void profileWithoutStartScreen();
    void closedReportLeavesNothingOnScreen_data();
    void closedReportLeavesNothingOnScreen();
    void memoLines_data();
    void memoLines();
    void printedPages_data();
    void printedPages();
    void pdfBesideTheWorkbook_data();
    void pdfBesideTheWorkbook();
    void batchPdf();
};

void TstReport::compose_data() {
    QTest::addColumn<QString>("dateText");
    QTest::addColumn<QString>("c2");
    QTest::newRow("2024/04/01") << "2024/04/01"
                                << "令和6年4月1日";
    QTest::newRow("with a time") << "2024/04/01 10:30:00"
                                 << "令和6年4月1日";
    QTest::newRow("first day of 令和, year 1 as 1") << "2019/05/01"
                                                    << "令和1年5月1日";
    QTest::newRow("last day of 平成") << "2019/04/30"
                                      << "平成31年4月30日";
    QTest::newRow("last day of 昭和") << "1989/01/07"
                                      << "昭和64年1月7日";
    QTest::newRow("first day of 平成") << "1989/01/08"
                                       << "平成1年1月8日";
    QTest::newRow("first day of 昭和") << "1926/12/25"
                                       << "昭和1年12月25日";
    QTest::newRow("last day of 大正") << "1926/12/24"
                                      << "大正15年12月24日";
    QTest::newRow("range text unchanged") << "令和6年3月25日 ～ 令和6年4月1日"
                                          << "令和6年3月25日 ～ 令和6年4月1日";
    QTest::newRow("not a date") << "2024/13/01"
                                << "2024/13/01";
    QTest::newRow("empty") << ""
                           << "";
}

void TstReport::compose() {
    QFETCH(QString, dateText);
    QFETCH(QString, c2);
    const ReportCells cells =
        ComposeReport(ReportInfo{"1234", "山田　太郎", "所見", dateText, "a\r\nb"});
    QCOMPARE(cells.c2, c2);
    QCOMPARE(cells.a4, QStringLiteral("1234\u3000\u3000山田　太郎"));
    QCOMPARE(cells.a6, QStringLiteral("a\nb"));
}

void TstReport::sheetNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("acceptable");
    QTest::newRow("japanese") << "所見補助１" << true;
    QTest::newRow("31 characters") << QString(31, u'漢') << true;
    QTest::newRow("32 characters") << QString(32, u'漢') << false;
    QTest::newRow("empty") << "" << false;
    for (const char* c : {"[", "]", "*", "?", ":", "/", "\\"}) {
        QTest::newRow(c) << QStringLiteral("a%1b").arg(QLatin1String(c)) << false;
    }
    QTest::newRow("apostrophe inside") << "O'Brien" << true;
    QTest::newRow("apostrophe at the start") << "'x" << false;
}

void TstReport::sheetNames() {
    QFETCH(QString, name);
    QFETCH(bool, acceptable);
    QCOMPARE(SheetNameAcceptable(name), acceptable);
}

void TstReport::oneMemoReport() {
    TestProgram p;
    Install(p);
    p.ctx->settings.Title = QStringLiteral("指導指示管理");
    const QByteArray templateBefore = ReadBytes(p.Folder() + "/Template/指導指示管理.xls");
    Report(p, "1234", "山田　太郎", "栄養指導", "2024/04/01",
           "一行目\r\n\r\n三行目 'quoted' \"x\"");
    const QString out = p.Folder() + "/帳票/指導指示管理-1234.xls";
    QVERIFY(QFile::exists(out));
    const Workbook w = Read(out);
    QCOMPARE(w.sheet, QStringLiteral("栄養指導"));
    QCOMPARE(w.a2, QStringLiteral("栄養指導"));
    QCOMPARE(w.c2, QStringLiteral("令和6年4月1日"));
    QCOMPARE(w.a4, QStringLiteral("1234\u3000\u3000山田　太郎"));
    QCOMPARE(w.a6, QStringLiteral("一行目\n\n三行目 'quoted' \"x\""));
    QCOMPARE(ReadBytes(p.Folder() + "/Template/指導指示管理.xls"),
             templateBefore);  // never written
    {
        // The workbook shown to the user is a Japanese one.
        auto doc = office_->LoadTemplate(p.Folder() + "/Template/指導指示管理.xls");
        QCOMPARE(doc->Language(), QStringLiteral("ja-JP"));
        doc->Close();
    }
    // Chart number, name and memo: readable by the user alone, as the database.
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                        QFileDevice::WriteOther;
    QCOMPARE(QFileInfo(out).permissions() & others, QFileDevice::Permissions());
    QVERIFY(QFileInfo(out).permissions() & QFileDevice::WriteOwner);
    QVERIFY(p.prompter.shown.empty());
    QCOMPARE(p.waitCursor.depth, 0);
}

void TstReport::rangeAndEdgeCells_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("memo");
    QTest::addColumn<QStringList>("expected");  // sheet, A2, C2, A4, A6
    QTest::newRow("range report") << "山田"
                                  << "所見"
                                  << "令和6年3月25日 ～ 令和6年4月1日"
                                  << "●2024/03/25 (月)\r\nT1\r\n\r\n"
                                  << QStringList{"所見", "所見", "令和6年3月25日 ～ 令和6年4月1日",
                                                 "1234\u3000\u3000山田",
                                                 "●2024/03/25 (月)\nT1\n\n"};
    QTest::newRow("empty memo") << "山田"
                                << "所見"
                                << "2024/04/01"
                                << ""
                                << QStringList{"所見", "所見", "令和6年4月1日",
                                               "1234\u3000\u3000山田", ""};
    QTest::newRow("refused sheet name keeps the template's")
        << "山田"
        << "食事/運動"
        << "2024/04/01"
        << "m"
        << QStringList{"指導指示", "食事/運動", "令和6年4月1日", "1234\u3000\u3000山田", "m"};
    QTest::newRow("empty category and name")
        << ""
        << ""
        << "2024/04/01"
        << "m" << QStringList{"指導指示", "", "令和6年4月1日", "1234\u3000\u3000", "m"};
}

void TstReport::rangeAndEdgeCells() {
    QFETCH(QString, name);
    QFETCH(QString, category);
    QFETCH(QString, date);
    QFETCH(QString, memo);
    QFETCH(QStringList, expected);
    TestProgram p;
    Install(p);
    Report(p, "1234", name, category, date, memo);
    const Workbook w = Read(p.Folder() + "/帳票/指導指示管理-1234.xls");
    QCOMPARE((QStringList{w.sheet, w.a2, w.c2, w.a4, w.a6}), expected);
}

void TstReport::secondReportReplacesFirst() {
    TestProgram p;
    Install(p);
    Report(p, "1234", "山田", "所見", "2024/04/01", "first");
    Report(p, "1234", "山田", "所見", "2024/04/02", "second");
    Report(p, "99", "鈴木", "所見", "2024/04/03", "other chart");
    QCOMPARE(Read(p.Folder() + "/帳票/指導指示管理-1234.xls").a6, QStringLiteral("second"));
    QCOMPARE(Read(p.Folder() + "/帳票/指導指示管理-99.xls").a6, QStringLiteral("other chart"));
    QCOMPARE(QDir(p.Folder() + "/帳票").entryList(QDir::Files).size(), 2);
}

void TstReport::missingTemplate() {
    for (const bool empty : {false, true}) {
        TestProgram p;
        Install(p);
        QFile::remove(p.Folder() + "/Template/指導指示管理.xls");
        if (empty) WriteBytes(p.Folder() + "/Template/指導指示管理.xls", {});
        p.ctx->settings.Title = QStringLiteral("T");
        Report(p, "1234", "山田", "所見", "2024/04/01", "m");
        QCOMPARE(p.prompter.Texts(),
                 QStringList{"テンプレートファイルが指定のフォルダに存在しません。"});
        QCOMPARE(p.prompter.shown[0].title, QStringLiteral("T"));
        QVERIFY(QDir(p.Folder() + "/帳票").entryList(QDir::Files).isEmpty());
    }
}

void TstReport::outputFolderProblems_data() {
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("error");
    QTest::newRow("帳票 missing") << "missing" << 76;
    QTest::newRow("output path is a folder") << "blocked" << 70;
}

void TstReport::outputFolderProblems() {
    QFETCH(QString, problem);
    QFETCH(int, error);
    TestProgram p;
    Install(p);
    if (problem == u"missing") QDir(p.Folder() + "/帳票").removeRecursively();
    if (problem == u"blocked") QDir(p.Folder() + "/帳票").mkpath("指導指示管理-1234.xls");
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, Report(p, "1234", "山田", "所見", "2024/04/01", "m"));
    QVERIFY2(p.prompter.shown.back().text.contains(QStringLiteral("(%1) ").arg(error)),
             qPrintable(p.prompter.shown.back().text));
}

void TstReport::officeThatCannotStart_data() {
    QTest::addColumn<QString>("script");
    QTest::newRow("not installed") << "";
    QTest::newRow("dies at start") << "#!/bin/sh\necho 'DeploymentException: EACCES' >&2\nexit 3\n";
    QTest::newRow("never answers") << "#!/bin/sh\nexec sleep 60\n";
}

void TstReport::officeThatCannotStart() {
    QFETCH(QString, script);
    TestProgram p;
    Install(p);
    OfficeConfig c;
    c.pipeName = QStringLiteral("ondrel-test-fake-%1").arg(QCoreApplication::applicationPid());
    c.profileDir = p.Root() + "/fake-profile";
    c.startDeadline = std::chrono::milliseconds(1500);
    c.soffice = p.Root() + "/bin/soffice";
    if (!script.isEmpty()) {
        QDir().mkpath(p.Root() + "/bin");
        WriteBytes(c.soffice, script.toUtf8());
        QFile::setPermissions(c.soffice, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    } else {
        c.soffice = p.Root() + "/bin/none";
    }
    c.logFile = p.Folder() + "/office.log";
    Office fake(c);
    const ReportInfo report{"1234", "山田", "所見", "2024/04/01", "m"};
    QElapsedTimer t;
    t.start();
    // Told as the command tells it; the program goes on (no error report).
    QVERIFY(!WithCommandTrap(*p.ctx, nullptr,
                             [&] { Rtn_GuidanceReport(*p.ctx, fake, report, std::nullopt); }));
    QVERIFY(t.elapsed() < 10000);
    QCOMPARE(p.prompter.shown.size(), size_t(1));
    const QString told = p.prompter.shown.back().text;
    QVERIFY2(
        told.contains(QStringLiteral("表計算ソフト（帳票を作ります）を起動できませんでした")) &&
            told.contains(c.logFile),
        qPrintable(told));
    QVERIFY(QDir(p.Folder() + "/帳票").entryList(QDir::Files).isEmpty());
    // The log says why, for the one who mends it, and is the user's alone.
    const QString log = QString::fromUtf8(ReadBytes(c.logFile));
    QVERIFY2(log.contains(QStringLiteral("soffice")), qPrintable(log));
    if (script.contains("EACCES")) QVERIFY2(log.contains("DeploymentException"), qPrintable(log));
    QCOMPARE(QFile::permissions(c.logFile) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
             QFileDevice::Permissions());
}

namespace {

// An office of its own for a test, in the test's folder.
OfficeConfig OwnOffice(const TestProgram& p, const char* name) {
    OfficeConfig c;
    c.pipeName = QStringLiteral("ondrel-test-%1-%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(QString::fromLatin1(name));
    c.profileDir = p.Root() + "/profile-" + QString::fromLatin1(name);
    c.connectDeadline = std::chrono::milliseconds(1000);
    c.workDeadline = std::chrono::milliseconds(3000);
    return c;
}

// The process is gone or only waits to be reaped.
bool Ended(pid_t pid) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray s = stat.readAll();
    const qsizetype close = s.lastIndexOf(')');
    return close > 0 && s.mid(close + 2, 1) == "Z";
}

}  // namespace

void TstReport::officePerProgramFolder() {
    QTemporaryDir d;
    QDir(d.path()).mkpath("a");
    QDir(d.path()).mkpath("b");
    const OfficeConfig a = OfficeConfig::For(d.path() + "/a");
    const OfficeConfig a2 = OfficeConfig::For(d.path() + "/b/../a/");
    const OfficeConfig b = OfficeConfig::For(d.path() + "/b");
    QCOMPARE(a.pipeName, a2.pipeName);
    QCOMPARE(a.profileDir, a2.profileDir);
    QVERIFY(a.pipeName != b.pipeName);
    QVERIFY(a.profileDir != b.profileDir);
    QVERIFY(a.pipeName.contains(QString::number(::getuid())));
}

// A running office that does not answer (stopped) is ended and replaced
// within the connect deadline, not waited for.
void TstReport::stoppedOfficeReplaced() {
    TestProgram p;
    const OfficeConfig c = OwnOffice(p, "stopped");
    Office first(c);
    first.Connect();
    const pid_t old = first.ProcessGroup();
    QVERIFY(old > 0);
    QCOMPARE(::killpg(old, SIGSTOP), 0);
    Office second(c);
    second.Connect();
    QVERIFY(second.JustStarted());
    QVERIFY(second.ProcessGroup() > 0 && second.ProcessGroup() != old);
    QTRY_VERIFY_WITH_TIMEOUT(Ended(old), 5000);
    auto doc = second.LoadForReading(QStringLiteral(ONDREL_TEMPLATE));
    QVERIFY(!doc->FirstSheetName().isEmpty());
    doc->Close();
    second.Terminate();
}

// A load on an office found running (not started for this report) that
// fails is tried once more on a fresh office before anything is reported.
void TstReport::failedReportRetriedOnFreshOffice() {
    TestProgram p;
    Install(p);
    const OfficeConfig c = OwnOffice(p, "retry");
    Office earlier(c);
    earlier.Connect();
    Office office(c);
    office.Connect();
    QVERIFY(!office.JustStarted());
    const pid_t old = office.ProcessGroup();
    QCOMPARE(::killpg(old, SIGSTOP), 0);  // hangs at the next call
    Rtn_GuidanceReport(*p.ctx, office,
                       ReportInfo{"1234", "山田　太郎", "栄養指導", "2024/04/01", "memo"},
                       std::nullopt);
    QVERIFY(p.prompter.shown.empty());
    QVERIFY(office.JustStarted());
    QVERIFY(QFile::exists(p.Folder() + "/帳票/指導指示管理-1234.xls"));
    QTRY_VERIFY_WITH_TIMEOUT(Ended(old), 5000);
    office.Terminate();
}

// However the program ends (here: the error report's end), an office of ours
// that shows no document does not stay behind.
void TstReport::idleOfficeEndsWithTheProgram() {
    TestProgram p;
    Office office(OwnOffice(p, "idle"));
    office.Connect();
    auto doc = office.LoadForReading(QStringLiteral(ONDREL_TEMPLATE));  // hidden
    const pid_t pid = office.ProcessGroup();
    p.end.AtEnd([&] { office.EndIfIdle(); });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, ErrorReport(*p.ctx, 440, nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(Ended(pid), 5000);
    QVERIFY(!office.Connected());
}

// The office runs with the user's own umask: started as root (an IT person
// trying the program with sudo) under the reports' 077 it made its shared
// extension cache 0700 and no other account's office could start. The
// report and the office's profile stay the user's alone all the same.
void TstReport::officeKeepsTheUsersMask() {
    const mode_t mask = ::umask(022);
    struct Restore {
        mode_t mask;
        ~Restore() { ::umask(mask); }
    } restore{mask};
    TestProgram p;
    Install(p);
    Office office(OwnOffice(p, "mask"));
    office.Connect();
    QFile status(QStringLiteral("/proc/%1/status").arg(office.ProcessGroup()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    const QString umask = QString::fromLatin1(status.readAll())
                              .section(QStringLiteral("Umask:"), 1)
                              .section(u'\n', 0, 0)
                              .trimmed();
    QCOMPARE(umask, QStringLiteral("0022"));
    Rtn_GuidanceReport(*p.ctx, office,
                       ReportInfo{"1234", "山田　太郎", "栄養指導", "2024/04/01", "メモ"},
                       std::nullopt);
    office.Terminate();
    const auto shared = QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QCOMPARE(QFile::permissions(p.Folder() + "/帳票/指導指示管理-1234.xls") & shared,
             QFileDevice::Permissions());
    QCOMPARE(QFile::permissions(p.Root() + "/profile-mask") & shared, QFileDevice::Permissions());
}

// The office's start screen is taken out of every profile before the office
// reads it: new ones, and ones an earlier version made, whose own settings stay.
void TstReport::profileWithoutStartScreen_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::newRow("new profile") << QByteArray();
    QTest::newRow("earlier profile") << QByteArray(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items "
        "xmlns:oor=\"http://openoffice.org/2001/registry\" "
        "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n<item "
        "oor:path=\"/org.openoffice.Office.Common/Misc\"><prop "
        "oor:name=\"FirstRun\" oor:op=\"fuse\"><value>false</value></prop></"
        "item>\n</oor:items>\n");
}

void TstReport::profileWithoutStartScreen() {
    QFETCH(QByteArray, before);
    TestProgram p;
    const OfficeConfig c = OwnOffice(p, "start");
    const QString settings = c.profileDir + "/user/registrymodifications.xcu";
    if (!before.isEmpty()) {
        QDir().mkpath(c.profileDir + "/user");
        QFile f(settings);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    for (int start = 0; start < 2; ++start) {  // the second finds the office's own file
        Office office(c);
        office.Connect();
        auto doc = office.LoadForReading(QStringLiteral(ONDREL_TEMPLATE));
        doc->Close();
        office.Terminate();
        QFile f(settings);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QCOMPARE(text.count("\"com.sun.star.frame.StartModule\" oor:op=\"remove\""), 1);
        if (!before.isEmpty()) QVERIFY(text.contains("oor:name=\"FirstRun\""));
    }
}

// A shown report closed by the user (the office's menu, whose ウィンドウ >
// 閉じる takes the same way, or its window's close box) leaves no office
// window behind: the start screen covered the
// program. The office stays for the next report.
void TstReport::closedReportLeavesNothingOnScreen_data() {
    QTest::addColumn<QString>("command");
    QTest::newRow("ファイル > 閉じる") << QStringLiteral(".uno:CloseDoc");
    QTest::newRow("close box") << QStringLiteral(".uno:CloseFrame");
}

void TstReport::closedReportLeavesNothingOnScreen() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display (ctest: tst_report_display)");
    QFETCH(QString, command);
    TestProgram p;
    Install(p);
    OfficeConfig c = OwnOffice(p, "shown");
    c.withDisplay = true;
    c.workDeadline = std::chrono::milliseconds(30000);
    Office office(c);
    for (const char* karte : {"1234", "5678"}) {
        Rtn_GuidanceReport(*p.ctx, office,
                           ReportInfo{karte, "山田　太郎", "栄養指導", "2024/04/01", "メモ"},
                           std::nullopt);
        QVERIFY(p.prompter.shown.empty());
        QCOMPARE(office.VisibleWindows(), 1);
        office.RunCommand(command);
        QTRY_COMPARE_WITH_TIMEOUT(office.VisibleWindows(), 0, 10000);
        QVERIFY(office.Connected());
    }
    office.Terminate();
}

// Lines a memo takes in the memo area, counted generously: one too many
// leaves an empty row, one too few would cut text off the paper.
void TstReport::memoLines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lines");
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("one line") << "塩分を控えめに。" << 1;
    QTest::newRow("blank lines count") << "a\n\nb\n" << 4;
    QTest::newRow("43 wide characters fit") << QString(43, u'漢') << 1;
    QTest::newRow("44 wide characters wrap") << QString(44, u'漢') << 2;
    QTest::newRow("100 wide characters") << QString(100, u'漢') << 3;
    QTest::newRow("80 narrow characters wrap") << QString(80, u'a') << 2;
}

void TstReport::memoLines() {
    QFETCH(QString, text);
    QFETCH(int, lines);
    QCOMPARE(MemoLines(text), lines);
}

// The filled workbook as the printer gets it: a memo that fits is one A4
// page; rows 1-4 (title, category and date, chart number and name) repeat
// at the top of every page.
// PDF保存 and --pdf: the printed pages as PDF beside the workbook, the
// owner's alone; a folder that cannot take it is told, the workbook stays.
void TstReport::pdfBesideTheWorkbook_data() {
    QTest::addColumn<QString>("memo");
    QTest::addColumn<bool>("folderThere");
    QTest::addColumn<int>("pages");
    QString lines120;
    for (int i = 1; i <= 120; ++i) lines120 += QStringLiteral("%1 行目の指導内容\n").arg(i);
    QTest::newRow("one line") << "塩分を控えめに。" << true << 1;
    QTest::newRow("a long range") << lines120 << true << 3;
    QTest::newRow("no such folder") << "塩分を控えめに。" << false << 0;
}

void TstReport::pdfBesideTheWorkbook() {
    QFETCH(QString, memo);
    QFETCH(bool, folderThere);
    QFETCH(int, pages);
    TestProgram p;
    Install(p);
    const QString pdf = folderThere ? ReportPdfPath(*p.ctx, "1234") : p.Root() + "/none/x.pdf";
    QCOMPARE(Rtn_GuidanceReport(*p.ctx, *office_,
                                ReportInfo{"1234", "山田　太郎", "栄養指導", "2024/04/01", memo},
                                std::nullopt, pdf),
             folderThere);
    QVERIFY(QFile::exists(p.Folder() + "/帳票/指導指示管理-1234.xls"));
    if (!folderThere) {
        QVERIFY(!QFile::exists(pdf));
        QVERIFY2(p.prompter.Texts().join(u'|').contains(QStringLiteral("PDF を保存できません")),
                 qPrintable(p.prompter.Texts().join(u'|')));
        return;
    }
    QCOMPARE(pdf, p.Folder() + "/帳票/指導指示管理-1234.pdf");
    const QByteArray bytes = ReadBytes(pdf);
    QVERIFY(bytes.startsWith("%PDF"));
    static const QRegularExpression kPage(QStringLiteral("/Type\\s*/Page(?!s)"));
    QCOMPARE(int(QString::fromLatin1(bytes).count(kPage)), pages);
    QCOMPARE(QFile::permissions(pdf) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
}

void TstReport::batchPdf() {
    TestDbProgram p;
    Install(p);
    p.AddMemo(1, 12345, "2024-04-01", "first");
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CACHE_HOME", officeHome_.path() + "/batch-cache");
    env.remove("DISPLAY");
    tool.setProcessEnvironment(env);
    const QString pdf = p.Root() + "/out.pdf";
    tool.start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/../../tools/ondrel-report",
               {"--folder", p.Folder(), "--chart", "12345", "--category", "1", "--pdf", pdf});
    QVERIFY(tool.waitForFinished(120000));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
             (QStringList{p.Folder() + "/帳票/指導指示管理-1234.xls", pdf}));
    QVERIFY(ReadBytes(pdf).startsWith("%PDF"));
}

void TstReport::printedPages_data() {
    QTest::addColumn<QString>("memo");
    QTest::addColumn<int>("pages");
    QTest::newRow("one line") << "塩分を控えめに。" << 1;
    QString thirty;
    for (int i = 1; i <= 30; ++i) thirty += QStringLiteral("%1 行目の指導内容\n").arg(i);
    QTest::newRow("thirty lines") << thirty << 1;
    QString lines120;
    for (int i = 1; i <= 120; ++i) lines120 += QStringLiteral("%1 行目の指導内容\n").arg(i);
    QTest::newRow("120 lines: three pages, nothing cut") << lines120 << 3;
}

void TstReport::printedPages() {
    QFETCH(QString, memo);
    QFETCH(int, pages);
    TestProgram p;
    Install(p);
    Report(p, "1234", "山田　太郎", "栄養指導", "2024/04/01", memo);
    auto doc = office_->LoadForReading(p.Folder() + "/帳票/指導指示管理-1234.xls");
    QCOMPARE(doc->RepeatedRows(), std::make_pair(1, 4));
    const QString pdf = p.Root() + "/report.pdf";
    doc->ExportPdf(pdf);
    doc->Close();
    // Each page object of the PDF carries "/Type /Page" (the tree "/Type /Pages").
    const QByteArray bytes = ReadBytes(pdf);
    static const QRegularExpression kPage(QStringLiteral("/Type\\s*/Page(?!s)"));
    QCOMPARE(int(QString::fromLatin1(bytes).count(kPage)), pages);
    // Nothing of a long memo is cut off: the memo area holds all its lines,
    // one a row, so page breaks fall between lines.
    if (pages > 1) {
        auto reread = office_->LoadForReading(p.Folder() + "/帳票/指導指示管理-1234.xls");
        QVERIFY(reread->ExtendMergedRows(6, 1, 0) >= memo.count(u'\n'));
        reread->Close();
    }
    // The lines are printed 11 pt apart, the height of a memo row: rows and
    // lines coincide, so no page break can cut a line in two.
    if (pages > 1) {
        QProcess text;
        text.start("pdftotext", {"-bbox", "-f", "1", "-l", "1", pdf, "-"});
        QVERIFY(text.waitForFinished(30000));
        static const QRegularExpression kLine(
            QStringLiteral("yMin=\"([0-9.]+)\"[^>]*>[0-9]+</word>\\s*<word[^>]*>行目"));
        std::vector<double> tops;
        for (const auto& m : kLine.globalMatch(QString::fromUtf8(text.readAllStandardOutput())))
            tops.push_back(m.captured(1).toDouble());
        QVERIFY(tops.size() > 10);
        // Each step within the office's rounding, and no drift over the page.
        for (size_t i = 1; i < tops.size(); ++i)
            QVERIFY2(std::abs(tops[i] - tops[i - 1] - 11.0) < 0.2, qPrintable(QString::number(i)));
        QVERIFY(std::abs((tops.back() - tops.front()) / double(tops.size() - 1) - 11.0) < 0.02);
    }
}

void TstReport::printsOnAPrinter_data() {
    QTest::addColumn<QString>("printer");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<QString>("told");
    QTest::newRow("the default") << "" << false << "";
    QTest::newRow("chosen by name") << "ondrel-test" << false << "";
    QTest::newRow("no such printer") << "ondrel-none" << false << "見つかりません";
    QTest::newRow("paused") << "ondrel-test" << true << "停止しています";
}

void TstReport::printsOnAPrinter() {
    QFETCH(QString, printer);
    QFETCH(bool, paused);
    QFETCH(QString, told);
    if (printerDir_.isEmpty()) QSKIP("no print service started (cupsd)");
    TestProgram p;
    Install(p);
    if (paused) QCOMPARE(CupsCommand("cupsdisable", {"ondrel-test"}), 0);
    const QString before = Printed(printerOut_);
    const bool sent = Rtn_GuidancePrint(
        *p.ctx, *office_, ReportInfo{"1234", "山田　太郎", "栄養指導", "2024/04/01", "一行の指導"},
        std::nullopt, printer);
    if (paused) QCOMPARE(CupsCommand("cupsenable", {"ondrel-test"}), 0);
    // The workbook is saved whatever became of the printing.
    QVERIFY(QFileInfo::exists(p.Folder() + "/帳票/指導指示管理-1234.xls"));
    QCOMPARE(sent, told.isEmpty());
    if (!told.isEmpty()) {
        QCOMPARE(p.prompter.Texts().size(), 1);
        QVERIFY2(p.prompter.Texts().first().contains(told), qPrintable(p.prompter.Texts().first()));
        QVERIFY(p.prompter.Texts().first().contains("帳票のファイルは保存してあります"));
        return;
    }
    QVERIFY(p.prompter.Texts().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(Printed(printerOut_) != before, 30000);
    const QByteArray job = ReadBytes(Printed(printerOut_));
    qInfo("the printer got %lld bytes, %s", job.size(), job.left(8).constData());
    // One page, whichever language the office spoke to the printer.
    if (job.startsWith("%PDF")) {
        static const QRegularExpression kPage(QStringLiteral("/Type\\s*/Page(?!s)"));
        QCOMPARE(int(QString::fromLatin1(job).count(kPage)), 1);
        QProcess text;
        text.start("pdftotext", {Printed(printerOut_), "-"});
        QVERIFY(text.waitForFinished(30000));
        const QString read = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(read.contains("山田") && read.contains("一行の指導"), qPrintable(read));
    } else {
        QVERIFY2(job.startsWith("%!PS"), job.left(40).constData());
        QCOMPARE(int(job.count("%%Page:")), 1);
    }
}

QTEST_GUILESS_MAIN(TstReport)
#include "tst_report.moc"

void TstReport::batchCommand_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("cells");  // sheet, C2, A4, A6
    QTest::newRow("latest memo") << QStringList{"--chart", "12345", "--category", "1"} << 0
                                 << QStringList{"所見補助２", "令和6年4月2日",
                                                "1234\u3000\u3000山田　太郎", "second"};
    QTest::newRow("memo of a day")
        << QStringList{"--chart", "12345", "--category", "1", "--date", "2024/04/01"} << 0
        << QStringList{"所見補助２", "令和6年4月1日", "1234\u3000\u3000山田　太郎", "first\nline"};
    QTest::newRow("range") << QStringList{"--chart", "12345",      "--category", "1",
                                          "--from",  "2024/04/01", "--to",       "2024/04/01"}
                           << 0
                           << QStringList{"所見補助２", "令和6年4月1日 ～ 令和6年4月1日",
                                          "1234\u3000\u3000山田　太郎",
                                          "●2024/04/01 (月)\nfirst\nline\n\n"};
    QTest::newRow("not registered")
        << QStringList{"--chart", "99999", "--category", "1"} << 1 << QStringList{};
    QTest::newRow("no memo that day")
        << QStringList{"--chart", "12345", "--category", "1", "--date", "2020/01/01"} << 1
        << QStringList{};
    QTest::newRow("usage") << QStringList{"--chart", "12345", "--category", "9"} << 2
                           << QStringList{};
}

void TstReport::batchCommand() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, cells);
    TestDbProgram p;
    Install(p);
    p.AddMemo(1, 12345, "2024-04-01", "first\r\nline");
    p.AddMemo(1, 12345, "2024-04-02", "second");
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CACHE_HOME", officeHome_.path() + "/batch-cache");  // an office of its own
    env.remove("DISPLAY");
    tool.setProcessEnvironment(env);
    tool.start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/../../tools/ondrel-report",
               QStringList{"--folder", p.Folder()} + args);
    QVERIFY(tool.waitForFinished(120000));
    if (tool.exitCode() != exitCode) qWarning() << tool.readAllStandardError();
    QCOMPARE(tool.exitCode(), exitCode);
    const QString out = p.Folder() + "/帳票/指導指示管理-1234.xls";
    if (exitCode != 0) {
        QVERIFY(!QFile::exists(out));
        QVERIFY(!tool.readAllStandardError().isEmpty());
        return;
    }
    QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()).trimmed(), out);
    const Workbook w = Read(out);
    QCOMPARE((QStringList{w.sheet, w.c2, w.a4, w.a6}), cells);
}
