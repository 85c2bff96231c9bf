// The records a clinic keeps: every change of a memo in a chain of digests
// that `ondrel-db verify` walks, and the access log `ondrel-db log` prints.
#include <QDir>
#include <QProcess>
#include <QtTest>
#include <algorithm>
#include <string_view>

#include "core/app_error.h"
#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/memo_store.h"
#include "data/revisions.h"
#include "data/session.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

class TstRecords : public QObject {
    Q_OBJECT

    static int Tool(const QStringList& args, QString* out = nullptr) {
        QProcess p;
        p.start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/../../tools/ondrel-db", args);
        p.waitForFinished(120000);
        if (out) *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    // Three memos of patient 12345 through the program's own writes: one
    // updated twice, one deleted.
    static std::vector<qint32> Changes(TestDbProgram& p) {
        std::vector<qint32> keys;
        for (int i = 0; i < 3; ++i) {
            CommonRecord r{0,
                           0,
                           BaseChartNo(1234),
                           FullChartNo(12345),
                           QStringLiteral("2026/12/0%1").arg(i + 1),
                           {}};
            r.LText[0] = QStringLiteral("メモ %1").arg(i);
            keys.push_back(InsertCommon(*p.ctx, r));
        }
        for (int n = 0; n < 2; ++n) {
            auto r = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, keys[0]);
            r->LText[0] += QStringLiteral(" 追記");
            if (UpdateCommon(*p.ctx, *r) != WriteOutcome::Done) qFatal("update refused");
        }
        const auto gone = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, keys[2]);
        if (DeleteCommon(*p.ctx, keys[2], gone->RowVersion) != WriteOutcome::Done)
            qFatal("delete refused");
        return keys;
    }

    // A tamperer with plain SQL: on a file the append-only triggers go first.
    static void Tamper(TestDbProgram& p, const QStringList& statements) {
        if (!OnServer()) {
            for (const char* t : {"trgtblDatRevisionUPDATE", "trgtblDatRevisionDELETE"})
                p.Exec(QStringLiteral("Drop Trigger ") + QLatin1String(t));
        }
        for (const QString& sql : statements) p.Exec(sql);
    }

  private slots:
    void chainAndMemosHold();
    void writersAtOnceChainInTurn();
    void tamperingNamed_data();
    void tamperingNamed();
    void revisionsAreAppendOnly();
    void serverWritesTheRecord_data();
    void serverWritesTheRecord();
    void serverDigestOfHostileTexts();
    void olderServerDatabaseToldAtStart();
    void noFalseAlarmOnManyChanges();
    void olderFileGainsRecords();
    void lostRecordTablesRefused_data();
    void lostRecordTablesRefused();
    void accessLog();
    void anchorsCatchARecomputedChain();
    void logCellsNeverFormulas_data();
    void logCellsNeverFormulas();
};

void TstRecords::chainAndMemosHold() {
    TestDbProgram p;
    const auto keys = Changes(p);
    QString out;
    QCOMPARE(Tool({"verify", p.DbPath()}, &out), 0);
    QVERIFY2(out.contains(QStringLiteral("異常はありません（変更履歴 6 行")), qPrintable(out));
    const auto revisions = ReadRevisions(*p.ctx, keys[0]);
    QCOMPARE(revisions.size(), size_t(3));
    QCOMPARE(ActionText(revisions[0].action), QStringLiteral("追加"));
    QCOMPARE(ActionText(revisions[2].action), QStringLiteral("更新"));
    QCOMPARE(RevisionText(revisions[2]), QStringLiteral("メモ 0 追記 追記"));
    QVERIFY(!revisions[2].changedBy.isEmpty());
    QVERIFY(!revisions[2].workstation.isEmpty());
    QVERIFY(revisions[0].changedAt <= revisions[2].changedAt);
    const auto deleted = ReadDeletedMemos(*p.ctx, 0, BaseChartNo(1234));
    QCOMPARE(deleted.size(), size_t(1));
    QCOMPARE(deleted[0].mainKey, keys[2]);
    QCOMPARE(RevisionText(deleted[0]), QStringLiteral("メモ 2"));
}

