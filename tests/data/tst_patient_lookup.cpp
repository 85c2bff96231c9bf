#include <QtTest>

#include "data/patient_lookup.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

class TstPatientLookup : public QObject {
    Q_OBJECT
  private slots:
    void lookUp_data();
    void lookUp();
    void notFoundLeavesNothingBehind();
    void unopenableDatabaseIsNotFound();
    void missingColumnEndsThroughErrorReport();
    void clinicInfo();
};

void TstPatientLookup::lookUp_data() {
    QTest::addColumn<QVariantList>(
        "row");  // カルテ番号, 氏名, 性別コード, 年号, 生年, 月, 日, 住所１, 住所２
    QTest::addColumn<QStringList>("expected");  // Name, Sex, BirthDate, Address
    QTest::newRow("male, S45/3/12")
        << QVariantList{500, "甲", "1", "S", "45", "3", "12", "東京都", "渋谷区"}
        << QStringList{"甲", "男性", "S45/3/12", "東京都渋谷区"};
    QTest::newRow("female, numeric era code and integer columns")
        << QVariantList{501, "乙", 2, "4", 4, 2, 29, "東京都", QVariant()}
        << QStringList{"乙", "女性", "H4/2/29", "東京都"};
    QTest::newRow("sex 3, month 13")
        << QVariantList{502, "丙", "3", "S", "45", "13", "1", QVariant(), QVariant()}
        << QStringList{"丙", "", "", ""};
    QTest::newRow("NULL sex and birth")
        << QVariantList{503,        QVariant(), QVariant(), QVariant(), QVariant(),
                        QVariant(), QVariant(), QVariant(), "2丁目"}
        << QStringList{"", "", "", "2丁目"};
    QTest::newRow("old era written after the change")
        << QVariantList{504, "丁", "2", "平成", "31", "5", "1", "", ""}
        << QStringList{"丁", "女性", "R1/5/1", ""};
}

void TstPatientLookup::lookUp() {
    QFETCH(QVariantList, row);
    QFETCH(QStringList, expected);
    TestDbProgram p;
    p.Exec(
        "Insert Into 患者マスター (カルテ番号, 氏名, 性別コード, 年号, 生年, 月, 日, 住所１, "
        "住所２) "
        "Values (?,?,?,?,?,?,?,?,?)",
        row);
    const auto found = LookUpPatient(*p.ctx, FullChartNo(row[0].toInt()));
    QVERIFY(found);
    const auto& pt = *found;
    QCOMPARE(pt.ChartNo.value, row[0].toInt());
    QCOMPARE(pt.BaseNo.value, row[0].toInt() / 10);
    QCOMPARE((QStringList{pt.Name, pt.Sex, pt.BirthDate, pt.Address}), expected);
}

void TstPatientLookup::notFoundLeavesNothingBehind() {
    TestDbProgram p;
    const auto found = LookUpPatient(*p.ctx, FullChartNo(12345));
    QVERIFY(found);
    QCOMPARE(found->Name, QStringLiteral("山田　太郎"));
    QCOMPARE(found->Kana, QStringLiteral("ヤマダ タロウ"));
    QCOMPARE(found->Tel, QStringLiteral("03-1111-2222"));
    QCOMPARE(found->ZipCode, QStringLiteral("150-0001"));
    QCOMPARE(found->Job, QStringLiteral("会社員"));
    QCOMPARE(found->BaseNo, BaseChartNo(1234));
    QVERIFY(!LookUpPatient(*p.ctx, FullChartNo(99999)));
    QCOMPARE(LookUpPatient(*p.ctx, FullChartNo(7))->BaseNo, BaseChartNo(0));
    QVERIFY(p.prompter.shown.empty());
}

void TstPatientLookup::unopenableDatabaseIsNotFound() {
    TestDbProgram p;
    p.ctx->settings.SystemDB = p.Root();  // a folder
    QVERIFY(!LookUpPatient(*p.ctx, FullChartNo(12345)));
    QVERIFY(p.prompter.shown.empty());
    // The clinic read at start-up has no such leniency.
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, LoadClinicInfo(*p.ctx));
}

void TstPatientLookup::missingColumnEndsThroughErrorReport() {
    TestDbProgram p;
    p.Exec("Alter Table 患者マスター Drop Column 職業");
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, (void)LookUpPatient(*p.ctx, FullChartNo(12345)));
    QVERIFY(p.prompter.shown.back().text.contains(QStringLiteral("(3265)")));
}

void TstPatientLookup::clinicInfo() {
    TestDbProgram p;
    QCOMPARE(LoadClinicInfo(*p.ctx).ClinicName, QString());  // a new database's row is empty
    p.Exec(
        "Update 医院情報 Set 医院名称 = 'みどり内科', 医院FAX番号 = '03-0000-0000', 管理医師 = "
        "'緑川'");
    const ClinicInfo c = LoadClinicInfo(*p.ctx);
    QCOMPARE(c.ClinicName, QStringLiteral("みどり内科"));
    QCOMPARE(c.ClinicFax, QStringLiteral("03-0000-0000"));
    QCOMPARE(c.Doctor, QStringLiteral("緑川"));
    QCOMPARE(c.ClinicTel, QString());
}

QTEST_GUILESS_MAIN(TstPatientLookup)
#include "tst_patient_lookup.moc"
