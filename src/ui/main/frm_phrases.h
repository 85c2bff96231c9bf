#pragma once

#include <QDialog>
#include <QStringList>
#include <array>
#include <optional>

#include "core/records.h"
#include "data/phrases.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace ondrel {

struct AppContext;

// The pick list of 定型文 at the memo box's cursor (F2): typing filters it,
// Enter or a double click takes the phrase on the current row.
class PhrasePopup : public QDialog {
    Q_OBJECT
  public:
    PhrasePopup(const QStringList& phrases, QWidget* parent = nullptr);
    // The phrase taken, once closed.
    const std::optional<QString>& Chosen() const { return chosen_; }
    void Filter(const QString& typed);
    int Shown() const;
    void Choose();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QStringList phrases_;
    std::optional<QString> chosen_;
    QLineEdit* txtFilter = nullptr;
    QListWidget* lstPhrases = nullptr;
};

// 定型文の編集: one list at a time (共通 or a category): add, edit, delete,
// reorder, then 保存 writes the list.
class FrmPhrases : public QDialog {
    Q_OBJECT
  public:
    FrmPhrases(AppContext& ctx, const std::array<QString, kCategoryCount>& names, int category,
               QWidget* parent = nullptr);
    void Form_Load();
    void SelectList(int category);
    void cmdAdd_Click();
    void cmdDelete_Click();
    void Move(int by);
    // False when it could not be written (told).
    bool cmdSave_Click();
    QStringList Texts() const;
    void SetCurrentText(const QString& text);

  protected:
    void done(int result) override;

  private:
    // Asks about unsaved changes; false when they stay (the list not left).
    bool LeaveList();
    void ShowCurrent();

    AppContext& ctx_;
    int category_;
    bool changed_ = false;
    bool loading_ = false;
    QComboBox* cboList = nullptr;
    QListWidget* lstPhrases = nullptr;
    QPlainTextEdit* txtPhrase = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdUp = nullptr;
    QPushButton* cmdDown = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdClose = nullptr;
};

}  // namespace ondrel
