#pragma once

#include <QDate>
#include <QString>
#include <vector>

namespace ondrel {

struct AppContext;

enum class FetchMode { Latest, ByKey };  // "L", "D"

// Reads one memo of a patient's category into ctx.common. Latest resets the
// buffer first (keys 0, today's date, empty texts); ByKey leaves it unchanged
// when the key is not the patient's memo of that category.
bool ReadCommon(AppContext& ctx, int formCode, qint32 karteNo, FetchMode mode, qint32 mainKey);
// Inserts ctx.common as a new row; its MainKey becomes the row's key.
bool InsertCommon(AppContext& ctx);
// Writes the date and the seven texts of ctx.common to its row.
void UpdateCommon(AppContext& ctx);
void DeleteCommon(AppContext& ctx, qint32 mainKey);

struct DateListRow {
    QString dateText;  // "yyyy/MM/dd (aaa)"
    QString creDate;   // "yyyy/MM/dd"
    qint32 mainKey = 0;
};

// The date list of a patient's category, newest first (equal dates: later key first).
std::vector<DateListRow> ReadDateList(AppContext& ctx, int formCode, qint32 karteNo);

enum class HistoryOrder { NewestFirst, OldestFirst };

// "●date CR LF text CR LF CR LF" for every memo of the category, the text of
// slot formCode; with a range, only memos dated inside it (both days included).
QString HistoryText(AppContext& ctx, int formCode, qint32 karteNo, HistoryOrder order,
                    const QDate& from = {}, const QDate& to = {});

}  // namespace ondrel
