#include <string>

#include <QByteArray>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"

namespace vantrel::testing {
namespace {

struct HexCase {
    const char* name;
    const char* text;
    qint16 value;
};

std::string caseName(const ::testing::TestParamInfo<HexCase>& info) {
    return info.param.name;
}

class DecodeDigit : public ::testing::TestWithParam<HexCase> {};

TEST_P(DecodeDigit, ReadsOneUpperCaseHexDigitAndAnythingElseAsZero) {
    FakeLoader f;
    EXPECT_EQ(f->Decode(QByteArray(GetParam().text)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, DecodeDigit,
                         ::testing::Values(HexCase{"Zero", "0", 0}, HexCase{"Seven", "7", 7}, HexCase{"Nine", "9", 9},
                                           HexCase{"UpperA", "A", 10}, HexCase{"UpperC", "C", 12},
                                           HexCase{"UpperF", "F", 15}, HexCase{"LowerCIsNoDigit", "c", 0},
                                           HexCase{"GIsNoDigit", "G", 0}, HexCase{"BlankIsNoDigit", " ", 0},
                                           HexCase{"Empty", "", 0}, HexCase{"TwoDigitsAreNoDigit", "12", 0}),
                         caseName);

class DecodeByte : public ::testing::TestWithParam<HexCase> {};

TEST_P(DecodeByte, ReadsOneOrTwoDigitsHighDigitFirst) {
    FakeLoader f;
    EXPECT_EQ(f->Decode2(QByteArray(GetParam().text)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, DecodeByte,
                         ::testing::Values(HexCase{"FF", "FF", 255}, HexCase{"LeadingZero", "0A", 10},
                                           HexCase{"HighDigitFirst", "A0", 160}, HexCase{"MixedDigits", "9F", 159},
                                           HexCase{"DoubleZero", "00", 0}, HexCase{"SingleDigit", "7", 7},
                                           HexCase{"SingleLetter", "F", 15}, HexCase{"LowerCaseReadsAsZero", "ff", 0},
                                           HexCase{"BadLowDigitCountsAsZero", "1G", 16},
                                           HexCase{"BadHighDigitCountsAsZero", "G1", 1}, HexCase{"Empty", "", 0},
                                           HexCase{"ThreeDigitsGiveZero", "123", 0}),
                         caseName);

}  // namespace
}  // namespace vantrel::testing
