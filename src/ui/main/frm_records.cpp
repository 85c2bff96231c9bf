#include "ui/main/frm_records.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QVBoxLayout>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/trap.h"
#include "gui/enter_as_tab.h"
#include "gui/twips.h"
#include "gui/window_placement.h"

namespace ondrel {

// The revisions as rows; only the visible ones are ever formatted, so a memo
// with ten thousand versions opens at once.
class RevisionModel : public QAbstractTableModel {
  public:
    explicit RevisionModel(bool deleted, QObject* parent)
        : QAbstractTableModel(parent), deleted_(deleted) {}
    void Reset(std::vector<Revision> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    const Revision& At(int row) const { return rows_[size_t(row)]; }
    int rowCount(const QModelIndex& = {}) const override { return int(rows_.size()); }
    static constexpr int kContent = 4;
    int columnCount(const QModelIndex& = {}) const override { return kContent + 1; }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
        static const char16_t* versions[] = {u"日時", u"操作", u"入力者", u"端末", u"内容"};
        static const char16_t* deleted[] = {u"削除日時", u"削除した人", u"端末", u"メモの日付",
                                            u"内容"};
        return QString::fromUtf16((deleted_ ? deleted : versions)[section]);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const Revision& r = At(index.row());
        // The content's column is elided at its right edge; the whole text on hover.
        if (role == Qt::ToolTipRole && index.column() == kContent) return RevisionText(r);
        if (role != Qt::DisplayRole) return {};
        static const QRegularExpression lineEnd(QStringLiteral("[\r\n\u2028]"));
        const QString firstLine = RevisionText(r).section(lineEnd, 0, 0);
        const QString at = r.changedAt.left(19).replace(u'-', u'/');
        if (deleted_) {
            const QStringList cells{at, r.changedBy, r.workstation, RevisionRecord(r).CreDate,
                                    firstLine};
            return cells.value(index.column());
        }
        const QStringList cells{at, ActionText(r.action), r.changedBy, r.workstation, firstLine};
        return cells.value(index.column());
    }

