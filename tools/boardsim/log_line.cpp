#include "log_line.h"

namespace boardsim {

std::string toHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0FU]);
    }
    return out;
}

std::string escapeText(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (b >= 0x20 && b < 0x7F) {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(kDigits[b >> 4]);
            out.push_back(kDigits[b & 0x0FU]);
        }
    }
    return out;
}

std::string formatLogLine(const LogEntry& entry) {
    std::string line = std::to_string(entry.at / 1000);
    line += ' ';
    line += entry.direction;
    line += ' ';
    line += entry.address ? std::to_string(*entry.address) : "-";
    line += ' ';
    line += entry.bytes.empty() ? "-" : toHex(entry.bytes);
    line += ' ';
    line += entry.text.empty() ? escapeText(entry.bytes) : entry.text;
    return line;
}

}  // namespace boardsim
