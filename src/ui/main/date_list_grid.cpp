#include "ui/main/date_list_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionHeader>

#include "data/japanese_date.h"

namespace ondrel {

namespace {

const QColor kGridLine(128, 128, 128);
const QColor kHeaderBack(192, 192, 255);

// The date list's look (grey grid lines; light-blue header cells with a
// grey border). One style for every list: a style sheet per list cost a
// fifth of the window's construction.
class DateListStyle final : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_Table_GridLineColor) return int(kGridLine.rgba());
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element == CE_HeaderSection) {
            painter->fillRect(option->rect, kHeaderBack);
            painter->setPen(kGridLine);
            painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

QStyle* SharedDateListStyle() {
    static QPointer<QStyle> style;
    if (!style) {
        style = new DateListStyle;
        style->setParent(qApp);
    }
    return style;
}

// The window gives the header its height; measuring the section texts for a
// size hint nobody uses was most of a list's construction.
class FixedHeader final : public QHeaderView {
  public:
    using QHeaderView::QHeaderView;
    QSize sizeHint() const override { return {length(), minimumHeight()}; }
};

}  // namespace

int DateListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int DateListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant DateListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
    const DateListRow& r = rows_[size_t(index.row())];
    switch (index.column()) {
        case 0:
            return DateWithWeekday(r.date);
        case 1:
            return ShortDate(r.date);
        default:
            return QString::number(r.mainKey);
    }
}

QVariant DateListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 2 ? QStringLiteral("MainKey") : QStringLiteral("日付");
}

Qt::ItemFlags DateListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void DateListModel::Reset(std::vector<DateListRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void DateListModel::InsertTop(DateListRow row) {
    beginInsertRows({}, 0, 0);
    rows_.insert(rows_.begin(), std::move(row));
    endInsertRows();
}

void DateListModel::SetDate(int row, const QDate& date) {
    rows_[size_t(row)].date = date;
    emit dataChanged(index(row, 0), index(row, 1));
}

DateListGrid::DateListGrid(QWidget* parent) : QTableView(parent), model_(this) {
    setHorizontalHeader(new FixedHeader(Qt::Horizontal, this));
    setStyle(SharedDateListStyle());
    horizontalHeader()->setStyle(SharedDateListStyle());
    setModel(&model_);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex& previous) {
                emit CurrentRowChanged(current.isValid() ? current.row() : -1,
                                       previous.isValid() ? previous.row() : -1);
                // The light-red highlight follows the current row, also when
                // the handler put the row back (いいえ to a pick).
                if (currentIndex().isValid())
                    selectionModel()->select(currentIndex(), QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
                else
                    clearSelection();
            });
}

// Clicks and keys move the current row only; the highlight is set from it.
QItemSelectionModel::SelectionFlags DateListGrid::selectionCommand(const QModelIndex&,
                                                                   const QEvent*) const {
    return QItemSelectionModel::NoUpdate;
}

QString DateListGrid::Text(int row, int column) const {
    return model_.data(model_.index(row, column), Qt::DisplayRole).toString();
}

int DateListGrid::CurrentRow() const {
    return currentIndex().isValid() ? currentIndex().row() : -1;
}

void DateListGrid::SetCurrentRow(int row) {
    if (row < 0 || row >= model_.rowCount()) {
        selectionModel()->clearCurrentIndex();
        clearSelection();
        return;
    }
    selectionModel()->setCurrentIndex(
        model_.index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace ondrel
