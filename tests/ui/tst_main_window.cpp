#include <QAccessible>
#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>

#include "core/ini_file.h"
#include "gui/twips.h"
#include "gui/window_placement.h"
#include "ui/main/date_list_grid.h"
#include "ui/main/main_layout.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstMainWindow : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void opening_data();
    void opening();
    void unregisteredStartLoadsNothing();
    void pageOrder_data();
    void pageOrder();
    void tabSetup_data();
    void tabSetup();
    void geometryAt96Dpi();
    void scrollRange_data();
    void scrollRange();
    void resizeShowsScrollStrip();
    void closing();
    void chartNumber_data();
    void chartNumber();
    void linkPoll_data();
    void linkPoll();
    void linkPollWaitsForOpenBox();
    void placement_data();
    void placement();
    void enterKey();
    void accessibleDescriptions();
};

void TstMainWindow::opening_data() {
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("tab");
    QTest::addColumn<bool>("boxShown");
    QTest::addColumn<bool>("printFlg");
    QTest::newRow("defaults") << QStringList{} << 0 << false << false;
    QTest::newRow("DefaultTab 3, box offered, PrintFlg 1")
        << QStringList{"DefaultTab=3", "KarteNoInput=1", "PrintFlg=1"} << 3 << true << true;
    QTest::newRow("DefaultTab 9 opens tab 0, PrintFlg 2 clear")
        << QStringList{"DefaultTab=9", "PrintFlg=2"} << 0 << false << false;
    QTest::newRow("DefaultTab -1") << QStringList{"DefaultTab=-1"} << 0 << false << false;
}

void TstMainWindow::opening() {
    QFETCH(QStringList, keys);
    QFETCH(int, tab);
    QFETCH(bool, boxShown);
    QFETCH(bool, printFlg);
    WindowFixture f;
    f.SetIni(keys);
    f.AddMemo(3, 12345, "2024-04-01", "tab three");
    f.AddMemo(0, 12345, "2024-04-02", "tab zero");
    f.Open();
    auto& w = *f.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("指導指示管理"));
    // To a screen reader: a window with the clinic's title.
    QAccessibleInterface* seen = QAccessible::queryAccessibleInterface(&w);
    QVERIFY(seen);
    QCOMPARE(seen->role(), QAccessible::Window);
    QCOMPARE(seen->text(QAccessible::Name), QStringLiteral("指導指示管理"));
    QCOMPARE(w.CurrentTab(), tab);
    QCOMPARE(w.LoadedCategory(), tab);
    QCOMPARE(Ctl<QCheckBox>(w, "chkPrintFlg")->isChecked(), printFlg);
    QCOMPARE(Ctl<QLineEdit>(w, "txtPersonalID")->isVisible(), boxShown);
    QCOMPARE(Ctl<QFrame>(w, "shpHeader", 0)->isVisible(), boxShown);
    QCOMPARE(Ctl<QLabel>(w, "lblInfo", 0)->isVisible(), !boxShown);
    QCOMPARE(Ctl<QLabel>(w, "lblInfo", 0)->text(), QStringLiteral("1234"));
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", tab)->toPlainText(),
             tab == 3 ? QStringLiteral("tab three") : QStringLiteral("tab zero"));
    QVERIFY(Ctl<QWidget>(w, "picGroup", tab)->isVisible());
    QVERIFY(Ctl<QPlainTextEdit>(w, "txtPast", tab)
                ->toPlainText()
                .startsWith(QStringLiteral("●2024/04/0")));
    QVERIFY(Ctl<QTimer>(w, "timTimer")->isActive());
    QVERIFY(f.prompter.shown.empty());
}

// The date lists and histories of the pages not on show are built after the
// first paint: each page still reads, draws and tabs as designed.
void TstMainWindow::pageOrder_data() {
    QTest::addColumn<int>("defaultTab");
    QTest::addColumn<int>("page");
    QTest::newRow("page shown at the start") << 0 << 0;
    QTest::newRow("page switched to while opening") << 3 << 3;
    QTest::newRow("page built after the first paint") << 0 << 3;
}

