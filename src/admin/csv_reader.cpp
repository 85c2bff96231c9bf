#include "admin/csv_reader.h"

#include <QStringDecoder>

namespace ondrel::tool {

namespace {

QString DecodeDetected(const QByteArray& bytes) {
    QByteArray b = bytes;
    if (b.startsWith("\xEF\xBB\xBF")) b.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(b);
    if (!utf8.hasError()) return text;
    QStringDecoder cp932("windows-31j");
    return cp932.decode(b);
}

}  // namespace

CsvTable ParseCsv(const QByteArray& bytes, QString* error) {
    const QString text = DecodeDetected(bytes);
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
        table.rows.push_back(records[r]);
        table.lineOfRow.push_back(lines[r]);
    }
    return table;
}

}  // namespace ondrel::tool
