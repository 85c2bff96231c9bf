#pragma once

#include <QDialog>
#include <array>

class QDateEdit;
class QFrame;
class QLabel;
class QPushButton;

namespace ondrel {

struct AppContext;
class FrmOndrel;
class Office;

// The date-range print dialog: every memo of the current category and
// patient between two days, in one report.
class FrmPrint : public QDialog {
    Q_OBJECT
  public:
    FrmPrint(AppContext& ctx, FrmOndrel& main, Office& office);

    void Form_Load();
    void Rtn_RangePrint();
    void Rtn_RangeTextGet(int k);
    void cmdProcess_Click(int index);

    QFrame* picGroup0 = nullptr;
    std::array<QLabel*, 2> lblThing{};
    std::array<QDateEdit*, 2> dtpData{};
    std::array<QPushButton*, 2> cmdProcess{};
    // The joined text between building and reporting (a hidden box on Windows).
    QString txtPast;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    AppContext& ctx_;
    FrmOndrel& main_;
    Office& office_;
};

// 印刷 of the main window without the range box: the memo on screen.
void Rtn_DataPrint(AppContext& ctx, FrmOndrel& main, Office& office);

}  // namespace ondrel
