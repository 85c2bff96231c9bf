#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>
#include <csignal>

#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

class TstCrashSafety : public QObject {
    Q_OBJECT
  private slots:
    void killedWriterLosesNoCommit();
};

void TstCrashSafety::killedWriterLosesNoCommit() {
    TestDbProgram p;
    QHash<int, qint64> printed;  // key → last sequence number printed after its commit
    QRandomGenerator rng(20261210);
    for (int round = 0; round < 25; ++round) {
        QProcess writer;
        writer.start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/crash_writer", {p.DbPath()});
        QVERIFY(writer.waitForStarted());
        QTest::qWait(int(rng.bounded(30, 250)));
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished();
        for (const QByteArray& line : writer.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2) printed[parts[0].toInt()] = parts[1].toLongLong();
        }
    }
    QVERIFY(printed.size() > 10);
    QCOMPARE(p.Scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    for (auto it = printed.cbegin(); it != printed.cend(); ++it) {
        const QVariant text =
            p.Scalar("Select LText001 From tblDatCommon Where MainKey = ?", {it.key()});
        QVERIFY2(text.isValid(), qPrintable(QString::number(it.key())));
        const QStringList parts = text.toString().split(u' ');
        QCOMPARE(parts.value(1), QStringLiteral("改行\r\nあり"));
        // That commit or a later one (committed, killed before it was printed).
        QVERIFY(parts[0].toLongLong() >= it.value());
    }
}

QTEST_GUILESS_MAIN(TstCrashSafety)
#include "tst_crash_safety.moc"
