#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <vector>

#include "data/memo_store.h"

namespace ondrel {

// Columns: 0 the date as "yyyy/MM/dd (aaa)", 1 the date (hidden), 2 MainKey (hidden).
class DateListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void Reset(std::vector<DateListRow> rows);
    void InsertTop(DateListRow row);
    void SetDate(int row, const QDate& date);
    const DateListRow& Row(int row) const { return rows_[size_t(row)]; }

  private:
    std::vector<DateListRow> rows_;
};

// The date list of one category page. Data rows count from 0 here; the
// window's txtRow counts the header as row 0, as the Windows grid did.
class DateListGrid : public QTableView {
    Q_OBJECT
  public:
    explicit DateListGrid(QWidget* parent = nullptr);
    DateListModel& Model() { return model_; }
    int RowCount() const { return model_.rowCount(); }
    QString Text(int row, int column) const;
    int CurrentRow() const;
    void SetCurrentRow(int row);

  signals:
    void CurrentRowChanged(int row, int previousRow);

  protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;

  private:
    DateListModel model_;
};

}  // namespace ondrel