void TstMainWindow::pageOrder() {
    QFETCH(int, defaultTab);
    QFETCH(int, page);
    WindowFixture f;
    f.SetIni({QStringLiteral("DefaultTab=%1").arg(defaultTab)});
    f.AddMemo(page, 12345, "2024-04-01", "older");
    f.AddMemo(page, 12345, "2024-04-02", "newer");
    f.Open();
    auto& w = *f.window;
    const QStringList designed{"grdDateList", "txtPast",  "lblTitle",
                               "dtpCreData",  "lblTitle", "txtLData"};
    for (int c = 0; c < 7; ++c) {
        QStringList names;
        for (QObject* o : Ctl<QWidget>(w, "picGroup", c)->children()) {
            if (o->isWidgetType()) names << o->objectName();
        }
        QCOMPARE(names, designed);
    }
    Ctl<QTabWidget>(w, "tabMain")->setCurrentIndex(page);
    auto* grid = Ctl<DateListGrid>(w, "grdDateList", page);
    auto* past = Ctl<QPlainTextEdit>(w, "txtPast", page);
    QVERIFY(grid->isVisible());
    QVERIFY(past->isVisible());
    QCOMPARE(grid->RowCount(), 2);
    QVERIFY(past->toPlainText().startsWith(QStringLiteral("●2024/04/02")));

    w.activateWindow();
    QApplication::setActiveWindow(&w);
    // Tab inside the date box moves between its fields; the steps around it.
    auto* date = Ctl<QDateEdit>(w, "dtpCreData", page);
    auto* memo = Ctl<QPlainTextEdit>(w, "txtLData", page);
    const std::vector<std::tuple<QWidget*, Qt::Key, QWidget*>> steps{
        {grid, Qt::Key_Tab, past}, {past, Qt::Key_Tab, date}, {memo, Qt::Key_Backtab, date}};
    for (const auto& [from, key, to] : steps) {
        from->setFocus();
        QVERIFY(from->hasFocus());
        QTest::keyClick(from, key);
        QVERIFY2(to->hasFocus(), qPrintable(from->objectName() + " → " + to->objectName()));
    }
}

void TstMainWindow::unregisteredStartLoadsNothing() {
    WindowFixture f;
    f.AddMemo(0, 12345, "2024-04-02", "x");
    f.Open(QStringLiteral("99999"));
    auto& w = *f.window;
    QCOMPARE(f.prompter.Texts(), QStringList{"カルテ番号99999は登録されていません。"});
    QVERIFY(!Ctl<QTabWidget>(w, "tabMain")->isVisible());
    QVERIFY(!Ctl<QWidget>(w, "picButton")->isVisible());
    QVERIFY(!w.ShownKarteNo());
    for (int c = 0; c < 7; ++c) {
        QVERIFY(!w.MainKeyShown(c));
        QCOMPARE(Ctl<DateListGrid>(w, "grdDateList", c)->RowCount(), 0);
        QVERIFY(Ctl<QPlainTextEdit>(w, "txtPast", c)->toPlainText().isEmpty());
    }
}

void TstMainWindow::tabSetup_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QList<bool>>("enabled");  // tabs 1..6
    QTest::addColumn<QString>("caption0");
    QTest::newRow("all in use") << "" << QList<bool>{true, true, true, true, true, true}
                                << "所見補助１";
    QTest::newRow("no master row") << "Delete From tblMasSystemA"
                                   << QList<bool>{false, false, false, false, false, false} << "";
    QTest::newRow("'1 ', '01', NULL and 0")
        << "Update tblMasSystemA Set Name01 = 'O''Brien', Check02 = '1 ', Check03 = '01', Check04 "
           "= NULL, Check05 = 0"
        << QList<bool>{false, false, false, false, true, true} << "O'Brien";
}

