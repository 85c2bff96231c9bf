#include "ui/main/frm_search.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "core/app_context.h"
#include "core/trap.h"
#include "data/patient_lookup.h"
#include "gui/controls.h"
#include "gui/twips.h"
#include "gui/window_placement.h"

namespace ondrel {

namespace {

constexpr int kMarkRole = Qt::UserRole;
constexpr int kContent = 4;
// How long typing may pause before the list follows it.
constexpr int kTypingPauseMs = 250;

}  // namespace

class SearchModel : public QAbstractTableModel {
  public:
    SearchModel(const std::array<QString, kCategoryCount>& names, QObject* parent)
        : QAbstractTableModel(parent), names_(names) {}
    void Reset(std::vector<SearchHit> hits) {
        beginResetModel();
        hits_ = std::move(hits);
        endResetModel();
    }
    const SearchHit& At(int row) const { return hits_[size_t(row)]; }
    int rowCount(const QModelIndex& = {}) const override { return int(hits_.size()); }
    int columnCount(const QModelIndex& = {}) const override { return kContent + 1; }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
        static const char16_t* captions[] = {u"日付", u"カルテ番号", u"氏名", u"分類", u"内容"};
        return QString::fromUtf16(captions[section]);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const SearchHit& h = At(index.row());
        if (role == kMarkRole) return QPoint(int(h.markAt), int(h.markLength));
        if (role == Qt::ToolTipRole && index.column() == kContent) return h.line;
        if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
        switch (index.column()) {
            case 0:
                return h.date.toString(QStringLiteral("yyyy/MM/dd"));
            case 1:
                return FormatKarteNo(h.chart);
            case 2:
                return h.patientName;
            case 3:
                return h.formCode >= 0 && h.formCode < kCategoryCount ? names_[h.formCode]
                                                                      : QString();
            default:
                return h.line;
        }
    }

  private:
    std::array<QString, kCategoryCount> names_;
    std::vector<SearchHit> hits_;
};

namespace {

// The content's line with the match on a marker's colour.
class MarkDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QPoint mark = index.data(kMarkRole).toPoint();
        if (mark.y() <= 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem o = option;
        initStyleOption(&o, index);
        const QString text = o.text;
        o.text.clear();
        o.widget->style()->drawControl(QStyle::CE_ItemViewItem, &o, painter, o.widget);
        const QRect r = o.rect.adjusted(4, 0, -4, 0);
        const QFontMetrics fm(o.font);
        const QString before = text.left(mark.x());
        const QString hit = text.mid(mark.x(), mark.y());
        const int x0 = r.left() + fm.horizontalAdvance(before);
        const int w = fm.horizontalAdvance(hit);
        painter->save();
        painter->setClipRect(r);
        painter->fillRect(QRect(x0, r.top() + 2, w, r.height() - 4), QColor(255, 230, 90));
        painter->setPen(o.palette.color(o.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                         : QPalette::Text));
        const int flags = int(Qt::AlignVCenter | Qt::AlignLeft) | Qt::TextSingleLine;
        painter->drawText(r, flags, fm.elidedText(text, Qt::ElideRight, r.width()));
        // The match in dark text on its marker, selected or not.
        if (x0 < r.right()) {
            painter->setPen(Qt::black);
            painter->drawText(QRect(x0, r.top(), r.right() - x0, r.height()), flags, hit);
        }
        painter->restore();
    }
};

}  // namespace

