#include "admin/csv_reader.h"

#include <QStringDecoder>
#include <algorithm>

namespace ondrel::tool {

namespace {

// The line (from 1) of byte `at`.
int LineAt(const QByteArray& bytes, qsizetype at) { return int(bytes.left(at).count('\n')) + 1; }

// UTF-8 when the whole file is; else code page 932, strictly: a line that
// is not valid code page 932, or a line that is UTF-8 among code page 932
// ones (a file put together from two sources), is refused by its number.
QString DecodeDetected(const QByteArray& bytes, QString* error) {
    QByteArray b = bytes;
    if (b.startsWith("\xEF\xBB\xBF")) b.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(b);
    if (!utf8.hasError()) return text;
    QString out;
    qsizetype start = 0;
    while (start < b.size()) {
        qsizetype end = b.indexOf('\n', start);
        end = end < 0 ? b.size() : end + 1;
        const QByteArray line = b.mid(start, end - start);
        const bool wide = std::any_of(line.begin(), line.end(), [](char c) { return c & 0x80; });
        if (wide) {
            QStringDecoder asUtf8(QStringDecoder::Utf8);
            const QString decoded = asUtf8.decode(line);  // decodes only when taken
            if (!asUtf8.hasError()) {
                *error = QStringLiteral(
                             "%1 行目: UTF-8 の行とシフトJIS の行が混ざっています。"
                             "どちらかにそろえて下さい。")
                             .arg(LineAt(b, start));
                return {};
            }
        }
        QStringDecoder cp932("windows-31j");
        out += cp932.decode(line);
        if (cp932.hasError()) {
            *error = QStringLiteral("%1 行目: シフトJIS として読めない文字があります。")
                         .arg(LineAt(b, start));
            return {};
        }
        start = end;
    }
    return out;
}

}  // namespace

CsvTable ParseCsv(const QByteArray& bytes, QString* error) {
    const QString text = DecodeDetected(bytes, error);
    if (!error->isEmpty()) return {};
    CsvTable table;
    std::vector<QStringList> records;
    std::vector<int> lines;
    QStringList record;
    QString field;
    bool quoted = false, afterQuote = false, fieldStarted = false;
    int line = 1, recordLine = 1;
    auto endField = [&] {
        record << field;
        field.clear();
        afterQuote = fieldStarted = false;
    };
    auto endRecord = [&] {
        endField();
        if (!(record.size() == 1 && record[0].isEmpty())) {  // blank lines are skipped
            records.push_back(record);
            lines.push_back(recordLine);
        }
        record.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text[i + 1] == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
            } else {
                if (c == u'\n') ++line;
                field += c;
            }
            continue;
        }
        if (c == u',') {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            endRecord();
            recordLine = ++line;
        } else if (c == u'"' && !fieldStarted) {
            quoted = fieldStarted = true;
        } else if (afterQuote || c == u'"') {
            *error = QStringLiteral("%1 行目: 引用符の使い方が正しくありません。").arg(line);
            return {};
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        *error = QStringLiteral("%1 行目: 引用符が閉じられていません。").arg(recordLine);
        return {};
    }
    if (fieldStarted || !record.isEmpty()) endRecord();
    if (records.empty()) {
        *error = QStringLiteral("見出し行がありません。");
        return {};
    }
    table.header = records.front();
    for (QString& h : table.header) h = h.trimmed();
    for (size_t r = 1; r < records.size(); ++r) {
        if (records[r].size() != table.header.size()) {
            *error =
                QStringLiteral("%1 行目: 列の数が見出し行と違います（%2 列、見出しは %3 列）。")
                    .arg(lines[r])
                    .arg(records[r].size())
                    .arg(table.header.size());
            return {};
        }
        for (const QString& f : records[r]) {
            if (f.contains(QChar(u'\0'))) {
                *error = QStringLiteral("%1 行目: NUL 文字があります。").arg(lines[r]);
                return {};
            }
        }
        table.rows.push_back(records[r]);
        table.lineOfRow.push_back(lines[r]);
    }
    return table;
}

QString TooLong(const CsvTable& csv, int limit, const QStringList& limited) {
    for (size_t r = 0; r < csv.rows.size(); ++r) {
        for (qsizetype c = 0; c < csv.header.size(); ++c) {
            if (!limited.isEmpty() && !limited.contains(csv.header[c])) continue;
            if (csv.rows[r][c].size() > limit) {
                return QStringLiteral("%1 行目: %2 が長すぎます（%3 文字までです）。")
                    .arg(csv.lineOfRow[r])
                    .arg(csv.header[c])
                    .arg(limit);
            }
        }
    }
    return {};
}

}  // namespace ondrel::tool
