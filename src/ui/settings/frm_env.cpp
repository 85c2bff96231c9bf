#include "ui/settings/frm_env.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/app_context.h"
#include "core/app_settings.h"
#include "core/trap.h"
#include "core/wait_cursor.h"
#include "data/system_master.h"
#include "gui/controls.h"
#include "gui/enter_as_tab.h"
#include "gui/twips.h"
#include "gui/window_placement.h"

namespace ondrel {

namespace {

constexpr std::array<int, kCategoryCount> kCheckTops{765, 1200, 1650, 2100, 2550, 3000, 3450};

// Drops `count` code points that end at position `end` (the text just typed or pasted).
QString DropBefore(const QString& text, qsizetype end, qsizetype count) {
    qsizetype start = end;
    while (count-- > 0 && start > 0) {
        --start;
        if (start > 0 && text[start].isLowSurrogate() && text[start - 1].isHighSurrogate()) --start;
    }
    return text.left(start) + text.mid(end);
}

}  // namespace

qsizetype CharacterCount(const QString& text) {
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate())) ++n;
    }
    return n;
}

FrmEnv::FrmEnv(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    NameControl(this, QStringLiteral("frmEnv"));
    setWindowTitle(QStringLiteral("設定"));
    setFont(WindowsFont(11.25));
    setModal(true);
    setFixedSize(TwipsRect(0, 0, 6660, 5355, LogicalDpi(this)).size());

    picGroup0 = GroupFrame(this, {225, 225, 4470, 3975});
    lblThing0 = TwipsLabel(picGroup0, QStringLiteral("15文字以内で入力して下さい"),
                           QStringLiteral("lblThing"), 0, {180, 225, 2895, 240});

    QWidget* previous = nullptr;
    for (int i = 0; i < kCategoryCount; ++i) {
        auto* box = new QLineEdit(picGroup0);
        txtData[i] = box;
        NameControl(box, QStringLiteral("txtData"), i);
        box->setAccessibleName(QStringLiteral("分類名%1").arg(i + 1));
        box->setFont(WindowsFont(9.75));
        PlaceTwips(box, 225, 720 + 450 * i, 2850, 285);
        QPalette p = box->palette();
        p.setColor(QPalette::Base, Qt::white);
        box->setPalette(p);
        connect(box, &QLineEdit::textChanged, this,
                [this, i](const QString&) { LimitLength(txtData[i]); });
        if (previous) setTabOrder(previous, box);
        previous = box;
    }
    for (int i = 0; i < kCategoryCount; ++i) {
        auto* check = new QCheckBox(QStringLiteral("使用"), picGroup0);
        chkData[i] = check;
        NameControl(check, QStringLiteral("chkData"), i);
        check->setAccessibleName(QStringLiteral("分類%1を使用").arg(i + 1));
        PlaceTwips(check, 3420, kCheckTops[i], 825, 225);
        check->resize(std::max(check->width(), check->sizeHint().width()), check->height());
        setTabOrder(previous, check);
        previous = check;
    }
    chkData[0]->setChecked(true);  // category 0 is always in use
    chkData[0]->setEnabled(false);

    auto button = [this](int index, const QString& caption, QRect twips) {
        cmdProcess[index] = CommandButton(this, index, caption, twips);
        connect(cmdProcess[index], &QPushButton::clicked, this,
                [this, index] { cmdProcess_Click(index); });
    };
    button(1, QStringLiteral("閉じる"), {4950, 225, 1500, 465});
    button(0, QStringLiteral("保存"), {4950, 3735, 1500, 465});
    QPalette save = cmdProcess[0]->palette();
    save.setColor(QPalette::Button, QColor(255, 192, 192));
    cmdProcess[0]->setPalette(save);
    cmdProcess[0]->setAutoFillBackground(true);
    setTabOrder(previous, cmdProcess[1]);
    setTabOrder(cmdProcess[1], cmdProcess[0]);

    chkWindowTop = new QCheckBox(QStringLiteral("システムを最前面で表示する"), this);
    NameControl(chkWindowTop, QStringLiteral("chkWindowTop"));
    PlaceTwips(chkWindowTop, 495, 4680, 4020, 225);
    chkWindowTop->resize(std::max(chkWindowTop->width(), chkWindowTop->sizeHint().width()),
                         chkWindowTop->height());
    setTabOrder(cmdProcess[0], chkWindowTop);
    // Any change after loading is the click, also a screen reader's toggle.
    connect(chkWindowTop, &QCheckBox::toggled, this, [this] { chkWindowTop_Click(); });

    new EnterAsTab(this);
}

// At most 15 characters, also for pasted text: what does not fit of the
// inserted text is dropped, the rest of the name stays.
void FrmEnv::LimitLength(QLineEdit* box) {
    const QString text = box->text();
    const qsizetype excess = CharacterCount(text) - kMaxNameLength;
    if (excess > 0) {
        const int cursor = box->cursorPosition();
        const QString kept = DropBefore(text, cursor, excess);
        const qsizetype removed = text.size() - kept.size();
        QSignalBlocker block(box);
        box->setText(kept);
        box->setCursorPosition(int(cursor - removed));
    }
}

void FrmEnv::Form_Load() {
    if (ctx_.settings.WindowTop == 1) SetTopmost(*this);
    RestoreWindowPlacement(ctx_, *this);
    loading_ = true;
    Rtn_MasterDisp();
    // A value other than 0 or 1 shows the box clear.
    chkWindowTop->setChecked(ctx_.settings.WindowTop == 1);
    loading_ = false;
}

void FrmEnv::Rtn_MasterDisp() {
    WithCommandTrap(ctx_, nullptr, [&] {
        SystemMaster m;
        if (const auto row = Rtn_MasterRead(ctx_)) m = *row;
        for (int i = 0; i < kCategoryCount; ++i) txtData[i]->setText(m.Name[i]);
        for (int i = 1; i < kCategoryCount; ++i) chkData[i]->setChecked(m.Check[i]);
    });
}

void FrmEnv::Rtn_MasterSave() {
    const auto& s = ctx_.settings;
    if (s.MessageFlg[1] == 0 &&
        !ctx_.prompter.Question(s.Title, QStringLiteral("データを保存します。よろしいですか。"))) {
        return;
    }
    QCoreApplication::processEvents();
    WaitCursorGuard wait(ctx_.waitCursor);
    WithCommandTrap(ctx_, nullptr, [&] {
        std::array<QString, kCategoryCount> names;
        std::array<bool, kCategoryCount> inUse{};
        for (int i = 0; i < kCategoryCount; ++i) names[i] = txtData[i]->text();
        for (int i = 1; i < kCategoryCount; ++i) inUse[i] = chkData[i]->isChecked();
        Rtn_MasterWrite(ctx_, names, inUse);
    });
}

void FrmEnv::cmdProcess_Click(int index) {
    if (index == 0) Rtn_MasterSave();
    close();
}

void FrmEnv::chkWindowTop_Click() {
    if (loading_) return;
    SaveWindowTop(ctx_, chkWindowTop->isChecked());
    ctx_.prompter.Information(ctx_.settings.Title,
                              QStringLiteral("システムを終了しますので立ち上げ直して下さい。"));
    ctx_.end.End(0);  // at once: no placement written, no question asked
}

// The Windows form had no cancel button, so Esc does nothing.
void FrmEnv::reject() {}

void FrmEnv::closeEvent(QCloseEvent* event) {
    SaveWindowPlacement(ctx_, *this);
    // Not QDialog's close, which goes through reject(): end the dialog here.
    done(QDialog::Rejected);
    event->accept();
}

}  // namespace ondrel