void TstMainWindow::tabSetup() {
    QFETCH(QString, sql);
    QFETCH(QList<bool>, enabled);
    QFETCH(QString, caption0);
    WindowFixture f;
    if (!sql.isEmpty()) f.Exec(sql);
    f.Open();
    auto& w = *f.window;
    QVERIFY(Ctl<QTabWidget>(w, "tabMain")->isTabEnabled(0));
    for (int i = 1; i < 7; ++i)
        QCOMPARE(Ctl<QTabWidget>(w, "tabMain")->isTabEnabled(i), enabled[i - 1]);
    QCOMPARE(Ctl<QTabWidget>(w, "tabMain")->tabText(0), caption0);
    QCOMPARE(Ctl<QLabel>(w, "lblTitle", 0)->text(), caption0);
    // After the settings dialog an empty table keeps the availability as it was.
    f.Exec("Delete From tblMasSystemA");
    w.Rtn_TabSet();
    for (int i = 1; i < 7; ++i)
        QCOMPARE(Ctl<QTabWidget>(w, "tabMain")->isTabEnabled(i), enabled[i - 1]);
    QCOMPARE(Ctl<QTabWidget>(w, "tabMain")->tabText(0), QString());
}

void TstMainWindow::geometryAt96Dpi() {
    WindowFixture f;
    f.AddMemo(0, 12345, "2024-04-01", "memo");
    f.Open();
    auto& w = *f.window;
    if (LogicalDpi(&w) != 96) QSKIP("needs 96 DPI");
    auto at = [&](QWidget* c) { return QRect(c->mapTo(&w, QPoint(0, 0)), c->size()); };
    QCOMPARE(w.size(), QSize(1103, 808));  // 16545 × 12120
    QCOMPARE(at(Ctl<QPushButton>(w, "cmdProcess", 6)), QRect(15 + 963, 15, 100, 31));  // 閉じる
    QCOMPARE(at(Ctl<QTabWidget>(w, "tabMain")), QRect(15, 15 + 51, 1070, 673));
    QCOMPARE(at(Ctl<QWidget>(w, "picGroup", 0)).topLeft(), QPoint(15 + 21, 15 + 51 + 51));
    QCOMPARE(Ctl<DateListGrid>(w, "grdDateList", 0)->size(), QSize(163, 601));
    QCOMPARE(at(Ctl<QPlainTextEdit>(w, "txtLData", 0)).topLeft() -
                 at(Ctl<QWidget>(w, "picGroup", 0)).topLeft(),
             QPoint(606, 135));
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->size(), QSize(409, 466));
    QCOMPARE(at(Ctl<QPushButton>(w, "cmdProcess", 4)),
             QRect(15 + 627 + 108, 15 + 102 + 9, 94, 31));                               // 保存
    QCOMPARE(Ctl<DateListGrid>(w, "grdDateList", 0)->horizontalHeader()->height(), 38);  // 567
    QCOMPARE(Ctl<DateListGrid>(w, "grdDateList", 0)->rowHeight(0), 30);                  // 454
    QCOMPARE(Ctl<DateListGrid>(w, "grdDateList", 0)->columnWidth(0), 142);               // 2130
}

void TstMainWindow::scrollRange_data() {
    QTest::addColumn<int>("viewport");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("large");
    QTest::newRow("as designed, 16320") << 16320 << 0 << 36;
    QTest::newRow("equal widths") << 16080 << 0 << 36;
    QTest::newRow("9910") << 9910 << 617 << 617;
    QTest::newRow("5000") << 5000 << 1108 << 369;
    QTest::newRow("16076: maximum rounds to 0") << 16076 << 0 << 36;
    QTest::newRow("16055: 2.5 rounds to even 2") << 16055 << 2 << 2;
}

void TstMainWindow::scrollRange() {
    QFETCH(int, viewport);
    QFETCH(int, maximum);
    QFETCH(int, large);
    const ScrollRange r = Rtn_ScrollRange(viewport, 16080);
    QCOMPARE(r.smallStep, 36);
    QCOMPARE(r.maximum, maximum);
    QCOMPARE(r.largeStep, large);
}

