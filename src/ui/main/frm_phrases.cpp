#include "ui/main/frm_phrases.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/app_context.h"
#include "core/trap.h"
#include "data/memo_search.h"
#include "gui/controls.h"
#include "gui/twips.h"
#include "gui/window_placement.h"

namespace ondrel {

namespace {

constexpr int kTextRole = Qt::UserRole;

// A phrase as a row reads: its first line, cut.
QString RowText(const QString& phrase) {
    QString first = phrase.section(u'\n', 0, 0).remove(u'\r');
    if (first.size() > 80) first = first.left(80) + QStringLiteral("…");
    return first != phrase ? first + QStringLiteral(" …") : first;
}

}  // namespace

PhrasePopup::PhrasePopup(const QStringList& phrases, QWidget* parent)
    : QDialog(parent, Qt::Popup), phrases_(phrases) {
    NameControl(this, QStringLiteral("frmPhrasePopup"));
    setWindowTitle(QStringLiteral("定型文"));
    txtFilter = new QLineEdit(this);
    NameControl(txtFilter, QStringLiteral("txtFilter"));
    txtFilter->setAccessibleName(QStringLiteral("定型文を絞り込む"));
    txtFilter->setPlaceholderText(QStringLiteral("文字を入れて絞り込み、Enter で挿入"));
    lstPhrases = new QListWidget(this);
    NameControl(lstPhrases, QStringLiteral("lstPhrases"));
    lstPhrases->setAccessibleName(QStringLiteral("定型文"));
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(4, 4, 4, 4);
    all->addWidget(txtFilter);
    all->addWidget(lstPhrases, 1);
    resize(420, 260);
    connect(txtFilter, &QLineEdit::textChanged, this, [this](const QString& t) { Filter(t); });
    connect(lstPhrases, &QListWidget::itemDoubleClicked, this, [this] { Choose(); });
    txtFilter->installEventFilter(this);
    lstPhrases->installEventFilter(this);
    Filter({});
    txtFilter->setFocus();
}

void PhrasePopup::Filter(const QString& typed) {
    const QString term = SearchTerm(typed);
    lstPhrases->clear();
    for (int i = 0; i < phrases_.size(); ++i) {
        if (!term.isEmpty() && !FoldForSearch(phrases_[i]).contains(term)) continue;
        // The first nine keep the number Ctrl+1 … Ctrl+9 gives them.
        auto* item = new QListWidgetItem(
            (i < 9 ? QStringLiteral("%1  ").arg(i + 1) : QStringLiteral("    ")) +
                RowText(phrases_[i]),
            lstPhrases);
        item->setData(kTextRole, phrases_[i]);
        item->setToolTip(phrases_[i].left(2000));
    }
    if (lstPhrases->count() > 0) lstPhrases->setCurrentRow(0);
}

int PhrasePopup::Shown() const { return lstPhrases->count(); }

void PhrasePopup::Choose() {
    if (QListWidgetItem* item = lstPhrases->currentItem()) {
        chosen_ = item->data(kTextRole).toString();
        accept();
    }
}

bool PhrasePopup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Choose();
            return true;
        }
        if (watched == txtFilter && StepListFromBox(*lstPhrases, key)) return true;
    }
    return QDialog::eventFilter(watched, event);
}

FrmPhrases::FrmPhrases(AppContext& ctx, const std::array<QString, kCategoryCount>& names,
                       int category, QWidget* parent)
    : QDialog(parent), ctx_(ctx), category_(category) {
    NameControl(this, QStringLiteral("frmPhrases"));
    setWindowTitle(QStringLiteral("定型文の編集"));
    resize(760, 460);
    cboList = new QComboBox(this);
    NameControl(cboList, QStringLiteral("cboList"));
    cboList->setAccessibleName(QStringLiteral("定型文の一覧"));
    cboList->addItem(QStringLiteral("共通（すべての分類）"), kCommonPhrases);
    for (int k = 0; k < kCategoryCount; ++k) cboList->addItem(names[k], k);
    lstPhrases = new QListWidget(this);
    NameControl(lstPhrases, QStringLiteral("lstPhrases"));
    lstPhrases->setAccessibleName(QStringLiteral("定型文"));
    txtPhrase = new QPlainTextEdit(this);
    NameControl(txtPhrase, QStringLiteral("txtPhrase"));
    txtPhrase->setAccessibleName(QStringLiteral("文言"));
    auto button = [this](const QString& caption, const QString& name) {
        auto* b = new QPushButton(caption, this);
        NameControl(b, name);
        b->setAutoDefault(false);
        return b;
    };
    cmdAdd = button(QStringLiteral("追加"), QStringLiteral("cmdAdd"));
    cmdDelete = button(QStringLiteral("削除"), QStringLiteral("cmdDelete"));
    cmdUp = button(QStringLiteral("上へ"), QStringLiteral("cmdUp"));
    cmdDown = button(QStringLiteral("下へ"), QStringLiteral("cmdDown"));
    cmdSave = button(QStringLiteral("保存"), QStringLiteral("cmdSave"));
    cmdClose = button(QStringLiteral("閉じる"), QStringLiteral("cmdClose"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("一覧"), this));
    top->addWidget(cboList, 1);
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {cmdAdd, cmdDelete, cmdUp, cmdDown}) side->addWidget(b);
    side->addStretch(1);
    auto* middle = new QHBoxLayout;
    middle->addWidget(lstPhrases, 2);
    middle->addLayout(side);
    middle->addWidget(txtPhrase, 3);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(cmdSave);
    bottom->addWidget(cmdClose);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(middle, 1);
    all->addLayout(bottom);

    connect(cboList, &QComboBox::currentIndexChanged, this, [this] {
        const int wanted = cboList->currentData().toInt();
        if (loading_ || wanted == category_) return;
        if (!LeaveList()) {
            const QSignalBlocker quiet(cboList);
            cboList->setCurrentIndex(cboList->findData(category_));
            return;
        }
        SelectList(wanted);
    });
    connect(lstPhrases, &QListWidget::currentRowChanged, this, [this] { ShowCurrent(); });
    connect(txtPhrase, &QPlainTextEdit::textChanged, this, [this] {
        if (loading_) return;
        if (QListWidgetItem* item = lstPhrases->currentItem()) {
            const QString text = txtPhrase->toPlainText();
            item->setData(kTextRole, text);
            item->setText(RowText(text));
            changed_ = true;
        }
    });
    connect(cmdAdd, &QPushButton::clicked, this, [this] { cmdAdd_Click(); });
    connect(cmdDelete, &QPushButton::clicked, this, [this] { cmdDelete_Click(); });
    connect(cmdUp, &QPushButton::clicked, this, [this] { Move(-1); });
    connect(cmdDown, &QPushButton::clicked, this, [this] { Move(1); });
    connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { close(); });
}

