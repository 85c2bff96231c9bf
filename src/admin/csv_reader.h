#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace ondrel::tool {

struct CsvTable {
    QStringList header;
    std::vector<QStringList> rows;
    std::vector<int> lineOfRow;  // line number (from 1) where each row starts
};

// UTF-8 (with or without BOM) or code page 932, told apart by whether the
// bytes are valid UTF-8; a line not valid in the one chosen, a mix of the
// two, and a NUL character are refused. Quoted fields may hold commas,
// quotes ("") and line breaks. On a malformed line, *error names it and the
// table is empty.
CsvTable ParseCsv(const QByteArray& bytes, QString* error);

// The first field longer than `limit` characters in the columns `limited`
// (header names; empty: every column): "N 行目: COLUMN が長すぎます…", or empty.
QString TooLong(const CsvTable& csv, int limit, const QStringList& limited = {});

}  // namespace ondrel::tool
