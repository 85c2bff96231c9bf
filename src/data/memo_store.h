#pragma once

#include <QDate>
#include <QString>
#include <optional>
#include <vector>

#include "records.h"

namespace ondrel {

struct AppContext;

enum class FetchMode { Latest, ByKey };  // "L", "D"

// One memo of a patient's category: the latest, or the one with mainKey.
// nullopt when there is none (ByKey: the key is not the patient's memo of
// that category).
[[nodiscard]] std::optional<CommonRecord> ReadCommon(AppContext& ctx, int formCode,
                                                     BaseChartNo karteNo, FetchMode mode,
                                                     qint32 mainKey);
// Inserts the memo as a new row (its MainKey is ignored); the key the engine
// gave that row.
[[nodiscard]] qint32 InsertCommon(AppContext& ctx, const CommonRecord& memo);
// Writes the date and the seven texts of the memo to its row.
void UpdateCommon(AppContext& ctx, const CommonRecord& memo);
void DeleteCommon(AppContext& ctx, qint32 mainKey);

struct DateListRow {
    QString dateText;  // "yyyy/MM/dd (aaa)"
    QString creDate;   // "yyyy/MM/dd"
    qint32 mainKey = 0;
};

// The date list of a patient's category, newest first (equal dates: later key first).
std::vector<DateListRow> ReadDateList(AppContext& ctx, int formCode, BaseChartNo karteNo);

enum class HistoryOrder { NewestFirst, OldestFirst };

// "●date CR LF text CR LF CR LF" for every memo of the category, the text of
// slot formCode; with a range, only memos dated inside it (both days included).
QString HistoryText(AppContext& ctx, int formCode, BaseChartNo karteNo, HistoryOrder order,
                    const QDate& from = {}, const QDate& to = {});

}  // namespace ondrel
