#include <QtTest>

#include "core/app_settings.h"
#include "core/error_report.h"
#include "test_support.h"

using namespace ondrel;
using namespace ondrel::test;

class TstSettings : public QObject {
    Q_OBJECT
  private slots:
    void load_data();
    void load();
    void missingFileGivesDefaults();
    void badNumberEndsThroughErrorReport_data();
    void badNumberEndsThroughErrorReport();
    void errorReport();
};

void TstSettings::load_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("db");
    QTest::addColumn<QList<int>>(
        "numbers");  // MessageFlg1..3, KarteNoInput, DefaultTab, PrintFlg, WindowTop
    QTest::newRow("all keys")
        << QStringList{"[System]",       "Title=指導指示管理", "SystemDB=/srv/ondrel.db",
                       "MessageFlg1=1",  "MessageFlg2=0",      "MessageFlg3=2",
                       "KarteNoInput=1", "DefaultTab=3",       "PrintFlg=1",
                       "WindowTop=2"}
        << "指導指示管理"
        << "/srv/ondrel.db" << QList<int>{1, 0, 2, 1, 3, 1, 2};
    QTest::newRow("empty values are zero")
        << QStringList{"[System]", "MessageFlg2=", "DefaultTab =  "} << ""
        << "" << QList<int>{0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("digit follows the word")
        << QStringList{"[System]", "MessageFlg=1", "Message1Flg=1", "MessageFlg3=1"} << ""
        << "" << QList<int>{0, 0, 1, 0, 0, 0, 0};
    QTest::newRow("fractions round to even")
        << QStringList{"[System]", "DefaultTab=2.5", "PrintFlg=0.5", "WindowTop=1.5"} << ""
        << "" << QList<int>{0, 0, 0, 0, 2, 0, 2};
    QTest::newRow("other section ignored")
        << QStringList{"[frmOndrel]", "Title=x", "[System]", "Title=y"} << "y"
        << "" << QList<int>{0, 0, 0, 0, 0, 0, 0};
}

void TstSettings::load() {
    QFETCH(QStringList, lines);
    QFETCH(QString, title);
    QFETCH(QString, db);
    QFETCH(QList<int>, numbers);
    TestProgram prog;
    prog.WriteIniText(lines);
    LoadSettings(*prog.ctx);
    const auto& s = prog.ctx->settings;
    QCOMPARE(s.Title, title);
    QCOMPARE(s.SystemDB, db);
    QList<int> got{s.MessageFlg[1], s.MessageFlg[2], s.MessageFlg[3], s.KarteNoInput,
                   s.DefaultTab,    s.PrintFlg,      s.WindowTop};
    QCOMPARE(got, numbers);
    QVERIFY(prog.prompter.shown.empty());
}

void TstSettings::missingFileGivesDefaults() {
    TestProgram prog;
    prog.ctx->settings.DefaultTab = 5;
    LoadSettings(*prog.ctx);
    QCOMPARE(prog.ctx->settings.Title, QString());
    QCOMPARE(prog.ctx->settings.SystemDB, QString());
    QCOMPARE(prog.ctx->settings.DefaultTab, qint16(0));
}

void TstSettings::badNumberEndsThroughErrorReport_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("title");
    QTest::newRow("letters") << QStringList{"[System]", "Title=T", "DefaultTab=abc"} << 13 << "T";
    QTest::newRow("out of range") << QStringList{"[System]", "Title=T", "WindowTop=40000"} << 6
                                  << "T";
    QTest::newRow("first flag, title already read")
        << QStringList{"[System]", "Title=医院", "MessageFlg1=x"} << 13 << "医院";
}

void TstSettings::badNumberEndsThroughErrorReport() {
    QFETCH(QStringList, lines);
    QFETCH(int, error);
    QFETCH(QString, title);
    TestProgram prog;
    prog.WriteIniText(lines);
    try {
        LoadSettings(*prog.ctx);
        QFAIL("did not end");
    } catch (const ProgramEnded& e) {
        QVERIFY(e.status != 0);
    }
    QCOMPARE(prog.prompter.shown.size(), size_t(1));
    QCOMPARE(prog.prompter.shown[0].kind, Shown::Warning);
    QCOMPARE(prog.prompter.shown[0].title, title);
    QCOMPARE(prog.prompter.shown[0].text, ErrorReportMessage(error));
}

namespace {
class FakeConnection final : public ReleasableConnection {
  public:
    void RollbackAndClose() noexcept override { ++released; }
    int released = 0;
};
}  // namespace

void TstSettings::errorReport() {
    QCOMPARE(ErrorReportMessage(13), QStringLiteral("予期せぬエラーが発生しました。製作会社に連絡を"
                                                    "して下さい。\r\n\r\n(13) 型が一致しません。"));
    QVERIFY(ErrorReportMessage(-2147467259).contains(QStringLiteral("\r\n\r\n(-2147467259) ")));

    TestProgram prog;
    FakeConnection cn;
    prog.ctx->settings.Title = QStringLiteral("タイトル");
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, ErrorReport(*prog.ctx, 53, &cn));
    QCOMPARE(cn.released, 1);
    QCOMPARE(prog.prompter.shown.back().title, QStringLiteral("タイトル"));
    // Without a connection: the message and the end, nothing else.
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, ErrorReport(*prog.ctx, 99999, nullptr));
    QVERIFY(prog.prompter.shown.back().text.endsWith(
        QStringLiteral("(99999) アプリケーション定義エラーまたはオブジェクト定義エラーです。")));
}

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
