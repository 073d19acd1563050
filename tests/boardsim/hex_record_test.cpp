#include "boardsim/hex_record.h"

#include <ostream>

#include <gtest/gtest.h>

namespace vantrel::boardsim {
namespace {

struct RecordCase {
    const char* name;
    const char* digits;  // the record after its ':' mark
    RecordError expected;
};

void PrintTo(const RecordCase& c, std::ostream* out) {
    *out << c.name;
}

class RecordCheck : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordCheck, AcceptsOrNamesTheFault) {
    const RecordParse parsed = parseRecord(GetParam().digits);
    EXPECT_EQ(parsed.error, GetParam().expected) << describe(parsed.error);
    EXPECT_EQ(parsed.record.has_value(), GetParam().expected == RecordError::None);
}

// Every bad record below has a valid checksum unless the checksum is the
// fault, so each is refused for the one reason named.
INSTANTIATE_TEST_SUITE_P(
    Records, RecordCheck,
    ::testing::Values(RecordCase{"Data", "10004000720ED36E0F0EC16E8A6A93908A7001D8B9", RecordError::None},
                      RecordCase{"EndOfFile", "00000001FF", RecordError::None},
                      RecordCase{"ExtendedLinear", "020000040030CA", RecordError::None},
                      RecordCase{"ExtendedSegment", "020000021000EC", RecordError::None},
                      RecordCase{"StartLinear", "04000005000000CD2A", RecordError::None},
                      RecordCase{"LowerCaseDigits", "0400000020ef00f0fd", RecordError::None},
                      RecordCase{"EmptyData", "0000000000", RecordError::None},
                      RecordCase{"BadChecksum", "0400000020EF00F0FE", RecordError::BadChecksum},
                      RecordCase{"CountTooHigh", "04000000AABBCCCB", RecordError::LengthMismatch},
                      RecordCase{"CountTooLow", "02000000AABBCCCD", RecordError::LengthMismatch},
                      RecordCase{"NonHexDigit", "0400000020EG00F0FD", RecordError::NotHex},
                      RecordCase{"SecondMark", "04000000#0EF00F0FD", RecordError::NotHex},
                      RecordCase{"Space", "04000000 20EF00F0FD", RecordError::NotHex},
                      RecordCase{"OddDigitCount", "0400000020EF00F0FDA", RecordError::OddDigitCount},
                      RecordCase{"TooShort", "00000001", RecordError::TooShort},
                      RecordCase{"Empty", "", RecordError::TooShort},
                      RecordCase{"UnknownType", "020000060000F8", RecordError::BadType},
                      RecordCase{"EndOfFileWithData", "01000001AA54", RecordError::BadFieldLength},
                      RecordCase{"ShortAddressRecord", "0100000400FB", RecordError::BadFieldLength}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordParse, DecodesOffsetTypeAndData) {
    const RecordParse data = parseRecord("0C006000FED7012EFAD7022EF6D71200B0");
    ASSERT_TRUE(data.record);
    EXPECT_EQ(data.record->type, RecordType::Data);
    EXPECT_EQ(data.record->offset, 0x0060);
    EXPECT_EQ(data.record->data,
              (std::vector<std::uint8_t>{0xFE, 0xD7, 0x01, 0x2E, 0xFA, 0xD7, 0x02, 0x2E, 0xF6, 0xD7, 0x12, 0x00}));

    const RecordParse linear = parseRecord("020000040030CA");
    ASSERT_TRUE(linear.record);
    EXPECT_EQ(linear.record->type, RecordType::ExtendedLinearAddress);
    EXPECT_EQ(linear.record->data, (std::vector<std::uint8_t>{0x00, 0x30}));
}

}  // namespace
}  // namespace vantrel::boardsim
