// 検索 from the main window: typed, listed, and the chosen memo shown on its
// page with the memo on screen written first.
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "ui/main/frm_search.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstSearchWindow : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void typedThenEnterLandsOnTheMemo();
    void aMemoDeletedMeanwhileIsTold();
};

void TstSearchWindow::typedThenEnterLandsOnTheMemo() {
    WindowFixture f;
    const qint32 key = f.AddMemo(2, 12346, "2024-05-01", "経過観察\r\nガーゼ交換を指導");
    f.AddMemo(2, 12346, "2024-06-01", "新しい方のメモ");
    f.Open();
    f.prompter.Answer({true});
    Ctl<QPushButton>(*f.window, "cmdProcess", 0)->click();  // 新規作成
    Ctl<QPlainTextEdit>(*f.window, "txtLData", 0)->setPlainText(QStringLiteral("書きかけ"));
    bool listed = false;
    f.window->runSearch = [&](FrmSearch& d) {
        d.show();
        auto* box = Ctl<QLineEdit>(d, "txtSearch");
        QCOMPARE(d.focusWidget(), box);
        // As the input method hands over what was typed.
        QInputMethodEvent typed;
        typed.setCommitString(QStringLiteral("ｶﾞｰｾﾞ"));
        QApplication::sendEvent(box, &typed);
        QTRY_COMPARE(d.HitCount(), 1);
        QCOMPARE(d.RowTexts(0), (QStringList{"2024/05/01", "1234-6", "山田　花子", "所見補助３",
                                             "ガーゼ交換を指導"}));
        d.grab().save(qEnvironmentVariable("ONDREL_TEST_BIN") + "/search-window.png");
        listed = true;
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(!d.isVisible());
    };
    QTest::keyClick(f.window.get(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(listed);
    QCOMPARE(f.window->ShownChartNo(), FullChartNo(12346));
    QCOMPARE(f.window->CurrentTab(), 2);
    QCOMPARE(f.window->MainKeyShown(2), key);
    QCOMPARE(Ctl<QPlainTextEdit>(*f.window, "txtLData", 2)->toPlainText(),
             QStringLiteral("経過観察\r\nガーゼ交換を指導").replace("\r\n", "\n"));
    // The memo left on screen was written before the patient changed.
    QCOMPARE(f.Scalar("Select Count(*) From tblDatCommon Where LText000 = '書きかけ'").toInt(), 1);
    // The search is kept for the next time the window opens.
    f.window->runSearch = [&](FrmSearch& d) { QCOMPARE(d.Text(), QStringLiteral("ｶﾞｰｾﾞ")); };
    Ctl<QPushButton>(*f.window, "cmdSearch")->click();
}

void TstSearchWindow::aMemoDeletedMeanwhileIsTold() {
    WindowFixture f;
    const qint32 key = f.AddMemo(1, 12346, "2024-05-01", "血圧手帳を確認");
    f.Open();
    f.window->runSearch = [&](FrmSearch& d) {
        Ctl<QLineEdit>(d, "txtSearch")->setText(QStringLiteral("血圧"));
        d.Rtn_Search();
        QCOMPARE(d.HitCount(), 1);
        f.Exec("Delete From tblDatCommon Where MainKey = ?", {key});  // another workstation
        d.Rtn_Choose();
    };
    f.window->OpenSearch();
    QCOMPARE(f.prompter.Texts().size(), 1);
    QVERIFY(f.prompter.Texts().first().contains(QStringLiteral("選んだメモはありません")));
    QCOMPARE(f.window->ShownChartNo(), FullChartNo(12346));
}

QTEST_MAIN(TstSearchWindow)
#include "tst_search_window.moc"
