#pragma once

#include <QDate>
#include <QString>
#include <optional>
#include <vector>

#include "core/records.h"
#include "data/session.h"

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
enum class WriteOutcome { Done, ChangedElsewhere, DeletedElsewhere };

// Writes the date and the seven texts of the memo to its row, only while the
// row is still at memo.RowVersion (the version read); it then holds
// RowVersion + 1. Otherwise nothing is written and the outcome says why.
WriteOutcome UpdateCommon(AppContext& ctx, const CommonRecord& memo);
// Deletes the memo only while it is still at the version read.
WriteOutcome DeleteCommon(AppContext& ctx, qint32 mainKey, qint32 rowVersion);

// A change whose COMMIT the server never answered (UncertainSave), checked
// once it answers: whether its revision is there. nullopt when none waits;
// a server that still cannot be reached throws as any command, and the
// change stays to be checked.
struct SettledSave {
    UncertainSave change;
    bool kept = false;
};
std::optional<SettledSave> SettleUncertainSave(AppContext& ctx);

// The list shows the date as "yyyy/MM/dd (aaa)" (DateWithWeekday) and keeps
// it as "yyyy/MM/dd" (ShortDate), formatted only for the rows drawn.
struct DateListRow {
    QDate date;
    qint32 mainKey = 0;
};

// The date list of a patient's category, newest first (equal dates: later key first).
std::vector<DateListRow> ReadDateList(AppContext& ctx, int formCode, BaseChartNo karteNo);
DateListRow DateListRowOf(const QDate& date, qint32 mainKey);

enum class HistoryOrder { NewestFirst, OldestFirst };

// One memo of a history: its date, key and the text of the category's slot.
struct HistoryEntry {
    QDate date;
    qint32 mainKey = 0;
    QString text;
};

// The memos of a patient's category in the order asked; with a range, only
// those dated inside it (both days included).
std::vector<HistoryEntry> ReadHistory(AppContext& ctx, int formCode, BaseChartNo karteNo,
                                      HistoryOrder order, const QDate& from = {},
                                      const QDate& to = {});
// "●date CR LF text CR LF CR LF" for each entry, in the entries' order.
QString FormatHistory(const std::vector<HistoryEntry>& entries);
// The date list of the same memos, in their order.
std::vector<DateListRow> DateListOf(const std::vector<HistoryEntry>& entries);
// Where an entry goes in a newest-first history: later date first, equal
// dates the later key first (the order the database gives).
bool NewerInHistory(const HistoryEntry& a, const HistoryEntry& b);

// "●date CR LF text CR LF CR LF" for every memo of the category, the text of
// slot formCode; with a range, only memos dated inside it (both days included).
QString HistoryText(AppContext& ctx, int formCode, BaseChartNo karteNo, HistoryOrder order,
                    const QDate& from = {}, const QDate& to = {});

}  // namespace ondrel
