#include <QtTest>

#include "core/app_error.h"
#include "data/access_log.h"
#include "data/memo_store.h"
#include "data/session.h"
#include "data/shown_memo.h"
#include "data/tables.h"
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
    void failedRecordLeavesMemoUnchanged();
    void keysRunOutTold();
    void dateListOrder();
    void historyText();
    void savingTheShownMemo_data();
    void savingTheShownMemo();
    void deletingTheShownMemo_data();
    void deletingTheShownMemo();
};

void TstMemoStore::readLatestWithoutMemos() {
    TestDbProgram p;
    p.AddMemo(1, 12345, "2024-04-01", "another category");
    QVERIFY(!ReadCommon(*p.ctx, 2, BaseChartNo(1234), FetchMode::Latest, 0));
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

    const BaseChartNo k(1234);
    const auto latest = ReadCommon(*p.ctx, 1, k, FetchMode::Latest, 0);
    QVERIFY(latest);
    QCOMPARE(latest->MainKey, second);
    QCOMPARE(latest->CreDate, QStringLiteral("2024/05/01"));
    QCOMPARE(latest->LText[1], QStringLiteral("second of the day"));
    QCOMPARE(latest->KarteNoBranch, FullChartNo(12345));

    const auto byKey = ReadCommon(*p.ctx, 1, k, FetchMode::ByKey, first);
    QVERIFY(byKey);
    QCOMPARE(byKey->MainKey, first);
    QCOMPARE(byKey->LText[1], QStringLiteral("first of the day"));
    // By key: another category's or chart's memo is not found.
    QVERIFY(!ReadCommon(*p.ctx, 1, k, FetchMode::ByKey, otherCategory));
    QVERIFY(!ReadCommon(*p.ctx, 1, BaseChartNo(9999), FetchMode::ByKey, first));
}

void TstMemoStore::insertUpdateDelete() {
    TestDbProgram p;
    p.AddMemo(0, 12345, "2024-01-01", "x");
    CommonRecord r;
    r.FormCode = 1;
    r.KarteNo = BaseChartNo(1234);
    r.KarteNoBranch = FullChartNo(12345);
    r.CreDate = QStringLiteral("2026/12/10");
    const int cursorsBefore = p.waitCursor.begun;
    const qint32 key = InsertCommon(*p.ctx, r);
    QVERIFY(key > 0);
    QVERIFY(p.waitCursor.begun > cursorsBefore);
    QCOMPARE(p.waitCursor.depth, 0);
    r.MainKey = key;
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
    r.KarteNo = BaseChartNo(1);
    r.KarteNoBranch = FullChartNo(11);
    r.CreDate = QStringLiteral("2025/02/03");
    r.LText[1] = QStringLiteral("指導内容");
    QCOMPARE(UpdateCommon(*p.ctx, r), WriteOutcome::Done);
    const auto back = ReadCommon(*p.ctx, 1, BaseChartNo(1234), FetchMode::ByKey, key);
    QVERIFY(back);
    QCOMPARE(back->FormCode, 1);
    QCOMPARE(back->KarteNoBranch, FullChartNo(12345));
    QCOMPARE(back->CreDate, QStringLiteral("2025/02/03"));
    QCOMPARE(back->LText[1], QStringLiteral("指導内容"));

    QCOMPARE(DeleteCommon(*p.ctx, key, back->RowVersion), WriteOutcome::Done);
    QVERIFY(!ReadCommon(*p.ctx, 1, BaseChartNo(1234), FetchMode::ByKey, key));
    // no such row: nothing happens
    QCOMPARE(DeleteCommon(*p.ctx, 424242, 0), WriteOutcome::DeletedElsewhere);
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
    const BaseChartNo k(1234);
    CommonRecord w{0, 3, k, FullChartNo(12345), QStringLiteral("2026/12/10"), {}};
    w.LText[3] = text;
    w.LText[6] = text;
    const qint32 key = InsertCommon(*p.ctx, w);
    QVERIFY(key > 0);
    auto r = ReadCommon(*p.ctx, 3, k, FetchMode::ByKey, key);
    QVERIFY(r);
    QCOMPARE(r->LText[3], text);
    QCOMPARE(r->LText[6], text);
    r->LText[3] = text + text;
    QCOMPARE(UpdateCommon(*p.ctx, *r), WriteOutcome::Done);
    r = ReadCommon(*p.ctx, 3, k, FetchMode::Latest, 0);
    QVERIFY(r);
    QCOMPARE(r->LText[3], text + text);
    QCOMPARE(HistoryText(*p.ctx, 3, k, HistoryOrder::NewestFirst),
             QStringLiteral("●2026/12/10 (木)\r\n") + text + text + QStringLiteral("\r\n\r\n"));
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 1);
}