void TstMainWindow::resizeShowsScrollStrip() {
    WindowFixture f;
    f.Open();
    auto& w = *f.window;
    QVERIFY(!Ctl<QWidget>(w, "picScroll")->isVisible());
    QCOMPARE(Ctl<QScrollBar>(w, "hsbScroll")->maximum(), 0);
    const int dpi = LogicalDpi(&w);
    w.resize(TwipsToPixels(10135, dpi), w.height());
    QCoreApplication::processEvents();
    QVERIFY(Ctl<QWidget>(w, "picScroll")->isVisible());
    QCOMPARE(PixelsToTwips(Ctl<QWidget>(w, "picScroll")->width(), dpi),
             10005);  // 10000 at the pixel grid
    QVERIFY(std::abs(Ctl<QScrollBar>(w, "hsbScroll")->maximum() - 617) <= 1);
    Ctl<QScrollBar>(w, "hsbScroll")->setValue(100);
    QCOMPARE(Ctl<QWidget>(w, "picMain", 1)->x(), -TwipsToPixels(1000, dpi));
    // Wider again: the maximum falls to 0 and the content comes back.
    w.resize(TwipsToPixels(16545, dpi), w.height());
    QCoreApplication::processEvents();
    QCOMPARE(Ctl<QWidget>(w, "picMain", 1)->x(), 0);
    QVERIFY(!Ctl<QWidget>(w, "picScroll")->isVisible());
}

void TstMainWindow::closing() {
    WindowFixture f;
    f.SetIni({"DefaultTab=0", "PrintFlg=0"});
    f.Open();
    const QByteArray before = ReadBytes(f.IniPath());
    Ctl<QTabWidget>(*f.window, "tabMain")->setCurrentIndex(2);
    Ctl<QCheckBox>(*f.window, "chkPrintFlg")->setChecked(true);
    f.prompter.Answer({false});
    QVERIFY(!f.window->close());
    QVERIFY(f.window->isVisible());
    QCOMPARE(ReadBytes(f.IniPath()), before);
    QCOMPARE(f.prompter.Texts().back(),
             QStringLiteral("編集したデータは失われます。よろしいですか。"));
    f.prompter.Answer({true});
    QVERIFY(f.window->close());
    const QString ini = f.IniPath();
    QCOMPARE(ReadIniString(ini, "System", "DefaultTab"), QStringLiteral("2"));
    QCOMPARE(ReadIniString(ini, "System", "PrintFlg"), QStringLiteral("1"));
    QCOMPARE(ReadIniString(ini, "frmOndrel", "WindowState"), QStringLiteral("0"));
    QVERIFY(!ReadIniString(ini, "frmOndrel", "WinWidth").isEmpty());
    QVERIFY(ReadBytes(ini).startsWith(before.left(before.indexOf("DefaultTab"))));
    // Switched off: no question at all.
    WindowFixture g;
    g.SetIni({"MessageFlg3=1"});
    g.Open();
    QVERIFY(g.window->close());
    QVERIFY(g.prompter.shown.empty());
}

void TstMainWindow::chartNumber_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("karteNo");  // -1: no patient shown
    QTest::addColumn<QString>("message");
    QTest::newRow("1234-5") << "1234-5"
                            << "1234-5" << 1234 << "";
    QTest::newRow("12345") << "12345"
                           << "1234-5" << 1234 << "";
    QTest::newRow("1-2-3-4-5") << "1-2-3-4-5"
                               << "1234-5" << 1234 << "";
    QTest::newRow(" 12345 with blanks") << " 12345 "
                                        << "1234-5" << 1234 << "";
    QTest::newRow("7") << "7"
                       << "0-7" << 0 << "";
    QTest::newRow("abc") << "abc"
                         << "abc" << -1 << "カルテ番号が不正です。";
    QTest::newRow("empty") << ""
                           << "" << -1 << "カルテ番号が不正です。";
    QTest::newRow("beyond 32 bits") << "9999999999"
                                    << "9999999999" << -1 << "カルテ番号が不正です。";
    QTest::newRow("not registered") << "99999"
                                    << "99999" << -1 << "カルテ番号99999は登録されていません。";
}

