#include <QtTest>

#include "admin/db_tool.h"
#include "core/ini_file.h"
#include "core/link_file.h"
#include "core/program_folder.h"
#include "setup/first_start.h"
#include "test_support.h"

using namespace ondrel;
using namespace ondrel::test;

class TstFirstStart : public QObject {
    Q_OBJECT
  private slots:
    void programFolder_data();
    void programFolder();
    void setUp_data();
    void setUp();
};

// Where the window and ondrel-link look for Ondrel.ini, for the layouts a
// clinic has: a program folder as always, an unpacked folder without
// settings yet, and a system installation (bin/ or lib/ondrel/ under the
// prefix that holds share/ondrel/).
void TstFirstStart::programFolder_data() {
    QTest::addColumn<QString>("layout");  // folder | unpacked | installed | private
    QTest::addColumn<QString>("ondrelHome");
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QString>("expected");  // relative to the temporary root
    QTest::newRow("program folder with its settings") << "folder"
                                                      << ""
                                                      << ""
                                                      << "/bin";
    QTest::newRow("unpacked, writable, no settings yet") << "unpacked"
                                                         << ""
                                                         << ""
                                                         << "/bin";
    QTest::newRow("installed: XDG data folder") << "installed"
                                                << ""
                                                << "/data"
                                                << "/data/ondrel";
    QTest::newRow("installed: ONDREL_HOME") << "installed"
                                            << "/clinic"
                                            << "/data"
                                            << "/clinic";
    QTest::newRow("installed: no XDG, home") << "installed"
                                             << ""
                                             << ""
                                             << "/home/.local/share/ondrel";
    QTest::newRow("installed: relative XDG ignored") << "installed"
                                                     << ""
                                                     << "relative"
                                                     << "/home/.local/share/ondrel";
}

void TstFirstStart::programFolder() {
    QFETCH(QString, layout);
    QFETCH(QString, ondrelHome);
    QFETCH(QString, xdg);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QString bin = root + (layout == u"private" ? "/lib/ondrel" : "/bin");
    QDir().mkpath(bin);
    // Settings beside the program win even in an installed layout.
    if (layout != u"unpacked") QDir(root).mkpath(QStringLiteral("share/ondrel/Template"));
    if (layout == u"folder") WriteBytes(root + QStringLiteral("/bin/Ondrel.ini"), "[System]\r\n");
    FolderEnvironment env{ondrelHome.isEmpty() ? QString() : root + ondrelHome,
                          xdg.isEmpty() || !xdg.startsWith(u'/') ? xdg : root + xdg,
                          root + QStringLiteral("/home")};
    QCOMPARE(ProgramFolderFor(bin, env), root + expected);
    QCOMPARE(ShippedTemplateFolder(bin), layout == u"unpacked"
                                             ? bin + QStringLiteral("/Template")
                                             : root + QStringLiteral("/share/ondrel/Template"));
    QCOMPARE(LinkFolderFor(root + expected),
             QFileInfo(root + expected).path() + QStringLiteral("/1-99リンクバーZEV"));
}

// The set-up's choices; a refusal leaves the folder exactly as it was.
void TstFirstStart::setUp_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("database");  // %1: the temporary root
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("withTemplate");
    QTest::addColumn<QString>("refusal");  // part of the message; empty: set up
    using K = SetupChoice::Kind;
    QTest::newRow("new file, default place") << int(K::NewFile) << "%1/home/ondrel/ondrel.db"
                                             << "山田医院" << true << "";
    QTest::newRow("new file in a folder not made yet")
        << int(K::NewFile) << "%1/data/clinic/memos.db"
        << "髙橋クリニック" << true << "";
    QTest::newRow("demonstration data") << int(K::Demo) << ""
                                        << "指導指示管理" << true << "";
    QTest::newRow("existing system database") << int(K::ExistingFile) << "%1/old.db"
                                              << "指導指示管理" << true << "";
    QTest::newRow("existing file that is no system database")
        << int(K::ExistingFile) << "%1/other.db"
        << "T" << true << "システムデータベースではありません";
    QTest::newRow("existing file missing") << int(K::ExistingFile) << "%1/none.db"
                                           << "T" << true << "ファイルがありません";
    QTest::newRow("new file where one already is") << int(K::NewFile) << "%1/old.db"
                                                   << "T" << true << "既にあります";
    QTest::newRow("no title") << int(K::Demo) << ""
                              << "  " << true << "タイトル";
    QTest::newRow("title not writable in the settings file") << int(K::Demo) << ""
                                                             << "医院😀" << true << "書けない文字";
    QTest::newRow("server without a URI") << int(K::Server) << "clinic-server/ondrel"
                                          << "T" << true << "postgresql://";
    QTest::newRow("template missing") << int(K::Demo) << ""
                                      << "T" << false << "ひな形";
}

void TstFirstStart::setUp() {
    QFETCH(int, kind);
    QFETCH(QString, database);
    QFETCH(QString, title);
    QFETCH(bool, withTemplate);
    QFETCH(QString, refusal);
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QString folder = root + QStringLiteral("/home/ondrel");
    const QString shipped = root + QStringLiteral("/share/ondrel/Template");
    QDir(root).mkpath(QStringLiteral("share/ondrel/Template"));
    if (withTemplate) WriteBytes(shipped + QStringLiteral("/指導指示管理.xls"), "template bytes");
    QVERIFY(tool::InitDatabase(root + QStringLiteral("/old.db")).isEmpty());
    WriteBytes(root + QStringLiteral("/other.db"), "not a database");
    const QStringList before = TreeListing(root);

    SetupChoice choice{SetupChoice::Kind(kind), database.arg(root), title};
    const QString error = ApplyFirstSetup(folder, shipped, choice, QDate(2026, 12, 10));
    if (!refusal.isEmpty()) {
        QVERIFY2(error.contains(refusal), qPrintable(error));
        QCOMPARE(TreeListing(root), before);
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString ini = folder + QStringLiteral("/Ondrel.ini");
    // Code page 932 with CR LF, as the clinic's other programs read it.
    const QByteArray bytes = ReadBytes(ini);
    QVERIFY(bytes.startsWith(ToCp932(QStringLiteral("[System]\r\nTitle=") + title + "\r\n")));
    QCOMPARE(ReadIniString(ini, QStringLiteral("System"), QStringLiteral("Title")), title);
    const QString db = ReadIniString(ini, QStringLiteral("System"), QStringLiteral("SystemDB"));
    QCOMPARE(db, kind == int(SetupChoice::Kind::Demo) ? DemoDatabase(folder) : database.arg(root));
    QVERIFY2(tool::SystemDatabaseFileProblem(db).isEmpty(), qPrintable(db));
    QCOMPARE(ReadBytes(folder + QStringLiteral("/Template/指導指示管理.xls")),
             QByteArray("template bytes"));
    QVERIFY(QFileInfo(folder + QStringLiteral("/帳票")).isDir());
    QVERIFY(QFileInfo(root + QStringLiteral("/home/1-99リンクバーZEV")).isDir());
    if (kind == int(SetupChoice::Kind::Demo)) {
        QStringList findings;
        qint64 checked = 0;
        QVERIFY(tool::VerifyDatabase(db, &findings, &checked).isEmpty());
        QVERIFY(checked > 0);
    }
}

QTEST_GUILESS_MAIN(TstFirstStart)
#include "tst_first_start.moc"
