#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <optional>

#include "core/records.h"

class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QPushButton;

namespace ondrel {

struct AppContext;
class Office;

// What the dialog reports on: the patient and category the main window shows.
struct PrintSubject {
    ReportInfo header;                   // KarteNo, PatientName, CategoryName
    std::optional<BaseChartNo> karteNo;  // none: no patient shown, nothing is read
    int category = 0;
    std::optional<FullChartNo> chart;  // the patient's full number, for the access log
};

// The date-range print dialog: every memo of the current category and
// patient between two days, in one report.
class FrmPrint : public QDialog {
    Q_OBJECT
  public:
    FrmPrint(AppContext& ctx, PrintSubject subject, Office& office, QWidget* parent = nullptr);

    void Form_Load();
    void Rtn_RangePrint();
    // The range's report as both buttons make it.
    ReportInfo RangeReport();
    // PDF保存: the same range written as PDF to 帳票 and opened in the
    // desktop's PDF viewer (tests put their own opener).
    void Rtn_RangePdf();
    std::function<void(const QString&)> openPdf;
    // プリンタ: the same range printed on the printer chosen beside it
    // (the default first), without a window.
    void Rtn_RangePrinter();
    void Rtn_RangeTextGet(int k);
    void cmdProcess_Click(int index);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    // Controls, by their described names.
    QFrame* picGroup0 = nullptr;
    std::array<QLabel*, 2> lblThing{};
    std::array<QDateEdit*, 2> dtpData{};
    std::array<QPushButton*, 4> cmdProcess{};  // 印刷, 閉じる, PDF保存, プリンタ
    QComboBox* cboPrinter = nullptr;
    // The joined text between building and reporting (a hidden box on Windows).
    QString txtPast;

    AppContext& ctx_;
    PrintSubject subject_;
    Office& office_;
};

// 印刷 of the main window without the range box: the memo on screen.
void Rtn_DataPrint(AppContext& ctx, Office& office, const ReportInfo& memo,
                   std::optional<FullChartNo> chart);

}  // namespace ondrel
