#pragma once

#include <QDialog>
#include <array>
#include <optional>

#include "core/records.h"
#include "data/memo_search.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace ondrel {

struct AppContext;
class SearchModel;

// 検索: memos of every patient holding a text, listed as it is typed, newest
// first; Enter or a double click shows the chosen one in the main window.
class FrmSearch : public QDialog {
    Q_OBJECT
  public:
    // The categories' names, and which are in use (the others are not searched).
    FrmSearch(AppContext& ctx, const std::array<QString, kCategoryCount>& names,
              const std::array<bool, kCategoryCount>& inUse, QWidget* parent = nullptr);
    ~FrmSearch() override;
    void Form_Load(const QString& lastText);
    // Searches now with what the boxes hold (typing waits a moment first).
    void Rtn_Search();
    // Closes with the memo on the list's current row chosen; nothing without one.
    void Rtn_Choose();
    const std::optional<SearchHit>& Chosen() const { return chosen_; }
    QString Text() const;
    int HitCount() const;
    // The list's row as it reads: 日付, カルテ番号, 氏名, 分類, 内容.
    QStringList RowTexts(int row) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

  private:
    SearchRequest Request() const;

    AppContext& ctx_;
    std::array<QString, kCategoryCount> names_;
    std::array<bool, kCategoryCount> inUse_;
    std::optional<SearchHit> chosen_;
    SearchModel* model_ = nullptr;
    QTimer* typed_ = nullptr;
    QLineEdit* txtSearch = nullptr;
    QComboBox* cboCategory = nullptr;
    QCheckBox* chkPeriod = nullptr;
    QDateEdit* dtpFrom = nullptr;
    QDateEdit* dtpTo = nullptr;
    QTableView* grdResult = nullptr;
    QLabel* lblResult = nullptr;
    QPushButton* cmdShow = nullptr;
    QPushButton* cmdClose = nullptr;
};

}  // namespace ondrel
