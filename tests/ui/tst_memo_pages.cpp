#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "ui/main/date_list_grid.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstMemoPages : public QObject {
    Q_OBJECT

    static QString Bg(QPushButton* b) { return b->palette().color(QPalette::Button).name(); }
    static void TypeText(QWidget* w, const QString& text) {
        for (QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }

  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void emptyCategory();
    void newMemo_data();
    void newMemo();
    void pickDate_data();
    void pickDate();
    void keyboardRowMove();
    void saveTypedJapanese();
    void saveQuestionSwitch_data();
    void saveQuestionSwitch();
    void sevenSlotsCarriedThrough();
    void changedDateRewritesRowInPlace();
    void deleteLastMemo();
    void categoryChangeSavesFirst();
    void secondClickDuringQuestionIgnored();
};

void TstMemoPages::emptyCategory() {
    WindowFixture f;
    f.Open();
    auto& w = *f.window;
    QVERIFY(!Ctl<QWidget>(w, "picGroup", 0)->isVisible());
    QVERIFY(!w.MainKeyShown(0));
    QCOMPARE(w.RowShown(0), 0);
    for (int i : {3, 4, 5}) QVERIFY(!Ctl<QPushButton>(w, "cmdProcess", i)->isEnabled());
    QCOMPARE(Bg(Ctl<QPushButton>(w, "cmdProcess", 4)),
             QApplication::palette().color(QPalette::Button).name());
    QVERIFY(f.prompter.shown.empty());
}

// 新規作成 with or without a memo shown, the question answered or switched off.
void TstMemoPages::newMemo_data() {
    QTest::addColumn<bool>("memoShown");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("created");
    QTest::newRow("no memo: no question")
        << false << QStringList{} << QList<bool>{} << false << true;
    QTest::newRow("memo shown, Yes") << true << QStringList{} << QList<bool>{true} << true << true;
    QTest::newRow("memo shown, No") << true << QStringList{} << QList<bool>{false} << true << false;
    QTest::newRow("memo shown, MessageFlg3 1")
        << true << QStringList{"MessageFlg3=1"} << QList<bool>{} << false << true;
}

void TstMemoPages::newMemo() {
    QFETCH(bool, memoShown);
    QFETCH(QStringList, keys);
    QFETCH(QList<bool>, answers);
    QFETCH(bool, asked);
    QFETCH(bool, created);
    WindowFixture f;
    f.SetIni(keys);
    const qint32 later = memoShown ? f.AddMemo(0, 12345, "2027-01-01", "dated after today") : 0;
    f.Open();
    auto& w = *f.window;
    for (bool a : answers) f.prompter.Answer({a});
    Ctl<QPushButton>(w, "cmdProcess", 0)->click();
    QCOMPARE(f.prompter.Texts(),
             asked ? QStringList{"編集したデータは失われます。よろしいですか。"} : QStringList{});
    DateListGrid* grid = Ctl<DateListGrid>(w, "grdDateList", 0);
    if (!created) {
        QCOMPARE(*w.MainKeyShown(0), later);
        QCOMPARE(grid->RowCount(), 1);
        return;
    }
    const qint32 key = *w.MainKeyShown(0);
    QVERIFY(key != later);
    // Listed first, below the header, although another memo is dated later.
    QCOMPARE(grid->CurrentRow(), 0);
    QCOMPARE(w.RowShown(0), 1);
    QCOMPARE(grid->Text(0, 0), QStringLiteral("2026/12/10 (木)"));
    QCOMPARE(grid->Text(0, 1), QStringLiteral("2026/12/10"));
    QCOMPARE(grid->Text(0, 2), QString::number(key));
    QCOMPARE(Ctl<QDateEdit>(w, "dtpCreData", 0)->date(), QDate(2026, 12, 10));
    for (int i = 0; i < 7; ++i)
        QVERIFY(Ctl<QPlainTextEdit>(w, "txtLData", i)->toPlainText().isEmpty());
    QVERIFY(Ctl<QWidget>(w, "picGroup", 0)->isVisible());
    QCOMPARE(Bg(Ctl<QPushButton>(w, "cmdProcess", 4)), QColor(255, 192, 192).name());
    QCOMPARE(f.Scalar("Select KarteNoBranch From tblDatCommon Where MainKey = ?", {key}).toInt(),
             12345);
    QVERIFY(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).isNull());
}

void TstMemoPages::pickDate_data() {
    QTest::addColumn<bool>("answer");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
}

