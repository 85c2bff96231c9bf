// What a new clinic user hit in the first hour with the windows.
#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "date_list_grid.h"
#include "frm_env.h"
#include "frm_print.h"
#include "ini_file.h"
#include "office.h"
#include "twips.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstFirstHour : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void pagesLaidOutWhateverTabOpens_data();
    void pagesLaidOutWhateverTabOpens();
    void highlightFollowsTheRowPutBack_data();
    void highlightFollowsTheRowPutBack();
    void escapeDoesNothingInDialogs_data();
    void escapeDoesNothingInDialogs();
    void tabLeavesTheMemoBox();
    void stayOnTopActsOnAnyChange();
    void linkFileFollowedAtOnce();
    void ctrlSIsSave();
};

// Every page sits at its designed place in the tab strip, also when the
// window opens on another tab than the first.
void TstFirstHour::pagesLaidOutWhateverTabOpens_data() {
    QTest::addColumn<int>("defaultTab");
    for (int t : {0, 3, 6}) QTest::newRow(qPrintable(QString::number(t))) << t;
}

void TstFirstHour::pagesLaidOutWhateverTabOpens() {
    QFETCH(int, defaultTab);
    WindowFixture f;
    f.AddMemo(defaultTab, 12345, "2024-04-01", "memo");
    f.SetIni({"DefaultTab=" + QString::number(defaultTab)});
    f.Open();
    auto* tabs = Ctl<QTabWidget>(*f.window, "tabMain");
    QCOMPARE(tabs->currentIndex(), defaultTab);
    const int dpi = LogicalDpi(f.window.get());
    const QPoint designed(TwipsToPixels(315, dpi), TwipsToPixels(765, dpi));
    QCOMPARE(Ctl(*f.window, "picGroup", defaultTab)->mapTo(tabs, QPoint(0, 0)), designed);
    tabs->setCurrentIndex(defaultTab == 0 ? 1 : 0);
    QCOMPARE(Ctl(*f.window, "picGroup", tabs->currentIndex())->mapTo(tabs, QPoint(0, 0)), designed);
}

// いいえ to a pick puts the row back, and the light-red highlight with it.
void TstFirstHour::highlightFollowsTheRowPutBack_data() {
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("mouse") << true;
    QTest::newRow("arrow key") << false;
}

void TstFirstHour::highlightFollowsTheRowPutBack() {
    QFETCH(bool, byMouse);
    WindowFixture f;
    f.AddMemo(0, 12345, "2024-04-01", "older");
    f.AddMemo(0, 12345, "2024-05-01", "newer");
    f.Open();
    auto* grid = Ctl<DateListGrid>(*f.window, "grdDateList", 0);
    f.prompter.Answer({false});
    if (byMouse) {
        const QRect second = grid->visualRect(grid->model()->index(1, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, second.center());
    } else {
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Down);
    }
    QCOMPARE(f.prompter.Texts(), QStringList{"編集したデータは失われます。よろしいですか。"});
    QCOMPARE(grid->CurrentRow(), 0);
    const auto selected = grid->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected[0].row(), 0);
}

// The Windows forms had no cancel button: Esc leaves them open. Closing them
// saves their placement.
void TstFirstHour::escapeDoesNothingInDialogs_data() {
    QTest::addColumn<QString>("form");
    QTest::newRow("設定") << "frmEnv";
    QTest::newRow("印刷") << "frmPrint";
}

void TstFirstHour::escapeDoesNothingInDialogs() {
    QFETCH(QString, form);
    WindowFixture f;
    f.Open();
    OfficeConfig unused;
    Office office(unused);
    std::unique_ptr<QDialog> d;
    if (form == u"frmEnv") {
        auto env = std::make_unique<FrmEnv>(*f.ctx, f.window.get());
        env->Form_Load();
        d = std::move(env);
    } else {
        auto print = std::make_unique<FrmPrint>(*f.ctx, PrintSubject{}, office, f.window.get());
        print->Form_Load();
        d = std::move(print);
    }
    d->show();
    QTest::keyClick(d.get(), Qt::Key_Escape);
    QVERIFY(d->isVisible());
    QCOMPARE(ReadIniString(f.IniPath(), form, "WindowState"), QString());
    Ctl<QPushButton>(*d, "cmdProcess", 1)->click();  // 閉じる
    QVERIFY(!d->isVisible());
    QCOMPARE(ReadIniString(f.IniPath(), form, "WindowState"), QStringLiteral("0"));
}

void TstFirstHour::tabLeavesTheMemoBox() {
    WindowFixture f;
    f.AddMemo(0, 12345, "2024-04-01", "memo");
    f.Open();
    f.window->activateWindow();
    QApplication::setActiveWindow(f.window.get());
    auto* box = Ctl<QPlainTextEdit>(*f.window, "txtLData", 0);
    box->setFocus();
    QVERIFY(box->hasFocus());
    QTest::keyClick(box, Qt::Key_Tab);
    QVERIFY(!box->hasFocus());
    QCOMPARE(box->toPlainText(), QStringLiteral("memo"));
}

// A screen reader toggles the box without a click: the same as the click.
void TstFirstHour::stayOnTopActsOnAnyChange() {
    WindowFixture f;
    FrmEnv d(*f.ctx);
    d.Form_Load();
    d.show();
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, Ctl<QCheckBox>(d, "chkWindowTop")->toggle());
    QCOMPARE(ReadIniString(f.IniPath(), "System", "WindowTop"), QStringLiteral("1"));
}

// The link bar's change shows without waiting for the 10 s poll.
void TstFirstHour::linkFileFollowedAtOnce() {
    WindowFixture f;
    f.WriteLink("1", "12345");
    f.Open();
    f.WriteLink("1", "12346");
    QTRY_COMPARE_WITH_TIMEOUT(f.window->ShownChartNo().value_or(FullChartNo()).value, 12346, 3000);
    QVERIFY(f.prompter.shown.empty());
}

void TstFirstHour::ctrlSIsSave() {
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "before");
    f.Open();
    f.window->activateWindow();
    QApplication::setActiveWindow(f.window.get());
    auto* box = Ctl<QPlainTextEdit>(*f.window, "txtLData", 0);
    box->setPlainText(QStringLiteral("after"));
    box->setFocus();
    f.prompter.Answer({true});
    QTest::keyClick(box, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(f.prompter.Texts(), QStringList{"データを保存します。よろしいですか。"});
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("after"));
}

QTEST_MAIN(TstFirstHour)
#include "tst_first_hour.moc"
