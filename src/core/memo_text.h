#pragma once

#include <QString>
#include <vector>

namespace ondrel {

// Memo texts keep Windows line ends in the database, as the Windows program
// stored them; the editor works with plain line feeds.
QString ToStored(QString text);

// Where two texts differ when one came from the other by one edit: the
// lengths of their common start and common end, never splitting a
// surrogate pair.
struct Stretch {
    qsizetype prefix = 0;
    qsizetype suffix = 0;
};
Stretch ChangedStretch(const QString& before, const QString& after);

// The stored text behind a memo box. The box's document turns every line end
// (CR LF, a lone CR or LF, U+2029) into one paragraph separator, so its text
// alone cannot be stored. This keeps each line end's stored form beside the
// document's raw text and follows every change: an untouched memo is stored
// byte for byte, an edited one keeps every character the user did not touch,
// and a line end the user typed is stored as CR LF.
class StoredText {
  public:
    // `stored` as read; `raw` what the box's document holds once it is filled.
    void Load(const QString& stored, const QString& raw);
    // After any change of the document: one edit at a time, so the change is
    // the stretch between the unchanged start and the unchanged end.
    void Update(const QString& raw);
    bool Edited() const { return raw_ != loadedRaw_; }
    // The text as it was read.
    const QString& Loaded() const { return loaded_; }
    QString Stored() const;

  private:
    QString loaded_;
    QString loadedRaw_;
    QString raw_;
    // One stored form per line end of raw_, in order.
    std::vector<QString> forms_;
};

}  // namespace ondrel
