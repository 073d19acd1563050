#pragma once

#include <QByteArray>

namespace vantrel {

// Value of one upper-case hexadecimal digit text ("0".."9", "A".."F");
// any other text, lower-case digits included, reads as 0.
qint16 decodeHexDigit(const QByteArray& text);

// A one- or two-digit upper-case hexadecimal number (high digit first); a
// character that is not a digit counts as 0 in its place, any other length gives 0.
qint16 decodeHexByte(const QByteArray& text);

}  // namespace vantrel