void TstMainWindow::chartNumber() {
    QFETCH(QString, typed);
    QFETCH(QString, box);
    QFETCH(int, karteNo);
    QFETCH(QString, message);
    WindowFixture f;
    f.SetIni({"KarteNoInput=1"});
    f.Open(QStringLiteral("12346"));
    auto& w = *f.window;
    Ctl<QLineEdit>(w, "txtPersonalID")->setText(typed);
    Ctl<QLineEdit>(w, "txtPersonalID")->setFocus();
    QTest::keyClick(Ctl<QLineEdit>(w, "txtPersonalID"), Qt::Key_Return);
    QCOMPARE(Ctl<QLineEdit>(w, "txtPersonalID")->text(), box);
    if (karteNo >= 0) {
        QVERIFY(f.prompter.shown.empty());
        QCOMPARE(w.ShownKarteNo()->value, karteNo);
        QCOMPARE(Ctl<QLabel>(w, "lblInfo", 0)->text(), QString::number(karteNo));
        QVERIFY(Ctl<QTabWidget>(w, "tabMain")->isVisible());
        QVERIFY(!Ctl<QLabel>(w, "lblInfo", 2)->text().isEmpty());
    } else {
        QCOMPARE(f.prompter.Texts(), QStringList{message});
        QCOMPARE(f.prompter.shown[0].title, QStringLiteral("指導指示管理"));
        QVERIFY(!w.ShownKarteNo());
        for (int i : {0, 1, 2, 4, 6}) QVERIFY(Ctl<QLabel>(w, "lblInfo", i)->text().isEmpty());
        QVERIFY(!Ctl<QTabWidget>(w, "tabMain")->isVisible());
        QVERIFY(!Ctl<QWidget>(w, "picButton")->isVisible());
    }
}

void TstMainWindow::linkPoll_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("chartAfter");  // -1: no patient
    QTest::addColumn<int>("messages");    // after two polls
    QTest::addColumn<bool>("saved");
    auto link = [](const char* status, const char* k) {
        return ToCp932(QStringLiteral("[Patient.Info]\r\nStatus=%1\r\nKarteNoBranch=%2\r\n")
                           .arg(QString::fromUtf8(status), QString::fromUtf8(k)));
    };
    QTest::newRow("no file") << QByteArray() << 12345 << 0 << false;
    QTest::newRow("status 0") << link("0", "12346") << 12345 << 0 << false;
    QTest::newRow("no status key")
        << QByteArray("[Patient.Info]\r\nKarteNoBranch=12346\r\n") << 12345 << 0 << false;
    QTest::newRow("same patient") << link("1", "12345") << 12345 << 0 << false;
    QTest::newRow("same patient with dash") << link("1", "1234-5") << 12345 << 0 << false;
    QTest::newRow("other patient, saved first") << link("1", "12346") << 12346 << 0 << true;
    QTest::newRow("unregistered, told once") << link("1", "55555") << -1 << 1 << true;
    // Not a chart number: told once, and the patient on screen stays.
    QTest::newRow("garbage, told once")
        << QByteArray("[Patient.Info]\r\nStatus=1\r\nKarteNoBranch=\x82\xff zz\r\n") << 12345 << 1
        << false;
    for (const char* junk : {"-12346", "12346.0", "1-234-6", "1234-6-", "12345678901234567890"})
        QTest::addRow("not a chart number: %s", junk) << link("1", junk) << 12345 << 1 << false;
    QTest::newRow("binary file") << QByteArray("\x00\x01\x02[\xff\xfe", 7) << 12345 << 0 << false;
}

