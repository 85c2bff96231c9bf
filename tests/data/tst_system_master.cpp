#include <QtTest>

#include "data/db_connection.h"
#include "data/system_master.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

class TstSystemMaster : public QObject {
    Q_OBJECT
  private slots:
    void flags_data();
    void flags();
    void namesRoundTrip();
    void emptyAndSeveralRows();
};

void TstSystemMaster::flags_data() {
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("inUse");
    QTest::newRow("text 1") << QVariant("1") << true;
    QTest::newRow("integer 1") << QVariant(1) << true;
    QTest::newRow("text 0") << QVariant("0") << false;
    QTest::newRow("integer 0") << QVariant(0) << false;
    QTest::newRow("NULL") << QVariant() << false;
    QTest::newRow("blank after 1") << QVariant("1 ") << false;
    QTest::newRow("leading zero") << QVariant("01") << false;
}

void TstSystemMaster::flags() {
    QFETCH(QVariant, stored);
    QFETCH(bool, inUse);
    TestDbProgram p;
    p.Exec("Update tblMasSystemA Set Check04 = ?", {stored});
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(p.ctx->settings.SystemDB, cn));
    const auto m = Rtn_MasterRead(cn);
    QVERIFY(m);
    QCOMPARE(m->InUse(3), inUse);
    QVERIFY(m->InUse(0));
    QVERIFY(m->InUse(2));
}

void TstSystemMaster::namesRoundTrip() {
    TestDbProgram p;
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(p.ctx->settings.SystemDB, cn));
    const std::array<QString, 7> names{
        "O'Brien's 指導", "",      "所見補助３", "😀漢字漢字漢字漢字漢字漢字漢字",
        "\"quoted\"",     "a;--b", "所見補助７"};
    Rtn_MasterWrite(cn, names, {false, false, true, false, false, false, true});
    const auto m = Rtn_MasterRead(cn);
    QVERIFY(m);
    for (int k = 0; k < 7; ++k) QCOMPARE(m->Name[k], names[k]);
    QCOMPARE(m->Check[1], false);
    QCOMPARE(m->Check[2], true);
    QCOMPARE(m->Check[6], true);
    CloseDbConnection(cn);
    QVERIFY(p.Scalar("Select Name02 From tblMasSystemA").isNull());  // emptied name → NULL
}

void TstSystemMaster::emptyAndSeveralRows() {
    TestDbProgram p;
    p.Exec("Delete From tblMasSystemA");
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(p.ctx->settings.SystemDB, cn));
    QVERIFY(!Rtn_MasterRead(cn));
    Rtn_MasterWrite(cn, {"a", "b", "c", "d", "e", "f", "g"}, {});
    QVERIFY(!Rtn_MasterRead(cn));  // writing changes nothing
    CloseDbConnection(cn);
    p.Exec("Insert Into tblMasSystemA (Name01) Values ('first'), ('second')");
    QVERIFY(OpenDbConnectionAt(p.ctx->settings.SystemDB, cn));
    QCOMPARE(Rtn_MasterRead(cn)->Name[0], QStringLiteral("first"));
    Rtn_MasterWrite(cn, {"x", "", "", "", "", "", ""}, {});
    CloseDbConnection(cn);
    QCOMPARE(p.Scalar("Select Count(*) From tblMasSystemA Where Name01 = 'x'").toInt(), 2);
}

QTEST_GUILESS_MAIN(TstSystemMaster)
#include "tst_system_master.moc"