// Three workstations saving at once, as the workstations' login: each
// revision chains to the one before it, none to the same one.
void TstRecords::writersAtOnceChainInTurn() {
    TestDbProgram p;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int i = 0; i < 3; ++i) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/../data/crash_writer",
                              {p.DbPath()});
        QVERIFY(writers.back()->waitForStarted());
    }
    // Until each has committed a few saves, a bounded while.
    QTRY_VERIFY_WITH_TIMEOUT(p.Scalar("Select Count(*) From tblDatRevision").toInt() >= 150, 60000);
    for (auto& w : writers) {
        w->kill();
        w->waitForFinished();
        QCOMPARE(w->readAllStandardError(), QByteArray());
    }
    QString out;
    QCOMPARE(Tool({"verify", p.DbPath()}, &out), 0);
    QCOMPARE(p.Scalar("Select Count(Distinct PrevDigest) From tblDatRevision").toInt(),
             p.Scalar("Select Count(*) From tblDatRevision").toInt());
}

void TstRecords::tamperingNamed_data() {
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QString>("named");
    QTest::newRow("history row edited")
        << QStringList{"Update tblDatRevision Set LText000 = 'すり替え' Where RevisionKey = 2"}
        << QStringLiteral("RevisionKey 2、メモ 2）: 内容がダイジェストと合いません");
    QTest::newRow("history row removed")
        << QStringList{"Delete From tblDatRevision Where RevisionKey = 3"}
        << QStringLiteral("RevisionKey 4、メモ 1）: 前の行とつながりません");
    QTest::newRow("two rows swapped")
        << QStringList{"Update tblDatRevision Set RevisionKey = 100 Where RevisionKey = 4",
                       "Update tblDatRevision Set RevisionKey = 4 Where RevisionKey = 5",
                       "Update tblDatRevision Set RevisionKey = 5 Where RevisionKey = 100"}
        << QStringLiteral("前の行とつながりません");
    QTest::newRow("memo edited by plain SQL")
        << QStringList{"Update tblDatCommon Set LText000 = '裏で変更' Where MainKey = 2"}
        << QStringLiteral("メモ 2: 最新の変更履歴と内容が違います（プログラムの外で変更）");
    QTest::newRow("memo deleted by plain SQL")
        << QStringList{"Delete From tblDatCommon Where MainKey = 2"}
        << QStringLiteral("メモ 2: 削除の記録がないのにありません");
    QTest::newRow("memo added by plain SQL")
        << QStringList{"Insert Into tblDatCommon (MainKey, FormCode, KarteNo, KarteNoBranch, "
                       "CreDate) Values (50, 0, 1234, 12345, '2026-01-01')"}
        << QStringLiteral("メモ 50: 変更履歴がありません");
    QTest::newRow("deleted memo put back by plain SQL")
        << QStringList{"Insert Into tblDatCommon (MainKey, FormCode, KarteNo, KarteNoBranch, "
                       "CreDate, LText000, RowVersion) Values (3, 0, 1234, 12345, '2026-12-03', "
                       "'メモ 2', 0)"}
        << QStringLiteral("メモ 3: 削除の記録があるのに残っています");
}

void TstRecords::tamperingNamed() {
    QFETCH(QStringList, statements);
    QFETCH(QString, named);
    TestDbProgram p;
    Changes(p);
    Tamper(p, statements);
    QString out;
    QCOMPARE(Tool({"verify", p.DbPath()}, &out), 1);
    QVERIFY2(out.contains(named), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("異常が")), qPrintable(out));
}

// The program itself can only add to the records.
void TstRecords::revisionsAreAppendOnly() {
    if (OnServer())
        QSKIP("on a server the program's role has no right to change them (serverInit)");
    TestDbProgram p;
    Changes(p);
    for (const char* sql : {"Update tblDatRevision Set ChangedBy = 'x'",
                            "Delete From tblDatRevision", "Delete From tblAccessLog"}) {
        DbConnection cn;
        QVERIFY(OpenDbConnectionAt(p.DbPath(), cn));
        QVERIFY_THROWS_EXCEPTION(AppError, RunChange(cn, QString::fromLatin1(sql)));
    }
}

