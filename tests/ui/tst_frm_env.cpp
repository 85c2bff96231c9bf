#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "core/ini_file.h"
#include "ui/settings/frm_env.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstFrmEnv : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void display_data();
    void display();
    void saveAsksThenStoresNamesAsTyped_data();
    void saveAsksThenStoresNamesAsTyped();
    void nameLength();
    void topmostClickWritesAndEnds_data();
    void topmostClickWritesAndEnds();
    void tabOrderAndEnter();
    void mainWindowRebuildsTabs();
};

void TstFrmEnv::display_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<bool>>("checks");  // 1..6
    QTest::newRow("empty table") << "Delete From tblMasSystemA"
                                 << QStringList{"", "", "", "", "", "", ""}
                                 << QList<bool>{false, false, false, false, false, false};
    QTest::newRow("flags 1, 0, NULL, x, integer 1")
        << "Update tblMasSystemA Set Name02 = NULL, Check02 = '1', Check03 = '0', Check04 = NULL, "
           "Check05 = 'x', "
           "Check06 = 1, Check07 = '1 '"
        << QStringList{"所見補助１", "",           "所見補助３", "所見補助４",
                       "所見補助５", "所見補助６", "所見補助７"}
        << QList<bool>{true, false, false, false, true, false};
}

void TstFrmEnv::display() {
    QFETCH(QString, sql);
    QFETCH(QStringList, names);
    QFETCH(QList<bool>, checks);
    WindowFixture f;
    f.Exec(sql);
    FrmEnv d(*f.ctx);
    d.Form_Load();
    for (int i = 0; i < 7; ++i) QCOMPARE(Ctl<QLineEdit>(d, "txtData", i)->text(), names[i]);
    QVERIFY(Ctl<QCheckBox>(d, "chkData", 0)->isChecked() &&
            !Ctl<QCheckBox>(d, "chkData", 0)->isEnabled());
    for (int i = 1; i < 7; ++i)
        QCOMPARE(Ctl<QCheckBox>(d, "chkData", i)->isChecked(), checks[i - 1]);
}

void TstFrmEnv::saveAsksThenStoresNamesAsTyped_data() {
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("written");
    QTest::newRow("Yes") << QStringList{} << QList<bool>{true} << true << true;
    QTest::newRow("No") << QStringList{} << QList<bool>{false} << true << false;
    QTest::newRow("MessageFlg1 1")
        << QStringList{"MessageFlg1=1"} << QList<bool>{} << false << true;
}

void TstFrmEnv::saveAsksThenStoresNamesAsTyped() {
    QFETCH(QStringList, keys);
    QFETCH(QList<bool>, answers);
    QFETCH(bool, asked);
    QFETCH(bool, written);
    WindowFixture f;
    f.SetIni(keys);
    FrmEnv d(*f.ctx);
    d.Form_Load();
    d.show();
    const QString apostrophe = QStringLiteral("O'Brien's 指導");
    const QString full =
        QString(14, u'漢') + QStringLiteral("😀");  // 15 characters, 16 UTF-16 units
    Ctl<QLineEdit>(d, "txtData", 0)->setText(apostrophe);
    Ctl<QLineEdit>(d, "txtData", 1)->setText(full);
    Ctl<QLineEdit>(d, "txtData", 2)->clear();
    Ctl<QCheckBox>(d, "chkData", 3)->setChecked(false);
    for (bool a : answers) f.prompter.Answer({a});
    Ctl<QPushButton>(d, "cmdProcess", 0)->click();
    QVERIFY(!d.isVisible());  // closes whatever the answer
    QCOMPARE(f.prompter.shown.size(), size_t(asked ? 1 : 0));
    if (asked)
        QCOMPARE(f.prompter.Texts()[0], QStringLiteral("データを保存します。よろしいですか。"));
    QCOMPARE(f.Scalar("Select Name01 From tblMasSystemA").toString(),
             written ? apostrophe : QStringLiteral("所見補助１"));
    QCOMPARE(f.Scalar("Select Name02 From tblMasSystemA").toString(),
             written ? full : QStringLiteral("所見補助２"));
    QCOMPARE(f.Scalar("Select Name03 From tblMasSystemA").isNull(), written);
    QCOMPARE(f.Scalar("Select Check04 From tblMasSystemA").toString(),
             written ? QStringLiteral("0") : QStringLiteral("1"));
    QCOMPARE(f.Scalar("Select Check02 From tblMasSystemA").toString(), QStringLiteral("1"));
    // Closing wrote the dialog's placement.
    QCOMPARE(ReadIniString(f.IniPath(), "frmEnv", "WindowState"), QStringLiteral("0"));
}

