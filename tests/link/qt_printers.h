#pragma once

#include <concepts>
#include <cstdio>
#include <ostream>

#include <QByteArray>
#include <QString>

// gtest would print these as raw object bytes; show them as quoted text with
// control and high characters escaped, so a wrong frame is readable.
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"';
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '\r') {
            *os << "\\r";
        } else if (u == '\n') {
            *os << "\\n";
        } else if (u == '"' || u == '\\') {
            *os << '\\' << c;
        } else if (u < 0x20 || u >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            *os << hex;
        } else {
            *os << c;
        }
    }
    *os << "\" (" << bytes.size() << " bytes)";
}

inline void PrintTo(const QString& text, std::ostream* os) {
    PrintTo(text.toLatin1(), os);
}

namespace vantrel::testing {
namespace {

// A table case prints as its name, so listings and failures name the row
// instead of dumping the case's bytes. (Declared where the cases live, for
// argument-dependent lookup to find it.)
template <typename Case>
requires requires(const Case& c) {
    { c.name } -> std::convertible_to<const char*>;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

}  // namespace
}  // namespace vantrel::testing
