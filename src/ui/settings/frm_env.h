#pragma once

#include <QDialog>
#include <array>

#include "core/records.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ondrel {

struct AppContext;

// The settings dialog: category names, use flags, stay-on-top.
class FrmEnv : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kMaxNameLength = 15;

    explicit FrmEnv(AppContext& ctx, QWidget* parent = nullptr);

    void Form_Load();
    void Rtn_MasterDisp();
    void Rtn_MasterSave();
    void cmdProcess_Click(int index);
    void chkWindowTop_Click();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    // Controls, by their described names.
    QFrame* picGroup0 = nullptr;
    QLabel* lblThing0 = nullptr;
    std::array<QLineEdit*, kCategoryCount> txtData{};
    std::array<QCheckBox*, kCategoryCount> chkData{};
    std::array<QPushButton*, 2> cmdProcess{};
    QCheckBox* chkWindowTop = nullptr;

    void LimitLength(QLineEdit* box);

    AppContext& ctx_;
    bool loading_ = false;
};

// Characters as a user counts them: one per code point, surrogate pairs included.
qsizetype CharacterCount(const QString& text);

}  // namespace ondrel