FrmSearch::FrmSearch(AppContext& ctx, const std::array<QString, kCategoryCount>& names,
                     const std::array<bool, kCategoryCount>& inUse, QWidget* parent)
    : QDialog(parent), ctx_(ctx), names_(names), inUse_(inUse) {
    NameControl(this, QStringLiteral("frmSearch"));
    setWindowTitle(QStringLiteral("検索"));
    resize(960, 520);
    txtSearch = new QLineEdit(this);
    NameControl(txtSearch, QStringLiteral("txtSearch"));
    txtSearch->setAccessibleName(QStringLiteral("検索する文字"));
    txtSearch->setMaxLength(200);
    txtSearch->setPlaceholderText(
        QStringLiteral("探す文字（カナ・英数字は全角と半角を区別しません）"));
    cboCategory = new QComboBox(this);
    NameControl(cboCategory, QStringLiteral("cboCategory"));
    cboCategory->setAccessibleName(QStringLiteral("分類"));
    cboCategory->addItem(QStringLiteral("すべての分類"), -1);
    for (int k = 0; k < kCategoryCount; ++k)
        if (inUse_[k]) cboCategory->addItem(names_[k], k);
    chkPeriod = new QCheckBox(QStringLiteral("期間"), this);
    NameControl(chkPeriod, QStringLiteral("chkPeriod"));
    const QDate today = ctx_.clock.Today();
    dtpFrom = new QDateEdit(today.addYears(-1), this);
    NameControl(dtpFrom, QStringLiteral("dtpFrom"));
    dtpFrom->setAccessibleName(QStringLiteral("期間の始め"));
    dtpTo = new QDateEdit(today, this);
    NameControl(dtpTo, QStringLiteral("dtpTo"));
    dtpTo->setAccessibleName(QStringLiteral("期間の終わり"));
    for (QDateEdit* d : {dtpFrom, dtpTo}) {
        d->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
        d->setCalendarPopup(true);
        d->setEnabled(false);
    }
    model_ = new SearchModel(names_, this);
    grdResult = new QTableView(this);
    NameControl(grdResult, QStringLiteral("grdResult"));
    grdResult->setAccessibleName(QStringLiteral("見つかったメモ"));
    grdResult->setModel(model_);
    grdResult->setItemDelegateForColumn(kContent, new MarkDelegate(grdResult));
    grdResult->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdResult->setSelectionMode(QAbstractItemView::SingleSelection);
    grdResult->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdResult->verticalHeader()->hide();
    grdResult->horizontalHeader()->setStretchLastSection(true);
    grdResult->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grdResult->setWordWrap(false);
    grdResult->verticalHeader()->setDefaultSectionSize(22);
    const QFontMetrics fm(grdResult->font());
    const int date = fm.horizontalAdvance(QStringLiteral("2026/12/31")) + 16;
    const int chart = fm.horizontalAdvance(QStringLiteral("カルテ番号")) + 20;
    const int name = fm.horizontalAdvance(QStringLiteral("山田　太郎太郎")) + 16;
    for (const auto& [column, width] : {std::pair{0, date}, {1, chart}, {2, name}, {3, name}})
        grdResult->setColumnWidth(column, width);
    lblResult = new QLabel(this);
    NameControl(lblResult, QStringLiteral("lblResult"));
    cmdShow = new QPushButton(QStringLiteral("表示"), this);
    NameControl(cmdShow, QStringLiteral("cmdShow"));
    cmdShow->setEnabled(false);
    cmdClose = new QPushButton(QStringLiteral("閉じる"), this);
    NameControl(cmdClose, QStringLiteral("cmdClose"));
    cmdShow->setAutoDefault(false);
    cmdClose->setAutoDefault(false);

    auto* find = new QLabel(QStringLiteral("検索する文字"), this);
    find->setBuddy(txtSearch);
    auto* top = new QHBoxLayout;
    top->addWidget(find);
    top->addWidget(txtSearch, 1);
    top->addWidget(cboCategory);
    top->addWidget(chkPeriod);
    top->addWidget(dtpFrom);
    top->addWidget(new QLabel(QStringLiteral("～"), this));
    top->addWidget(dtpTo);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblResult, 1);
    bottom->addWidget(cmdShow);
    bottom->addWidget(cmdClose);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(grdResult, 1);
    all->addLayout(bottom);

    typed_ = new QTimer(this);
    typed_->setSingleShot(true);
    typed_->setInterval(kTypingPauseMs);
    connect(typed_, &QTimer::timeout, this, [this] { Rtn_Search(); });
    // Typed, pasted, or set by a screen reader alike.
    connect(txtSearch, &QLineEdit::textChanged, typed_, qOverload<>(&QTimer::start));
    connect(cboCategory, &QComboBox::currentIndexChanged, this, [this] { Rtn_Search(); });
    connect(chkPeriod, &QCheckBox::toggled, this, [this](bool on) {
        dtpFrom->setEnabled(on);
        dtpTo->setEnabled(on);
        Rtn_Search();
    });
    for (QDateEdit* d : {dtpFrom, dtpTo})
        connect(d, &QDateEdit::dateChanged, this, [this] {
            if (chkPeriod->isChecked()) typed_->start();
        });
    connect(grdResult, &QTableView::doubleClicked, this, [this] { Rtn_Choose(); });
    connect(cmdShow, &QPushButton::clicked, this, [this] { Rtn_Choose(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { reject(); });
    txtSearch->installEventFilter(this);
    grdResult->installEventFilter(this);
}

FrmSearch::~FrmSearch() = default;

void FrmSearch::Form_Load(const QString& lastText) {
    RestoreWindowPlacement(ctx_, *this);
    {
        const QSignalBlocker quiet(txtSearch);  // searched at once below, not again
        txtSearch->setText(lastText);
    }
    txtSearch->selectAll();
    txtSearch->setFocus();
    if (!lastText.isEmpty()) Rtn_Search();
}

QString FrmSearch::Text() const { return txtSearch->text(); }
int FrmSearch::HitCount() const { return model_->rowCount(); }

QStringList FrmSearch::RowTexts(int row) const {
    QStringList cells;
    for (int c = 0; c <= kContent; ++c) cells << model_->index(row, c).data().toString();
    return cells;
}

SearchRequest FrmSearch::Request() const {
    SearchRequest r;
    r.text = txtSearch->text();
    if (const int k = cboCategory->currentData().toInt(); k >= 0) r.formCode = k;
    for (int k = 0; k < kCategoryCount; ++k)
        if (inUse_[k]) r.formCodes.push_back(k);
    if (chkPeriod->isChecked()) {
        r.from = dtpFrom->date();
        r.to = dtpTo->date();
    }
    return r;
}

void FrmSearch::Rtn_Search() {
    typed_->stop();
    const SearchRequest request = Request();
    if (SearchTerm(request.text).isEmpty()) {
        model_->Reset({});
        lblResult->clear();
        cmdShow->setEnabled(false);
        return;
    }
    SearchResult result;
    if (!WithCommandTrap(ctx_, nullptr, [&] { result = SearchMemos(ctx_, request); })) return;
    const int n = int(result.hits.size());
    model_->Reset(std::move(result.hits));
    QString told =
        n == 0 ? QStringLiteral("該当するメモはありません。") : QStringLiteral("%1件").arg(n);
    if (result.more)
        told = QStringLiteral("新しい順に%1件を表示しています。条件を絞って下さい。").arg(n);
    if (result.indexPending)
        told += QStringLiteral("（検索の準備中のため、古いメモはまだ一部しか探せません）");
    lblResult->setText(told);
    cmdShow->setEnabled(n > 0);
    if (n > 0) grdResult->setCurrentIndex(model_->index(0, 0));
}

void FrmSearch::Rtn_Choose() {
    if (typed_->isActive()) Rtn_Search();  // Enter right after typing: what was typed
    const int row = grdResult->currentIndex().row();
    if (row < 0 || row >= model_->rowCount()) return;
    chosen_ = model_->At(row);
    accept();
}

bool FrmSearch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Rtn_Choose();
            return true;
        }
        if (watched == txtSearch && StepListFromBox(*grdResult, key)) return true;
    }
    return QDialog::eventFilter(watched, event);
}

void FrmSearch::done(int result) {
    SaveWindowPlacement(ctx_, *this);
    QDialog::done(result);
}

}  // namespace ondrel
