#include "ui/print/frm_print.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include "core/app_context.h"
#include "core/trap.h"
#include "data/japanese_date.h"
#include "data/memo_store.h"
#include "gui/controls.h"
#include "gui/enter_as_tab.h"
#include "gui/twips.h"
#include "gui/window_placement.h"
#include "report/guidance_report.h"
#include "report/printers.h"

namespace ondrel {

namespace {

const QString kPrintQuestion = QStringLiteral("データを印刷します。よろしいですか。");

bool AskToPrint(AppContext& ctx) {
    return ctx.settings.MessageFlg[2] != 0 ||
           ctx.prompter.Question(ctx.settings.Title, kPrintQuestion);
}

}  // namespace

FrmPrint::FrmPrint(AppContext& ctx, PrintSubject subject, Office& office, QWidget* parent)
    : QDialog(parent), ctx_(ctx), subject_(std::move(subject)), office_(office) {
    NameControl(this, QStringLiteral("frmPrint"));
    setWindowTitle(QStringLiteral("印刷"));
    setFont(WindowsFont(11.25));
    setModal(true);
    setFixedSize(TwipsRect(0, 0, 4785, 2100, LogicalDpi(this)).size());

    picGroup0 = GroupFrame(this, {225, 225, 4335, 915});
    lblThing[0] = TwipsLabel(picGroup0, QStringLiteral("日付を指定して印刷"),
                             QStringLiteral("lblThing"), 0, {45, 45, 2085, 240});
    lblThing[1] = TwipsLabel(picGroup0, QStringLiteral("～"), QStringLiteral("lblThing"), 1,
                             {2160, 585, 240, 240});
    dtpData[0] = DatePicker(picGroup0, QStringLiteral("dtpData"), 0, QStringLiteral("開始日"),
                            {270, 540, 1680, 375});
    dtpData[1] = DatePicker(picGroup0, QStringLiteral("dtpData"), 1, QStringLiteral("終了日"),
                            {2655, 540, 1680, 375});
    const int spare = dtpData[1]->geometry().right() + 4 - picGroup0->width();
    if (spare > 0) {
        picGroup0->resize(picGroup0->width() + spare, picGroup0->height());
        setFixedSize(std::max(width(), picGroup0->geometry().right() + 16), height());
    }
    auto button = [this](int index, const QString& caption, QRect twips) {
        cmdProcess[index] = CommandButton(this, index, caption, twips);
        connect(cmdProcess[index], &QPushButton::clicked, this,
                [this, index] { cmdProcess_Click(index); });
    };
    button(0, QStringLiteral("印刷"), {1350, 1395, 1500, 465});
    button(1, QStringLiteral("閉じる"), {3060, 1395, 1500, 465});
    button(2, QStringLiteral("PDF保存"), {225, 1395, 1050, 465});
    // Straight to a printer: the default, or one the print service has.
    setFixedSize(width(), TwipsRect(0, 0, 4785, 2700, LogicalDpi(this)).height());
    cboPrinter = new QComboBox(this);
    NameControl(cboPrinter, QStringLiteral("cboPrinter"));
    cboPrinter->setAccessibleName(QStringLiteral("プリンタ"));
    cboPrinter->setGeometry(TwipsRect(225, 2040, 2760, 375, LogicalDpi(this)));
    const QString standard = DefaultPrinter();
    cboPrinter->addItem(standard.isEmpty() ? QStringLiteral("既定のプリンタ")
                                           : QStringLiteral("既定のプリンタ（%1）").arg(standard),
                        QString());
    for (const QString& p : Printers()) cboPrinter->addItem(p, p);
    button(3, QStringLiteral("プリンタ"), {3060, 1995, 1500, 465});
    setTabOrder(dtpData[0], dtpData[1]);
    setTabOrder(dtpData[1], cmdProcess[0]);
    setTabOrder(cmdProcess[0], cmdProcess[2]);
    setTabOrder(cmdProcess[2], cboPrinter);
    setTabOrder(cboPrinter, cmdProcess[3]);
    setTabOrder(cmdProcess[3], cmdProcess[1]);
    new EnterAsTab(this);
}

void FrmPrint::Form_Load() {
    if (ctx_.settings.WindowTop == 1) SetTopmost(*this);
    RestoreWindowPlacement(ctx_, *this);
    const QDate today = ctx_.clock.Today();
    dtpData[1]->setDate(today);
    dtpData[0]->setDate(today.addDays(-7));
}

void FrmPrint::cmdProcess_Click(int index) {
    if (index == 0) WithCommandTrap(ctx_, nullptr, [&] { Rtn_RangePrint(); });
    if (index == 2) WithCommandTrap(ctx_, nullptr, [&] { Rtn_RangePdf(); });
    if (index == 3) WithCommandTrap(ctx_, nullptr, [&] { Rtn_RangePrinter(); });
    close();
}

ReportInfo FrmPrint::RangeReport() {
    QCoreApplication::processEvents();
    Rtn_RangeTextGet(subject_.category);
    ReportInfo r = subject_.header;
    r.DateText = FormatEraLong(dtpData[0]->date()) + QStringLiteral(" ～ ") +
                 FormatEraLong(dtpData[1]->date());
    r.MemoText = txtPast;
    return r;
}

void FrmPrint::Rtn_RangePrint() {
    if (!AskToPrint(ctx_)) return;
    Rtn_GuidanceReport(ctx_, office_, RangeReport(), subject_.chart);
    Rtn_ExcelFront(office_);
}

void FrmPrint::Rtn_RangePdf() {
    const ReportInfo r = RangeReport();
    const QString pdf = ReportPdfPath(ctx_, r.KarteNo);
    if (!Rtn_GuidanceReport(ctx_, office_, r, subject_.chart, pdf)) return;
    if (openPdf) {
        openPdf(pdf);
    } else {
        QDesktopServices::openUrl(QUrl::fromLocalFile(pdf));
    }
}

void FrmPrint::Rtn_RangePrinter() {
    Rtn_GuidancePrint(ctx_, office_, RangeReport(), subject_.chart,
                      cboPrinter->currentData().toString());
}

void FrmPrint::Rtn_RangeTextGet(int k) {
    // Bounds as entered, both days included; no patient shown, no query.
    const auto karteNo = subject_.karteNo;
    txtPast = karteNo ? HistoryText(ctx_, k, *karteNo, HistoryOrder::OldestFirst,
                                    dtpData[0]->date(), dtpData[1]->date())
                      : QString();
}

// The Windows form had no cancel button, so Esc does nothing.
void FrmPrint::reject() {}

void FrmPrint::closeEvent(QCloseEvent* event) {
    SaveWindowPlacement(ctx_, *this);
    // Not QDialog's close, which goes through reject(): end the dialog here.
    done(QDialog::Rejected);
    event->accept();
}

void Rtn_DataPrint(AppContext& ctx, Office& office, const ReportInfo& memo,
                   std::optional<FullChartNo> chart) {
    if (!AskToPrint(ctx)) return;
    QCoreApplication::processEvents();
    Rtn_GuidanceReport(ctx, office, memo, chart);
    Rtn_ExcelFront(office);
}

}  // namespace ondrel