void TstMemoStore::failedInsertLeavesNoRow() {
    TestDbProgram p;
    // A second statement inside the insert's transaction fails after the row is in.
    p.Exec("Create Table audit (k INTEGER NOT NULL)");
    if (OnServer()) {
        p.Exec("Grant Insert On audit To ondrel_users");  // the trigger runs as the workstation
        p.Exec(
            "Create Function boom() Returns trigger As $$ Begin If NEW.LText000 = 'boom' Then "
            "Insert Into audit Values (NEW.MainKey); Insert Into audit Values (NULL); End If; "
            "Return NEW; End $$ Language plpgsql");
        p.Exec(
            "Create Trigger t After Insert On tblDatCommon For Each Row Execute Function boom()");
    } else {
        p.Exec(
            "Create Trigger t After Insert On tblDatCommon When NEW.LText000 = 'boom' "
            "Begin Insert Into audit Values (NEW.MainKey); Insert Into audit Values (NULL); End");
    }
    CommonRecord r{0, 0, BaseChartNo(1234), FullChartNo(12345), QStringLiteral("2026/12/10"), {}};
    r.LText[0] = QStringLiteral("boom");
    QueueAccess(*p.ctx, FullChartNo(12346), AccessAction::Shown);  // goes with the next change
    try {
        (void)InsertCommon(*p.ctx, r);
        QFAIL("the failure did not reach the error report");
    } catch (const ProgramEnded&) {
    }
    QCOMPARE(Session(*p.ctx).pendingAccess.size(), size_t(1));  // still queued
    QCOMPARE(p.prompter.shown.size(), size_t(1));
    QVERIFY(p.prompter.shown[0].text.contains(QStringLiteral("(3019) ")));
    QCOMPARE(p.waitCursor.depth, 0);
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 0);
    QCOMPARE(p.Scalar("Select Count(*) From audit").toInt(), 0);
    // The connection was closed and the lock released: the next write goes through.
    r.LText[0] = QStringLiteral("fine");
    QVERIFY(InsertCommon(*p.ctx, r) > 0);
    QVERIFY(Session(*p.ctx).pendingAccess.empty());
    QCOMPARE(p.Scalar("Select Count(*) From tblAccessLog Where KarteNo = 12346 And Action = '表示'")
                 .toInt(),
             1);
    QCOMPARE(p.Scalar("Select Count(*) From tblAccessLog Where KarteNo = 12345").toInt(), 1);
}

// The highest key a memo can have is taken: a new memo is refused and told,
// nothing is written, and the program goes on.
void TstMemoStore::keysRunOutTold() {
    TestDbProgram p;
    QVariantList top{2147483647, 0, 1234, 12345, "2023-01-01", "最後の番号"};
    for (int k = 1; k < 7; ++k) top << QVariant();
    p.Exec(tables::MemoInsertKeyed(), top << 0);
    if (OnServer())
        p.Exec("Select setval(pg_get_serial_sequence('tbldatcommon', 'mainkey'), 2147483647)");
    CommonRecord r{0, 0, BaseChartNo(1234), FullChartNo(12345), QStringLiteral("2026/12/10"), {}};
    r.LText[0] = QStringLiteral("新しいメモ");
    try {
        (void)InsertCommon(*p.ctx, r);
        QFAIL("a key beyond the range was given");
    } catch (const DatabaseUnavailable& e) {
        QVERIFY2(e.UserMessage().contains(QStringLiteral("上限に達した")),
                 qPrintable(e.UserMessage()));
    }
    QCOMPARE(p.waitCursor.depth, 0);
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 1);
    QCOMPARE(p.Scalar("Select Count(*) From tblDatRevision").toInt(), 0);
}