void TstFrmEnv::nameLength() {
    WindowFixture f;
    FrmEnv d(*f.ctx);
    d.Form_Load();
    d.show();
    QLineEdit* box = Ctl<QLineEdit>(d, "txtData", 4);
    box->clear();
    box->setFocus();
    QTest::keyClicks(box, "abcdefghijklmnopq");  // 17 keys
    QCOMPARE(box->text(), QStringLiteral("abcdefghijklmno"));
    // A paste in the middle keeps what fits of it and the whole rest of the name.
    box->setText(QStringLiteral("一二三四五六七八九十"));
    box->setCursorPosition(2);
    QGuiApplication::clipboard()->setText(QStringLiteral("😀ABCDEFGH"));
    box->paste();
    QCOMPARE(box->text(), QStringLiteral("一二😀ABCD三四五六七八九十"));
    QCOMPARE(CharacterCount(box->text()), 15);
    QCOMPARE(box->cursorPosition(), 2 + 2 + 4);
}

void TstFrmEnv::topmostClickWritesAndEnds_data() {
    QTest::addColumn<QString>("windowTop");
    QTest::addColumn<bool>("shownChecked");
    QTest::addColumn<QString>("written");
    QTest::newRow("0 → 1") << "0" << false << "1";
    QTest::newRow("1 → 0") << "1" << true << "0";
    QTest::newRow("2 shows clear, → 1") << "2" << false << "1";
}

void TstFrmEnv::topmostClickWritesAndEnds() {
    QFETCH(QString, windowTop);
    QFETCH(bool, shownChecked);
    QFETCH(QString, written);
    WindowFixture f;
    f.SetIni({"WindowTop=" + windowTop});
    FrmEnv d(*f.ctx);
    d.Form_Load();  // setting the box while loading ends nothing
    d.show();
    QCOMPARE(Ctl<QCheckBox>(d, "chkWindowTop")->isChecked(), shownChecked);
    QCOMPARE(d.windowFlags().testFlag(Qt::WindowStaysOnTopHint), windowTop == u"1");
    Ctl<QLineEdit>(d, "txtData", 0)->setText(QStringLiteral("typed, not saved"));
    try {
        QTest::mouseClick(Ctl<QCheckBox>(d, "chkWindowTop"), Qt::LeftButton, {},
                          QPoint(8, Ctl<QCheckBox>(d, "chkWindowTop")->height() / 2));
        QFAIL("the program did not end");
    } catch (const ProgramEnded& e) {
        QCOMPARE(e.status, 0);
    }
    QCOMPARE(ReadIniString(f.IniPath(), "System", "WindowTop"), written);
    QCOMPARE(f.prompter.Texts(), QStringList{"システムを終了しますので立ち上げ直して下さい。"});
    QCOMPARE(f.prompter.shown[0].kind, Shown::Information);
    QCOMPARE(ReadIniString(f.IniPath(), "frmEnv", "WindowState"),
             QString());  // no placement written
    QCOMPARE(f.Scalar("Select Name01 From tblMasSystemA").toString(), QStringLiteral("所見補助１"));
}

void TstFrmEnv::tabOrderAndEnter() {
    WindowFixture f;
    FrmEnv d(*f.ctx);
    d.Form_Load();
    d.show();
    d.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    Ctl<QLineEdit>(d, "txtData", 0)->setFocus();
    QList<QWidget*> order;
    for (int i = 0; i < 7; ++i) order << Ctl<QLineEdit>(d, "txtData", i);
    for (int i = 1; i < 7; ++i) order << Ctl<QCheckBox>(d, "chkData", i);
    order << Ctl<QPushButton>(d, "cmdProcess", 1) << Ctl<QPushButton>(d, "cmdProcess", 0)
          << Ctl<QCheckBox>(d, "chkWindowTop") << Ctl<QLineEdit>(d, "txtData", 0);
    for (int k = 1; k < order.size(); ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), order[k]);
    }
    QVERIFY(f.prompter.shown.empty());  // Enter on 保存 only moved on
}

void TstFrmEnv::mainWindowRebuildsTabs() {
    WindowFixture f;
    f.SetIni({"MessageFlg1=1"});
    f.Open();
    auto& w = *f.window;
    w.openSettings = [&](FrmOndrel& main) {
        FrmEnv d(*f.ctx, &main);
        d.Form_Load();
        Ctl<QLineEdit>(d, "txtData", 2)->setText(QStringLiteral("栄養指導"));
        Ctl<QCheckBox>(d, "chkData", 5)->setChecked(false);
        Ctl<QPushButton>(d, "cmdProcess", 0)->click();
    };
    Ctl<QPushButton>(w, "cmdProcess", 7)->click();
    QCOMPARE(Ctl<QTabWidget>(w, "tabMain")->tabText(2), QStringLiteral("栄養指導"));
    QVERIFY(!Ctl<QTabWidget>(w, "tabMain")->isTabEnabled(5));
    QVERIFY(Ctl<QTabWidget>(w, "tabMain")->isTabEnabled(4));
}

QTEST_MAIN(TstFrmEnv)
#include "tst_frm_env.moc"
