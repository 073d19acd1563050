#include "boardsim/log_line.h"

#include <charconv>

namespace vantrel::boardsim {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

template <typename Number>
bool readNumber(std::string_view field, Number& out) {
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, out);
    return !field.empty() && error == std::errc() && stop == end;
}

}  // namespace

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

std::optional<LogEntry> parseLogLine(std::string_view line) {
    std::string_view fields[4];
    for (auto& field : fields) {
        const std::size_t space = line.find(' ');
        field = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    }
    if (fields[3].empty()) return std::nullopt;

    LogEntry entry;
    Micros ms = 0;
    if (!readNumber(fields[0], ms)) return std::nullopt;
    entry.at = ms * 1000;
    entry.direction = std::string(fields[1]);
    if (fields[2] != "-") {
        int address = 0;
        if (!readNumber(fields[2], address)) return std::nullopt;
        entry.address = address;
    }
    if (fields[3] != "-") {
        if (fields[3].size() % 2 != 0) return std::nullopt;
        for (std::size_t i = 0; i < fields[3].size(); i += 2) {
            const int high = hexValue(fields[3][i]);
            const int low = hexValue(fields[3][i + 1]);
            if (high < 0 || low < 0) return std::nullopt;
            entry.bytes.push_back(static_cast<char>(high * 16 + low));
        }
    }
    if (entry.direction != "RX" && entry.direction != "TX") entry.text = std::string(line);
    return entry;
}

}  // namespace vantrel::boardsim
