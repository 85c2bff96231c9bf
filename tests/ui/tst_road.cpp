// The typical road of a clinic day, through the start-up that main runs.
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include "app/start_program.h"
#include "core/ini_file.h"
#include "core/startup.h"
#include "data/db_connection.h"
#include "data/patient_lookup.h"
#include "find_control.h"
#include "gui/gui_setup.h"
#include "test_support.h"
#include "ui/main/date_list_grid.h"
#include "ui/main/frm_ondrel.h"
#include "ui/print/frm_print.h"
#include "ui/settings/frm_env.h"

using namespace ondrel;
using namespace ondrel::test;

class TstRoad : public QObject {
    Q_OBJECT

    static QString Bin(const char* tool) {
        return qEnvironmentVariable("ONDREL_TEST_BIN") + "/../../tools/" +
               QString::fromLatin1(tool);
    }
    static void TypeText(QWidget* w, const QString& text) {
        for (QChar ch : text) {
            if (ch == u'\n')
                QTest::keyClick(w, Qt::Key_Return);
            else
                QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        }
    }
    // Runs `act` on the modal dialog that the next step opens.
    // Runs `act` on the modal dialog that the next step opens, once it is up.
    template <typename Dialog, typename Act>
    static void OnModal(Act act) {
        auto* timer = new QTimer(qApp);
        QObject::connect(timer, &QTimer::timeout, [timer, act] {
            auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            if (!d || !d->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            act(*d);
        });
        timer->start(20);
    }

  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void clinicDay();
};

void TstRoad::clinicDay() {
    TestProgram p;
    const QString db = p.Root() + "/demo.db";
    QCOMPARE(QProcess::execute(Bin("ondrel-db"), {"demo", db}), 0);
    p.WriteIniText({"[System]", "Title=指導指示管理", "SystemDB=" + db, "KarteNoInput=1",
                    "DefaultTab=0", "PrintFlg=0"});
    QDir(p.Folder()).mkpath("Template");
    QDir(p.Folder()).mkpath("帳票");
    QFile::copy(QStringLiteral(ONDREL_TEMPLATE), p.Folder() + "/Template/指導指示管理.xls");
    OfficeConfig office;
    office.pipeName = QStringLiteral("ondrel-test-road-%1").arg(QCoreApplication::applicationPid());
    office.profileDir = p.Root() + "/office-profile";
    office.withDisplay = false;
    auto& prompter = p.prompter;
    auto* ctx = p.ctx.get();

    // Phase 1: started with a chart number.
    auto instance = std::make_unique<SingleInstance>(p.Folder() + "/ondrel");
    auto w = StartProgram(*ctx, {"12345"}, *instance, office);
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("指導指示管理"));
    QCOMPARE(Ctl<QLineEdit>(*w, "txtPersonalID")->text(), QStringLiteral("1234-5"));
    QVERIFY(!Ctl<QLabel>(*w, "lblInfo", 2)->text().isEmpty());
    QVERIFY(Ctl<QLabel>(*w, "lblInfo", 6)->text().endsWith(u'歳'));

