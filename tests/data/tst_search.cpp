#include <QtTest>

#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/memo_search.h"
#include "data/memo_store.h"
#include "data/session.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

struct Fixture;

class TstSearch : public QObject {
    Q_OBJECT
    std::unique_ptr<Fixture> shared_;

  public:
    ~TstSearch() override;

  private slots:
    void cleanupTestCase() { shared_.reset(); }
    void queries_data();
    void queries();
    void filtersAndOrder();
    void marks_data();
    void marks();
    void searchIsLoggedWithoutItsText();
    void olderFileIndexedInParts();
};

SearchRequest Ask(const QString& text, std::optional<int> form = {}, std::vector<int> forms = {},
                  QDate from = {}, QDate to = {}, int limit = 200) {
    SearchRequest r;
    r.text = text;
    r.formCode = form;
    r.formCodes = std::move(forms);
    r.from = from;
    r.to = to;
    r.limit = limit;
    return r;
}

struct Fixture {
    TestDbProgram p;
    QMap<QString, qint32> keys;
    Fixture() {
        keys["insulin"] = p.AddMemo(0, 12345, "2024-03-01",
                                    "経過良好。\r\n本日インスリン注射の手技を確認した。\r\n"
                                    "次回は血糖値を見る");
        keys["gauze"] = p.AddMemo(1, 12346, "2024-05-01", "ｶﾞｰｾﾞ交換を毎日");
        keys["abc"] = p.AddMemo(2, 12345, "2024-06-01", "ＡＢＣ検査の説明");
        keys["syntax"] =
            p.AddMemo(0, 7, "2023-01-01", "special \"quoted\" * (NEAR) OR 100% _x_ 😀絵文字 'x'");
        const qint32 gone = p.AddMemo(0, 12346, "2024-07-01", "削除するガーゼの指示");
        if (DeleteCommon(*p.ctx, gone, 0) != WriteOutcome::Done) qFatal("delete failed");
        keys["changed"] = p.AddMemo(3, 12346, "2024-02-01", "古い文言");
        auto memo = ReadCommon(*p.ctx, 3, BaseChartNo(1234), FetchMode::ByKey, keys["changed"]);
        memo->LText[3] = QStringLiteral("新しい文言");
        if (UpdateCommon(*p.ctx, *memo) != WriteOutcome::Done) qFatal("update failed");
    }
    QStringList Found(const SearchRequest& r) {
        QStringList names;
        for (const SearchHit& h : SearchMemos(*p.ctx, r).hits) names << keys.key(h.mainKey, "?");
        return names;
    }
    QStringList Found(const QString& text) { return Found(Ask(text)); }
};

TstSearch::~TstSearch() = default;

void TstSearch::queries_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found");
    const QStringList none;
    QTest::newRow("inside a word") << "スリン" << QStringList{"insulin"};
    QTest::newRow("on a later line") << "血糖値" << QStringList{"insulin"};
    QTest::newRow("full-width kana finds half-width") << "ガーゼ" << QStringList{"gauze"};
    QTest::newRow("half-width kana") << "ｶﾞｰｾﾞ" << QStringList{"gauze"};
    QTest::newRow("ascii finds full-width") << "abc" << QStringList{"abc"};
    QTest::newRow("full-width") << "ＡＢＣ" << QStringList{"abc"};
    QTest::newRow("mixed case") << "aBc検" << QStringList{"abc"};
    QTest::newRow("one character") << "糖" << QStringList{"insulin"};
    QTest::newRow("two characters") << "交換" << QStringList{"gauze"};
    QTest::newRow("quotes") << "\"quoted\"" << QStringList{"syntax"};
    QTest::newRow("star") << "*" << QStringList{"syntax"};
    QTest::newRow("near in brackets") << "(NEAR)" << QStringList{"syntax"};
    QTest::newRow("or") << " OR 1" << QStringList{"syntax"};
    QTest::newRow("percent is a character") << "%" << QStringList{"syntax"};
    QTest::newRow("underscore is a character") << "_x_" << QStringList{"syntax"};
    QTest::newRow("apostrophe") << "'x'" << QStringList{"syntax"};
    QTest::newRow("emoji") << "😀" << QStringList{"syntax"};
    QTest::newRow("emoji and text") << "😀絵文" << QStringList{"syntax"};
    QTest::newRow("deleted memo not found") << "削除する" << none;
    QTest::newRow("changed memo: old text gone") << "古い文言" << none;
    QTest::newRow("changed memo: new text") << "新しい" << QStringList{"changed"};
    QTest::newRow("empty") << "" << none;
    QTest::newRow("spaces") << "  \t " << none;
    QTest::newRow("nul") << QString(QChar(u'\0')) << none;
    QTest::newRow("nul inside") << QStringLiteral("スリ") + QChar(u'\0') + QStringLiteral("ン")
                                << none;
    QTest::newRow("a thousand characters") << QString(1000, u'字') << none;
    QTest::newRow("sql") << "'; Drop Table tblDatCommon; --" << none;
}

