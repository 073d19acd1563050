#include "boardsim/crc16.h"

#include <array>

namespace vantrel::boardsim {
namespace {

constexpr std::array<std::uint16_t, 256> makeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t value = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1U) ? static_cast<std::uint16_t>((value >> 1) ^ 0xA001U)
                                 : static_cast<std::uint16_t>(value >> 1);
        }
        table[i] = value;
    }
    return table;
}

constexpr auto kTable = makeTable();

}  // namespace

std::uint16_t crc16Modbus(std::span<const std::uint8_t> data, std::uint16_t crc) {
    for (std::uint8_t byte : data) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xFFU]);
    }
    return crc;
}

std::uint16_t crc16Modbus(std::string_view data, std::uint16_t crc) {
    return crc16Modbus(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), crc);
}

}  // namespace vantrel::boardsim
