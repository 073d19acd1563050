#include "link/hex_digits.h"

namespace vantrel {

qint16 decodeHexDigit(const QByteArray& text) {
    if (text.size() != 1) return 0;
    const char c = text[0];
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

qint16 decodeHexByte(const QByteArray& text) {
    if (text.size() == 2) return 16 * decodeHexDigit(text.left(1)) + decodeHexDigit(text.mid(1, 1));
    if (text.size() == 1) return decodeHexDigit(text);
    return 0;
}

}  // namespace vantrel
