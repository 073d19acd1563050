#include "link/crc16.h"

#include <string>

#include <QByteArray>

#include <gtest/gtest.h>

#include "common/failure.h"
#include "fake_platform.h"
#include "qt_printers.h"

namespace vantrel::testing {
namespace {

struct CrcCase {
    const char* name;
    QByteArray text;
    QByteArray crc;  // low byte first
};

class Crc16 : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc16, GivesTheModbusCrcAsTwoCharactersLowByteFirst) {
    FakeLoader f;
    const QByteArray text = GetParam().text;
    EXPECT_EQ(f->CRC16(text), GetParam().crc);
    EXPECT_EQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Crc16,
    ::testing::Values(CrcCase{"CheckText", "123456789", QByteArray::fromHex("374B")},
                      CrcCase{"EmptyTextIsTheInitialValue", "", QByteArray::fromHex("FFFF")},
                      // 0x0431: the high character has a code below 16 and is still there.
                      CrcCase{"SmallCrcKeepsBothCharacters", "B0", QByteArray::fromHex("3104")},
                      CrcCase{"AddressAlone", QByteArray::fromHex("01"), QByteArray::fromHex("7E80")},
                      CrcCase{"OkReply", QByteArray::fromHex("01424F4B"), QByteArray::fromHex("D5CB")},
                      CrcCase{"VersionQueryFrame", QByteArray::fromHex("01424F4F54690D0A"),
                              QByteArray::fromHex("FC89")},
                      // Characters above 127 must count by their unsigned code.
                      CrcCase{"HighCharacters", QByteArray::fromHex("80FF"), QByteArray::fromHex("2030")}),
    [](const ::testing::TestParamInfo<CrcCase>& info) { return std::string(info.param.name); });

TEST(Crc16Value, CheckTextGives4B37) {
    EXPECT_EQ(crc16Modbus(QByteArray("123456789")), 0x4B37);
}

TEST(Crc16Length, TakesTextsUpTo32767Characters) {
    FakeLoader f;
    EXPECT_EQ(f->CRC16(QByteArray(32767, 'A')).size(), 2);
}

TEST(Crc16Length, FailsWithOverflowBeyond32767Characters) {
    FakeLoader f;
    try {
        f->CRC16(QByteArray(32768, 'A'));
        ADD_FAILURE() << "no failure for a text of 32768 characters";
    } catch (const Failure& e) {
        EXPECT_EQ(e.number(), failure::kOverflow);
    }
}

}  // namespace
}  // namespace vantrel::testing
