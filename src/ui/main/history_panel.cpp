#include "ui/main/history_panel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <numeric>

#include "core/memo_text.h"

namespace ondrel {

namespace {

// At most this much of the text goes in before the first paint; the rest
// follows in slices, the first after the screen has been painted.
constexpr qsizetype kFirstScreen = 4000;
constexpr qsizetype kSlice = 60000;
constexpr int kAfterPaintMs = 30;

// The end of a slice: right after the next block break at or beyond `from`.
qsizetype SliceEnd(const QString& text, qsizetype from) {
    if (from >= text.size()) return text.size();
    const qsizetype brk = text.indexOf(u'\n', from);
    return brk < 0 ? text.size() : brk + 1;
}

// One memo's stretch of the box's text. Joined, the stretches are exactly
// ForHistoryBox of the whole history: every memo ends with a line separator,
// which becomes the block break before the next memo's ●.
QString Piece(const HistoryEntry& e, bool last) {
    QString piece = ForHistoryBox(FormatHistory({e}));
    if (!last) piece.back() = u'\n';
    return piece;
}

// Lines the piece takes at most, wrapped at `perLine` characters (full-width
// ones: half-width text takes fewer lines).
qsizetype LinesAtMost(const QString& piece, qsizetype perLine) {
    qsizetype lines = 0, run = 0;
    for (const QChar ch : piece) {
        if (ch == QChar::LineSeparator || ch == u'\n') {
            lines += 1 + run / perLine;
            run = 0;
        } else {
            ++run;
        }
    }
    return lines + (run > 0 ? 1 + run / perLine : 0);
}

// Inside an edit block the cursor does not measure where it ends up on its
// line (a layout of that line, for a cursor nobody shows).
void InsertText(QTextCursor& cursor, const QString& text) {
    cursor.beginEditBlock();
    cursor.insertText(text);
    cursor.endEditBlock();
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
    // Only the first screenful is formatted now (twice the lines the box
    // shows, counting full-width wrapping); the whole text when needed.
    text_.clear();
    lengths_.clear();
    const QFontMetrics fm(box_->font());
    const qsizetype screenLines = 2 * (box_->height() / fm.lineSpacing() + 1);
    const qsizetype perLine = std::max(1, box_->width() / std::max(1, fm.horizontalAdvance(u'あ')));
    qsizetype lines = 0;
    while (lengths_.size() < entries_.size() && text_.size() < kFirstScreen &&
           lines < screenLines) {
        const size_t i = lengths_.size();
        const QString piece = Piece(entries_[i], i + 1 == entries_.size());
        text_ += piece;
        lengths_.push_back(piece.size());
        lines += LinesAtMost(piece, perLine);
    }
    const bool all = lengths_.size() == entries_.size();
    shown_ = text_.size();
    box_->setPlainText(text_);
    if (!all) {
        QTimer::singleShot(kAfterPaintMs, this, [this, g = generation_] {
            if (g == generation_) AddMore();
        });
    }
}

const QString& HistoryPanel::WholeText() {
    while (lengths_.size() < entries_.size()) {
        const size_t i = lengths_.size();
        const QString piece = Piece(entries_[i], i + 1 == entries_.size());
        text_ += piece;
        lengths_.push_back(piece.size());
    }
    return text_;
}

void HistoryPanel::AddMore() {
    WholeText();
    const qsizetype end = SliceEnd(text_, shown_ + kSlice);
    QTextCursor cursor(box_->document());
    cursor.movePosition(QTextCursor::End);
    InsertText(cursor, text_.mid(shown_, end - shown_));
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
    InsertText(cursor, text_.mid(shown_));
    shown_ = text_.size();
}

void HistoryPanel::Update(qint32 mainKey, const QDate& date, const QString& text) {
    Finish();
    const qsizetype beforeSize = text_.size();
    auto startOf = [this](size_t i) {
        return std::accumulate(lengths_.begin(), lengths_.begin() + qsizetype(i), qsizetype(0));
    };
    // Out with the memo's old stretch, in with the new one at its place; only
    // the neighbour's last character changes when the memo was or becomes last.
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const HistoryEntry& e) { return e.mainKey == mainKey; });
    // Where the old and the new stretch lie bounds what changes: nothing
    // walks or copies the whole history.
    const bool found = it != entries_.end();
    qsizetype firstTouched = beforeSize, tailBefore = 0;
    QString oldPiece;
    if (found) {
        const size_t o = size_t(it - entries_.begin());
        firstTouched = startOf(o);
        tailBefore = beforeSize - firstTouched - lengths_[o];
        oldPiece = text_.mid(firstTouched, lengths_[o]);
        text_.remove(startOf(o), lengths_[o]);
        entries_.erase(it);
        lengths_.erase(lengths_.begin() + qsizetype(o));
        if (o == entries_.size() && o > 0) text_.back() = QChar::LineSeparator;
    }
    const HistoryEntry entry{date, mainKey, text};
    const size_t k =
        size_t(std::lower_bound(entries_.begin(), entries_.end(), entry, NewerInHistory) -
               entries_.begin());
    const bool last = k == entries_.size();
    if (last && k > 0) text_.back() = u'\n';
    const QString piece = Piece(entry, last);
    const qsizetype newStart = startOf(k);
    text_.insert(newStart, piece);
    entries_.insert(entries_.begin() + qsizetype(k), entry);
    lengths_.insert(lengths_.begin() + qsizetype(k), piece.size());
    // Only the stretch between the memo's old and new place is replaced in
    // the document (with the character before it, a neighbour that was or
    // becomes the last entry): the rest, and its layout, stay as they are.
    if (!found) tailBefore = beforeSize - newStart;
    qsizetype prefix = std::max(qsizetype(0), std::min(firstTouched, newStart) - 1);
    qsizetype suffix = std::min(tailBefore, text_.size() - newStart - piece.size());
    if (found && firstTouched == newStart) {
        // Kept its place (the usual save): only the characters that differ,
        // so the memo's lines keep their blocks.
        const auto [same, sameEnd] = ChangedStretch(oldPiece, piece);
        prefix = newStart + same;
        suffix = tailBefore + sameEnd;
    }
    QTextCursor cursor(box_->document());
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(beforeSize - suffix), QTextCursor::KeepAnchor);
    InsertText(cursor, text_.mid(prefix, text_.size() - prefix - suffix));
    shown_ = text_.size();
}

}  // namespace ondrel
