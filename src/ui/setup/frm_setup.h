#pragma once

#include <QDialog>
#include <array>

#include "setup/first_start.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ondrel {

struct AppContext;

// The first start of an installed program: where the memos are kept and the
// clinic's title. Nothing is written until OK succeeds; Cancel leaves the
// program folder as it was.
class FrmSetup : public QDialog {
    Q_OBJECT
  public:
    FrmSetup(AppContext& ctx, QString templateFolder, QWidget* parent = nullptr);

    std::array<QRadioButton*, 4> optKind{};  // new file, server, existing file, demo
    QLineEdit* txtNewDb = nullptr;
    QLineEdit* txtServer = nullptr;
    QLineEdit* txtExisting = nullptr;
    QLineEdit* txtTitle = nullptr;
    QPushButton* cmdNewDbBrowse = nullptr;
    QPushButton* cmdServerTest = nullptr;
    QPushButton* cmdExistingBrowse = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

    // The choice as the inputs stand.
    SetupChoice Choice() const;
    // OK: checks, sets the folder up, accepts; a problem is told and the
    // dialog stays.
    void cmdOK_Click();
    // Asks the server of txtServer; true when it holds a system database.
    bool cmdServerTest_Click(bool quietOnSuccess = false);

    // Shows the set-up when the program folder holds no Ondrel.ini; false when
    // the user cancelled.
    static bool Run(AppContext& ctx, const QString& templateFolder);

  private:
    void EnableInputs();

    AppContext& ctx_;
    QString templateFolder_;
    QButtonGroup* kinds_ = nullptr;
};

}  // namespace ondrel