void TstMemoPages::pickDate() {
    QFETCH(bool, answer);
    WindowFixture f;
    const qint32 older = f.AddMemo(1, 12345, "2024-01-01", "older");
    const qint32 newer = f.AddMemo(1, 12345, "2024-02-01", "newer");
    f.Open();
    auto& w = *f.window;
    Ctl<QTabWidget>(w, "tabMain")->setCurrentIndex(1);
    QCOMPARE(*w.MainKeyShown(1), newer);
    DateListGrid* grid = Ctl<DateListGrid>(w, "grdDateList", 1);
    QCOMPARE(grid->Text(0, 2), QString::number(newer));
    QVERIFY(grid->isColumnHidden(1) && grid->isColumnHidden(2));
    f.prompter.Answer({answer});
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(grid->Model().index(1, 0)).center());
    QCOMPARE(f.prompter.Texts(), QStringList{"編集したデータは失われます。よろしいですか。"});
    QCOMPARE(*w.MainKeyShown(1), answer ? older : newer);
    QCOMPARE(grid->CurrentRow(), answer ? 1 : 0);
    QCOMPARE(w.RowShown(1), answer ? 2 : 1);
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 1)->toPlainText(),
             answer ? QStringLiteral("older") : QStringLiteral("newer"));
}

void TstMemoPages::keyboardRowMove() {
    WindowFixture f;
    f.SetIni({"MessageFlg3=1"});
    const qint32 older = f.AddMemo(0, 12345, "2024-01-01", "older");
    f.AddMemo(0, 12345, "2024-02-01", "newer");
    f.Open();
    auto& w = *f.window;
    Ctl<DateListGrid>(w, "grdDateList", 0)->setFocus();
    QTest::keyClick(Ctl<DateListGrid>(w, "grdDateList", 0), Qt::Key_Down);
    QCOMPARE(*w.MainKeyShown(0), older);
    // Up again from the first row reaches no header row: nothing opens.
    QTest::keyClick(Ctl<DateListGrid>(w, "grdDateList", 0), Qt::Key_Up);
    QTest::keyClick(Ctl<DateListGrid>(w, "grdDateList", 0), Qt::Key_Up);
    QCOMPARE(Ctl<DateListGrid>(w, "grdDateList", 0)->CurrentRow(), 0);
    QVERIFY(f.prompter.shown.empty());
}

void TstMemoPages::saveTypedJapanese() {
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "");
    f.Open();
    auto& w = *f.window;
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setFocus();
    TypeText(Ctl<QPlainTextEdit>(w, "txtLData", 0), QStringLiteral("カルテ'確認"));
    QTest::keyClick(Ctl<QPlainTextEdit>(w, "txtLData", 0), Qt::Key_Return);
    TypeText(Ctl<QPlainTextEdit>(w, "txtLData", 0), QStringLiteral("二行目"));
    f.prompter.Answer({true});
    Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    QCOMPARE(f.prompter.Texts(), QStringList{"データを保存します。よろしいですか。"});
    // Stored as typed, the apostrophe included, with Windows line ends.
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("カルテ'確認\r\n二行目"));
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtPast", 0)->toPlainText(),
             QStringLiteral("●2024/04/01 (月)\nカルテ'確認\n二行目\n\n"));
    // Shown again, the box holds what was typed.
    w.Rtn_DataDispTab(DispMode::L, 0);
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(),
             QStringLiteral("カルテ'確認\n二行目"));
}

void TstMemoPages::saveQuestionSwitch_data() {
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("saved");
    QTest::newRow("asked, Yes") << QStringList{} << true << true << true;
    QTest::newRow("asked, No") << QStringList{} << false << true << false;
    QTest::newRow("MessageFlg1 1") << QStringList{"MessageFlg1=1"} << false << false << true;
    QTest::newRow("MessageFlg2 and 3 do not switch it off")
        << QStringList{"MessageFlg2=1", "MessageFlg3=1"} << false << true << false;
}

void TstMemoPages::saveQuestionSwitch() {
    QFETCH(QStringList, keys);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, saved);
    WindowFixture f;
    f.SetIni(keys);
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "old");
    f.Open();
    Ctl<QPlainTextEdit>(*f.window, "txtLData", 0)->setPlainText(QStringLiteral("new"));
    f.prompter.Answer({answer});
    Ctl<QPushButton>(*f.window, "cmdProcess", 4)->click();
    QCOMPARE(f.prompter.shown.size(), size_t(asked ? 1 : 0));
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             saved ? QStringLiteral("new") : QStringLiteral("old"));
}

void TstMemoPages::sevenSlotsCarriedThrough() {
    WindowFixture f;
    f.SetIni({"MessageFlg1=1"});
    f.Exec(
        "Insert Into tblDatCommon (FormCode, KarteNo, KarteNoBranch, CreDate, LText000, LText001, "
        "LText002, "
        "LText003, LText004, LText005, LText006) Values (2, 1234, 12345, '2024-04-01', 's0', 's1', "
        "'s2', "
        "'s3', 's4', 's5', 's6')");
    f.Open();
    auto& w = *f.window;
    Ctl<QTabWidget>(w, "tabMain")->setCurrentIndex(2);
    Ctl<QPlainTextEdit>(w, "txtLData", 2)->setPlainText(QStringLiteral("edited"));
    Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    QCOMPARE(f.Scalar("Select LText000 || LText001 || LText002 || LText003 || LText004 || LText005 "
                      "|| LText006 "
                      "From tblDatCommon")
                 .toString(),
             QStringLiteral("s0s1editeds3s4s5s6"));
}

