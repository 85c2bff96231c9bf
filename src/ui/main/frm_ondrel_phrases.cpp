// 定型文 in the main window: the memo box's pick list, Ctrl+1 … Ctrl+9, and
// the editor.
#include <QApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>

#include "core/app_context.h"
#include "core/trap.h"
#include "data/phrases.h"
#include "ui/main/frm_ondrel.h"
#include "ui/main/frm_phrases.h"

namespace ondrel {

void FrmOndrel::WirePhrases(int c) {
    QPlainTextEdit* box = pages_[c]->txtLData;
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(box, &QWidget::customContextMenuRequested, this,
            [this, c](const QPoint& at) { ShowMemoMenu(c, at); });
    auto* pick = new QShortcut(QKeySequence(Qt::Key_F2), box, nullptr, nullptr, Qt::WidgetShortcut);
    connect(pick, &QShortcut::activated, this, [this, c] { OpenPhrasePopup(c); });
    for (int n = 0; n < 9; ++n) {
        auto* key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + n)), box, nullptr,
                                  nullptr, Qt::WidgetShortcut);
        connect(key, &QShortcut::activated, this, [this, c, n] { InsertPhrase(c, n); });
    }
}

bool FrmOndrel::MemoBoxWritable(int c) const {
    const QPlainTextEdit* box = pages_[c]->txtLData;
    return busy_ == 0 && !locked_ && MayWrite() && pages_[c]->txtMainkey.has_value() &&
           box->isEnabled() && !box->isReadOnly() && box->isVisibleTo(this);
}

bool FrmOndrel::MayEditPhrases() const { return !staff_ || staff_->role == StaffRole::Admin; }

void FrmOndrel::ShowMemoMenu(int c, const QPoint& at) {
    QPlainTextEdit* box = pages_[c]->txtLData;
    std::unique_ptr<QMenu> menu(box->createStandardContextMenu(at));
    menu->addSeparator();
    QAction* insert = menu->addAction(QStringLiteral("定型文を挿入\tF2"));
    insert->setEnabled(MemoBoxWritable(c));
    QAction* edit = menu->addAction(QStringLiteral("定型文の編集..."));
    edit->setEnabled(MayEditPhrases() && busy_ == 0);
    QAction* chosen = menu->exec(box->viewport()->mapToGlobal(at));
    if (chosen == insert) OpenPhrasePopup(c);
    if (chosen == edit) OpenPhrases(c);
}

void FrmOndrel::OpenPhrasePopup(int c) {
    if (!MemoBoxWritable(c)) {
        ctx_.prompter.Beep();
        return;
    }
    std::vector<Phrase> all;
    if (!WithCommandTrap(ctx_, nullptr, [&] { all = ReadPhrases(ctx_); })) return;
    const QStringList phrases = PhrasesFor(all, c);
    if (phrases.isEmpty()) {
        ctx_.prompter.Information(ctx_.settings.Title,
                                  QStringLiteral("定型文がありません。メモの欄を右クリックし、"
                                                 "「定型文の編集...」で登録して下さい。"));
        return;
    }
    QPlainTextEdit* box = pages_[c]->txtLData;
    PhrasePopup popup(phrases, this);
    // Under the cursor, kept on the screen.
    QPoint at = box->viewport()->mapToGlobal(box->cursorRect().bottomLeft());
    if (const QScreen* screen = box->screen()) {
        const QRect room = screen->availableGeometry();
        at.setX(
            std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - popup.width())));
        if (at.y() + popup.height() > room.bottom())
            at.setY(std::max(room.top(), at.y() - popup.height() - box->cursorRect().height()));
    }
    popup.move(at);
    {
        BusyScope busy(busy_);
        if (runPhrasePopup) {
            runPhrasePopup(popup);
        } else {
            popup.exec();
        }
    }
    box->setFocus();
    if (popup.Chosen()) InsertPhraseText(c, *popup.Chosen());
}

bool FrmOndrel::InsertPhrase(int c, int n) {
    if (!MemoBoxWritable(c)) {
        ctx_.prompter.Beep();
        return false;
    }
    std::vector<Phrase> all;
    if (!WithCommandTrap(ctx_, nullptr, [&] { all = ReadPhrases(ctx_); })) return false;
    const QStringList phrases = PhrasesFor(all, c);
    if (n < 0 || n >= phrases.size()) {
        ctx_.prompter.Beep();
        return false;
    }
    InsertPhraseText(c, phrases[n]);
    return true;
}

void FrmOndrel::InsertPhraseText(int c, const QString& text) {
    if (!MemoBoxWritable(c)) return;
    // One edit, as a paste: the stored text follows it like any typing.
    QString typed = text;
    typed.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    QPlainTextEdit* box = pages_[c]->txtLData;
    QTextCursor cursor = box->textCursor();
    cursor.insertText(typed);
    box->setTextCursor(cursor);
    box->ensureCursorVisible();
}

void FrmOndrel::OpenPhrases(int c) {
    if (!MayEditPhrases() || busy_ > 0) return;
    BusyScope busy(busy_);
    FrmPhrases dialog(ctx_, names_, c, this);
    dialog.Form_Load();
    if (runPhrases) {
        runPhrases(dialog);
    } else {
        dialog.exec();
    }
}

}  // namespace ondrel