// On a server a workstation's login changes memos and records only through
// the server's functions: every other way is refused, and what the
// functions write names the login, whatever the caller claims.
void TstRecords::serverWritesTheRecord_data() {
    QTest::addColumn<QString>("sql");
    QTest::newRow("memo inserted") << "Insert Into tblDatCommon (FormCode, KarteNo, KarteNoBranch, "
                                      "CreDate) Values (0, 1234, 12345, '2026-01-01')";
    QTest::newRow("memo updated") << "Update tblDatCommon Set LText000 = '裏で変更'";
    QTest::newRow("memo deleted") << "Delete From tblDatCommon";
    QTest::newRow("revision forged")
        << "Insert Into tblDatRevision (MainKey, Action, ChangedAt, ChangedBy, Workstation, "
           "FormCode, KarteNo, KarteNoBranch, CreDate, RowVersion, PrevDigest, Digest) Values "
           "(1, 'update', '2026-01-01', '院長', 'pc', 0, 1234, 12345, '2026-01-01', 9, '', '')";
    QTest::newRow("access record forged")
        << "Insert Into tblAccessLog (At, Person, Workstation, KarteNo, Action) Values "
           "('2026-01-01', '院長', 'pc', 12345, '表示')";
    QTest::newRow("revision appended by hand")
        << "Select ondrel_append_revision(1, 'update', 'pc')";
    QTest::newRow("access row by hand") << "Select ondrel_access_row(12345, '保存', 'pc')";
    QTest::newRow("a save queued as a view")
        << "Select ondrel_access_log(ARRAY['2026-01-01'], ARRAY[12345], ARRAY['保存'], 'pc')";
}

void TstRecords::serverWritesTheRecord() {
    QFETCH(QString, sql);
    if (!OnServer()) QSKIP("the server's functions");
    TestDbProgram p;
    Changes(p);
    const auto count = [&](const char* table) {
        return p.Scalar(QStringLiteral("Select Count(*) From ") + QLatin1String(table)).toInt();
    };
    const int memos = count("tblDatCommon"), revisions = count("tblDatRevision"),
              access = count("tblAccessLog");
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(p.DbPath(), cn));
    QVERIFY_THROWS_EXCEPTION(AppError, RunChange(cn, sql));
    cn.RollbackAndClose();
    QCOMPARE(count("tblDatCommon"), memos);
    QCOMPARE(count("tblDatRevision"), revisions);
    QCOMPARE(count("tblAccessLog"), access);
    // What the program wrote names the login, by the server's word.
    QCOMPARE(p.Scalar("Select string_agg(Distinct ChangedBy, ',') From tblDatRevision").toString(),
             QStringLiteral("ondrel_ws"));
    QCOMPARE(p.Scalar("Select string_agg(Distinct Person, ',') From tblAccessLog").toString(),
             QStringLiteral("ondrel_ws"));
    QString out;
    QCOMPARE(Tool({"verify", p.OwnerDbPath()}, &out), 0);
}

// The server's digest is the program's, for texts the server keeps escaped
// (U+0000, U+E000) as for any other.
void TstRecords::serverDigestOfHostileTexts() {
    TestDbProgram p;
    using namespace std::string_view_literals;
    const auto text = [](std::u16string_view v) {  // NUL inside kept
        return QString::fromUtf16(v.data(), qsizetype(v.size()));
    };
    const QStringList texts{text(u"前\u0000後"sv), text(u"\uE000"sv),
                            text(u"\uE0000\uE000\uE000\u0000"sv), text(u"末尾\uE000"sv),
                            QStringLiteral("改行\r\n😀")};
    for (const QString& t : texts) {
        CommonRecord r{0, 0, BaseChartNo(1234), FullChartNo(12345), QStringLiteral("2026/12/01"),
                       {}};
        r.LText[0] = t;
        const qint32 key = InsertCommon(*p.ctx, r);
        auto shown = ReadCommon(*p.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, key);
        QVERIFY(shown);
        QCOMPARE(shown->LText[0], t);
        shown->LText[0] += t;
        QCOMPARE(UpdateCommon(*p.ctx, *shown), WriteOutcome::Done);
    }
    QString out;
    QCOMPARE(Tool({"verify", p.OwnerDbPath()}, &out), 0);
}

// A database made by a version whose workstations wrote the record
// themselves: told at start what the owner runs, and running it mends it.
void TstRecords::olderServerDatabaseToldAtStart() {
    if (!OnServer()) QSKIP("the server's functions");
    TestDbProgram p;
    TestProgram q;
    q.ctx->settings.SystemDB = p.DbPath();
    // Without the writers, or without the person who signed in.
    for (const char* function : {"ondrel_memo_insert", "ondrel_person"}) {
        p.Exec(QStringLiteral("Drop Function ") + QLatin1String(function));
        const QString told = ServerStartProblem(*q.ctx);
        QVERIFY2(told.contains(QStringLiteral("古い形式")) && told.contains("ondrel-db init"),
                 qPrintable(told));
        QCOMPARE(Tool({"init", p.OwnerDbPath()}), 0);
        QCOMPARE(ServerStartProblem(*q.ctx), QString());
    }
}

