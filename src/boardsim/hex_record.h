#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vantrel::boardsim {

enum class RecordType : std::uint8_t {
    Data = 0x00,
    EndOfFile = 0x01,
    ExtendedSegmentAddress = 0x02,
    StartSegmentAddress = 0x03,
    ExtendedLinearAddress = 0x04,
    StartLinearAddress = 0x05,
};

struct HexRecord {
    RecordType type = RecordType::Data;
    std::uint16_t offset = 0;
    std::vector<std::uint8_t> data;
};

// Why a record was refused; the board answers every one of them with "FORMAT".
enum class RecordError {
    None,
    NotHex,          // a character that is not a hex digit
    OddDigitCount,   // digits do not pair up into bytes
    TooShort,        // fewer than the 5 bytes of count, offset, type and checksum
    LengthMismatch,  // byte count field disagrees with the number of data bytes
    BadChecksum,     // the bytes do not sum to zero
    BadType,         // record type above 05
    BadFieldLength,  // EOF with data, or an address record of the wrong size
};

struct RecordParse {
    std::optional<HexRecord> record;
    RecordError error = RecordError::None;
};

// Parses the digits of one Intel HEX record, i.e. the text after its ':' mark
// (upper or lower case digits, no line ending).
RecordParse parseRecord(std::string_view digits);

const char* describe(RecordError error);

}  // namespace vantrel::boardsim
