#include "picsim/hex_image.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace vantrel::picsim {
namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string record(std::uint8_t type, std::uint16_t offset, const std::vector<std::uint8_t>& data) {
    std::string line = ":";
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    char digits[3];
    auto put = [&](unsigned byte) {
        std::snprintf(digits, sizeof digits, "%02X", byte & 0xFF);
        line += digits;
    };
    put(static_cast<unsigned>(data.size()));
    put(offset >> 8);
    put(offset & 0xFF);
    put(type);
    for (const std::uint8_t b : data) {
        put(b);
        sum += b;
    }
    put((0x100 - (sum & 0xFF)) & 0xFF);
    return line + "\n";
}

}  // namespace

std::vector<std::string> hexLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::optional<MemoryImage> parseIntelHex(const std::string& text, std::string& error) {
    MemoryImage image;
    std::uint32_t base = 0;
    int number = 0;
    for (const std::string& line : hexLines(text)) {
        ++number;
        const std::string where = "line " + std::to_string(number);
        if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0) {
            error = where + ": not a HEX record";
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes;
        unsigned sum = 0;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
            const int high = nibble(line[i]);
            const int low = nibble(line[i + 1]);
            if (high < 0 || low < 0) {
                error = where + ": not hex digits";
                return std::nullopt;
            }
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
            sum += bytes.back();
        }
        if (bytes.size() != 5u + bytes[0] || (sum & 0xFF) != 0) {
            error = where + ": bad length or checksum";
            return std::nullopt;
        }
        const std::uint32_t offset = (static_cast<std::uint32_t>(bytes[1]) << 8) | bytes[2];
        const auto word = [&] { return (static_cast<std::uint32_t>(bytes[4]) << 8) | bytes[5]; };
        switch (bytes[3]) {
            case 0x00:
                for (std::size_t i = 0; i < bytes[0]; ++i) image[base + offset + i] = bytes[4 + i];
                break;
            case 0x01:
                return image;
            case 0x02:
                if (bytes[0] == 2) base = word() << 4;
                break;
            case 0x04:
                if (bytes[0] == 2) base = word() << 16;
                break;
            default:
                break;
        }
    }
    return image;
}

std::optional<MemoryImage> readIntelHex(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto image = parseIntelHex(text, error);
    if (!image) error = path + ": " + error;
    return image;
}

std::string formatIntelHex(const MemoryImage& image) {
    std::string out;
    std::optional<std::uint32_t> page;
    std::vector<std::uint8_t> run;
    std::uint32_t runStart = 0;
    auto flush = [&] {
        if (run.empty()) return;
        if (!page || *page != runStart >> 16) {
            page = runStart >> 16;
            out += record(0x04, 0, {static_cast<std::uint8_t>(*page >> 8), static_cast<std::uint8_t>(*page)});
        }
        out += record(0x00, static_cast<std::uint16_t>(runStart & 0xFFFF), run);
        run.clear();
    };
    for (const auto& [address, byte] : image) {
        // A record holds up to 16 bytes, never crosses a 16-byte boundary or a page.
        if (!run.empty() && (address != runStart + run.size() || address % 16 == 0)) flush();
        if (run.empty()) runStart = address;
        run.push_back(byte);
    }
    flush();
    return out + record(0x01, 0, {});
}

}  // namespace vantrel::picsim