void TstSearch::queries() {
    QFETCH(QString, text);
    QFETCH(QStringList, found);
    // One fixture for every row: searching changes no memo.
    if (!shared_) shared_ = std::make_unique<Fixture>();
    Fixture& f = *shared_;
    QCOMPARE(f.Found(text), found);
    QCOMPARE(f.p.Scalar("Select Count(*) From tblDatCommon").toInt(), 5);
}

void TstSearch::filtersAndOrder() {
    Fixture f;
    f.keys["older"] = f.p.AddMemo(0, 12346, "2022-01-01", "血圧を測る");
    f.keys["newer"] = f.p.AddMemo(1, 12346, "2025-01-01", "血圧の記録");
    f.keys["same day, later key"] = f.p.AddMemo(1, 12345, "2025-01-01", "家庭血圧");
    QCOMPARE(f.Found("血圧"), (QStringList{"same day, later key", "newer", "older"}));
    QCOMPARE(f.Found(Ask("血圧", 0)), QStringList{"older"});
    QCOMPARE(f.Found(Ask("血圧", std::nullopt, {0, 2})), QStringList{"older"});
    QCOMPARE(f.Found(Ask("血圧", std::nullopt, {}, QDate(2022, 1, 2))),
             (QStringList{"same day, later key", "newer"}));
    QCOMPARE(f.Found(Ask("血圧", std::nullopt, {}, {}, QDate(2024, 12, 31))), QStringList{"older"});
    QCOMPARE(f.Found(Ask("血圧", std::nullopt, {}, QDate(2025, 1, 1), QDate(2025, 1, 1))),
             (QStringList{"same day, later key", "newer"}));
    const SearchResult two = SearchMemos(*f.p.ctx, Ask("血圧", {}, {}, {}, {}, 2));
    QCOMPARE(int(two.hits.size()), 2);
    QVERIFY(two.more);
    const SearchHit& hit = two.hits[0];
    QCOMPARE(hit.chart, FullChartNo(12345));
    QCOMPARE(hit.karteNo, BaseChartNo(1234));
    QCOMPARE(hit.patientName, QStringLiteral("山田　太郎"));
    QCOMPARE(hit.date, QDate(2025, 1, 1));
    QCOMPARE(hit.formCode, 1);
    QCOMPARE(hit.line.mid(hit.markAt, hit.markLength), QStringLiteral("血圧"));
    QVERIFY(!SearchMemos(*f.p.ctx, Ask("血圧")).more);
}

void TstSearch::marks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("term");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("marked");
    QTest::newRow("second line") << "一行目\r\n二行目の血圧"
                                 << "血圧"
                                 << "二行目の血圧"
                                 << "血圧";
    QTest::newRow("half-width kana, voiced") << "前ｶﾞｰｾﾞ後"
                                             << "ガーゼ"
                                             << "前ｶﾞｰｾﾞ後"
                                             << "ｶﾞｰｾﾞ";
    QTest::newRow("full-width letters") << "前ＡＢＣ後"
                                        << "abc"
                                        << "前ＡＢＣ後"
                                        << "ＡＢＣ";
    QTest::newRow("emoji before") << "😀😀血圧"
                                  << "血圧"
                                  << "😀😀血圧"
                                  << "血圧";
    QTest::newRow("emoji marked") << "a😀b"
                                  << "😀"
                                  << "a😀b"
                                  << "😀";
    QTest::newRow("not on a line") << "最初\nつぎ"
                                   << "ない"
                                   << "最初"
                                   << "";
    const QString longLine = QString(300, u'あ') + QStringLiteral("血圧") + QString(300, u'い');
    QTest::newRow("long line cut around")
        << longLine << "血圧"
        << QStringLiteral("…") + QString(30, u'あ') + QStringLiteral("血圧") + QString(88, u'い') +
               QStringLiteral("…")
        << "血圧";
}