// A memo rewritten with every later digest computed anew passes the chain's
// own check; the heads kept elsewhere (a printed anchor, the backups') catch
// it, naming the first anchor it breaks.
void TstRecords::anchorsCatchARecomputedChain() {
    TestDbProgram p;
    const auto keys = Changes(p);
    const QString anchors = p.Root() + "/anchors.txt";
    const QString backups = p.Root() + "/backup";
    QString first, second, out;
    QCOMPARE(Tool({"anchor", p.DbPath()}, &first), 0);
    QVERIFY2(first.startsWith(QStringLiteral("ondrel-anchor RevisionKey=")), qPrintable(first));
    QCOMPARE(Tool({"backup", p.OwnerDbPath(), backups}, &out), 0);
    QCOMPARE(QDir(backups).entryList({"*.anchor"}, QDir::Files).size(), 1);
    Changes(p);
    QCOMPARE(Tool({"anchor", p.DbPath()}, &second), 0);
    {
        QFile f(anchors);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(("控え\n" + first + second + "ondrel-anchor RevisionKey=x\n").toUtf8());
    }
    QCOMPARE(Tool({"verify", p.DbPath(), "--anchors", anchors}, &out), 0);
    QVERIFY2(out.contains(QStringLiteral("アンカー 2 個とも合っています")), qPrintable(out));
    QCOMPARE(Tool({"verify", p.DbPath(), "--anchors", backups}, &out), 0);

    // The tamperer rewrites the second memo's first text and recomputes the chain.
    std::vector<Revision> chain;
    for (qint32 key : keys) {
        for (Revision& r : ReadRevisions(*p.ctx, key)) chain.push_back(std::move(r));
    }
    for (qint32 key = keys.back() + 1; key <= keys.back() + 3; ++key) {
        for (Revision& r : ReadRevisions(*p.ctx, key)) chain.push_back(std::move(r));
    }
    std::sort(chain.begin(), chain.end(),
              [](const Revision& a, const Revision& b) { return a.key < b.key; });
    QStringList statements{"Update tblDatCommon Set LText000 = '書き換え' Where MainKey = " +
                           QString::number(keys[1])};
    QString prev;
    for (Revision& r : chain) {
        if (r.mainKey == keys[1]) r.memo[4] = QStringLiteral("書き換え");  // LText000
        r.prevDigest = prev;
        r.digest = RevisionDigest(prev, r);
        prev = r.digest;
        statements << QStringLiteral(
                          "Update tblDatRevision Set LText000 = '%1', PrevDigest = '%2', "
                          "Digest = '%3' Where RevisionKey = %4")
                          .arg(r.memo[4].toString(), r.prevDigest, r.digest)
                          .arg(r.key);
    }
    Tamper(p, statements);
    QCOMPARE(Tool({"verify", p.DbPath()}, &out), 0);  // the chain alone cannot tell
    for (const QString& where : {anchors, backups}) {
        QCOMPARE(Tool({"verify", p.DbPath(), "--anchors", where}, &out), 1);
        const QString firstKey = first.section(u'=', 1, 1).section(u' ', 0, 0);
        QVERIFY2(
            out.section(u'\n', 0, 0).contains(QStringLiteral("RevisionKey %1").arg(firstKey)) &&
                out.contains(QStringLiteral("ダイジェストが違います")),
            qPrintable(out));
    }
    QCOMPARE(Tool({"verify", p.DbPath(), "--anchors", p.Root() + "/none"}, &out), 1);
    QVERIFY2(out.contains(QStringLiteral("アンカーを読めません")), qPrintable(out));
    QCOMPARE(Tool({"verify", p.DbPath(), "--anchors", p.Root()}, &out), 1);
    QVERIFY2(out.contains(QStringLiteral("アンカーが見つかりません")), qPrintable(out));
}

