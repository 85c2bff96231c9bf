#include "ui/main/category_page.h"

#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>

#include "gui/controls.h"
#include "gui/twips.h"
#include "ui/main/date_list_grid.h"
#include "ui/main/history_panel.h"

namespace ondrel {

CategoryPage::CategoryPage(int category) : category_(category) {
    const int i = category;
    picGroup = new QWidget(this);
    NameControl(picGroup, QStringLiteral("picGroup"), i);
    PlaceTwips(picGroup, 315, 765, 15270, 9015);
    picGroup->hide();

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { emit RecordsMenuRequested(mapToGlobal(at)); });
    lblDateTitle = TwipsLabel(picGroup, QStringLiteral("日付"), QStringLiteral("lblTitle"), i + 7,
                              {9180, 1125, 510, 240});
    dtpCreData = DatePicker(picGroup, QStringLiteral("dtpCreData"), i, QStringLiteral("日付"),
                            {9990, 1035, 1680, 375});
    lblTitle = TwipsLabel(picGroup, {}, QStringLiteral("lblTitle"), i, {9180, 1710, 3660, 240});

    txtLData = new QPlainTextEdit(picGroup);
    NameControl(txtLData, QStringLiteral("txtLData"), i);
    txtLData->setAccessibleName(QStringLiteral("内容"));
    PlaceTwips(txtLData, 9090, 2025, 6135, 6990);
    txtLData->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // As a Windows multi-line box: Tab moves the focus on.
    txtLData->setTabChangesFocus(true);
    QPalette lp = txtLData->palette();
    lp.setColor(QPalette::Base, Qt::white);
    txtLData->setPalette(lp);
}

DateListGrid& CategoryPage::Grid() {
    BuildLists();
    return *grdDateList;
}

HistoryPanel& CategoryPage::Past() {
    BuildLists();
    return *past;
}

void CategoryPage::BuildLists() {
    if (grdDateList) return;
    const int c = category_;
    auto* grid = new DateListGrid(picGroup);
    grdDateList = grid;
    NameControl(grid, QStringLiteral("grdDateList"), c);
    grid->setAccessibleName(QStringLiteral("日付一覧"));
    PlaceTwips(grid, 0, 0, 2445, 9015);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setTabKeyNavigation(false);
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setSectionsClickable(false);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Right click and the menu key: the memo's versions, the deleted memos;
    // also on the empty page, where a category's last memo was deleted.
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        emit RecordsMenuRequested(grdDateList->viewport()->mapToGlobal(at));
    });
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setHighlightSections(false);
    const int dpi = LogicalDpi(this);
    grid->horizontalHeader()->setFixedHeight(TwipsToPixels(567, dpi));
    grid->verticalHeader()->setDefaultSectionSize(TwipsToPixels(454, dpi));
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->setColumnWidth(0, TwipsToPixels(2130, dpi));
    grid->setColumnHidden(1, true);
    grid->setColumnHidden(2, true);
    // The current row stays light red also when the list has no focus.
    QPalette gp = grid->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        gp.setColor(group, QPalette::Highlight, QColor(255, 192, 192));
        gp.setColor(group, QPalette::HighlightedText, Qt::black);
    }
    grid->setPalette(gp);
    connect(grid, &DateListGrid::CurrentRowChanged, this, &CategoryPage::RowChanged);

    txtPast = new QPlainTextEdit(picGroup);
    NameControl(txtPast, QStringLiteral("txtPast"), c);
    txtPast->setAccessibleName(QStringLiteral("履歴"));
    PlaceTwips(txtPast, 2700, 0, 6135, 9015);
    txtPast->setTabChangesFocus(true);
    txtPast->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtPast->setAttribute(Qt::WA_InputMethodEnabled, false);
    past = new HistoryPanel(txtPast);
    QPalette pp = txtPast->palette();
    pp.setColor(QPalette::Base, QColor(224, 224, 224));
    txtPast->setPalette(pp);

    // Back in the order they were designed in: under the page's other
    // controls, and first in the Tab order of the page.
    grid->stackUnder(lblDateTitle);
    txtPast->stackUnder(lblDateTitle);
    QWidget* before = dtpCreData->previousInFocusChain();
    while (before != window() && !(before->focusPolicy() & Qt::TabFocus))
        before = before->previousInFocusChain();
    setTabOrder(before, grid);
    setTabOrder(grid, txtPast);
    // A child made in a shown parent is shown by hand.
    if (picGroup->isVisible()) {
        grid->show();
        txtPast->show();
    }
}

}  // namespace ondrel