// A save's records go last, on a server in one round trip with the commit: a
// record that cannot be written fails the save, and the memo keeps its text.
void TstMemoStore::failedRecordLeavesMemoUnchanged() {
    TestDbProgram p;
    const qint32 key = p.AddMemo(0, 12345, "2024-04-01", "before");
    p.Exec("Create Table audit (k INTEGER NOT NULL)");
    if (OnServer()) {
        p.Exec("Grant Insert On audit To ondrel_users");  // the trigger runs as the workstation
        p.Exec(
            "Create Function boom() Returns trigger As $$ Begin If NEW.LText000 = 'boom' Then "
            "Insert Into audit Values (NULL); End If; Return NEW; End $$ Language plpgsql");
        p.Exec(
            "Create Trigger t After Insert On tblDatRevision For Each Row Execute Function "
            "boom()");
    } else {
        p.Exec(
            "Create Trigger t After Insert On tblDatRevision When NEW.LText000 = 'boom' "
            "Begin Insert Into audit Values (NULL); End");
    }
    const auto records = [&] {
        return std::pair(p.Scalar("Select Count(*) From tblDatRevision").toInt(),
                         p.Scalar("Select Count(*) From tblAccessLog").toInt());
    };
    const auto recordsBefore = records();
    auto memo = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, key);
    QVERIFY(memo);
    memo->LText[0] = QStringLiteral("boom");
    try {
        (void)UpdateCommon(*p.ctx, *memo);
        QFAIL("the failure did not reach the error report");
    } catch (const ProgramEnded&) {
    }
    QCOMPARE(p.prompter.shown.size(), size_t(1));
    QVERIFY(p.prompter.shown[0].text.contains(QStringLiteral("(3019) ")));
    const auto stored = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, key);
    QCOMPARE(stored->LText[0], QStringLiteral("before"));
    QCOMPARE(stored->RowVersion, memo->RowVersion);
    QCOMPARE(records(), recordsBefore);
    // Nothing of the failed save waits on the connection: the next one goes through.
    memo->LText[0] = QStringLiteral("after");
    QCOMPARE(UpdateCommon(*p.ctx, *memo), WriteOutcome::Done);
    QCOMPARE(ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, key)->LText[0],
             QStringLiteral("after"));
    QCOMPARE(records().first, recordsBefore.first + 1);
}

void TstMemoStore::dateListOrder() {
    TestDbProgram p;
    const qint32 a = p.AddMemo(2, 12345, "2024-03-05", "a");
    const qint32 b = p.AddMemo(2, 12345, "2024-03-12", "b");
    const qint32 c = p.AddMemo(2, 12345, "2024-03-12", "c");
    const qint32 d = p.AddMemo(2, 12346, "2023-12-31", "same KarteNo, other branch");
    p.AddMemo(1, 12345, "2024-06-01", "other category");
    const auto rows = ReadDateList(*p.ctx, 2, BaseChartNo(1234));
    QCOMPARE(rows.size(), size_t(4));
    QCOMPARE(rows[0].mainKey, c);
    QCOMPARE(rows[1].mainKey, b);
    QCOMPARE(rows[2].mainKey, a);
    QCOMPARE(rows[3].mainKey, d);
    QCOMPARE(rows[0].date, QDate(2024, 3, 12));
    QVERIFY(ReadDateList(*p.ctx, 4, BaseChartNo(1234)).empty());
}

void TstMemoStore::historyText() {
    TestDbProgram p;
    p.AddMemo(1, 12345, "2015-03-05", "B");
    p.AddMemo(1, 12345, "2015-03-12", "A");
    p.AddMemo(1, 12345, "2015-03-12", "");
    p.AddMemo(1, 12345, "2015-03-20", "outside the range");
    p.AddMemo(2, 12345, "2015-03-12", "other category");
    QCOMPARE(HistoryText(*p.ctx, 1, BaseChartNo(1234), HistoryOrder::NewestFirst),
             QStringLiteral("●2015/03/20 (金)\r\noutside the range\r\n\r\n"
                            "●2015/03/12 (木)\r\n\r\n\r\n"
                            "●2015/03/12 (木)\r\nA\r\n\r\n"
                            "●2015/03/05 (木)\r\nB\r\n\r\n"));
    // The range report: oldest first, both days of the range included.
    QCOMPARE(HistoryText(*p.ctx, 1, BaseChartNo(1234), HistoryOrder::OldestFirst, QDate(2015, 3, 5),
                         QDate(2015, 3, 12)),
             QStringLiteral("●2015/03/05 (木)\r\nB\r\n\r\n"
                            "●2015/03/12 (木)\r\nA\r\n\r\n"
                            "●2015/03/12 (木)\r\n\r\n\r\n"));
    QCOMPARE(HistoryText(*p.ctx, 1, BaseChartNo(1234), HistoryOrder::OldestFirst,
                         QDate(2015, 3, 13), QDate(2015, 3, 19)),
             QString());
    QCOMPARE(HistoryText(*p.ctx, 5, BaseChartNo(1234), HistoryOrder::NewestFirst), QString());
}

