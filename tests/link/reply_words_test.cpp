#include "link/reply_words.h"

#include <string>

#include <QByteArray>

#include <gtest/gtest.h>

#include "qt_printers.h"

namespace vantrel::testing {
namespace {

struct DamageCase {
    const char* name;
    QByteArray text;
    bool damaged;
};

class DamagedReply : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedReply, IsToldFromACleanTextWithoutAWord) {
    EXPECT_EQ(looksLikeDamagedReply(GetParam().text), GetParam().damaged);
}

INSTANTIATE_TEST_SUITE_P(Texts, DamagedReply,
                         ::testing::Values(DamageCase{"OkIsNoDamage", "OK\r\n", false},
                                           DamageCase{"NoiseInFrontOfAWordLeavesTheWord", "\x97OK\r\n", false},
                                           DamageCase{"PrintableCharacterInsideOk", "O#K\r\n", true},
                                           DamageCase{"PrintableCharacterInsideDownload", "DOWNL0OAD\r\n", true},
                                           DamageCase{"PrintableCharacterInsideVersion", "VE-R=4.01\r\n", true},
                                           DamageCase{"ControlCharacterAlone", "\x01\r\n", true},
                                           DamageCase{"HighByteInsideAWord", "ER\xF0ROR\r\n", true},
                                           DamageCase{"CleanTextWithoutAWord", "ADR=05\r\n", false},
                                           DamageCase{"CleanBanner", "HELLO FROM THE APPLICATION\r\n", false},
                                           DamageCase{"LowerCaseOkIsCleanNotDamaged", "ok\r\n", false},
                                           DamageCase{"BareLineEnd", "\r\n", false}, DamageCase{"Empty", "", false}),
                         [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

TEST(ReplyWords, AreFoundAnywhereAndOnlyInTheirCase) {
    EXPECT_TRUE(holdsReplyWord("xxDOWNLOADyy"));
    EXPECT_TRUE(holdsReplyWord("VER=4.01"));
    EXPECT_FALSE(holdsReplyWord("VER 4.01"));
    EXPECT_FALSE(holdsReplyWord("Ok"));
}

}  // namespace
}  // namespace vantrel::testing
