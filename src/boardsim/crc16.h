#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vantrel::boardsim {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final xor.
// Pass a previous result as `crc` to continue over a further block.
std::uint16_t crc16Modbus(std::span<const std::uint8_t> data, std::uint16_t crc = 0xFFFF);
std::uint16_t crc16Modbus(std::string_view data, std::uint16_t crc = 0xFFFF);

}  // namespace vantrel::boardsim