    // Phase 2: the link bar selects another patient; the next poll follows.
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(db, cn));
    QSqlQuery q = RunQuery(
        cn,
        "Select カルテ番号, 氏名 From 患者マスター Where カルテ番号 <> 12345 Order By カルテ番号");
    QVERIFY(q.next());
    const int other = q.value(0).toInt();
    const QString otherName = q.value(1).toString();
    q = QSqlQuery();
    CloseDbConnection(cn);
    QCOMPARE(QProcess::execute(Bin("ondrel-link"),
                               {"--file", LinkFilePath(*ctx), QString::number(other)}),
             0);
    Ctl<QTimer>(*w, "timTimer")->setInterval(50);
    QTRY_COMPARE_WITH_TIMEOUT(Ctl<QLabel>(*w, "lblInfo", 2)->text(), otherName, 5000);
    QCOMPARE(w->ShownChartNo()->value, other);

    // Phase 3: 新規作成, a Japanese memo with line breaks and an apostrophe, another date, 保存.
    Ctl<QTabWidget>(*w, "tabMain")->setCurrentIndex(3);
    const int before = Ctl<DateListGrid>(*w, "grdDateList", 3)->RowCount();
    prompter.Answer({true});  // the discard question only when a memo is shown
    Ctl<QPushButton>(*w, "cmdProcess", 0)->click();
    QCOMPARE(Ctl<DateListGrid>(*w, "grdDateList", 3)->RowCount(), before + 1);
    const qint32 key = *w->MainKeyShown(3);
    Ctl<QPlainTextEdit>(*w, "txtLData", 3)->setFocus();
    const QString memo = QStringLiteral("減塩指導を行った。\n患者さん曰く'頑張ります'\n次回確認");
    TypeText(Ctl<QPlainTextEdit>(*w, "txtLData", 3), memo);
    Ctl<QDateEdit>(*w, "dtpCreData", 3)->setDate(QDate(2026, 12, 1));
    prompter.Answer({true});
    Ctl<QPushButton>(*w, "cmdProcess", 4)->click();
    QVERIFY(Ctl<QPlainTextEdit>(*w, "txtPast", 3)
                ->toPlainText()
                .contains(QStringLiteral("●2026/12/01 (火)\n") + memo));
    QCOMPARE(Ctl<DateListGrid>(*w, "grdDateList", 3)->Text(0, 0),
             QStringLiteral("2026/12/01 (火)"));

    // Phase 4: another category and back; the page is saved on the way out.
    Ctl<QPlainTextEdit>(*w, "txtLData", 3)->appendPlainText(QStringLiteral("追記"));
    Ctl<QTabWidget>(*w, "tabMain")->setCurrentIndex(0);
    Ctl<QTabWidget>(*w, "tabMain")->setCurrentIndex(3);
    QCOMPARE(Ctl<QPlainTextEdit>(*w, "txtLData", 3)->toPlainText(),
             memo + QStringLiteral("\n追記"));

    // Phase 5: 印刷 of the memo, then of a date range.
    const QString out = p.Folder() + QStringLiteral("/帳票/指導指示管理-%1.xls").arg(other / 10);
    prompter.Answer({true});
    Ctl<QPushButton>(*w, "cmdProcess", 5)->click();
    QVERIFY(QFile::exists(out));
    // The reader has an office of its own: two clients in one office is what
    // the program avoids, and a retried report replaces the office it uses.
    OfficeConfig readerConfig = office;
    readerConfig.pipeName += QStringLiteral("-reader");
    readerConfig.profileDir += QStringLiteral("-reader");
    Office reader(readerConfig);
    reader.Connect();
    {
        auto doc = reader.LoadForReading(out);
        QCOMPARE(doc->CellText(2, 3), QStringLiteral("令和8年12月1日"));
        QCOMPARE(doc->CellText(4, 1),
                 QString::number(other / 10) + QStringLiteral("\u3000\u3000") + otherName);
        QCOMPARE(doc->CellText(6, 1), memo + QStringLiteral("\n追記"));
        doc->Close();
    }
    Ctl<QCheckBox>(*w, "chkPrintFlg")->setChecked(true);
    OnModal<FrmPrint>([&](FrmPrint& d) {
        Ctl<QDateEdit>(d, "dtpData", 0)->setDate(QDate(2026, 11, 1));
        prompter.Answer({true});
        Ctl<QPushButton>(d, "cmdProcess", 0)->click();
    });
    Ctl<QPushButton>(*w, "cmdProcess", 5)->click();
    {
        auto doc = reader.LoadForReading(out);
        QCOMPARE(doc->CellText(2, 3), QStringLiteral("令和8年11月1日 ～ 令和8年12月10日"));
        QVERIFY(doc->CellText(6, 1).contains(QStringLiteral("●2026/12/01 (火)\n") + memo));
        doc->Close();
    }

    // Phase 6: 設定 renames category 3; the tab follows at once.
    OnModal<FrmEnv>([&](FrmEnv& d) {
        Ctl<QLineEdit>(d, "txtData", 3)->setText(QStringLiteral("生活指導"));
        prompter.Answer({true});
        Ctl<QPushButton>(d, "cmdProcess", 0)->click();
    });
    Ctl<QPushButton>(*w, "cmdProcess", 7)->click();
    QCOMPARE(Ctl<QTabWidget>(*w, "tabMain")->tabText(3), QStringLiteral("生活指導"));
    QCOMPARE(Ctl<QLabel>(*w, "lblTitle", 3)->text(), QStringLiteral("生活指導"));

    // Phase 7: 削除 of another memo of the page, if the demo gave one; ours stays.
    const int rows = Ctl<DateListGrid>(*w, "grdDateList", 3)->RowCount();
    if (rows > 1) {
        prompter.Answer({true});  // the discard question for the pick
        Ctl<DateListGrid>(*w, "grdDateList", 3)->SetCurrentRow(1);
        const qint32 doomed = *w->MainKeyShown(3);
        prompter.Answer({true});
        Ctl<QPushButton>(*w, "cmdProcess", 3)->click();
        QCOMPARE(Ctl<DateListGrid>(*w, "grdDateList", 3)->RowCount(), rows - 1);
        QVERIFY(doomed != key);
    }

    // Phase 8: 閉じる, No and then Yes.
    w->move(40, 30);
    prompter.Answer({false});
    Ctl<QPushButton>(*w, "cmdProcess", 6)->click();
    QVERIFY(w->isVisible());
    prompter.Answer({true});
    Ctl<QPushButton>(*w, "cmdProcess", 6)->click();
    QVERIFY(!w->isVisible());
    w.reset();
    instance.reset();
    reader.Terminate();
    QCOMPARE(ReadIniString(p.IniPath(), "System", "DefaultTab"), QStringLiteral("3"));
    QCOMPARE(ReadIniString(p.IniPath(), "System", "PrintFlg"), QStringLiteral("1"));
    // Both reports are records of the patient's full chart number, as the
    // views and saves are; the log finds them by the number as shown.
    QProcess log;
    log.start(Bin("ondrel-db"), {"log", db, "--chart", FormatKarteNo(FullChartNo(other))});
    QVERIFY(log.waitForFinished(60000));
    const QString records = QString::fromUtf8(log.readAllStandardOutput());
    QCOMPARE(records.count(QStringLiteral(",帳票")), 2);
    QVERIFY2(records.contains(QStringLiteral(",保存")), qPrintable(records));

    // Phase 9: the next start brings everything back.
    AppContext again(p.Folder(), prompter, p.clock, p.waitCursor, p.end);
    SingleInstance second(p.Folder() + "/ondrel");
    auto w2 = StartProgram(again, {QString::number(other)}, second, office);
    QVERIFY(w2);
    QCOMPARE(w2->CurrentTab(), 3);
    QVERIFY(Ctl<QCheckBox>(*w2, "chkPrintFlg")->isChecked());
    QCOMPARE(w2->pos(), QPoint(40, 30));
    QCOMPARE(Ctl<QTabWidget>(*w2, "tabMain")->tabText(3), QStringLiteral("生活指導"));
    bool found = false;
    for (int r = 0; r < Ctl<DateListGrid>(*w2, "grdDateList", 3)->RowCount(); ++r) {
        if (Ctl<DateListGrid>(*w2, "grdDateList", 3)->Text(r, 2) == QString::number(key)) {
            found = true;
            again.settings.MessageFlg[3] = 1;
            Ctl<DateListGrid>(*w2, "grdDateList", 3)->SetCurrentRow(r);
        }
    }
    QVERIFY(found);
    QCOMPARE(Ctl<QPlainTextEdit>(*w2, "txtLData", 3)->toPlainText(),
             memo + QStringLiteral("\n追記"));
    QCOMPARE(Ctl<QDateEdit>(*w2, "dtpCreData", 3)->date(), QDate(2026, 12, 1));
    Office(office).Terminate();
}

QTEST_MAIN(TstRoad)
#include "tst_road.moc"
