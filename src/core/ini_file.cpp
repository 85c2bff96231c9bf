#include "core/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <cerrno>
#include <optional>

namespace ondrel {

namespace {

constexpr const char* kCp932 = "windows-31j";
constexpr const char* kUtf8 = "UTF-8";
constexpr char kBom[] = "\xEF\xBB\xBF";

// How a file is encoded: code page 932 as Windows wrote it, or UTF-8 as a
// Linux editor saves it (a BOM, or valid UTF-8 holding a byte above 0x7F).
// A new file is code page 932.
struct Encoding {
    bool utf8 = false;
    qsizetype bom = 0;  // bytes of BOM before the first line
    const char* Codec() const { return utf8 ? kUtf8 : kCp932; }
};

Encoding EncodingOf(const QByteArray& data) {
    if (data.startsWith(kBom)) return {true, 3};
    const bool high = std::any_of(data.begin(), data.end(), [](char c) { return (c & 0x80) != 0; });
    if (!high) return {};
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(data);  // decoding happens on conversion
    return {!utf8.hasError(), 0};
}
constexpr qsizetype kMaxValueBytes = 254;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc); }

QByteArrayView Trimmed(QByteArrayView v) {
    while (!v.isEmpty() && IsBlank(v.front())) v = v.sliced(1);
    while (!v.isEmpty() && IsBlank(v.back())) v = v.chopped(1);
    return v;
}

// A line of the file as byte offsets: [begin, end) is its text without CR LF,
// next is where the following line starts.
struct Line {
    qsizetype begin;
    qsizetype end;
    qsizetype next;
};

std::optional<Line> NextLine(const QByteArray& data, qsizetype from) {
    if (from >= data.size()) return std::nullopt;
    // LF is never a trail byte in code page 932, so splitting bytes is safe.
    qsizetype lf = data.indexOf('\n', from);
    qsizetype next = lf < 0 ? data.size() : lf + 1;
    qsizetype end = lf < 0 ? data.size() : lf;
    if (end > from && data[end - 1] == '\r') --end;
    return Line{from, end, next};
}

class Parser {
  public:
    Parser(const QByteArray& data, const Encoding& encoding)
        : data_(data), decoder_(encoding.Codec()) {}

    QString Decode(QByteArrayView bytes) {
        decoder_.resetState();
        return decoder_.decode(bytes);
    }

    // The section name of a "[name]" line, or nullopt for any other line.
    std::optional<QString> SectionName(const Line& line) {
        QByteArrayView text = Trimmed(View(line));
        if (text.isEmpty() || text.front() != '[') return std::nullopt;
        QString inner = Decode(text.sliced(1));
        qsizetype close = inner.indexOf(u']');
        if (close >= 0) inner.truncate(close);
        return inner.trimmed();
    }

    // The key of a "key=value" line; '=' is never a trail byte of code page 932.
    std::optional<QByteArrayView> KeyBytes(const Line& line, qsizetype* equals) {
        QByteArrayView text = View(line);
        qsizetype eq = text.indexOf('=');
        if (eq < 0) return std::nullopt;
        *equals = line.begin + eq;
        return Trimmed(text.first(eq));
    }

    bool KeyMatches(QByteArrayView keyBytes, const QString& key) {
        return Decode(keyBytes).compare(key, Qt::CaseInsensitive) == 0;
    }

    QByteArrayView View(const Line& line) const {
        return QByteArrayView(data_).sliced(line.begin, line.end - line.begin);
    }

  private:
    const QByteArray& data_;
    QStringDecoder decoder_;
};

bool SameName(const std::optional<QString>& name, const QString& wanted) {
    return name && name->compare(wanted.trimmed(), Qt::CaseInsensitive) == 0;
}

qsizetype CharacterWidth(unsigned char c, const Encoding& encoding) {
    if (!encoding.utf8) return IsLeadByte(c) ? 2 : 1;
    return c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
}

QByteArray CutOnCharacterBoundary(QByteArrayView value, const Encoding& encoding) {
    qsizetype n = 0;
    while (n < value.size()) {
        qsizetype width = CharacterWidth(static_cast<unsigned char>(value[n]), encoding);
        if (n + width > kMaxValueBytes) break;
        n += width;
    }
    return value.first(std::min(n, value.size())).toByteArray();
}

// Only a regular file is read: opening a FIFO or a device would wait for a
// writer that never comes, with no window shown yet.
QByteArray ReadWholeFile(const QString& file, bool* ok) {
    *ok = false;
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    QByteArray data;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kIniSizeLimit) {
        char buf[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                *ok = n == 0;
                break;
            }
            data.append(buf, n);
            if (data.size() > kIniSizeLimit) break;  // grown while read
        }
    }
    ::close(fd);
    return *ok ? data : QByteArray();
}

