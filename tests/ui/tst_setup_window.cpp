// The first start of an installed program: the set-up dialog in front of the
// described start, on a program folder that holds no Ondrel.ini.
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "admin/db_tool.h"
#include "app/start_program.h"
#include "core/ini_file.h"
#include "core/startup.h"
#include "data/session.h"
#include "gui/gui_setup.h"
#include "test_db.h"
#include "ui/main/frm_ondrel.h"
#include "ui/setup/frm_setup.h"

using namespace ondrel;
using namespace ondrel::test;

class TstSetupWindow : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void cancelWritesNothing();
    void demonstrationStartsTheWindow();
    void settingsWithoutTheirDatabaseKeepTheMessage();
    void serverIsTestedBeforeItIsTaken();
};

namespace {

QString Template() { return QFileInfo(QStringLiteral(ONDREL_TEMPLATE)).absolutePath(); }

// Starts the program as main does, the set-up dialog answered by `answer`.
std::unique_ptr<FrmOndrel> Start(TestProgram& p, const std::function<bool(FrmSetup&)>& answer,
                                 int* asked = nullptr) {
    SingleInstance instance(p.Folder() + QStringLiteral("/ondrel"));
    return StartProgram(*p.ctx, {}, instance, OfficeConfig::For(p.Folder()), [&] {
        if (asked) ++*asked;
        FrmSetup dialog(*p.ctx, Template());
        return answer(dialog);
    });
}

}  // namespace

void TstSetupWindow::cancelWritesNothing() {
    TestProgram p;
    const QStringList before = TreeListing(p.Root());
    auto w = Start(p, [](FrmSetup& d) {
        d.optKind[3]->click();
        d.txtTitle->setText(QStringLiteral("山田医院"));
        d.cmdCancel->click();
        return d.result() == QDialog::Accepted;
    });
    QVERIFY(!w);
    QVERIFY(p.prompter.shown.empty());
    QCOMPARE(TreeListing(p.Root()), before);
}

void TstSetupWindow::demonstrationStartsTheWindow() {
    TestProgram p;
    int asked = 0;
    bool pathBoxOff = false;
    auto w = Start(
        p,
        [&](FrmSetup& d) {
            d.optKind[3]->click();
            pathBoxOff = !d.txtNewDb->isEnabled();
            d.txtTitle->setText(QStringLiteral("山田医院"));
            d.grab().save(qEnvironmentVariable("ONDREL_TEST_BIN") + "/setup-dialog.png");
            d.cmdOK->click();
            return d.result() == QDialog::Accepted;
        },
        &asked);
    QVERIFY(w);
    QCOMPARE(asked, 1);
    QVERIFY(pathBoxOff);
    // Started from the menu, with no chart number, as the link bar never did.
    QCOMPARE(p.prompter.Texts(), QStringList(QStringLiteral("カルテ番号0は登録されていません。")));
    QCOMPARE(w->windowTitle(), QStringLiteral("山田医院"));
    QCOMPARE(ReadIniString(p.IniPath(), "System", "SystemDB"),
             p.Folder() + QStringLiteral("/ondrel-demo.db"));
    QVERIFY(QFileInfo(p.Folder() + QStringLiteral("/Template/指導指示管理.xls")).isFile());
    QVERIFY(QFileInfo(p.Folder() + QStringLiteral("/帳票")).isDir());
    w->close();
    w.reset();
    // The second start finds its settings and asks nothing.
    auto again = Start(
        p, [&](FrmSetup&) { return false; }, &asked);
    QVERIFY(again);
    QCOMPARE(asked, 1);
}

void TstSetupWindow::settingsWithoutTheirDatabaseKeepTheMessage() {
    TestProgram p;
    p.WriteIniText({"[System]", "Title=T", "SystemDB=" + p.Root() + "/gone.db"});
    int asked = 0;
    auto w = Start(
        p, [](FrmSetup&) { return true; }, &asked);
    QVERIFY(!w);
    QCOMPARE(asked, 0);
    QCOMPARE(p.prompter.Texts(),
             QStringList(QStringLiteral("システムデータベースが見つかりません。\r\n"
                                        "先にzevシステムバーから環境設定を行って下さい。")));
}

// Nothing listens, then a server database without the tables, then one made
// by ondrel-db init: only the last is taken, and only then is anything written.
void TstSetupWindow::serverIsTestedBeforeItIsTaken() {
    if (!OnServer()) QSKIP("needs the test server (the _pg run)");
    TestProgram p;
    const QString empty = NewServerDatabase();
    const QString ready = NewServerDatabase();
    QVERIFY(tool::InitDatabase(ready).isEmpty());
    const QStringList before = TreeListing(p.Root());
    QStringList warnings;
    bool untouched = true;
    auto w = Start(p, [&](FrmSetup& d) {
        d.optKind[1]->click();
        for (const QString& uri :
             {QStringLiteral("postgresql://clinic@127.0.0.1:1/ondrel"), empty}) {
            d.txtServer->setText(uri);
            d.cmdOK->click();
            if (d.result() == QDialog::Accepted) return true;
            warnings << p.prompter.shown.back().text;
            untouched = untouched && TreeListing(p.Root()) == before;
        }
        d.txtServer->setText(ready);
        d.cmdOK->click();
        return d.result() == QDialog::Accepted;
    });
    QCOMPARE(warnings.size(), 2);
    QVERIFY(untouched);
    QVERIFY2(warnings[0].contains(QStringLiteral("接続できません")), qPrintable(warnings[0]));
    QVERIFY2(warnings[1].contains(QStringLiteral("システムデータベースがありません")),
             qPrintable(warnings[1]));
    QVERIFY(w);
    QCOMPARE(ReadIniString(p.IniPath(), "System", "SystemDB"), ready);
    w->close();
    w.reset();
    Session(*p.ctx).CloseKept();
    DropServerDatabase(empty);
    DropServerDatabase(ready);
}

QTEST_MAIN(TstSetupWindow)
#include "tst_setup_window.moc"