  private:
    bool deleted_;
    std::vector<Revision> rows_;
};

FrmRecords::FrmRecords(AppContext& ctx, Kind kind, qint32 mainKey, qint32 rowVersion, int formCode,
                       BaseChartNo karteNo, QWidget* parent)
    : QDialog(parent),
      ctx_(ctx),
      kind_(kind),
      mainKey_(mainKey),
      rowVersion_(rowVersion),
      formCode_(formCode),
      karteNo_(karteNo) {
    const bool deleted = kind == Kind::Deleted;
    NameControl(this, deleted ? QStringLiteral("frmDeletedMemos") : QStringLiteral("frmRevisions"));
    setWindowTitle(deleted ? QStringLiteral("削除したメモ") : QStringLiteral("変更履歴"));
    resize(1000, 520);
    model_ = new RevisionModel(deleted, this);
    grdRevisions = new QTableView(this);
    NameControl(grdRevisions, QStringLiteral("grdRevisions"));
    grdRevisions->setModel(model_);
    grdRevisions->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdRevisions->setSelectionMode(QAbstractItemView::SingleSelection);
    grdRevisions->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdRevisions->verticalHeader()->hide();
    // The content takes the room the other columns leave, and never needs
    // a horizontal scroll bar.
    grdRevisions->horizontalHeader()->setStretchLastSection(true);
    grdRevisions->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grdRevisions->setTextElideMode(Qt::ElideRight);
    grdRevisions->setWordWrap(false);
    grdRevisions->verticalHeader()->setDefaultSectionSize(22);
    // Widths from the texts they hold, not measured row by row (a memo may
    // have thousands of versions).
    const QFontMetrics fm(grdRevisions->font());
    const int stamp = fm.horizontalAdvance(QStringLiteral("2026/12/10 00:00:00")) + 16;
    const int word = fm.horizontalAdvance(QStringLiteral("削除した人")) + 20;
    const std::vector<int> widths = deleted
                                        ? std::vector<int>{stamp, word, word * 2 / 3, stamp * 2 / 3}
                                        : std::vector<int>{stamp, word * 2 / 3, word, word};
    for (size_t i = 0; i < widths.size(); ++i) grdRevisions->setColumnWidth(int(i), widths[i]);
    lblRevision = new QLabel(this);
    NameControl(lblRevision, QStringLiteral("lblRevision"));
    txtRevision = new QPlainTextEdit(this);
    NameControl(txtRevision, QStringLiteral("txtRevision"));
    txtRevision->setReadOnly(true);
    cmdRestore =
        new QPushButton(deleted ? QStringLiteral("復元") : QStringLiteral("この版に戻す"), this);
    NameControl(cmdRestore, QStringLiteral("cmdRestore"));
    cmdClose = new QPushButton(QStringLiteral("閉じる"), this);
    NameControl(cmdClose, QStringLiteral("cmdClose"));

    auto* right = new QVBoxLayout;
    right->addWidget(lblRevision);
    right->addWidget(txtRevision, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(grdRevisions, 2);
    top->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdRestore);
    buttons->addWidget(cmdClose);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addLayout(buttons);

    connect(cmdRestore, &QPushButton::clicked, this, [this] { cmdRestore_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { close(); });
    connect(grdRevisions->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { ShowSelected(); });
    new EnterAsTab(this);
}

FrmRecords::~FrmRecords() = default;

void FrmRecords::Form_Load() {
    RestoreWindowPlacement(ctx_, *this);
    Reload();
}

void FrmRecords::Reload() {
    WithCommandTrap(ctx_, nullptr, [&] {
        model_->Reset(kind_ == Kind::Deleted ? ReadDeletedMemos(ctx_, formCode_, karteNo_)
                                             : ReadRevisions(ctx_, mainKey_));
    });
    // The newest first in view: the last version, the latest deletion.
    const int row = kind_ == Kind::Deleted ? 0 : model_->rowCount() - 1;
    if (row >= 0 && row < model_->rowCount()) {
        grdRevisions->setCurrentIndex(model_->index(row, 0));
        grdRevisions->scrollTo(model_->index(row, 0));
    }
    ShowSelected();
}

void FrmRecords::ShowSelected() {
    const int row = grdRevisions->currentIndex().row();
    const bool any = row >= 0 && row < model_->rowCount();
    // The version the memo is at now is no version to go back to.
    const bool current = kind_ == Kind::Versions && row == model_->rowCount() - 1;
    cmdRestore->setEnabled(any && !current && refused_.isEmpty());
    if (!any) {
        lblRevision->setText(kind_ == Kind::Deleted ? QStringLiteral("削除したメモはありません。")
                                                    : QString());
        txtRevision->clear();
        return;
    }
    const Revision& r = model_->At(row);
    lblRevision->setText(QStringLiteral("メモの日付: ") + RevisionRecord(r).CreDate);
    txtRevision->setPlainText(RevisionText(r));
}

void FrmRecords::RefuseRestore(const QString& reason) {
    refused_ = reason;
    cmdRestore->setEnabled(false);
    cmdRestore->setToolTip(reason);
}

void FrmRecords::cmdRestore_Click() {
    if (!cmdRestore->isEnabled()) return;
    const int row = grdRevisions->currentIndex().row();
    if (row < 0 || row >= model_->rowCount()) return;
    const Revision r = model_->At(row);
    const bool deleted = kind_ == Kind::Deleted;
    if (!ctx_.prompter.Question(
            ctx_.settings.Title,
            deleted
                ? QStringLiteral("選んだメモを、削除する前の内容で元に戻します。よろしいですか。")
                : QStringLiteral("選んだ版の日付と内容を、メモの今の内容として保存します。"
                                 "よろしいですか。"))) {
        return;
    }
    RestoreOutcome outcome = RestoreOutcome::Done;
    if (!WithCommandTrap(ctx_, nullptr, [&] {
            outcome =
                deleted ? RestoreDeletedMemo(ctx_, r) : RevertToRevision(ctx_, r, rowVersion_);
        })) {
        return;
    }
    if (outcome == RestoreOutcome::Done) {
        restored_ = r.mainKey;
        accept();
        return;
    }
    ctx_.prompter.Warning(
        ctx_.settings.Title,
        outcome == RestoreOutcome::NotDeleted
            ? QStringLiteral("このメモは、既に他の端末で元に戻されています。")
            : QStringLiteral("このメモは、表示した後に他の端末で変更または削除されています。"
                             "\r\n何も変更していません。画面を閉じて、メモを表示し直して下さい。"));
    Reload();
}

void FrmRecords::closeEvent(QCloseEvent* event) {
    SaveWindowPlacement(ctx_, *this);
    event->accept();
    QDialog::closeEvent(event);
}

void FrmRecords::done(int result) {
    SaveWindowPlacement(ctx_, *this);
    QDialog::done(result);
}

}  // namespace ondrel