namespace {

// Another workstation's change or delete of the memo after it was shown.
void MeanwhileElsewhere(TestDbProgram& p, const QString& what, qint32 key) {
    auto memo = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, key);
    if (what == u"changed") {
        memo->LText[0] = QStringLiteral("他の端末の内容");
        QCOMPARE(UpdateCommon(*p.ctx, *memo), WriteOutcome::Done);
    } else if (what == u"deleted") {
        QCOMPARE(DeleteCommon(*p.ctx, key, memo->RowVersion), WriteOutcome::Done);
    }
}

}  // namespace

// The text on screen is never lost and another workstation's work never
// overwritten: a memo changed or deleted meanwhile gets the text as a new
// memo of the same category, patient and date, and the user is told.
void TstMemoStore::savingTheShownMemo_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("told");
    QTest::newRow("nothing") << ""
                             << "";
    QTest::newRow("changed elsewhere") << "changed"
                                       << "他の端末で変更されていました";
    QTest::newRow("deleted elsewhere") << "deleted"
                                       << "他の端末で削除されていました";
}

void TstMemoStore::savingTheShownMemo() {
    QFETCH(QString, meanwhile);
    QFETCH(QString, told);
    TestDbProgram p;
    const qint32 key = p.AddMemo(0, 12345, "2024-04-01", "表示した内容");
    auto shown = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, key);
    MeanwhileElsewhere(p, meanwhile, key);
    shown->LText[0] = QStringLiteral("画面の内容");
    const ShownMemoOutcome outcome =
        SaveShownMemo(*p.ctx, *shown, 0, BaseChartNo(1234), FullChartNo(12345));
    QVERIFY2(told.isEmpty() ? outcome.warning.isEmpty() : outcome.warning.contains(told),
             qPrintable(outcome.warning));
    if (meanwhile.isEmpty()) {
        QCOMPARE(outcome.page, ShownMemoOutcome::Page::AsSaved);
        QCOMPARE(p.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
                 QStringLiteral("画面の内容"));
        return;
    }
    QCOMPARE(outcome.page, ShownMemoOutcome::Page::AtMemo);
    QVERIFY(outcome.memo != key);
    const auto copy = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, outcome.memo);
    QVERIFY(copy);
    QCOMPARE(copy->LText[0], QStringLiteral("画面の内容"));
    QCOMPARE(copy->CreDate, QStringLiteral("2024/04/01"));
    QCOMPARE(copy->KarteNoBranch, FullChartNo(12345));
    const QVariant other = p.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key});
    if (meanwhile == u"changed")
        QCOMPARE(other.toString(), QStringLiteral("他の端末の内容"));
    else
        QVERIFY(!other.isValid());
}

// A delete applies only to the version shown.
void TstMemoStore::deletingTheShownMemo_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("told");
    QTest::addColumn<bool>("remains");
    QTest::newRow("nothing") << "" << int(ShownMemoOutcome::Page::Latest) << "" << false;
    QTest::newRow("changed elsewhere")
        << "changed" << int(ShownMemoOutcome::Page::AtMemo) << "削除しませんでした" << true;
    QTest::newRow("deleted elsewhere") << "deleted" << int(ShownMemoOutcome::Page::Latest)
                                       << "既に他の端末で削除されています" << false;
}

void TstMemoStore::deletingTheShownMemo() {
    QFETCH(QString, meanwhile);
    QFETCH(int, page);
    QFETCH(QString, told);
    QFETCH(bool, remains);
    TestDbProgram p;
    const qint32 key = p.AddMemo(0, 12345, "2024-04-01", "表示した内容");
    const auto shown = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, key);
    MeanwhileElsewhere(p, meanwhile, key);
    const ShownMemoOutcome outcome = DeleteShownMemo(*p.ctx, key, shown->RowVersion);
    QCOMPARE(int(outcome.page), page);
    if (outcome.page == ShownMemoOutcome::Page::AtMemo) QCOMPARE(outcome.memo, key);
    QVERIFY2(told.isEmpty() ? outcome.warning.isEmpty() : outcome.warning.contains(told),
             qPrintable(outcome.warning));
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), remains ? 1 : 0);
}

QTEST_GUILESS_MAIN(TstMemoStore)
#include "tst_memo_store.moc"
