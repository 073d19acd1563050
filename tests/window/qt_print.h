#pragma once

#include <ostream>

#include <QByteArray>
#include <QString>

// Readable failure messages: texts as text, byte strings as hex (frames carry
// control characters and CRC bytes).
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '[' << bytes.toHex(' ').toUpper().toStdString() << ']';
}
