#pragma once

#include <QDate>
#include <QString>
#include <optional>

namespace ondrel {

// Dates in memory travel as "yyyy/MM/dd".
QString ShortDate(const QDate& date);
QDate ParseShortDate(const QString& text);  // invalid QDate when it is none

// "2015/03/12 (木)": the form of the date list, the history and the range report.
QString DateWithWeekday(const QDate& date);

// A birth date as the chart system stores it: era as letter (S), name (昭和)
// or code (3), the year within the era, month and day. A real day on or after
// the era's first day; days past the era's end are kept (chart systems went
// on writing the old era after a change).
std::optional<QDate> EraDate(const QString& era, const QString& year, const QString& month,
                             const QString& day);

// "S45/3/12": era letter of the day's own era, year 1 as 1.
QString FormatEraShort(const QDate& date);
// "昭和45年3月12日": the report's form, year 1 as 1.
QString FormatEraLong(const QDate& date);

// A date text as a user or the header holds it: "S45/3/12", "昭和45/3/12" or
// "1970/3/12".
std::optional<QDate> ParseDateText(const QString& text);

}  // namespace ondrel
