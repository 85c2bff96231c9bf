#include "history_panel.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>

#include "memo_text.h"

namespace ondrel {

namespace {

// About a screenful and a half of the box; the rest follows in slices,
// the first after the screen has been painted.
constexpr qsizetype kFirstScreen = 4000;
constexpr qsizetype kSlice = 60000;
constexpr int kAfterPaintMs = 30;

// The end of a slice: right after the next block break at or beyond `from`.
qsizetype SliceEnd(const QString& text, qsizetype from) {
    if (from >= text.size()) return text.size();
    const qsizetype brk = text.indexOf(u'\n', from);
    return brk < 0 ? text.size() : brk + 1;
}

}  // namespace

QString ForHistoryBox(QString text) {
    text.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    return text.replace(QString(QChar::LineSeparator) + u'●', QStringLiteral("\n●"));
}

HistoryPanel::HistoryPanel(QPlainTextEdit* box) : QObject(box), box_(box) {
    box->installEventFilter(this);
}

// A user who comes to the box (to read, select or copy) gets all of it.
bool HistoryPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == box_ && event->type() == QEvent::FocusIn) Finish();
    return QObject::eventFilter(watched, event);
}

void HistoryPanel::Show(std::vector<HistoryEntry> entries) {
    ++generation_;
    entries_ = std::move(entries);
    // Only the first screenful is formatted now; the whole text when needed.
    size_t first = 0;
    qsizetype length = 0;
    while (first < entries_.size() && length < kFirstScreen)
        length += entries_[first++].text.size() + 20;
    const bool all = first == entries_.size();
    const QString head = ForHistoryBox(
        FormatHistory(std::vector<HistoryEntry>(entries_.begin(), entries_.begin() + first)));
    text_.clear();
    textComplete_ = all;
    if (all) text_ = head;
    // Cut where a block of the whole text ends: the head's last memo is whole.
    shown_ = all ? head.size() : qsizetype(head.lastIndexOf(u'●'));
    if (shown_ < 0) shown_ = 0;
    box_->setPlainText(head.left(shown_));
    if (!all) {
        QTimer::singleShot(kAfterPaintMs, this, [this, g = generation_] {
            if (g == generation_) AddMore();
        });
    }
}

const QString& HistoryPanel::WholeText() {
    if (!textComplete_) {
        text_ = ForHistoryBox(FormatHistory(entries_));
        textComplete_ = true;
    }
    return text_;
}

void HistoryPanel::AddMore() {
    WholeText();
    const qsizetype end = SliceEnd(text_, shown_ + kSlice);
    QTextCursor cursor(box_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text_.mid(shown_, end - shown_));
    shown_ = end;
    if (shown_ < text_.size()) {
        QTimer::singleShot(0, this, [this, g = generation_] {
            if (g == generation_) AddMore();
        });
    }
}

void HistoryPanel::Finish() {
    WholeText();
    if (shown_ >= text_.size()) return;
    ++generation_;  // the pending slices have nothing left to do
    QTextCursor cursor(box_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text_.mid(shown_));
    shown_ = text_.size();
}

void HistoryPanel::Update(qint32 mainKey, const QDate& date, const QString& text) {
    Finish();
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const HistoryEntry& e) { return e.mainKey == mainKey; });
    if (it != entries_.end()) entries_.erase(it);
    const HistoryEntry entry{date, mainKey, text};
    entries_.insert(std::lower_bound(entries_.begin(), entries_.end(), entry, NewerInHistory),
                    entry);
    // Only the stretch that differs is replaced: the rest of the document,
    // and its layout, stay as they are.
    const QString updated = ForHistoryBox(FormatHistory(entries_));
    const auto [prefix, suffix] = ChangedStretch(text_, updated);
    QTextCursor cursor(box_->document());
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(text_.size() - suffix), QTextCursor::KeepAnchor);
    cursor.insertText(updated.mid(prefix, updated.size() - prefix - suffix));
    text_ = updated;
    shown_ = text_.size();
}

}  // namespace ondrel
