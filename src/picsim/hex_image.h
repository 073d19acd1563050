#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::picsim {

// Memory as Intel HEX gives it: address -> byte (program memory from 0,
// ID at 0x200000, configuration at 0x300000, EEPROM at 0xF00000).
using MemoryImage = std::map<std::uint32_t, std::uint8_t>;

constexpr std::uint32_t kIdBase = 0x200000;
constexpr std::uint32_t kConfigBase = 0x300000;
constexpr std::uint32_t kEepromBase = 0xF00000;

// Data, end-of-file, extended linear (04) and segment (02) records; other
// types are skipped. `error` says which line was bad.
std::optional<MemoryImage> readIntelHex(const std::string& path, std::string& error);
std::optional<MemoryImage> parseIntelHex(const std::string& text, std::string& error);

// Runs of consecutive bytes in 16-byte data records, an extended linear
// address record before each 64 KB page, the end-of-file record last.
std::string formatIntelHex(const MemoryImage& image);

// The lines of a file's records, without line ends, as a host sends them.
std::vector<std::string> hexLines(const std::string& text);

}  // namespace vantrel::picsim
