// The history box after a switch and after saves: the same text as a full
// rebuild from the database, whatever was edited.
#include <QDateEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "data/memo_store.h"
#include "ui/main/date_list_grid.h"
#include "ui/main/history_panel.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstHistory : public QObject {
    Q_OBJECT

    // What the box shows when it is set from the database in one go.
    static QString FullRebuild(WindowFixture& f) {
        QPlainTextEdit box;
        box.setPlainText(
            ForHistoryBox(HistoryText(*f.ctx, 0, BaseChartNo(1234), HistoryOrder::NewestFirst)));
        return box.toPlainText();
    }
    static void Fill(WindowFixture& f) {
        // 300 memos over 200 days: equal dates, line breaks, a line starting with ●.
        for (int i = 0; i < 300; ++i)
            f.AddMemo(0, 12345, QDate(2024, 1, 1).addDays(i % 200).toString(Qt::ISODate),
                      QStringLiteral("指導 %1\r\n●二行目\r\n三行目").arg(i));
    }

  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void switchFillsTheRestInTheBackground();
    void saveUpdatesInPlace_data();
    void saveUpdatesInPlace();
};

void TstHistory::switchFillsTheRestInTheBackground() {
    WindowFixture f;
    Fill(f);
    f.Open();
    auto* box = Ctl<QPlainTextEdit>(*f.window, "txtPast", 0);
    const QString full = FullRebuild(f);
    QTRY_COMPARE(box->toPlainText(), full);
    f.window->Rtn_PastDisp(0);
    QVERIFY(box->toPlainText().size() < full.size());  // the first screen only, at once
    QVERIFY(full.startsWith(box->toPlainText()));
    QTRY_COMPARE(box->toPlainText(), full);
    f.window->Rtn_PastDisp(0);
    box->setFocus();  // a reader who comes to the box gets all of it at once
    QCOMPARE(box->toPlainText(), full);
}

// A table of edits: text, date moved, the first, a middle and the last memo
// of the list, saved right after a switch (the fill still pending) or later.
void TstHistory::saveUpdatesInPlace_data() {
    QTest::addColumn<int>("row");       // of the date list, 0 = newest; -1: a new memo
    QTest::addColumn<QString>("text");  // empty: unchanged
    QTest::addColumn<int>("days");      // the date moved by
    QTest::addColumn<bool>("settled");  // the background fill done before the edit
    QTest::newRow("first, text") << 0 << "新しい指導\n二行目" << 0 << true;
    QTest::newRow("middle, text") << 150 << "中ほどの指導" << 0 << true;
    QTest::newRow("last, text") << 299 << "最後の指導" << 0 << true;
    QTest::newRow("middle, date back") << 150 << "" << -90 << true;
    QTest::newRow("middle, date forward past all") << 150 << "" << 400 << true;
    QTest::newRow("last, date to the top, text") << 299 << "上へ" << 300 << true;
    QTest::newRow("first, date to the end") << 0 << "" << -500 << true;
    QTest::newRow("last, text, fill pending") << 299 << "まだ途中" << 0 << false;
    QTest::newRow("middle, date, fill pending") << 120 << "" << 33 << false;
    QTest::newRow("surrogates") << 10 << "𠮷野家 😀" << 0 << true;
    QTest::newRow("new memo, newest") << -1 << "新しいメモ" << 0 << true;
    QTest::newRow("new memo, dated among the others") << -1 << "途中の日付" << -3000 << true;
    QTest::newRow("new memo, oldest, fill pending") << -1 << "一番古い" << -20000 << false;
}

void TstHistory::saveUpdatesInPlace() {
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(int, days);
    QFETCH(bool, settled);
    WindowFixture f;
    Fill(f);
    f.SetIni({"MessageFlg1=1", "MessageFlg3=1"});
    f.Open();
    auto* box = Ctl<QPlainTextEdit>(*f.window, "txtPast", 0);
    Ctl<DateListGrid>(*f.window, "grdDateList", 0)->SetCurrentRow(std::max(row, 0));
    f.window->Rtn_PastDisp(0);
    if (settled) QTRY_COMPARE(box->toPlainText(), FullRebuild(f));
    if (row < 0) Ctl<QPushButton>(*f.window, "cmdProcess", 0)->click();  // 新規作成
    if (!text.isEmpty()) Ctl<QPlainTextEdit>(*f.window, "txtLData", 0)->setPlainText(text);
    auto* date = Ctl<QDateEdit>(*f.window, "dtpCreData", 0);
    date->setDate(date->date().addDays(days));
    Ctl<QPushButton>(*f.window, "cmdProcess", 4)->click();
    QVERIFY(f.prompter.shown.empty());
    QCOMPARE(box->toPlainText(), FullRebuild(f));
}

QTEST_MAIN(TstHistory)
#include "tst_history.moc"
