#include <QtTest>

#include "core/app_error.h"
#include "core/conversions.h"

using namespace ondrel;

class TstConversions : public QObject {
    Q_OBJECT
  private slots:
    void toInt16_data();
    void toInt16();
    void toInt32Range();
    void nullToZero();
    void errorTexts();
};

void TstConversions::toInt16_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");  // value, or -error number when >= 1000000
    QTest::addColumn<int>("error");
    QTest::newRow("zero") << "0" << 0 << 0;
    QTest::newRow("blanks and sign") << " -12 " << -12 << 0;
    QTest::newRow("plus") << "+7" << 7 << 0;
    QTest::newRow("half to even down") << "2.5" << 2 << 0;
    QTest::newRow("half to even up") << "3.5" << 4 << 0;
    QTest::newRow("negative half") << "-0.5" << 0 << 0;
    QTest::newRow("fraction") << "1.6" << 2 << 0;
    QTest::newRow("exponent") << "1e3" << 1000 << 0;
    QTest::newRow("max") << "32767" << 32767 << 0;
    QTest::newRow("min") << "-32768" << -32768 << 0;
    QTest::newRow("rounds into range") << "32767.4" << 32767 << 0;
    QTest::newRow("rounds out of range") << "32767.5" << 0 << err::Overflow;
    QTest::newRow("overflow") << "32768" << 0 << err::Overflow;
    QTest::newRow("underflow") << "-32769" << 0 << err::Overflow;
    QTest::newRow("huge exponent") << "1e999" << 0 << err::Overflow;
    QTest::newRow("letters") << "abc" << 0 << err::TypeMismatch;
    QTest::newRow("empty") << "" << 0 << err::TypeMismatch;
    QTest::newRow("digits then letters") << "12abc" << 0 << err::TypeMismatch;
    QTest::newRow("two numbers") << "1 2" << 0 << err::TypeMismatch;
    QTest::newRow("full-width digits") << "１" << 0 << err::TypeMismatch;
}

void TstConversions::toInt16() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    QFETCH(int, error);
    try {
        const qint16 v = ToInt16(text);
        QCOMPARE(error, 0);
        QCOMPARE(int(v), expected);
    } catch (const AppError& e) {
        QCOMPARE(e.number(), error);
    }
}

void TstConversions::toInt32Range() {
    QCOMPARE(ToInt32(QStringLiteral("2147483647")), 2147483647);
    QCOMPARE(ToInt32(QStringLiteral("-2147483648")), qint32(-2147483647 - 1));
    try {
        ToInt32(QStringLiteral("9999999999"));
        QFAIL("no overflow");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), err::Overflow);
    }
}

void TstConversions::nullToZero() {
    QCOMPARE(NullToZero(QString()), QStringLiteral("0"));
    QCOMPARE(NullToZero(QStringLiteral("")), QStringLiteral("0"));
    QCOMPARE(NullToZero(QStringLiteral(" ")), QStringLiteral(" "));
    QCOMPARE(NullToZero(QStringLiteral("5")), QStringLiteral("5"));
}

void TstConversions::errorTexts() {
    QCOMPARE(ErrorText(13), QStringLiteral("型が一致しません。"));
    QCOMPARE(ErrorText(6), QStringLiteral("オーバーフローしました。"));
    QCOMPARE(ErrorText(53), QStringLiteral("ファイルが見つかりません。"));
    QCOMPARE(ErrorText(76), QStringLiteral("パスが見つかりません。"));
    QCOMPARE(ErrorText(70), QStringLiteral("書き込みできません。"));
    QCOMPARE(ErrorText(-12345),
             QStringLiteral("アプリケーション定義エラーまたはオブジェクト定義エラーです。"));
    QCOMPARE(ErrorText(DatabaseErrorNumber(5)), ErrorText(3005));
    QCOMPARE(DatabaseErrorNumber(2067), 3019);  // extended constraint code
}

QTEST_GUILESS_MAIN(TstConversions)
#include "tst_conversions.moc"