// A file we may replace: a regular file that its mode lets us write. Root
// passes every access check, so for root a file without any write bit (a
// read-only settings file) counts as not writable too.
bool MayReplace(const QString& file, struct stat* st) {
    const QByteArray name = QFile::encodeName(file);
    if (::stat(name.constData(), st) != 0) return errno == ENOENT;
    if (!S_ISREG(st->st_mode)) return false;
    if (::access(name.constData(), W_OK) != 0) return false;
    return ::geteuid() != 0 || (st->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

QString ValueIn(const QByteArray& data, const QString& section, const QString& key) {
    const Encoding encoding = EncodingOf(data);
    Parser parser(data, encoding);
    bool inSection = false;
    bool seenSection = false;
    for (auto line = NextLine(data, encoding.bom); line; line = NextLine(data, line->next)) {
        if (auto name = parser.SectionName(*line)) {
            // Only the first section of that name counts.
            if (inSection) return {};
            inSection = !seenSection && SameName(name, section);
            seenSection = seenSection || inSection;
            continue;
        }
        if (!inSection) continue;
        qsizetype equals = 0;
        auto keyBytes = parser.KeyBytes(*line, &equals);
        if (!keyBytes || !parser.KeyMatches(*keyBytes, key.trimmed())) continue;
        QByteArrayView value =
            Trimmed(QByteArrayView(data).sliced(equals + 1, line->end - equals - 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.sliced(1, value.size() - 2);
        }
        return parser.Decode(CutOnCharacterBoundary(value, encoding));
    }
    return {};
}

}  // namespace

QString ReadIniString(const QString& file, const QString& section, const QString& key) {
    bool ok = false;
    const QByteArray data = ReadWholeFile(file, &ok);
    return ok ? ValueIn(data, section, key) : QString();
}

std::optional<QStringList> ReadIniStrings(const QString& file, const QString& section,
                                          const QStringList& keys) {
    bool ok = false;
    const QByteArray data = ReadWholeFile(file, &ok);
    if (!ok) return std::nullopt;
    QStringList values;
    for (const QString& key : keys) values << ValueIn(data, section, key);
    return values;
}

void WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value) {
    struct stat st {};
    const bool exists = QFile::exists(file);
    if (!MayReplace(file, &st)) return;
    bool ok = false;
    QByteArray data = ReadWholeFile(file, &ok);
    if (!ok && exists) return;  // unreadable: never replace what we cannot keep

    // Written back in the file's own encoding.
    const Encoding encoding = EncodingOf(data);
    QStringEncoder encoder(encoding.Codec());
    const QByteArray keyLine = encoder.encode(key.trimmed() + u'=' + value);
    Parser parser(data, encoding);

    std::optional<Line> sectionLast;  // last non-blank line of the wanted section
    std::optional<Line> keyLineFound;
    bool inSection = false;
    for (auto line = NextLine(data, encoding.bom); line; line = NextLine(data, line->next)) {
        if (auto name = parser.SectionName(*line)) {
            if (inSection || sectionLast) break;
            inSection = SameName(name, section);
            if (inSection) sectionLast = line;
            continue;
        }
        if (!inSection) continue;
        if (!Trimmed(parser.View(*line)).isEmpty()) sectionLast = line;
        qsizetype equals = 0;
        auto keyBytes = parser.KeyBytes(*line, &equals);
        if (keyBytes && parser.KeyMatches(*keyBytes, key.trimmed())) {
            keyLineFound = line;
            break;
        }
    }

    QByteArray out;
    if (keyLineFound) {
        out = data;
        out.replace(keyLineFound->begin, keyLineFound->end - keyLineFound->begin, keyLine);
    } else if (sectionLast) {
        QByteArray insert;
        if (sectionLast->next == sectionLast->end) insert += "\r\n";  // last line had no line end
        insert += keyLine + "\r\n";
        out = data;
        out.insert(sectionLast->next, insert);
    } else {
        out = data;
        if (!out.isEmpty() && !out.endsWith('\n')) out += "\r\n";
        out += "[" + encoder.encode(section.trimmed()) + "]\r\n" + keyLine + "\r\n";
    }

    QSaveFile save(file);
    if (!save.open(QIODevice::WriteOnly)) return;
    // The new file takes the place of the old one with its mode and owner.
    bool kept = true;
    if (exists) {
        const int fd = save.handle();
        kept = ::fchmod(fd, st.st_mode & 07777) == 0;
        if (kept && ::geteuid() == 0) kept = ::fchown(fd, st.st_uid, st.st_gid) == 0;
    }
    if (!kept || save.write(out) != out.size()) {
        save.cancelWriting();
        return;
    }
    save.commit();
}

}  // namespace ondrel
