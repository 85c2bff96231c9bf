#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "core/ini_file.h"
#include "report/office.h"
#include "ui/print/frm_print.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstPrint : public QObject {
    Q_OBJECT

    QTemporaryDir officeHome_;
    std::unique_ptr<Office> office_;

    void Prepare(WindowFixture& f) {
        QDir(f.Folder()).mkpath("Template");
        QDir(f.Folder()).mkpath("帳票");
        QFile::copy(QStringLiteral(ONDREL_TEMPLATE), f.Folder() + "/Template/指導指示管理.xls");
        f.AddMemo(1, 12345, "2026-12-03", "first day");  // today − 7
        f.AddMemo(1, 12345, "2026-12-10", "last day, A");
        f.AddMemo(1, 12345, "2026-12-10", "last day, B");
        f.AddMemo(1, 12345, "2026-12-02", "before the range");
        f.AddMemo(2, 12345, "2026-12-05", "other category");
        f.Open();
        Ctl<QTabWidget>(*f.window, "tabMain")->setCurrentIndex(1);
        f.window->printMemo = [&](FrmOndrel& w) {
            Rtn_DataPrint(*f.ctx, *office_, w.MemoReport(), w.ShownChartNo());
        };
        f.window->openPrintDialog = [&](FrmOndrel& w) {
            FrmPrint d(
                *f.ctx,
                PrintSubject{w.ReportHeader(), w.ShownKarteNo(), w.CurrentTab(), w.ShownChartNo()},
                *office_, &w);
            d.Form_Load();
            d.show();
            QCOMPARE(Ctl<QDateEdit>(d, "dtpData", 0)->date(), QDate(2026, 12, 3));
            QCOMPARE(Ctl<QDateEdit>(d, "dtpData", 1)->date(), QDate(2026, 12, 10));
            Ctl<QPushButton>(d, "cmdProcess", 0)->click();
            QVERIFY(!d.isVisible());
        };
    }
    QStringList Cells(const WindowFixture& f) {
        const QString out = f.Folder() + "/帳票/指導指示管理-1234.xls";
        if (!QFile::exists(out)) return {};
        auto doc = office_->LoadForReading(out);
        QStringList cells{doc->FirstSheetName(), doc->CellText(2, 3), doc->CellText(4, 1),
                          doc->CellText(6, 1)};
        doc->Close();
        return cells;
    }

  private slots:
    void initTestCase() {
        SetUpApplication(*qApp);
        OfficeConfig c;
        c.pipeName = QStringLiteral("ondrel-test-print-%1").arg(QCoreApplication::applicationPid());
        c.profileDir = officeHome_.path() + "/profile";
        c.withDisplay = false;
        office_ = std::make_unique<Office>(c);
    }
    void cleanupTestCase() { office_->Terminate(); }

    void rangeReport_data();
    void rangeReport();
    void singleMemoSavesThenReports();
    void enterMovesThroughTheDialog();
    void pdfSaved();
    void brokenOfficeKeepsTheWindow();
};

void TstPrint::rangeReport_data() {
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("reported");
    QTest::newRow("Yes") << QStringList{} << QList<bool>{true} << 1 << true;
    QTest::newRow("No: no report") << QStringList{} << QList<bool>{false} << 1 << false;
    QTest::newRow("MessageFlg2 1: at once")
        << QStringList{"MessageFlg2=1"} << QList<bool>{} << 0 << true;
}

void TstPrint::rangeReport() {
    QFETCH(QStringList, keys);
    QFETCH(QList<bool>, answers);
    QFETCH(int, questions);
    QFETCH(bool, reported);
    WindowFixture f;
    f.SetIni(keys);
    Prepare(f);
    Ctl<QCheckBox>(*f.window, "chkPrintFlg")->setChecked(true);
    for (bool a : answers) f.prompter.Answer({a});
    Ctl<QPushButton>(*f.window, "cmdProcess", 5)->click();
    // Only the dialog's own question; 印刷 with the box ticked asks none.
    QCOMPARE(int(f.prompter.shown.size()), questions);
    if (questions)
        QCOMPARE(f.prompter.Texts()[0], QStringLiteral("データを印刷します。よろしいですか。"));
    if (!reported) {
        QVERIFY(Cells(f).isEmpty());
        return;
    }
    QCOMPARE(Cells(f),
             (QStringList{"所見補助２", "令和8年12月3日 ～ 令和8年12月10日",
                          "1234\u3000\u3000山田　太郎",
                          "●2026/12/03 (木)\nfirst day\n\n●2026/12/10 (木)\nlast day, A\n\n"
                          "●2026/12/10 (木)\nlast day, B\n\n"}));
    QCOMPARE(ReadIniString(f.IniPath(), "frmPrint", "WindowState"), QStringLiteral("0"));
}