void TstSearch::marks() {
    QFETCH(QString, text);
    QFETCH(QString, term);
    QFETCH(QString, line);
    QFETCH(QString, marked);
    const SearchHit hit = MarkMatch(text, FoldForSearch(term));
    QCOMPARE(hit.line, line);
    QCOMPARE(hit.line.mid(hit.markAt, hit.markLength), marked);
}

void TstSearch::searchIsLoggedWithoutItsText() {
    Fixture f;
    SearchMemos(*f.p.ctx, Ask("インスリン"));
    FlushAccessLog(*f.p.ctx);
    QCOMPARE(f.p.Scalar("Select Action || '/' || KarteNo From tblAccessLog Where Action Like "
                        "'検索%'")
                 .toString(),
             QStringLiteral("検索（5文字・1件）/0"));
    QCOMPARE(
        f.p.Scalar("Select Count(*) From tblAccessLog Where Action Like '%インスリン%'").toInt(),
        0);
}

void TstSearch::olderFileIndexedInParts() {
    if (OnServer()) QSKIP("a file's index");
    TestDbProgram p;
    QList<qint32> keys;
    for (int i = 0; i < 25; ++i)
        keys << p.AddMemo(0, 12345, QStringLiteral("2024-01-%1").arg(i + 1, 2, 10, QChar(u'0')),
                          QStringLiteral("処置%1番").arg(i));
    // As a file made before the index: no index table, no triggers.
    for (const char* sql : {"Drop Trigger trgDatSearchInsert", "Drop Trigger trgDatSearchUpdate",
                            "Drop Trigger trgDatSearchDelete", "Drop Table tblDatSearch",
                            "Drop Table tblDatSearchFill"})
        p.Exec(QString::fromLatin1(sql));
    {
        DbConnection cn;
        QVERIFY(OpenDbConnectionAt(p.OwnerDbPath(), cn));
        UpgradeOlderFile(cn);
    }
    p.AddMemo(0, 12345, "2024-02-01", "処置の後");  // the triggers take it
    SearchResult r = SearchMemos(*p.ctx, Ask("処置"));
    QVERIFY(r.indexPending);
    QCOMPARE(int(r.hits.size()), 1);  // only what the triggers took
    QVERIFY(!FillSearchIndex(*p.ctx, 10));
    r = SearchMemos(*p.ctx, Ask("処置"));
    QCOMPARE(int(r.hits.size()), 11);  // the newest first
    QCOMPARE(r.hits.back().mainKey, keys[15]);
    QVERIFY(!FillSearchIndex(*p.ctx, 10));
    QVERIFY(FillSearchIndex(*p.ctx, 10));
    r = SearchMemos(*p.ctx, Ask("処置"));
    QVERIFY(!r.indexPending);
    QCOMPARE(int(r.hits.size()), 26);
    QCOMPARE(p.Scalar("Select Count(*) From tblDatSearch").toInt(), 26);
    QVERIFY(FillSearchIndex(*p.ctx, 10));
    // A file whose index could not be made (a copy that cannot be written):
    // every memo read through, the same hits.
    for (const char* sql : {"Drop Trigger trgDatSearchInsert", "Drop Trigger trgDatSearchUpdate",
                            "Drop Trigger trgDatSearchDelete", "Drop Table tblDatSearch"})
        p.Exec(QString::fromLatin1(sql));
    QCOMPARE(int(SearchMemos(*p.ctx, Ask("処置")).hits.size()), 26);
    QCOMPARE(int(SearchMemos(*p.ctx, Ask("ｼｮﾁ")).hits.size()), 0);
    QCOMPARE(int(SearchMemos(*p.ctx, Ask("25番")).hits.size()), 0);
    QCOMPARE(int(SearchMemos(*p.ctx, Ask("24番")).hits.size()), 1);
}

QTEST_GUILESS_MAIN(TstSearch)
#include "tst_search.moc"
