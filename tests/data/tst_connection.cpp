#include <sqlite3.h>

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>
#include <thread>

#include "core/app_error.h"
#include "data/db_connection.h"
#include "data/memo_store.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

class TstConnection : public QObject {
    Q_OBJECT
  private slots:
    void refusesWhatIsNoDatabase_data();
    void refusesWhatIsNoDatabase();
    void statementOnUnopenedConnectionReachesErrorReport();
    void literalsAndFieldValues();
    void tableFieldList();
    void closeIsHarmless();
    void writerWaitsForAnotherWriter();
    void writerGivesUpAfterTheBusyTimeout();
};

void TstConnection::refusesWhatIsNoDatabase_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << "missing";
    QTest::newRow("folder") << "folder";
    QTest::newRow("text file") << "text";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("unreadable file") << "unreadable";
}

void TstConnection::refusesWhatIsNoDatabase() {
    QFETCH(QString, kind);
    if (kind == u"unreadable" && ::geteuid() == 0) QSKIP("root reads every file");
    TestDbProgram p;
    QString path = p.Root() + "/x.db";
    if (kind == u"folder") QDir().mkpath(path);
    if (kind == u"text") WriteBytes(path, QByteArray(4096, 'x'));
    if (kind == u"empty") WriteBytes(path, {});
    if (kind == u"unreadable") {
        QFile::copy(p.DbPath(), path);
        QFile::setPermissions(path, QFileDevice::WriteOwner);
    }
    const QByteArray before = ReadBytes(path);
    DbConnection cn;
    QVERIFY(!OpenDbConnectionAt(path, cn));
    QVERIFY(!cn.IsOpen());
    QCOMPARE(QFile::exists(path), kind != u"missing");  // never created
    QCOMPARE(ReadBytes(path), before);
}

void TstConnection::statementOnUnopenedConnectionReachesErrorReport() {
    TestDbProgram p;
    p.ctx->settings.SystemDB = p.Root() + "/gone.db";
    QVERIFY_THROWS_EXCEPTION(ProgramEnded,
                             ReadCommon(*p.ctx, 0, BaseChartNo(1), FetchMode::Latest, 0));
    QVERIFY(p.prompter.shown.back().text.endsWith(
        QStringLiteral("(3014) データベース ファイルを開けません。")));
    QVERIFY(!QFile::exists(p.Root() + "/gone.db"));
}

void TstConnection::literalsAndFieldValues() {
    QVERIFY(SqlText(QString()).isNull());
    QVERIFY(SqlText(QStringLiteral("")).isNull());
    QCOMPARE(SqlText(QStringLiteral("it's")).toString(), QStringLiteral("it's"));
    QVERIFY(SqlDate(QString()).isNull());
    QCOMPARE(SqlDate(QStringLiteral("2024/04/01")).toDate(), QDate(2024, 4, 1));
    QCOMPARE(NullToEmpty(QVariant()), QString());
    QCOMPARE(NullToEmpty(QVariant(42)), QStringLiteral("42"));
    QCOMPARE(NullToEmpty(QVariant(QDate(2024, 4, 1))), QStringLiteral("2024/04/01"));
}

void TstConnection::tableFieldList() {
    TestDbProgram p;
    p.Exec("Create Table one (only_col TEXT)");
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(p.DbPath(), cn));
    QCOMPARE(TableFieldList(cn, "one"), QStringLiteral("only_col"));
    QCOMPARE(
        TableFieldList(cn, "tblDatCommon"),
        QStringLiteral("MainKey, FormCode, KarteNo, KarteNoBranch, CreDate, LText000, LText001, "
                       "LText002, LText003, LText004, LText005, LText006, RowVersion"));
    QCOMPARE(TableFieldList(cn, "no_such_table"), QString());
}

void TstConnection::closeIsHarmless() {
    DbConnection empty;
    CloseDbConnection(empty);
    QVERIFY(!empty.HoldsConnection());
    TestDbProgram p;
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(p.DbPath(), cn));
    CloseDbConnection(cn);
    QVERIFY(!cn.IsOpen());
    CloseDbConnection(cn);
    cn.RollbackAndClose();  // nothing in progress: nothing reported
}

namespace {
// Another program (the chart system) holding the write lock for a while.
void HoldWriteLock(const QString& path, int ms, std::atomic<bool>* locked) {
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "UPDATE tblMasSystemA SET Name01 = 'held'", nullptr, nullptr, nullptr);
    *locked = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}
}  // namespace

void TstConnection::writerWaitsForAnotherWriter() {
    TestDbProgram p;
    std::atomic<bool> locked = false;
    std::thread other(HoldWriteLock, p.DbPath(), 800, &locked);
    while (!locked) std::this_thread::yield();
    const CommonRecord r{0, 0, BaseChartNo(1234), FullChartNo(12345), QStringLiteral("2026/12/10"),
                         {}};
    QElapsedTimer t;
    t.start();
    QVERIFY(InsertCommon(*p.ctx, r) > 0);  // waits, then writes
    other.join();
    QVERIFY(p.prompter.shown.empty());
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 1);
    QCOMPARE(p.Scalar("Select Name01 From tblMasSystemA").toString(), QStringLiteral("held"));
}

// The one busy case that waits out the real timeout: the program gives
// another program 5 s, as the Windows program's engine did.
void TstConnection::writerGivesUpAfterTheBusyTimeout() {
    TestDbProgram p;
    QCOMPARE(BusyTimeout(), kBusyTimeout);
    std::atomic<bool> locked = false;
    std::thread other(HoldWriteLock, p.DbPath(), 6000, &locked);
    while (!locked) std::this_thread::yield();
    const CommonRecord r{0, 0, BaseChartNo(1234), FullChartNo(12345), QStringLiteral("2026/12/10"),
                         {}};
    QElapsedTimer waited;
    waited.start();
    // An expected condition for the caller to tell, not the end of the program.
    QVERIFY_THROWS_EXCEPTION(ondrel::DatabaseBusy, (void)InsertCommon(*p.ctx, r));
    QVERIFY2(waited.elapsed() >= 4900, qPrintable(QString::number(waited.elapsed())));
    other.join();
    QVERIFY(p.prompter.shown.empty());
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 0);
    QVERIFY(InsertCommon(*p.ctx, r) > 0);  // tried again once the lock is gone
    QCOMPARE(p.Scalar("Select Count(*) From tblDatCommon").toInt(), 1);
}

QTEST_GUILESS_MAIN(TstConnection)
#include "tst_connection.moc"
