#pragma once

// How gtest prints Qt's byte strings and texts, and the rows of a test table.
// Every test binary gets them from here and only here: two different global
// PrintTo overloads for the same type in one binary would break the one
// definition rule.

#include <concepts>
#include <cstdio>
#include <ostream>

#include <QByteArray>
#include <QString>

namespace vantrel::testing::detail {

// Quoted, with CR, LF, quotes, backslashes and control characters escaped;
// with `escapeHigh`, bytes from 0x7F up as well (frames carry CRC bytes).
inline void printQuoted(const QByteArray& bytes, bool escapeHigh, std::ostream* os) {
    *os << '"';
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '\r') {
            *os << "\\r";
        } else if (u == '\n') {
            *os << "\\n";
        } else if (u == '"' || u == '\\') {
            *os << '\\' << c;
        } else if (u < 0x20 || u == 0x7F || (escapeHigh && u > 0x7F)) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            *os << hex;
        } else {
            *os << c;
        }
    }
    *os << '"';
}

}  // namespace vantrel::testing::detail

// gtest would print these as raw object bytes. A byte string shows as quoted
// text with its size, so a wrong frame is readable; a text as quoted UTF-8
// (the hints are Cyrillic).
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    vantrel::testing::detail::printQuoted(bytes, true, os);
    *os << " (" << bytes.size() << " bytes)";
}

inline void PrintTo(const QString& text, std::ostream* os) {
    vantrel::testing::detail::printQuoted(text.toUtf8(), false, os);
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