// 10 000 changes in the chain, the program's own: no alarm.
void TstRecords::noFalseAlarmOnManyChanges() {
    TestDbProgram p;
    const auto keys = Changes(p);
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(p.OwnerDbPath(), cn));
    BeginTransaction(cn);
    for (int i = 0; i < 10000; ++i) {
        const qint32 key = keys[size_t(i % 2)];
        RunChange(cn,
                  "Update tblDatCommon Set RowVersion = RowVersion + 1, LText000 = ? "
                  "Where MainKey = ?",
                  {QStringLiteral("版 %1").arg(i), key});
        AppendRevision(cn, key, QStringLiteral("update"), *MemoRowValues(cn, key));
    }
    CommitTransaction(cn);
    QString out;
    QCOMPARE(Tool({"verify", p.DbPath()}, &out), 0);
    QVERIFY2(out.contains(QStringLiteral("変更履歴 10006 行")), qPrintable(out));
}

// A file from before the records: opened by the program, it gains them, each
// memo with a first revision, and verifies clean.
void TstRecords::olderFileGainsRecords() {
    if (OnServer()) QSKIP("a file's upgrade");
    TestDbProgram p;
    Tamper(p, {"Drop Trigger trgtblAccessLogUPDATE", "Drop Trigger trgtblAccessLogDELETE",
               "Drop Table tblDatRevision", "Drop Table tblAccessLog", "Pragma user_version = 0"});
    const QString older = p.Root() + "/older.db";
    QVERIFY(QFile::copy(p.DbPath(), older));
    TestProgram q;
    q.ctx->settings.SystemDB = older;
    DbConnection raw;  // rows written as the older program wrote them
    {
        QVERIFY(OpenDbConnectionAt(older, raw, true));
        RunChange(raw,
                  "Insert Into tblDatCommon (FormCode, KarteNo, KarteNoBranch, CreDate, "
                  "LText000) Values (0, 1234, 12345, '2020-01-01', '昔のメモ')");
        raw.RollbackAndClose();
    }
    const auto memo = ReadCommon(*q.ctx, 0, BaseChartNo(1234), FetchMode::Latest, 0);
    QVERIFY(memo);
    QCOMPARE(ReadRevisions(*q.ctx, memo->MainKey).size(), size_t(1));
    QCOMPARE(ReadRevisions(*q.ctx, memo->MainKey)[0].action, QStringLiteral("baseline"));
    QString out;
    QCOMPARE(Tool({"verify", older}, &out), 0);
}

// Records that were there and are gone are never begun anew from the memos
// (that would hide an edit made meanwhile): the program and verify refuse
// the database and name what is missing.
void TstRecords::lostRecordTablesRefused_data() {
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<bool>("unmarked");  // a file from before files were marked
    QTest::newRow("both") << QStringList{"tblDatRevision", "tblAccessLog"} << false;
    QTest::newRow("history only") << QStringList{"tblDatRevision"} << false;
    QTest::newRow("access log only") << QStringList{"tblAccessLog"} << false;
    QTest::newRow("one of an unmarked file's") << QStringList{"tblDatRevision"} << true;
}

void TstRecords::lostRecordTablesRefused() {
    QFETCH(QStringList, dropped);
    QFETCH(bool, unmarked);
    if (unmarked && OnServer()) QSKIP("a file's mark");
    TestDbProgram p;
    const auto keys = Changes(p);
    QStringList statements{"Update tblDatCommon Set LText000 = '裏で変更' Where MainKey = 1"};
    for (const QString& t : dropped) statements << "Drop Table " + t;
    if (unmarked) statements << "Pragma user_version = 0";
    Tamper(p, statements);
    QString out;
    QCOMPARE(Tool({"verify", p.DbPath()}, &out), 1);
    for (const QString& t : dropped) QVERIFY2(out.contains(t), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("がありません")), qPrintable(out));
    // The program refuses as well, told, and makes nothing.
    TestProgram q;
    q.ctx->settings.SystemDB = p.DbPath();
    if (OnServer()) {
        const QString told = ServerStartProblem(*q.ctx);
        for (const QString& t : dropped) QVERIFY2(told.contains(t), qPrintable(told));
    } else {
        try {
            if (ReadCommon(*q.ctx, 0, BaseChartNo(1234), FetchMode::ByKey, keys[0]))
                QFAIL("read from a database whose records are gone");
            QFAIL("opened");
        } catch (const DatabaseUnavailable& e) {
            for (const QString& t : dropped)
                QVERIFY2(e.UserMessage().contains(t), qPrintable(e.UserMessage()));
        }
    }
    for (const QString& t : dropped) {
        const QString exists =
            OnServer()
                ? QStringLiteral("Select Count(*) From pg_tables Where tablename = '%1'")
                      .arg(t.toLower())
                : QStringLiteral("Select Count(*) From sqlite_master Where name = '%1'").arg(t);
        QCOMPARE(p.Scalar(exists).toInt(), 0);
    }
}

