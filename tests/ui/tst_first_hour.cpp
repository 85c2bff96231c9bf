// What a new clinic user hit in the first hour with the windows.
#include <QCalendarWidget>
#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

#include "core/ini_file.h"
#include "gui/twips.h"
#include "report/office.h"
#include "ui/main/date_list_grid.h"
#include "ui/print/frm_print.h"
#include "ui/settings/frm_env.h"
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
    void typedDates_data();
    void typedDates();
    void calendarInJapanese();
    void outerSizeSavedAndRestored();
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

// A whole date typed into a picker, with or without the slashes, is that date.
void TstFirstHour::typedDates_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QDate>("date");   // invalid: the date the box had
    QTest::addColumn<int>("section");  // where the typing begins
    const int year = QDateTimeEdit::YearSection, day = QDateTimeEdit::DaySection;
    QTest::newRow("with slashes") << "2025/01/01" << QDate(2025, 1, 1) << year;
    QTest::newRow("digits only") << "20250101" << QDate(2025, 1, 1) << year;
    QTest::newRow("one-digit parts") << "2025/1/1" << QDate(2025, 1, 1) << year;
    QTest::newRow("one-digit month") << "2025/9/30" << QDate(2025, 9, 30) << year;
    QTest::newRow("one-digit day") << "1999/12/5" << QDate(1999, 12, 5) << year;
    QTest::newRow("8 digits from the day") << "20261201" << QDate(2026, 12, 1) << day;
    QTest::newRow("6 digits") << "261201" << QDate(2026, 12, 1) << day;
    QTest::newRow("4 digits, this year")
        << "0315" << QDate(QDate::currentDate().year(), 3, 15) << day;
    QTest::newRow("impossible 8 digits") << "20261332" << QDate() << day;
    QTest::newRow("Feb 30 as 4 digits") << "0230" << QDate() << day;
    // Four digits into the year alone change the year (month and day kept).
    QTest::newRow("a year alone") << "2031" << QDate(2031, 1, 1) << year;
}

void TstFirstHour::typedDates() {
    QFETCH(QString, typed);
    QFETCH(QDate, date);
    QFETCH(int, section);
    WindowFixture f;
    f.Open();
    OfficeConfig unused;
    Office office(unused);
    FrmPrint d(*f.ctx, PrintSubject{}, office, f.window.get());
    d.Form_Load();
    d.show();
    auto* from = Ctl<QDateEdit>(d, "dtpData", 0);
    from->setFocus();
    const QDate before = from->date();
    from->setSelectedSection(QDateTimeEdit::Section(section));
    QTest::keyClicks(from, typed);
    QTest::keyClick(from, Qt::Key_Tab);
    if (QByteArray(QTest::currentDataTag()) == "a year alone")
        date = QDate(date.year(), before.month(), before.day());
    QCOMPARE(from->date(), date.isValid() ? date : before);
}

void TstFirstHour::calendarInJapanese() {
    WindowFixture f;
    f.AddMemo(0, 12345, "2030-09-03", "memo");
    f.Open();
    auto* picker = Ctl<QDateEdit>(*f.window, "dtpCreData", 0);
    // The click on the picker's arrow that opens the calendar.
    QTest::mouseClick(picker, Qt::LeftButton, {},
                      QPoint(picker->width() - 8, picker->height() / 2));
    QCalendarWidget* calendar = picker->calendarWidget();
    calendar->setCurrentPage(2030, 9);
    auto* year = calendar->findChild<QToolButton*>("qt_calendar_yearbutton");
    auto* month = calendar->findChild<QToolButton*>("qt_calendar_monthbutton");
    QCOMPARE(year->text() + month->text(), QStringLiteral("2030年9月"));
    QVERIFY(year->parentWidget()->layout()->indexOf(year) <
            month->parentWidget()->layout()->indexOf(month));
    QCOMPARE(calendar->locale().dayName(1, QLocale::ShortFormat), QStringLiteral("月"));
}

// WinWidth and WinHeight are the outer size, frame included, as Windows
// wrote them: a file carried over opens the window as large as it was.
void TstFirstHour::outerSizeSavedAndRestored() {
    WindowFixture f;
    f.WriteIniText({"[System]", "Title=指導指示管理", "SystemDB=" + f.DbPath(), "[frmOndrel]",
                    "WindowState=0", "WinLeft=1500", "WinTop=1500", "WinWidth=15000",
                    "WinHeight=12000"});
    LoadSettings(*f.ctx);
    f.Open();
    QTRY_COMPARE(f.window->frameGeometry().size(), QSize(1000, 800));
    QVERIFY(f.window->size().width() < 1000);  // the frame is outside the inner size
    f.prompter.Answer({true});
    QVERIFY(f.window->close());
    QCOMPARE(ReadIniString(f.IniPath(), "frmOndrel", "WinWidth"), QStringLiteral("15000"));
    QCOMPARE(ReadIniString(f.IniPath(), "frmOndrel", "WinHeight"), QStringLiteral("12000"));
}

QTEST_MAIN(TstFirstHour)
#include "tst_first_hour.moc"
