#include <QProcess>
#include <QtTest>

#include "db_connection.h"
#include "ini_file.h"
#include "memo_store.h"
#include "patient_lookup.h"
#include "test_db.h"

using namespace ondrel;
using namespace ondrel::test;

class TstDbTool : public QObject {
    Q_OBJECT

    static int Run(const QString& tool, const QStringList& args, QString* err = nullptr) {
        QProcess p;
        p.start(qEnvironmentVariable("ONDREL_TEST_BIN") + "/../../tools/" + tool, args);
        p.waitForFinished(60000);
        if (err) *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

  private slots:
    void init();
    void importPatients_data();
    void importPatients();
    void importClinic();
    void demo();
    void linkTool();
};

void TstDbTool::init() {
    TestProgram p;
    const QString db = p.Root() + "/new.db";
    QCOMPARE(Run("ondrel-db", {"init", db}), 0);
    QCOMPARE(QFile::permissions(db) &
                 (QFileDevice::ReadOther | QFileDevice::ReadGroup | QFileDevice::WriteOther),
             QFileDevice::Permissions());
    QString err;
    const QByteArray before = ReadBytes(db);
    QCOMPARE(Run("ondrel-db", {"init", db}, &err), 1);  // refuses an existing file
    QVERIFY(err.contains(QStringLiteral("既にファイルがあります")));
    QCOMPARE(ReadBytes(db), before);
    p.WriteIniText({"[System]", "SystemDB=" + db});
    p.ctx->settings.SystemDB = db;
    DbConnection cn;
    QVERIFY(OpenDbConnection(*p.ctx, cn));
    QSqlQuery q = RunQuery(cn, "Select Name01, Name07, Check02, Check07 From tblMasSystemA");
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("所見補助１"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("所見補助７"));
    QCOMPARE(q.value(2).toString(), QStringLiteral("1"));
    QCOMPARE(q.value(3).toString(), QStringLiteral("1"));
    QVERIFY(!q.next());
}

void TstDbTool::importPatients_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");  // part of the error, or the name of 12345 after import
    const QString header = "カルテ番号,氏名,性別コード,年号,生年,月,日\r\n";
    QTest::newRow("utf-8 with BOM, replaces 12345")
        << ("\xEF\xBB\xBF" +
            (header + "12345,\"佐藤, 一郎\",1,S,50,1,2\r\n20001,\"引用\"\"符\"\"\",2,H,1,2,3\r\n")
                .toUtf8())
        << 0 << "佐藤, 一郎";
    QTest::newRow("cp932") << ToCp932(header + "12345,髙橋　～①,1,S,50,1,2\r\n") << 0
                           << "髙橋　～①";
    QTest::newRow("line break inside quotes")
        << (header + "12345,\"二行\n目\",1,S,50,1,2\n").toUtf8() << 0 << "二行\n目";
    QTest::newRow("short line") << (header + "12345,a,1,S,50,1,2\r\n20001,b,1\r\n").toUtf8() << 1
                                << "3 行目";
    QTest::newRow("unclosed quote")
        << (header + "12345,a,1,S,50,1,2\r\n20001,\"b,1,S,1,1,1\r\n").toUtf8() << 1 << "3 行目";
    QTest::newRow("chart number not a number")
        << (header + "12345,a,1,S,50,1,2\r\nabc,b,1,S,1,1,1\r\n").toUtf8() << 1 << "3 行目";
    QTest::newRow("unknown column") << QByteArray("カルテ番号,好物\r\n1,寿司\r\n") << 1 << "好物";
}

void TstDbTool::importPatients() {
    QFETCH(QByteArray, csv);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    TestDbProgram p;
    WriteBytes(p.Root() + "/p.csv", csv);
    QString err;
    QCOMPARE(Run("ondrel-db", {"import-patients", p.DbPath(), p.Root() + "/p.csv"}, &err),
             exitCode);
    const QString name = LookUpPatient(*p.ctx, FullChartNo(12345)).value_or(PatientInfo{}).Name;
    if (exitCode == 0) {
        QCOMPARE(name, message);
        QCOMPARE(p.Scalar("Select Count(*) From 患者マスター Where カルテ番号 = 12345").toInt(), 1);
    } else {
        QVERIFY2(err.contains(message), qPrintable(err));
        QCOMPARE(name, QStringLiteral("山田　太郎"));  // nothing imported
        QCOMPARE(p.Scalar("Select Count(*) From 患者マスター").toInt(), 3);
    }
}

void TstDbTool::importClinic() {
    TestDbProgram p;
    WriteBytes(p.Root() + "/c.csv", ToCp932("医院名称,管理医師\r\nさくら医院,桜井\r\n"));
    QCOMPARE(Run("ondrel-db", {"import-clinic", p.DbPath(), p.Root() + "/c.csv"}), 0);
    const ClinicInfo c = LoadClinicInfo(*p.ctx);
    QCOMPARE(c.ClinicName, QStringLiteral("さくら医院"));
    QCOMPARE(c.Doctor, QStringLiteral("桜井"));
    QCOMPARE(p.Scalar("Select Count(*) From 医院情報").toInt(), 1);
}

void TstDbTool::demo() {
    TestProgram p;
    const QString db = p.Root() + "/demo.db";
    QCOMPARE(Run("ondrel-db", {"demo", db}), 0);
    p.ctx->settings.SystemDB = db;
    const auto patient = LookUpPatient(*p.ctx, FullChartNo(12345));
    QVERIFY(patient);
    QVERIFY(!patient->Name.isEmpty());
    QVERIFY(!patient->BirthDate.isEmpty());
    DbConnection cn;
    QVERIFY(OpenDbConnection(*p.ctx, cn));
    QSqlQuery q = RunQuery(cn, "Select Count(*), Count(Distinct 年号) From 患者マスター");
    QVERIFY(q.next());
    QVERIFY(q.value(0).toInt() >= 50);
    QVERIFY(q.value(1).toInt() >= 4);
    q = RunQuery(cn, "Select Count(Distinct FormCode) From tblDatCommon Where KarteNo = 1234");
    QVERIFY(q.next());
    QVERIFY(q.value(0).toInt() >= 3);
}

void TstDbTool::linkTool() {
    TestProgram p;
    const QString file = p.Root() + "/1-99リンクバーZEV/カルテ番号.ini";
    QCOMPARE(Run("ondrel-link", {"--file", file, "12345"}), 0);
    QCOMPARE(ReadIniString(file, "Patient.Info", "KarteNoBranch"), QStringLiteral("12345"));
    QCOMPARE(ReadIniString(file, "Patient.Info", "Status"), QStringLiteral("1"));
    QCOMPARE(Run("ondrel-link", {"--folder", p.Root() + "/1-99リンクバーZEV", "--status", "0"}), 0);
    QCOMPARE(ReadIniString(file, "Patient.Info", "Status"), QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(TstDbTool)
#include "tst_db_tool.moc"
