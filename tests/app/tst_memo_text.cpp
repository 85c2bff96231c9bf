#include <QtTest>

#include "core/memo_text.h"

using namespace ondrel;

// What is stored after edits of the box's raw text (line ends as U+2029, a
// Shift+Enter break as U+2028), each edit one step as the box reports it.
class TstMemoText : public QObject {
    Q_OBJECT

  private slots:
    void edits_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("steps");  // raw texts after each edit; first: as loaded
        QTest::addColumn<QString>("expected");
        const QString P(QChar(0x2029)), L(QChar(0x2028));
        QTest::newRow("untouched")
            << "a\rb\nc" << QStringList{"a" + P + "b" + P + "c"} << "a\rb\nc";
        QTest::newRow("typed and taken back")
            << "a\rb" << QStringList{"a" + P + "b", "a" + P + "bx", "a" + P + "b"} << "a\rb";
        QTest::newRow("Enter typed between kept line ends")
            << "a\rb\nc" << QStringList{"a" + P + "b" + P + "c", "a" + P + "b" + P + "x" + P + "c"}
            << "a\rb\nx\r\nc";
        QTest::newRow("a line end deleted")
            << "a\rb\nc" << QStringList{"a" + P + "b" + P + "c", "ab" + P + "c"} << "ab\nc";
        QTest::newRow("Shift+Enter typed, stored one kept")
            << QString("a" + L + "b") << QStringList{"a" + L + "b", "a" + L + "b" + L + "c"}
            << QString("a" + L + "b\r\nc");
        QTest::newRow("edits at both ends keep the middle")
            << QString("x\u00a0\ry\u2029z")
            << QStringList{"x\u00a0" + P + "y" + P + "z", "1x\u00a0" + P + "y" + P + "z",
                           "1x\u00a0" + P + "y" + P + "z2"}
            << QString("1x\u00a0\ry\u2029z2");
        QTest::newRow("box differs from what was foreseen")
            << "a\rb" << QStringList{"a b", "a bc"} << "a bc";
    }
    void edits() {
        QFETCH(QString, stored);
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);
        StoredText t;
        t.Load(stored, steps.first());
        for (const QString& raw : steps.mid(1)) t.Update(raw);
        QCOMPARE(t.Stored(), expected);
    }
};

QTEST_GUILESS_MAIN(TstMemoText)
#include "tst_memo_text.moc"
