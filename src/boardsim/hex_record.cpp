#include "boardsim/hex_record.h"

namespace vantrel::boardsim {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

RecordParse fail(RecordError error) {
    return RecordParse{std::nullopt, error};
}

}  // namespace

RecordParse parseRecord(std::string_view digits) {
    for (char c : digits) {
        if (hexValue(c) < 0) return fail(RecordError::NotHex);
    }
    if (digits.size() % 2 != 0) return fail(RecordError::OddDigitCount);
    if (digits.size() < 10) return fail(RecordError::TooShort);

    std::vector<std::uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(hexValue(digits[i]) * 16 + hexValue(digits[i + 1])));
    }
    const std::size_t count = bytes[0];
    if (bytes.size() != count + 5) return fail(RecordError::LengthMismatch);

    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
    if (sum != 0) return fail(RecordError::BadChecksum);

    const std::uint8_t type = bytes[3];
    if (type > 0x05) return fail(RecordError::BadType);
    const auto recordType = static_cast<RecordType>(type);
    switch (recordType) {
        case RecordType::EndOfFile:
            if (count != 0) return fail(RecordError::BadFieldLength);
            break;
        case RecordType::ExtendedSegmentAddress:
        case RecordType::ExtendedLinearAddress:
            if (count != 2) return fail(RecordError::BadFieldLength);
            break;
        case RecordType::StartSegmentAddress:
        case RecordType::StartLinearAddress:
            if (count != 4) return fail(RecordError::BadFieldLength);
            break;
        case RecordType::Data:
            break;
    }

    HexRecord record;
    record.type = recordType;
    record.offset = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    return RecordParse{std::move(record), RecordError::None};
}

const char* describe(RecordError error) {
    switch (error) {
        case RecordError::None:
            return "none";
        case RecordError::NotHex:
            return "not hex";
        case RecordError::OddDigitCount:
            return "odd digit count";
        case RecordError::TooShort:
            return "too short";
        case RecordError::LengthMismatch:
            return "length mismatch";
        case RecordError::BadChecksum:
            return "bad checksum";
        case RecordError::BadType:
            return "bad type";
        case RecordError::BadFieldLength:
            return "bad field length";
    }
    return "?";
}

}  // namespace vantrel::boardsim
