#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "data/memo_store.h"

class QPlainTextEdit;

namespace ondrel {

// The history box of one page: the patient's memos of the category, newest
// first, as one text. Its cost at a patient switch follows what is on screen:
// the first screenful is set at once and the rest is added in the background.
// A save changes one memo: its block is replaced in place from the values
// just written, never by reading and laying out everything again.
class HistoryPanel : public QObject {
  public:
    explicit HistoryPanel(QPlainTextEdit* box);

    // Shows these entries (newest first) instead of what was shown.
    void Show(std::vector<HistoryEntry> entries);
    // The memo with this key now has this date and text (added if new).
    void Update(qint32 mainKey, const QDate& date, const QString& text);
    // Whatever is still to be added goes in now.
    void Finish();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void AddMore();
    // The text the box holds once everything is in (as setPlainText would be given).
    const QString& WholeText();

    QPlainTextEdit* box_;
    std::vector<HistoryEntry> entries_;
    QString text_;  // the box's text: the stretches of the first lengths_.size() memos
    std::vector<qsizetype> lengths_;  // each memo's stretch
    qsizetype shown_ = 0;             // how much of it the box holds
    int generation_ = 0;              // a newer Show stops the older one's filling
};

// The history text as the box shows it: one text block per memo, its inner
// line breaks as line separators (a block per line takes several times
// longer to lay out; what the user sees and toPlainText() are the same).
QString ForHistoryBox(QString text);

}  // namespace ondrel
