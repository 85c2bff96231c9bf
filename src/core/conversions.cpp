#include "core/conversions.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

#include "core/app_error.h"

namespace ondrel {

QString NullToZero(const QString& value) { return value.isEmpty() ? QStringLiteral("0") : value; }

std::optional<double> ReadNumber(const QString& text) {
    static const QRegularExpression kNumber(
        QStringLiteral(R"(^[ \t]*[+-]?[ \t]*(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?[ \t]*$)"));
    if (!kNumber.match(text).hasMatch()) return std::nullopt;
    QString compact = text;
    compact.remove(u' ').remove(u'\t');
    bool ok = false;
    double v = compact.toDouble(&ok);
    // toDouble reports huge exponents as not ok; they are numbers all the same.
    if (!ok && !std::isinf(v)) {
        if (compact.contains(u'e') || compact.contains(u'E')) {
            return compact.contains(QStringLiteral("e-")) || compact.contains(QStringLiteral("E-"))
                       ? 0.0
                       : std::numeric_limits<double>::infinity();
        }
        return std::nullopt;
    }
    return v;
}

namespace {

template <typename Int>
Int ToInt(const QString& text) {
    auto v = ReadNumber(text);
    if (!v) throw AppError(err::TypeMismatch, QStringLiteral("not a number: ") + text);
    double r = std::nearbyint(*v);  // default rounding mode: halves to even
    if (!(r >= std::numeric_limits<Int>::min() && r <= std::numeric_limits<Int>::max())) {
        throw AppError(err::Overflow, QStringLiteral("out of range: ") + text);
    }
    return static_cast<Int>(r);
}

}  // namespace

qint16 ToInt16(const QString& text) { return ToInt<qint16>(text); }
qint32 ToInt32(const QString& text) { return ToInt<qint32>(text); }

}  // namespace ondrel
