// 定型文: kept in the system database, picked at the memo box's cursor (F2,
// Ctrl+1 … 9) as typed text, edited in their dialog, moved as CSV.
#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "admin/db_tool.h"
#include "core/app_error.h"
#include "data/phrases.h"
#include "ui/main/frm_phrases.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstPhrases : public QObject {
    Q_OBJECT

    // A memo whose stored line ends are of every kind, shown on page 0 with
    // the cursor after 二行目.
    static qint32 ShowMixedMemo(WindowFixture& f) {
        const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "一行目\r\n二行目\n三行目\r末尾");
        f.Open();
        auto* box = Ctl<QPlainTextEdit>(*f.window, "txtLData", 0);
        QTextCursor at = box->textCursor();
        at.setPosition(int(QStringLiteral("一行目\n二行目").size()));
        box->setTextCursor(at);
        box->setFocus();
        return key;
    }
    static QString Stored(WindowFixture& f, qint32 key) {
        return f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString();
    }
    static void Save(WindowFixture& f) {
        f.prompter.Answer({true});
        Ctl<QPushButton>(*f.window, "cmdProcess", 4)->click();
    }

  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void listsKeptInTheDatabase();
    void insertedAsTypedKeepingTheRest_data();
    void insertedAsTypedKeepingTheRest();
    void pickListFiltersAndInserts();
    void editorAddsReordersAndAsks();
    void csvRoundTrip();
};

void TstPhrases::listsKeptInTheDatabase() {
    TestDbProgram p;
    QVERIFY(ReadPhrases(*p.ctx).empty());
    SavePhrases(*p.ctx, kCommonPhrases, {"共通の文", QString(kPhraseLimit, u'長')});
    SavePhrases(*p.ctx, 2, {"三の一", "三の二"});
    SavePhrases(*p.ctx, 2, {"三の二", "三の一"});  // reordered: replaced whole
    const auto all = ReadPhrases(*p.ctx);
    QCOMPARE(PhrasesFor(all, 2),
             (QStringList{"三の二", "三の一", "共通の文", QString(kPhraseLimit, u'長')}));
    QCOMPARE(PhrasesFor(all, 0).size(), 2);
    for (const QString& bad :
         {QString(), QStringLiteral(" \r\n"), QString(kPhraseLimit + 1, u'長')}) {
        bool refused = false;
        try {
            SavePhrases(*p.ctx, 0, {"良い文", bad});
        } catch (const ToldError&) {
            refused = true;
        }
        QVERIFY(refused);
    }
    QCOMPARE(PhrasesFor(ReadPhrases(*p.ctx), 0).size(), 2);  // nothing of a refused list kept
}

void TstPhrases::insertedAsTypedKeepingTheRest_data() {
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QString>("stored");
    QTest::newRow("one line") << "（定型）"
                              << "一行目\r\n二行目（定型）\n三行目\r末尾";
    QTest::newRow("line ends typed as CR LF") << "甲\r\n乙\n丙"
                                              << "一行目\r\n二行目甲\r\n乙\r\n丙\n三行目\r末尾";
    QTest::newRow("emoji") << "😀"
                           << "一行目\r\n二行目😀\n三行目\r末尾";
}

void TstPhrases::insertedAsTypedKeepingTheRest() {
    QFETCH(QString, phrase);
    QFETCH(QString, stored);
    WindowFixture f;
    SavePhrases(*f.ctx, 0, {phrase});
    const qint32 key = ShowMixedMemo(f);
    QTest::keyClick(Ctl<QPlainTextEdit>(*f.window, "txtLData", 0), Qt::Key_1, Qt::ControlModifier);
    Save(f);
    QCOMPARE(Stored(f, key), stored);
}

