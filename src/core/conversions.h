#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace ondrel {

// "0" for an empty text, else the text unchanged.
QString NullToZero(const QString& value);

// The number a text reads as: decimal digits with an optional sign, fraction
// and exponent, blanks around it allowed; nullopt for anything else.
std::optional<double> ReadNumber(const QString& text);

// Integer conversions of the settings and chart numbers: halves round to the
// even neighbour. AppError 13 for text that is not a number, 6 out of range.
qint16 ToInt16(const QString& text);
qint32 ToInt32(const QString& text);

}  // namespace ondrel
