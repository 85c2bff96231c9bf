#include <QtTest>

#include "memo_store.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

class TstMemoStore : public QObject {
    Q_OBJECT
  private slots:
    void readLatestWithoutMemos();
    void readLatestAndByKey();
    void insertUpdateDelete();
    void hostileTextsRoundTrip_data();
    void hostileTextsRoundTrip();
    void failedInsertLeavesNoRow();
    void dateListOrder();
    void historyText();
};

void TstMemoStore::readLatestWithoutMemos() {
    TestDbProgram p;
    p.ctx->common.MainKey = 99;
    p.ctx->common.LText[3] = QStringLiteral("old");
    QVERIFY(!ReadCommon(*p.ctx, 2, 1234, FetchMode::Latest, 0));
    const auto& r = p.ctx->common;
    QCOMPARE(r.MainKey, 0);
    QCOMPARE(r.KarteNoBranch, 0);
    QCOMPARE(r.CreDate, QStringLiteral("2026/12/10"));  // the context's clock
    for (const auto& t : r.LText) QVERIFY(t.isEmpty());
}

void TstMemoStore::readLatestAndByKey() {
    TestDbProgram p;
    p.AddMemo(1, 12345, "2024-04-01", "older");
    const qint32 first = p.AddMemo(1, 12345, "2024-05-01", "first of the day");
    const qint32 second = p.AddMemo(1, 12345, "2024-05-01", "second of the day");
    const qint32 later = p.AddMemo(1, 12345, "2023-01-01", "inserted last, dated earliest");
    const qint32 otherCategory = p.AddMemo(2, 12345, "2025-01-01", "other category");
    p.AddMemo(1, 99990, "2025-01-01", "other chart");
    Q_UNUSED(later);

    QVERIFY(ReadCommon(*p.ctx, 1, 1234, FetchMode::Latest, 0));
    QCOMPARE(p.ctx->common.MainKey, second);
    QCOMPARE(p.ctx->common.CreDate, QStringLiteral("2024/05/01"));
    QCOMPARE(p.ctx->common.LText[1], QStringLiteral("second of the day"));
    QCOMPARE(p.ctx->common.KarteNoBranch, 12345);

    QVERIFY(ReadCommon(*p.ctx, 1, 1234, FetchMode::ByKey, first));
    QCOMPARE(p.ctx->common.MainKey, first);
    // By key: another category's or chart's memo is not found, the buffer stays.
    QVERIFY(!ReadCommon(*p.ctx, 1, 1234, FetchMode::ByKey, otherCategory));
    QVERIFY(!ReadCommon(*p.ctx, 1, 9999, FetchMode::ByKey, first));
    QCOMPARE(p.ctx->common.MainKey, first);
    QCOMPARE(p.ctx->common.LText[1], QStringLiteral("first of the day"));
}

void TstMemoStore::insertUpdateDelete() {
    TestDbProgram p;
    p.AddMemo(0, 12345, "2024-01-01", "x");
    auto& r = p.ctx->common;
    r = CommonRecord{};
    r.FormCode = 1;
    r.KarteNo = 1234;
    r.KarteNoBranch = 12345;
    r.CreDate = QStringLiteral("2026/12/10");
    const int cursorsBefore = p.waitCursor.begun;
    QVERIFY(InsertCommon(*p.ctx));
    QVERIFY(p.waitCursor.begun > cursorsBefore);
    QCOMPARE(p.waitCursor.depth, 0);
    const qint32 key = r.MainKey;
    QCOMPARE(p.Scalar("Select MainKey From tblDatCommon Where FormCode = 1").toInt(), key);
    // Empty texts are stored as NULL and read back as empty texts.
    QCOMPARE(
        p.Scalar("Select Count(*) From tblDatCommon Where MainKey = ? And LText000 Is Null And "
                 "LText003 Is Null And LText006 Is Null",
                 {key})
            .toInt(),
        1);
    QCOMPARE(p.Scalar("Select CreDate From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("2026-12-10"));

    // The update changes the date and the texts, never category, chart or branch.
    r.FormCode = 5;
    r.KarteNo = 1;
    r.KarteNoBranch = 11;
    r.CreDate = QStringLiteral("2025/02/03");
    r.LText[1] = QStringLiteral("指導内容");
    UpdateCommon(*p.ctx);
    QVERIFY(ReadCommon(*p.ctx, 1, 1234, FetchMode::ByKey, key));
    QCOMPARE(r.FormCode, 1);
    QCOMPARE(r.KarteNoBranch, 12345);
    QCOMPARE(r.CreDate, QStringLiteral("2025/02/03"));
    QCOMPARE(r.LText[1], QStringLiteral("指導内容"));

    DeleteCommon(*p.ctx, key);
    QVERIFY(!ReadCommon(*p.ctx, 1, 1234, FetchMode::ByKey, key));
    DeleteCommon(*p.ctx, 424242);  // no such row: nothing happens
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 1);
    QVERIFY(p.prompter.shown.empty());
}

void TstMemoStore::hostileTextsRoundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("apostrophes") << "It's O'Brien''s";
    QTest::newRow("double quotes") << "\"quoted\" \"\"";
    QTest::newRow("sql") << "'); Delete From tblDatCommon; --";
    QTest::newRow("backslashes") << "C:\\帳票\\a.xls \\' \\\\";
    QTest::newRow("NUL") << QString::fromUtf16(u"a\u0000b\u0000", 4);
    QTest::newRow("emoji and rare kanji") << "😀👨‍👩‍👧 𠮷野家 髙";
    QTest::newRow("cp932-unmappable") << "ß € ✓ 한국어";
    QTest::newRow("line breaks") << "一行目\r\n二行目\n三行目\r";
    QTest::newRow("100 KB") << QString(100 * 1024, u'漢');
    QTest::newRow("blank only") << "   ";
}