void TstMainWindow::linkPoll() {
    QFETCH(QByteArray, file);
    QFETCH(int, chartAfter);
    QFETCH(int, messages);
    QFETCH(bool, saved);
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "before");
    f.Open();
    auto& w = *f.window;
    Ctl<QPlainTextEdit>(w, "txtLData", 0)
        ->setPlainText(QStringLiteral("edited, not saved by hand"));
    if (!file.isNull()) WriteBytes(f.Root() + "/1-99リンクバーZEV/カルテ番号.ini", file);
    w.Rtn_LinkCheck();
    w.Rtn_LinkCheck();
    QCOMPARE(w.ShownChartNo().value_or(FullChartNo(-1)).value, chartAfter);
    QCOMPARE(int(f.prompter.shown.size()), messages);
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             saved ? QStringLiteral("edited, not saved by hand") : QStringLiteral("before"));
}

void TstMainWindow::linkPollWaitsForOpenBox() {
    WindowFixture f;
    f.Open();
    f.WriteLink("1", "12346");
    f.prompter.showing = true;
    f.window->Rtn_LinkCheck();
    QCOMPARE(f.window->ShownChartNo()->value, 12345);
    f.prompter.showing = false;
    f.window->Rtn_LinkCheck();
    QCOMPARE(f.window->ShownChartNo()->value, 12346);
}

void TstMainWindow::placement_data() {
    QTest::addColumn<QString>("form");
    QTest::addColumn<QStringList>("section");
    QTest::addColumn<QRect>("expected");  // in pixels at 96 DPI; x or y -1: centred
    QTest::addColumn<bool>("maximized");
    QTest::newRow("first start: centred")
        << "frmOndrel" << QStringList{} << QRect(-1, -1, 1103, 808) << false;
    QTest::newRow("saved normal") << "frmOndrel"
                                  << QStringList{"WindowState=0", "WinLeft=1500", "WinTop=3000",
                                                 "WinWidth=12000", "WinHeight=9000"}
                                  << QRect(100, 200, 800, 600) << false;
    QTest::newRow("saved maximised")
        << "frmOndrel"
        << QStringList{"WindowState=2", "WinLeft=0", "WinTop=0", "WinWidth=12000", "WinHeight=9000"}
        << QRect(0, 0, 800, 600) << true;
    QTest::newRow("letters in WinLeft")
        << "frmOndrel" << QStringList{"WindowState=0", "WinLeft=abc", "WinTop=1500"}
        << QRect(-1, 100, 1103, 808) << false;
    QTest::newRow("state not a number")
        << "frmOndrel" << QStringList{"WindowState=x", "WinLeft=150", "WinTop=150"}
        << QRect(10, 10, 1103, 808) << false;
    QTest::newRow("off every screen: centred")
        << "frmOndrel" << QStringList{"WindowState=0", "WinLeft=900000", "WinTop=900000"}
        << QRect(-1, -1, 1103, 808) << false;
    // The test screen is 1920 x 1080; a title bar's height stays free below.
    QTest::newRow("size of memory: the screen's, top-left")
        << "frmOndrel"
        << QStringList{"WindowState=0", "WinLeft=1500", "WinTop=1500", "WinWidth=2147483647",
                       "WinHeight=2147483647"}
        << QRect(0, 0, 1920, 1050) << false;
    QTest::newRow("partly off the right: moved in")
        << "frmOndrel"
        << QStringList{"WindowState=0", "WinLeft=22800", "WinTop=3000", "WinWidth=12000",
                       "WinHeight=9000"}
        << QRect(1120, 200, 800, 600) << false;
    QTest::newRow("dialog keeps its size")
        << "frmPrint"
        << QStringList{"WindowState=0", "WinLeft=1500", "WinTop=1500", "WinWidth=12000",
                       "WinHeight=9000"}
        << QRect(100, 100, 1103, 808) << false;
}

