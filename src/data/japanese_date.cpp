#include "data/japanese_date.h"

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <QRegularExpression>
#include <array>
#include <memory>
#include <vector>

namespace ondrel {

namespace {

struct Era {
    QDate start;
    QString letter;  // M T S H R
    QString name;    // 明治 大正 昭和 平成 令和
};

constexpr double kMsPerDay = 86400000.0;
constexpr qint64 kUnixEpochJulianDay = 2440588;

UDate ToUDate(const QDate& d) { return double(d.toJulianDay() - kUnixEpochJulianDay) * kMsPerDay; }

std::unique_ptr<icu::Calendar> JapaneseCalendar() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> cal(icu::Calendar::createInstance(
        icu::TimeZone::getGMT()->clone(), icu::Locale("ja_JP@calendar=japanese"), status));
    return U_SUCCESS(status) ? std::move(cal) : nullptr;
}

int EraOf(icu::Calendar& cal, const QDate& d) {
    UErrorCode status = U_ZERO_ERROR;
    cal.setTime(ToUDate(d), status);
    return cal.get(UCAL_ERA, status);
}

QString FormatWith(icu::Calendar& cal, const char* pattern, const QDate& d) {
    UErrorCode status = U_ZERO_ERROR;
    icu::SimpleDateFormat fmt(icu::UnicodeString(pattern), icu::Locale("ja_JP@calendar=japanese"),
                              status);
    if (U_FAILURE(status)) return {};
    fmt.setCalendar(cal);
    icu::UnicodeString out;
    fmt.format(ToUDate(d), out, status);
    return QString(reinterpret_cast<const QChar*>(out.getBuffer()), out.length());
}

// The modern eras (明治 on) as ICU knows them: their first days found by
// bisection over the calendar, letters and names from its formats.
std::vector<Era> LoadEras() {
    std::vector<Era> eras;
    auto cal = JapaneseCalendar();
    if (!cal) return eras;
    const QDate first(1868, 1, 1);
    const QDate last(2200, 12, 31);
    const int firstEra = EraOf(*cal, QDate(1869, 1, 1));  // 明治
    const int lastEra = EraOf(*cal, last);
    for (int e = firstEra; e <= lastEra; ++e) {
        qint64 lo = first.toJulianDay(), hi = last.toJulianDay();
        while (lo < hi) {
            const qint64 mid = (lo + hi) / 2;
            if (EraOf(*cal, QDate::fromJulianDay(mid)) >= e)
                hi = mid;
            else
                lo = mid + 1;
        }
        const QDate start = QDate::fromJulianDay(lo);
        eras.push_back({start, FormatWith(*cal, "GGGGG", start), FormatWith(*cal, "GGGG", start)});
    }
    return eras;
}

const std::vector<Era>& Eras() {
    static const std::vector<Era> eras = LoadEras();
    return eras;
}

const Era* EraForDay(const QDate& d) {
    const auto& eras = Eras();
    for (auto it = eras.rbegin(); it != eras.rend(); ++it) {
        if (d >= it->start) return &*it;
    }
    return nullptr;
}

const Era* EraByDesignation(const QString& raw) {
    const QString e = raw.normalized(QString::NormalizationForm_KC).trimmed();
    if (e.isEmpty()) return nullptr;
    const auto& eras = Eras();
    bool isCode = false;
    const int code = e.toInt(&isCode);  // chart systems' codes: 1 明治 … 5 令和
    if (isCode) return code >= 1 && code <= int(eras.size()) ? &eras[code - 1] : nullptr;
    for (const auto& era : eras) {
        if (e.compare(era.letter, Qt::CaseInsensitive) == 0 || e == era.name) return &era;
    }
    return nullptr;
}

std::optional<int> WholeNumber(const QString& text) {
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    static const QRegularExpression kDigits(QStringLiteral("^\\d{1,4}$"));
    if (!kDigits.match(t).hasMatch()) return std::nullopt;
    return t.toInt();
}

int YearInEra(const Era& era, const QDate& d) { return d.year() - era.start.year() + 1; }

}  // namespace