void TstMemoStore::hostileTextsRoundTrip() {
    QFETCH(QString, text);
    TestDbProgram p;
    auto& r = p.ctx->common;
    r = CommonRecord{0, 3, 1234, 12345, QStringLiteral("2026/12/10"), {}};
    r.LText[3] = text;
    r.LText[6] = text;
    QVERIFY(InsertCommon(*p.ctx));
    const qint32 key = r.MainKey;
    r = CommonRecord{};
    QVERIFY(ReadCommon(*p.ctx, 3, 1234, FetchMode::ByKey, key));
    QCOMPARE(r.LText[3], text);
    QCOMPARE(r.LText[6], text);
    r.LText[3] = text + text;
    UpdateCommon(*p.ctx);
    QVERIFY(ReadCommon(*p.ctx, 3, 1234, FetchMode::Latest, 0));
    QCOMPARE(r.LText[3], text + text);
    QCOMPARE(HistoryText(*p.ctx, 3, 1234, HistoryOrder::NewestFirst),
             QStringLiteral("●2026/12/10 (木)\r\n") + text + text + QStringLiteral("\r\n\r\n"));
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 1);
}

void TstMemoStore::failedInsertLeavesNoRow() {
    TestDbProgram p;
    // A second statement inside the insert's transaction fails after the row is in.
    p.Exec("Create Table audit (k INTEGER NOT NULL)");
    p.Exec(
        "Create Trigger t After Insert On tblDatCommon When NEW.LText000 = 'boom' "
        "Begin Insert Into audit Values (NEW.MainKey); Insert Into audit Values (NULL); End");
    auto& r = p.ctx->common;
    r = CommonRecord{0, 0, 1234, 12345, QStringLiteral("2026/12/10"), {}};
    r.LText[0] = QStringLiteral("boom");
    try {
        InsertCommon(*p.ctx);
        QFAIL("the failure did not reach the error report");
    } catch (const ProgramEnded&) {
    }
    QCOMPARE(p.prompter.shown.size(), size_t(1));
    QVERIFY(p.prompter.shown[0].text.contains(QStringLiteral("(3019) ")));
    QCOMPARE(p.waitCursor.depth, 0);
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 0);
    QCOMPARE(p.Scalar("Select Count(*) From audit").toInt(), 0);
    // The connection was closed and the lock released: the next write goes through.
    r.LText[0] = QStringLiteral("fine");
    QVERIFY(InsertCommon(*p.ctx));
}

void TstMemoStore::dateListOrder() {
    TestDbProgram p;
    const qint32 a = p.AddMemo(2, 12345, "2024-03-05", "a");
    const qint32 b = p.AddMemo(2, 12345, "2024-03-12", "b");
    const qint32 c = p.AddMemo(2, 12345, "2024-03-12", "c");
    const qint32 d = p.AddMemo(2, 12346, "2023-12-31", "same KarteNo, other branch");
    p.AddMemo(1, 12345, "2024-06-01", "other category");
    const auto rows = ReadDateList(*p.ctx, 2, 1234);
    QCOMPARE(rows.size(), size_t(4));
    QCOMPARE(rows[0].mainKey, c);
    QCOMPARE(rows[1].mainKey, b);
    QCOMPARE(rows[2].mainKey, a);
    QCOMPARE(rows[3].mainKey, d);
    QCOMPARE(rows[0].dateText, QStringLiteral("2024/03/12 (火)"));
    QCOMPARE(rows[0].creDate, QStringLiteral("2024/03/12"));
    QVERIFY(ReadDateList(*p.ctx, 4, 1234).empty());
}

void TstMemoStore::historyText() {
    TestDbProgram p;
    p.AddMemo(1, 12345, "2015-03-05", "B");
    p.AddMemo(1, 12345, "2015-03-12", "A");
    p.AddMemo(1, 12345, "2015-03-12", "");
    p.AddMemo(1, 12345, "2015-03-20", "outside the range");
    p.AddMemo(2, 12345, "2015-03-12", "other category");
    QCOMPARE(HistoryText(*p.ctx, 1, 1234, HistoryOrder::NewestFirst),
             QStringLiteral("●2015/03/20 (金)\r\noutside the range\r\n\r\n"
                            "●2015/03/12 (木)\r\n\r\n\r\n"
                            "●2015/03/12 (木)\r\nA\r\n\r\n"
                            "●2015/03/05 (木)\r\nB\r\n\r\n"));
    // The range report: oldest first, both days of the range included.
    QCOMPARE(HistoryText(*p.ctx, 1, 1234, HistoryOrder::OldestFirst, QDate(2015, 3, 5),
                         QDate(2015, 3, 12)),
             QStringLiteral("●2015/03/05 (木)\r\nB\r\n\r\n"
                            "●2015/03/12 (木)\r\nA\r\n\r\n"
                            "●2015/03/12 (木)\r\n\r\n\r\n"));
    QCOMPARE(HistoryText(*p.ctx, 1, 1234, HistoryOrder::OldestFirst, QDate(2015, 3, 13),
                         QDate(2015, 3, 19)),
             QString());
    QCOMPARE(HistoryText(*p.ctx, 5, 1234, HistoryOrder::NewestFirst), QString());
}

QTEST_GUILESS_MAIN(TstMemoStore)
#include "tst_memo_store.moc"
