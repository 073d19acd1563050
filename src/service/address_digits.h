#pragma once

#include <optional>

#include <QByteArray>
#include <QStringView>

namespace vantrel {

// The two upper-case hexadecimal digits of a new device address: the low 8
// bits of the text's whole number (two's complement when negative), "0A" for
// "10". Nothing when the number does not fit a 32-bit integer.
std::optional<QByteArray> addressDigits(QStringView text);

}  // namespace vantrel