void TstMemoPages::changedDateRewritesRowInPlace() {
    WindowFixture f;
    f.SetIni({"MessageFlg1=1"});
    const qint32 newer = f.AddMemo(0, 12345, "2024-02-01", "newer");
    f.AddMemo(0, 12345, "2024-01-01", "older");
    f.Open();
    auto& w = *f.window;
    Ctl<QDateEdit>(w, "dtpCreData", 0)->setDate(QDate(2023, 6, 15));
    Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    DateListGrid* grid = Ctl<DateListGrid>(w, "grdDateList", 0);
    QCOMPARE(grid->Text(0, 0), QStringLiteral("2023/06/15 (木)"));
    QCOMPARE(grid->Text(0, 1), QStringLiteral("2023/06/15"));
    QCOMPARE(grid->Text(0, 2), QString::number(newer));  // same row, not re-sorted
    QCOMPARE(f.Scalar("Select CreDate From tblDatCommon Where MainKey = ?", {newer}).toString(),
             QStringLiteral("2023-06-15"));
    // The history follows at once, in date order.
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtPast", 0)->toPlainText(),
             QStringLiteral("●2024/01/01 (月)\nolder\n\n●2023/06/15 (木)\nnewer\n\n"));
}

void TstMemoPages::deleteLastMemo() {
    WindowFixture f;
    f.SetIni({"MessageFlg1=1", "MessageFlg3=1"});  // the delete question is asked all the same
    f.AddMemo(0, 12345, "2024-01-01", "only");
    f.Open();
    auto& w = *f.window;
    f.prompter.Answer({false});
    Ctl<QPushButton>(w, "cmdProcess", 3)->click();
    QCOMPARE(f.Scalar("Select Count(*) From tblDatCommon").toInt(), 1);
    f.prompter.Answer({true});
    Ctl<QPushButton>(w, "cmdProcess", 3)->click();
    QCOMPARE(f.prompter.Texts(), (QStringList{"表示中のデータを削除します。よろしいですか。",
                                              "表示中のデータを削除します。よろしいですか。"}));
    QCOMPARE(f.Scalar("Select Count(*) From tblDatCommon").toInt(), 0);
    QVERIFY(!Ctl<QWidget>(w, "picGroup", 0)->isVisible());
    QCOMPARE(Ctl<DateListGrid>(w, "grdDateList", 0)->RowCount(), 0);
    QCOMPARE(w.RowShown(0), 0);
    QVERIFY(Ctl<QPlainTextEdit>(w, "txtPast", 0)->toPlainText().isEmpty());
    for (int i : {3, 4, 5}) QVERIFY(!Ctl<QPushButton>(w, "cmdProcess", i)->isEnabled());
}

void TstMemoPages::categoryChangeSavesFirst() {
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-01-01", "before");
    f.Open();
    Ctl<QPlainTextEdit>(*f.window, "txtLData", 0)->setPlainText(QStringLiteral("after"));
    Ctl<QTabWidget>(*f.window, "tabMain")->setCurrentIndex(1);
    QVERIFY(f.prompter.shown.empty());  // no question for the implicit save
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("after"));
    QCOMPARE(f.window->LoadedCategory(), 1);
}

void TstMemoPages::secondClickDuringQuestionIgnored() {
    WindowFixture f;
    f.AddMemo(0, 12345, "2024-01-01", "memo");
    f.Open();
    auto& w = *f.window;
    f.WriteLink("1", "12346");
    int inner = 0;
    f.prompter.whileShowing = [&] {
        if (inner++ > 0) return;
        // The user clicks 新規作成 again and the poll fires while the box is open.
        Ctl<QPushButton>(w, "cmdProcess", 0)->click();
        w.Rtn_LinkCheck();
    };
    f.prompter.Answer({true});
    Ctl<QPushButton>(w, "cmdProcess", 0)->click();
    QCOMPARE(f.Scalar("Select Count(*) From tblDatCommon").toInt(), 2);  // one new memo, not two
    QCOMPARE(w.ShownChartNo()->value, 12345);
    f.prompter.whileShowing = nullptr;
    w.Rtn_LinkCheck();  // afterwards the poll goes on
    QCOMPARE(w.ShownChartNo()->value, 12346);
}

QTEST_MAIN(TstMemoPages)
#include "tst_memo_pages.moc"
