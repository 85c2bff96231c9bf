#include <QtTest>

#include "data/japanese_date.h"
#include "data/patient_lookup.h"

using namespace ondrel;

class TstJapaneseDate : public QObject {
    Q_OBJECT
  private slots:
    void eraDate_data();
    void eraDate();
    void formats_data();
    void formats();
    void ageText_data();
    void ageText();
    void chartNumbers();
};

void TstJapaneseDate::eraDate_data() {
    QTest::addColumn<QString>("era");
    QTest::addColumn<QString>("y");
    QTest::addColumn<QString>("m");
    QTest::addColumn<QString>("d");
    QTest::addColumn<QString>("expected");  // "ge/m/d" of the day, or empty when not a date
    QTest::newRow("S45/3/12") << "S"
                              << "45"
                              << "3"
                              << "12"
                              << "S45/3/12";
    QTest::newRow("era name") << "昭和"
                              << "45"
                              << "3"
                              << "12"
                              << "S45/3/12";
    QTest::newRow("era code 3") << "3"
                                << "45"
                                << "3"
                                << "12"
                                << "S45/3/12";
    QTest::newRow("lower-case letter") << "s"
                                       << "45"
                                       << "3"
                                       << "12"
                                       << "S45/3/12";
    QTest::newRow("full-width letter and digits") << "Ｓ"
                                                  << "４５"
                                                  << "０３"
                                                  << "１２"
                                                  << "S45/3/12";
    QTest::newRow("S64/1/7 last day of 昭和") << "S"
                                              << "64"
                                              << "1"
                                              << "7"
                                              << "S64/1/7";
    QTest::newRow("S64/1/8 past the era's end") << "S"
                                                << "64"
                                                << "1"
                                                << "8"
                                                << "H1/1/8";
    QTest::newRow("H1/1/8 first day of 平成") << "H"
                                              << "1"
                                              << "1"
                                              << "8"
                                              << "H1/1/8";
    QTest::newRow("H1/1/7 before 平成") << "H"
                                        << "1"
                                        << "1"
                                        << "7"
                                        << "";
    QTest::newRow("H31/4/30 last day of 平成") << "H"
                                               << "31"
                                               << "4"
                                               << "30"
                                               << "H31/4/30";
    QTest::newRow("H31/5/1 is R1/5/1") << "H"
                                       << "31"
                                       << "5"
                                       << "1"
                                       << "R1/5/1";
    QTest::newRow("R1/5/1 first day of 令和") << "R"
                                              << "1"
                                              << "5"
                                              << "1"
                                              << "R1/5/1";
    QTest::newRow("R1/4/30 before 令和") << "令和"
                                         << "1"
                                         << "4"
                                         << "30"
                                         << "";
    QTest::newRow("T1/7/30 first day of 大正") << "T"
                                               << "1"
                                               << "7"
                                               << "30"
                                               << "T1/7/30";
    QTest::newRow("T1/7/29 before 大正") << "T"
                                         << "1"
                                         << "7"
                                         << "29"
                                         << "";
    QTest::newRow("M45/7/29 last day of 明治") << "M"
                                               << "45"
                                               << "7"
                                               << "29"
                                               << "M45/7/29";
    QTest::newRow("S1/12/25 first day of 昭和") << "S"
                                                << "1"
                                                << "12"
                                                << "25"
                                                << "S1/12/25";
    QTest::newRow("S1/12/24 before 昭和") << "S"
                                          << "1"
                                          << "12"
                                          << "24"
                                          << "";
    QTest::newRow("T15/12/24 last day of 大正") << "2"
                                                << "15"
                                                << "12"
                                                << "24"
                                                << "T15/12/24";
    QTest::newRow("S0/5/1") << "S"
                            << "0"
                            << "5"
                            << "1"
                            << "";
    QTest::newRow("S45/2/30") << "S"
                              << "45"
                              << "2"
                              << "30"
                              << "";
    QTest::newRow("month 13") << "S"
                              << "45"
                              << "13"
                              << "1"
                              << "";
    QTest::newRow("H4/2/29 leap day") << "H"
                                      << "4"
                                      << "2"
                                      << "29"
                                      << "H4/2/29";
    QTest::newRow("H5/2/29 no leap day") << "H"
                                         << "5"
                                         << "2"
                                         << "29"
                                         << "";
    QTest::newRow("unknown era letter") << "X"
                                        << "5"
                                        << "1"
                                        << "1"
                                        << "";
    QTest::newRow("era code 6") << "6"
                                << "5"
                                << "1"
                                << "1"
                                << "";
    QTest::newRow("empty era") << ""
                               << "5"
                               << "1"
                               << "1"
                               << "";
    QTest::newRow("year not a number") << "S"
                                       << "四五"
                                       << "1"
                                       << "1"
                                       << "";
    QTest::newRow("empty day") << "S"
                               << "45"
                               << "3"
                               << ""
                               << "";
}

