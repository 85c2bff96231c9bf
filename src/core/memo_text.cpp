#include "core/memo_text.h"

#include <algorithm>

namespace ondrel {

namespace {

constexpr char16_t kParagraph = u'\u2029';
constexpr char16_t kLine = u'\u2028';  // a line break inside a paragraph (Shift+Enter)

bool IsLineEnd(QChar c) { return c == kParagraph || c == kLine; }

qsizetype LineEndsIn(const QString& s, qsizetype from, qsizetype to) {
    qsizetype n = 0;
    for (qsizetype i = from; i < to; ++i) n += IsLineEnd(s[i]) ? 1 : 0;
    return n;
}

}  // namespace

Stretch ChangedStretch(const QString& before, const QString& after) {
    const qsizetype shorter = std::min(before.size(), after.size());
    Stretch s;
    while (s.prefix < shorter && before[s.prefix] == after[s.prefix]) ++s.prefix;
    if (s.prefix > 0 && before[s.prefix - 1].isHighSurrogate()) --s.prefix;
    while (s.suffix < shorter - s.prefix &&
           before[before.size() - 1 - s.suffix] == after[after.size() - 1 - s.suffix])
        ++s.suffix;
    if (s.suffix > 0 && before[before.size() - s.suffix].isLowSurrogate()) --s.suffix;
    return s;
}

QString ToStored(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text.replace(u'\n', QStringLiteral("\r\n"));
}

void StoredText::Load(const QString& stored, const QString& raw) {
    loaded_ = stored;
    forms_.clear();
    QString expected;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QChar c = stored[i];
        if (c == u'\r' && i + 1 < stored.size() && stored[i + 1] == u'\n') {
            forms_.push_back(QStringLiteral("\r\n"));
            expected += QChar(kParagraph);
            ++i;
        } else if (c == u'\r' || c == u'\n' || IsLineEnd(c)) {
            forms_.emplace_back(c);
            expected += c == kLine ? QChar(kLine) : QChar(kParagraph);
        } else {
            expected += c;
        }
    }
    // A box that changed the text in a way not foreseen here: its line ends
    // are stored as typed ones if the memo is edited; untouched, it is kept.
    if (expected != raw)
        forms_.assign(size_t(LineEndsIn(raw, 0, raw.size())), QStringLiteral("\r\n"));
    loadedRaw_ = raw_ = raw;
}

void StoredText::Update(const QString& raw) {
    const auto [prefix, suffix] = ChangedStretch(raw_, raw);
    const auto first = forms_.begin() + LineEndsIn(raw_, 0, prefix);
    const auto removed = LineEndsIn(raw_, prefix, raw_.size() - suffix);
    const auto added = LineEndsIn(raw, prefix, raw.size() - suffix);
    const auto at = forms_.erase(first, first + removed);
    forms_.insert(at, size_t(added), QStringLiteral("\r\n"));
    raw_ = raw;
}

QString StoredText::Stored() const {
    if (!Edited()) return loaded_;
    QString out;
    out.reserve(raw_.size() + qsizetype(forms_.size()));
    size_t k = 0;
    for (const QChar c : raw_) {
        if (!IsLineEnd(c))
            out += c;
        else if (k < forms_.size())
            out += forms_[k++];
        else
            out += QStringLiteral("\r\n");
    }
    return out;
}

}  // namespace ondrel