void TstMainWindow::placement() {
    QFETCH(QString, form);
    QFETCH(QStringList, section);
    QFETCH(QRect, expected);
    QFETCH(bool, maximized);
    TestProgram p;
    if (!section.isEmpty()) p.WriteIniText(QStringList{"[" + form + "]"} + section);
    QWidget w;
    w.setObjectName(form);
    w.resize(1103, 808);
    if (LogicalDpi(&w) != 96) QSKIP("needs 96 DPI");
    RestoreWindowPlacement(*p.ctx, w);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(w.size(), expected.size());
    QCOMPARE(w.windowState().testFlag(Qt::WindowMaximized), maximized);
    if (!maximized) {
        auto centred = [](int start, int screen, int window) {
            return start + int(std::nearbyint(screen / 2.0 - window / 2.0));
        };
        QCOMPARE(w.x(),
                 expected.x() >= 0 ? expected.x() : centred(area.x(), area.width(), w.width()));
        QCOMPARE(w.y(),
                 expected.y() >= 0 ? expected.y() : centred(area.y(), area.height(), w.height()));
    }
    // A minimised window writes nothing.
    const QByteArray before = ReadBytes(p.IniPath());
    w.setWindowState(Qt::WindowMinimized);
    SaveWindowPlacement(*p.ctx, w);
    QCOMPARE(ReadBytes(p.IniPath()), before);
}

void TstMainWindow::enterKey() {
    WindowFixture f;
    f.SetIni({"KarteNoInput=1"});
    f.AddMemo(0, 12345, "2024-04-01", "memo");
    f.Open();
    auto& w = *f.window;
    w.activateWindow();
    // In the memo: a line break, the focus stays.
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setFocus();
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->moveCursor(QTextCursor::End);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(), QStringLiteral("memo\n"));
    QCOMPARE(QApplication::focusWidget(), Ctl<QPlainTextEdit>(w, "txtLData", 0));
    // In the history and the date picker: on to the next control.
    const QString history = Ctl<QPlainTextEdit>(w, "txtPast", 0)->toPlainText();
    for (QWidget* from : std::initializer_list<QWidget*>{Ctl<QPlainTextEdit>(w, "txtPast", 0),
                                                         Ctl<QDateEdit>(w, "dtpCreData", 0),
                                                         Ctl<DateListGrid>(w, "grdDateList", 0)}) {
        from->setFocus();
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused, Qt::Key_Return);
        QVERIFY2(QApplication::focusWidget() != focused, qPrintable(from->objectName()));
        QVERIFY(!from->isAncestorOf(QApplication::focusWidget()));
    }
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtPast", 0)->toPlainText(),
             history);  // nothing typed into the history
    // Other keys pass unchanged.
    Ctl<QPlainTextEdit>(w, "txtPast", 0)->setFocus();
    QTest::keyClick(Ctl<QPlainTextEdit>(w, "txtPast", 0), Qt::Key_A);
    QCOMPARE(QApplication::focusWidget(), Ctl<QPlainTextEdit>(w, "txtPast", 0));
}

void TstMainWindow::accessibleDescriptions() {
    WindowFixture f;
    f.Open();
    auto& w = *f.window;
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 3)->accessibleDescription(),
             QStringLiteral("txtLData(3)"));
    QCOMPARE(Ctl<QLabel>(w, "lblInfo", 2)->accessibleDescription(), QStringLiteral("lblInfo(2)"));
    QCOMPARE(Ctl<QPushButton>(w, "cmdProcess", 4)->accessibleDescription(),
             QStringLiteral("cmdProcess(4)"));
    QCOMPARE(Ctl<QLineEdit>(w, "txtPersonalID")->accessibleName(), QStringLiteral("カルテ番号"));
    QCOMPARE(Ctl<DateListGrid>(w, "grdDateList", 0)->accessibleName(), QStringLiteral("日付一覧"));
    for (QWidget* c : w.findChildren<QWidget*>()) {
        if (c->property("index").isValid()) {
            QVERIFY2(!c->accessibleDescription().isEmpty(), qPrintable(c->objectName()));
        }
    }
}

QTEST_MAIN(TstMainWindow)
#include "tst_main_window.moc"