void TstPhrases::pickListFiltersAndInserts() {
    WindowFixture f;
    SavePhrases(*f.ctx, 0, {"血圧を毎朝測る", "ガーゼ交換"});
    SavePhrases(*f.ctx, kCommonPhrases, {"次回予約"});
    const qint32 key = ShowMixedMemo(f);
    auto* box = Ctl<QPlainTextEdit>(*f.window, "txtLData", 0);
    int shown = -1, filtered = -1;
    f.window->runPhrasePopup = [&](PhrasePopup& popup) {
        shown = popup.Shown();
        popup.grab().save(qEnvironmentVariable("ONDREL_TEST_BIN") + "/phrase-popup.png");
        popup.Filter(QStringLiteral("ｶﾞｰ"));
        filtered = popup.Shown();
        popup.Choose();
    };
    QTest::keyClick(box, Qt::Key_F2);
    QCOMPARE(shown, 3);
    QCOMPARE(filtered, 1);
    // The common list follows the page's own: Ctrl+3 is 次回予約, Ctrl+4 nothing.
    QTest::keyClick(box, Qt::Key_3, Qt::ControlModifier);
    const int beeps = f.prompter.beeps;
    QTest::keyClick(box, Qt::Key_4, Qt::ControlModifier);
    QCOMPARE(f.prompter.beeps, beeps + 1);
    Save(f);
    QCOMPARE(Stored(f, key), QStringLiteral("一行目\r\n二行目ガーゼ交換次回予約\n三行目\r末尾"));
}

void TstPhrases::editorAddsReordersAndAsks() {
    WindowFixture f;
    SavePhrases(*f.ctx, 1, {"既存"});
    f.Open();
    f.window->runPhrases = [&](FrmPhrases& d) {
        d.SelectList(1);
        d.cmdAdd_Click();
        d.SetCurrentText(QStringLiteral("新しい文"));
        d.Move(-1);
        QCOMPARE(d.Texts(), (QStringList{"新しい文", "既存"}));
        d.grab().save(qEnvironmentVariable("ONDREL_TEST_BIN") + "/phrases-dialog.png");
        d.cmdAdd_Click();  // left empty: refused at 保存, told which
        QVERIFY(!d.cmdSave_Click());
        QVERIFY(f.prompter.Texts().last().contains(QStringLiteral("3 番目")));
        QVERIFY(f.prompter.Texts().last().contains(QStringLiteral("空の定型文")));
        d.cmdDelete_Click();
        // Leaving the list with a change asks; yes writes it.
        f.prompter.Answer({true});
        Ctl<QComboBox>(d, "cboList")->setCurrentIndex(0);
        QCOMPARE(d.Texts(), QStringList());  // the common list, empty
        d.cmdAdd_Click();
        d.SetCurrentText(QStringLiteral("捨てる文"));
        f.prompter.Answer({false});  // closed with a change: no throws it away
        d.reject();
        QVERIFY(!d.isVisible());
    };
    f.window->OpenPhrases(1);
    const auto all = ReadPhrases(*f.ctx);
    QCOMPARE(PhraseList(all, 1), (QStringList{"新しい文", "既存"}));
    QCOMPARE(PhraseList(all, kCommonPhrases), QStringList());
}

void TstPhrases::csvRoundTrip() {
    TestDbProgram from, to;
    SavePhrases(*from.ctx, kCommonPhrases, {"共通, \"引用\"\r\n二行目"});
    SavePhrases(*from.ctx, 6, {"七の文"});
    SavePhrases(*to.ctx, 6, {"七の文", "先にあった文"});
    const QString csv = from.Root() + "/phrases.csv";
    int rows = 0, added = 0, skipped = 0;
    QCOMPARE(tool::PhrasesExport(from.OwnerDbPath(), csv, &rows), QString());
    QCOMPARE(rows, 2);
    QCOMPARE(tool::PhrasesImport(to.OwnerDbPath(), csv, &added, &skipped), QString());
    QCOMPARE(added, 1);
    QCOMPARE(skipped, 1);
    const auto all = ReadPhrases(*to.ctx);
    QCOMPARE(PhraseList(all, kCommonPhrases), QStringList{"共通, \"引用\"\r\n二行目"});
    QCOMPARE(PhraseList(all, 6), (QStringList{"七の文", "先にあった文"}));
    // A file with one bad row changes nothing.
    for (const QByteArray& bad : {QByteArray("分類,文言\n共通,よい文\n8,範囲外\n"),
                                  QByteArray("分類,文言\n1,\n"), QByteArray("文言\nただの文\n")}) {
        QFile f(csv);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bad);
        f.close();
        QVERIFY(!tool::PhrasesImport(to.OwnerDbPath(), csv, &added, &skipped).isEmpty());
    }
    QCOMPARE(ReadPhrases(*to.ctx).size(), all.size());
}

QTEST_MAIN(TstPhrases)
#include "tst_phrases.moc"
