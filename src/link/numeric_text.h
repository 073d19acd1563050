#pragma once

#include <optional>

#include <QStringView>

namespace vantrel {

// The value of the leading number of a text, as the address boxes are read:
// blanks are skipped, a decimal number (sign, fraction, exponent) is read up to
// the first character that cannot continue it, "&H" introduces hexadecimal
// digits, and a text that does not begin with a number gives 0.
double numericValue(QStringView text);

// The nearest whole number; a half goes to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// Strict conversion of a whole text to a 16-bit integer: blanks around the
// number are allowed, anything else makes it fail (13, type mismatch); a value
// outside the 16-bit range fails with 6, overflow.
qint16 toInt16Strict(QStringView text);

// The whole number of a text as a 32-bit integer, or nothing when the rounded
// value lies outside the 32-bit signed range.
std::optional<qint32> wholeNumber32(QStringView text);

}  // namespace vantrel
