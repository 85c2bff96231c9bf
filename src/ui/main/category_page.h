#pragma once

#include <QWidget>
#include <optional>

class QDateEdit;
class QLabel;
class QPlainTextEdit;

namespace ondrel {

class DateListGrid;
class FrmOndrel;
class HistoryPanel;

// One tab of the main window: a category's date list, history, date box and
// memo box, under their described names with the category as index, and
// what the page shows (kept in hidden text boxes on Windows). The window
// works the page; the page builds its controls and keeps their place.
class CategoryPage : public QWidget {
    Q_OBJECT
  public:
    explicit CategoryPage(int category);
    int Category() const { return category_; }

    // The date list and the history, the costliest controls of the window:
    // built on first use (the window builds those not on show right after
    // its first paint), in their designed place and Tab order.
    DateListGrid& Grid();
    HistoryPanel& Past();
    bool ListsBuilt() const { return grdDateList != nullptr; }

  signals:
    // The date list's current row moved (by the user or by the program).
    void RowChanged(int row, int previousRow);
    // Right click or the menu key on the page or its date list.
    void RecordsMenuRequested(const QPoint& globalPos);

  private:
    friend class FrmOndrel;
    void BuildLists();

    const int category_;
    // Controls, by their described names.
    QWidget* picGroup = nullptr;
    DateListGrid* grdDateList = nullptr;
    QPlainTextEdit* txtPast = nullptr;
    HistoryPanel* past = nullptr;
    QDateEdit* dtpCreData = nullptr;
    QPlainTextEdit* txtLData = nullptr;
    QLabel* lblTitle = nullptr;      // lblTitle(c): the category's name
    QLabel* lblDateTitle = nullptr;  // lblTitle(c + 7): 日付
    // What the page shows: the memo's key and version, its date-list row
    // (1-based; 0: none).
    std::optional<qint32> txtMainkey;
    qint32 rowVersion = 0;
    int txtRow = 0;
};

}  // namespace ondrel