void TstJapaneseDate::eraDate() {
    QFETCH(QString, era);
    QFETCH(QString, y);
    QFETCH(QString, m);
    QFETCH(QString, d);
    QFETCH(QString, expected);
    const auto date = EraDate(era, y, m, d);
    QCOMPARE(date ? FormatEraShort(*date) : QString(), expected);
}

void TstJapaneseDate::formats_data() {
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("weekday");
    QTest::addColumn<QString>("era");
    QTest::newRow("2015-03-12") << QDate(2015, 3, 12) << "2015/03/12 (木)"
                                << "平成27年3月12日";
    QTest::newRow("2024-04-01") << QDate(2024, 4, 1) << "2024/04/01 (月)"
                                << "令和6年4月1日";
    QTest::newRow("first year is 1") << QDate(2019, 5, 1) << "2019/05/01 (水)"
                                     << "令和1年5月1日";
    QTest::newRow("sunday") << QDate(1989, 1, 8) << "1989/01/08 (日)"
                            << "平成1年1月8日";
}

void TstJapaneseDate::formats() {
    QFETCH(QDate, date);
    QFETCH(QString, weekday);
    QFETCH(QString, era);
    QCOMPARE(DateWithWeekday(date), weekday);
    QCOMPARE(FormatEraLong(date), era);
    QCOMPARE(ParseShortDate(ShortDate(date)), date);
}

void TstJapaneseDate::ageText_data() {
    QTest::addColumn<QString>("birth");
    QTest::addColumn<QString>("asOf");
    QTest::addColumn<QString>("age");
    QTest::newRow("day before birthday") << "S45/3/12"
                                         << "2015/03/11"
                                         << "44";
    QTest::newRow("birthday") << "S45/3/12"
                              << "2015/03/12"
                              << "45";
    QTest::newRow("29 Feb, 28 Feb of a common year") << "H4/2/29"
                                                     << "2001/02/28"
                                                     << "8";
    QTest::newRow("29 Feb, 1 Mar of a common year") << "H4/2/29"
                                                    << "2001/03/01"
                                                    << "9";
    QTest::newRow("born after the reference") << "2016/05/01"
                                              << "2015/06/01"
                                              << "-1";
    QTest::newRow("birth not a date") << "S45/13/1"
                                      << "2015/03/12"
                                      << "";
    QTest::newRow("empty birth") << ""
                                 << "2015/03/12"
                                 << "";
    QTest::newRow("reference not a date") << "S45/3/12"
                                          << "abc"
                                          << "";
}

void TstJapaneseDate::ageText() {
    QFETCH(QString, birth);
    QFETCH(QString, asOf);
    QFETCH(QString, age);
    QCOMPARE(AgeText(birth, asOf), age);
}

void TstJapaneseDate::chartNumbers() {
    const struct {
        qint32 n;
        const char* formatted;
        qint32 base;
    } cases[] = {{5, "0-5", 0},
                 {10, "1-0", 1},
                 {12345, "1234-5", 1234},
                 {7, "0-7", 0},
                 {2147483647, "214748364-7", 214748364}};
    for (const auto& c : cases) {
        QCOMPARE(FormatKarteNo(FullChartNo(c.n)), QString::fromUtf8(c.formatted));
        QCOMPARE(BaseOf(FullChartNo(c.n)).value, c.base);
    }
}

QTEST_GUILESS_MAIN(TstJapaneseDate)
#include "tst_japanese_date.moc"