namespace {

// "yyyy/MM/dd (d)" written by hand: the date list and the history make one
// per memo, and QDate::toString with a pattern costs several times more.
QString DateText(const QDate& date, bool withWeekday) {
    static constexpr std::array<char16_t, 7> kDays{u'月', u'火', u'水', u'木', u'金', u'土', u'日'};
    if (!date.isValid()) return {};
    char16_t buf[14] = {};
    const int parts[3] = {date.year(), date.month(), date.day()};
    const int pos[3] = {0, 5, 8}, len[3] = {4, 2, 2};
    for (int f = 0; f < 3; ++f) {
        int n = parts[f];
        for (int i = pos[f] + len[f] - 1; i >= pos[f]; --i, n /= 10)
            buf[i] = char16_t(u'0' + n % 10);
    }
    buf[4] = buf[7] = u'/';
    buf[10] = u' ';
    buf[11] = u'(';
    buf[12] = kDays[date.dayOfWeek() - 1];
    buf[13] = u')';
    return QString(reinterpret_cast<const QChar*>(buf), withWeekday ? 14 : 10);
}

}  // namespace

QString ShortDate(const QDate& date) { return DateText(date, false); }

QDate ParseShortDate(const QString& text) {
    // Fast path for the stored form "yyyy-MM-dd" and the memory form "yyyy/MM/dd":
    // the date list and the history parse one per row.
    if (text.size() == 10 && text[4] == text[7] && (text[4] == u'-' || text[4] == u'/')) {
        int v[3] = {0, 0, 0};
        const int start[3] = {0, 5, 8}, len[3] = {4, 2, 2};
        bool digits = true;
        for (int f = 0; f < 3 && digits; ++f) {
            for (int i = start[f]; i < start[f] + len[f]; ++i) {
                const char16_t c = text[i].unicode();
                digits = digits && c >= u'0' && c <= u'9';
                v[f] = v[f] * 10 + (c - u'0');
            }
        }
        if (digits) return QDate(v[0], v[1], v[2]);
    }
    auto d = ParseDateText(text);
    return d ? *d : QDate();
}

QString DateWithWeekday(const QDate& date) { return DateText(date, true); }

std::optional<QDate> EraDate(const QString& era, const QString& year, const QString& month,
                             const QString& day) {
    const Era* e = EraByDesignation(era);
    auto y = WholeNumber(year), m = WholeNumber(month), d = WholeNumber(day);
    if (!e || !y || !m || !d || *y < 1) return std::nullopt;
    const QDate date(e->start.year() + *y - 1, *m, *d);
    if (!date.isValid() || date < e->start) return std::nullopt;
    return date;
}

QString FormatEraShort(const QDate& date) {
    const Era* e = date.isValid() ? EraForDay(date) : nullptr;
    if (!e) return {};
    return e->letter + QString::number(YearInEra(*e, date)) + u'/' + QString::number(date.month()) +
           u'/' + QString::number(date.day());
}

QString FormatEraLong(const QDate& date) {
    const Era* e = date.isValid() ? EraForDay(date) : nullptr;
    if (!e) return {};
    return e->name + QString::number(YearInEra(*e, date)) + u'年' + QString::number(date.month()) +
           u'月' + QString::number(date.day()) + u'日';
}

std::optional<QDate> ParseDateText(const QString& text) {
    static const QRegularExpression kForm(QStringLiteral(
        "^\\s*(\\D*?)\\s*(\\d{1,4})\\s*[/\\-]\\s*(\\d{1,2})\\s*[/\\-]\\s*(\\d{1,2})\\s*$"));
    const auto m = kForm.match(text.normalized(QString::NormalizationForm_KC));
    if (!m.hasMatch()) return std::nullopt;
    if (m.captured(1).isEmpty()) {
        if (m.captured(2).size() < 4) return std::nullopt;
        const QDate d(m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
        return d.isValid() ? std::optional<QDate>(d) : std::nullopt;
    }
    // Era by letter or name only: in a text a code digit cannot be told from the year.
    bool isCode = false;
    m.captured(1).toInt(&isCode);
    if (isCode) return std::nullopt;
    return EraDate(m.captured(1), m.captured(2), m.captured(3), m.captured(4));
}

}  // namespace ondrel
