#include "service/address_digits.h"

#include "link/numeric_text.h"

namespace vantrel {

std::optional<QByteArray> addressDigits(QStringView text) {
    const std::optional<qint32> whole = wholeNumber32(text);
    if (!whole) return std::nullopt;
    const quint8 low = static_cast<quint8>(static_cast<quint32>(*whole) & 0xFFu);
    return QByteArray::number(low, 16).toUpper().rightJustified(2, '0');
}

}  // namespace vantrel