void TstPrint::singleMemoSavesThenReports() {
    WindowFixture f;
    f.SetIni({"MessageFlg2=1"});
    Prepare(f);
    auto& w = *f.window;
    Ctl<QPlainTextEdit>(w, "txtLData", 1)->setPlainText(QStringLiteral("edited\nbefore printing"));
    Ctl<QPushButton>(w, "cmdProcess", 5)->click();
    QVERIFY(f.prompter.shown.empty());  // neither the save nor the print question
    QCOMPARE(f.Scalar("Select LText001 From tblDatCommon Where MainKey = ?", {*w.MainKeyShown(1)})
                 .toString(),
             QStringLiteral("edited\r\nbefore printing"));
    QCOMPARE(Cells(f), (QStringList{"所見補助２", "令和8年12月10日", "1234\u3000\u3000山田　太郎",
                                    "edited\nbefore printing"}));
}

// An office that aborts at start (as one whose shared cache it may not read
// does): told once, with the log named; window, patient, page and text stay.
void TstPrint::brokenOfficeKeepsTheWindow() {
    WindowFixture f;
    f.SetIni({"MessageFlg2=1"});
    Prepare(f);
    OfficeConfig c;
    c.pipeName = QStringLiteral("ondrel-test-broken-%1").arg(QCoreApplication::applicationPid());
    c.profileDir = f.Root() + "/broken-profile";
    c.soffice = f.Root() + "/soffice";
    c.logFile = f.Folder() + "/office.log";
    WriteBytes(c.soffice, "#!/bin/sh\necho 'DeploymentException' >&2\nexit 1\n");
    QFile::setPermissions(c.soffice, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    Office broken(c);
    f.window->printMemo = [&](FrmOndrel& w) {
        Rtn_DataPrint(*f.ctx, broken, w.MemoReport(), w.ShownChartNo());
    };
    auto& w = *f.window;
    const QString typed = QStringLiteral("印刷する前に入力した内容");
    Ctl<QPlainTextEdit>(w, "txtLData", 1)->setPlainText(typed);
    Ctl<QPushButton>(w, "cmdProcess", 5)->click();
    QCOMPARE(f.prompter.Texts().size(), 1);
    QVERIFY2(f.prompter.Texts()[0].contains(c.logFile), qPrintable(f.prompter.Texts()[0]));
    QVERIFY(w.isVisible());
    QCOMPARE(w.ShownChartNo()->value, 12345);
    QCOMPARE(w.CurrentTab(), 1);
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 1)->toPlainText(), typed);
    QVERIFY(QString::fromUtf8(ReadBytes(c.logFile)).contains("DeploymentException"));
}

// PDF保存: the range as PDF in 帳票, handed to the desktop's viewer; no
// question, as nothing is printed.
void TstPrint::pdfSaved() {
    WindowFixture f;
    Prepare(f);
    auto& w = *f.window;
    FrmPrint d(*f.ctx,
               PrintSubject{w.ReportHeader(), w.ShownKarteNo(), w.CurrentTab(), w.ShownChartNo()},
               *office_, &w);
    d.Form_Load();
    QString opened;
    d.openPdf = [&](const QString& path) { opened = path; };
    Ctl<QPushButton>(d, "cmdProcess", 2)->click();
    QCOMPARE(opened, f.Folder() + "/帳票/指導指示管理-1234.pdf");
    QVERIFY(ReadBytes(opened).startsWith("%PDF"));
    QVERIFY(f.prompter.shown.empty());
}

void TstPrint::enterMovesThroughTheDialog() {
    WindowFixture f;
    f.Open();
    FrmPrint d(*f.ctx,
               PrintSubject{f.window->ReportHeader(), f.window->ShownKarteNo(),
                            f.window->CurrentTab(), f.window->ShownChartNo()},
               *office_, f.window.get());
    d.Form_Load();
    d.show();
    d.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QApplication::setActiveWindow(&d);  // offscreen leaves the main window active
    Ctl<QDateEdit>(d, "dtpData", 0)->setFocus();
    const QList<QWidget*> order{
        Ctl<QDateEdit>(d, "dtpData", 1),      Ctl<QPushButton>(d, "cmdProcess", 0),
        Ctl<QPushButton>(d, "cmdProcess", 2), Ctl<QComboBox>(d, "cboPrinter"),
        Ctl<QPushButton>(d, "cmdProcess", 3), Ctl<QPushButton>(d, "cmdProcess", 1),
        Ctl<QDateEdit>(d, "dtpData", 0)};
    d.grab().save(qEnvironmentVariable("ONDREL_TEST_BIN") + "/print-dialog.png");
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY2(
            next->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == next,
            qPrintable(QApplication::focusWidget()->objectName() + " / " +
                       QApplication::focusWidget()->accessibleDescription() + " / " +
                       next->accessibleDescription()));
        QVERIFY(next->isAncestorOf(QApplication::focusWidget()) ||
                QApplication::focusWidget() == next);
    }
    QVERIFY(d.isVisible());  // Enter on 印刷 only moved on
    QVERIFY(f.prompter.shown.empty());
}

QTEST_MAIN(TstPrint)
#include "tst_print.moc"