void TstRecords::accessLog() {
    TestDbProgram p;
    QueueAccess(*p.ctx, FullChartNo(12346), AccessAction::Shown);
    Changes(p);  // the queued record goes with the first change
    QueueAccess(*p.ctx, FullChartNo(7), AccessAction::Report);
    FlushAccessLog(*p.ctx);
    QVERIFY(Session(*p.ctx).pendingAccess.empty());
    QString out;
    QCOMPARE(Tool({"log", p.DbPath()}, &out), 0);
    QStringList lines = out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("日時,入力者,端末,カルテ番号,操作"));
    QStringList actions;
    for (const QString& l : lines.mid(1)) actions << l.section(u',', 3, 4);
    QCOMPARE(actions, (QStringList{"12346,表示", "12345,保存", "12345,保存", "12345,保存",
                                   "12345,保存", "12345,保存", "12345,削除", "7,帳票"}));
    QCOMPARE(Tool({"log", p.DbPath(), "--chart", "7"}, &out), 0);
    QCOMPARE(out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size(), 2);
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    QCOMPARE(Tool({"log", p.DbPath(), "--from", today, "--to", today}, &out), 0);
    QCOMPARE(out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size(), 9);
    QCOMPARE(Tool({"log", p.DbPath(), "--to", "2000-01-01"}, &out), 0);
    QCOMPARE(out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size(), 1);
    QProcess cp;
    cp.start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/../../tools/ondrel-db",
             {"log", p.DbPath(), "--cp932"});
    QVERIFY(cp.waitForFinished(60000));
    QCOMPARE(cp.readAllStandardOutput().left(ToCp932("日時").size()), ToCp932("日時"));
    QCOMPARE(Tool({"log", p.DbPath(), "--from", "yesterday"}), 2);
    // A long queue (a morning of views without a change) goes in several
    // statements, every record in its order.
    for (int i = 0; i < 250; ++i) QueueAccess(*p.ctx, FullChartNo(1000 + i), AccessAction::Shown);
    FlushAccessLog(*p.ctx);
    QCOMPARE(Tool({"log", p.DbPath()}, &out), 0);
    lines = out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + 8 + 250);
    QCOMPARE(lines[9].section(u',', 3, 4), QStringLiteral("1000,表示"));
    QCOMPARE(lines.last().section(u',', 3, 4), QStringLiteral("1249,表示"));
}

// A login or host name that looks like a formula stays text when the log is
// opened in a spreadsheet.
void TstRecords::logCellsNeverFormulas_data() {
    QTest::addColumn<QString>("person");
    QTest::addColumn<QString>("cell");  // as the CSV line has it
    QTest::newRow("=") << "=HYPERLINK(\"http://x\")"
                       << "\"'=HYPERLINK(\"\"http://x\"\")\"";
    QTest::newRow("+") << "+1+1"
                       << "'+1+1";
    QTest::newRow("-") << "-1+1"
                       << "'-1+1";
    QTest::newRow("@") << "@SUM(1)"
                       << "'@SUM(1)";
    QTest::newRow("tab") << "\t=1"
                         << "'\t=1";
    QTest::newRow("CR") << "\r=1"
                        << "\"'\r=1\"";
    QTest::newRow("plain") << "nurse1"
                           << "nurse1";
    QTest::newRow("inner =") << "a=b"
                             << "a=b";
}

void TstRecords::logCellsNeverFormulas() {
    QFETCH(QString, person);
    QFETCH(QString, cell);
    TestDbProgram p;
    p.Exec(
        "Insert Into tblAccessLog (At, Person, Workstation, KarteNo, Action) "
        "Values ('2026-12-10 09:00:00.000', ?, ?, 12345, '表示')",
        {person, person});
    QString out;
    QCOMPARE(Tool({"log", p.DbPath()}, &out), 0);
    const QString line = out.section(QStringLiteral("\r\n"), 1, 1);
    QCOMPARE(line, "2026-12-10 09:00:00.000," + cell + u',' + cell + ",12345,表示");
}

QTEST_MAIN(TstRecords)
#include "tst_records.moc"