void FrmPhrases::Form_Load() {
    RestoreWindowPlacement(ctx_, *this);
    SelectList(category_);
}

void FrmPhrases::SelectList(int category) {
    std::vector<Phrase> all;
    if (!WithCommandTrap(ctx_, nullptr, [&] { all = ReadPhrases(ctx_); })) return;
    loading_ = true;
    category_ = category;
    cboList->setCurrentIndex(cboList->findData(category));
    lstPhrases->clear();
    for (const QString& text : PhraseList(all, category)) {
        auto* item = new QListWidgetItem(RowText(text), lstPhrases);
        item->setData(kTextRole, text);
    }
    loading_ = false;
    changed_ = false;
    if (lstPhrases->count() > 0) lstPhrases->setCurrentRow(0);
    ShowCurrent();
}

QStringList FrmPhrases::Texts() const {
    QStringList texts;
    for (int i = 0; i < lstPhrases->count(); ++i)
        texts << lstPhrases->item(i)->data(kTextRole).toString();
    return texts;
}

void FrmPhrases::SetCurrentText(const QString& text) { txtPhrase->setPlainText(text); }

void FrmPhrases::ShowCurrent() {
    QListWidgetItem* item = lstPhrases->currentItem();
    loading_ = true;
    txtPhrase->setPlainText(item ? item->data(kTextRole).toString() : QString());
    loading_ = false;
    txtPhrase->setEnabled(item != nullptr);
    const int row = lstPhrases->currentRow();
    cmdDelete->setEnabled(item != nullptr);
    cmdUp->setEnabled(row > 0);
    cmdDown->setEnabled(item != nullptr && row < lstPhrases->count() - 1);
}

void FrmPhrases::cmdAdd_Click() {
    auto* item = new QListWidgetItem(lstPhrases);
    item->setData(kTextRole, QString());
    lstPhrases->setCurrentItem(item);
    changed_ = true;
    txtPhrase->setFocus();
}

void FrmPhrases::cmdDelete_Click() {
    const int row = lstPhrases->currentRow();
    if (row < 0) return;
    delete lstPhrases->takeItem(row);
    changed_ = true;
    ShowCurrent();
}

void FrmPhrases::Move(int by) {
    const int row = lstPhrases->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= lstPhrases->count()) return;
    QListWidgetItem* item = lstPhrases->takeItem(row);
    lstPhrases->insertItem(to, item);
    lstPhrases->setCurrentRow(to);
    changed_ = true;
}

bool FrmPhrases::cmdSave_Click() {
    const QStringList texts = Texts();
    for (int i = 0; i < texts.size(); ++i) {
        if (const QString problem = PhraseProblem(texts[i]); !problem.isEmpty()) {
            lstPhrases->setCurrentRow(i);
            ctx_.prompter.Warning(ctx_.settings.Title,
                                  QStringLiteral("%1 番目の定型文: ").arg(i + 1) + problem);
            return false;
        }
    }
    if (!WithCommandTrap(ctx_, nullptr, [&] { SavePhrases(ctx_, category_, texts); })) return false;
    changed_ = false;
    return true;
}

bool FrmPhrases::LeaveList() {
    if (!changed_) return true;
    if (!ctx_.prompter.Question(ctx_.settings.Title,
                                QStringLiteral("定型文の変更を保存しますか。\r\n"
                                               "「いいえ」で変更を捨てます。"))) {
        changed_ = false;
        return true;
    }
    return cmdSave_Click();
}

void FrmPhrases::done(int result) {
    if (!LeaveList()) return;
    SaveWindowPlacement(ctx_, *this);
    QDialog::done(result);
}

}  // namespace ondrel
