#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"

namespace vantrel::testing {
namespace {

// The port number is the port box from its fourth character on, converted
// strictly to a 16-bit integer: blanks around it are allowed, a fraction goes
// to the nearest whole number (a half to the even one), anything else fails.

struct PortTextCase {
    const char* name;
    QString text;
    qint16 port;  // the number handed to the component
};

class PortNumberFromText : public ::testing::TestWithParam<PortTextCase> {};

TEST_P(PortNumberFromText, IsHandedToTheComponent) {
    FakeLoader f;
    f->txt[0]->setText(GetParam().text);
    f->BTNOpenCom_Click();
    EXPECT_TRUE(f.box->shown.isEmpty()) << f.box->texts().join(u'|').toStdString();
    EXPECT_EQ(f.port->commPort, GetParam().port);
    EXPECT_EQ(f->PortNumber, GetParam().port);
    EXPECT_TRUE(f->MSComm1->portOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PortNumberFromText,
    ::testing::Values(
        PortTextCase{"Com3", QStringLiteral("COM3"), 3}, PortTextCase{"Com12", QStringLiteral("COM12"), 12},
        PortTextCase{"FirstThreeNotExamined", QStringLiteral("XYZ5"), 5},
        PortTextCase{"CyrillicPrefix", QStringLiteral("СОМ4"), 4},
        PortTextCase{"BlanksAround", QStringLiteral("COM 7 "), 7},
        PortTextCase{"LeadingZeros", QStringLiteral("COM007"), 7}, PortTextCase{"PlusSign", QStringLiteral("COM+6"), 6},
        PortTextCase{"HalfGoesDownToEven", QStringLiteral("COM2.5"), 2},
        PortTextCase{"HalfGoesUpToEven", QStringLiteral("COM3.5"), 4},
        PortTextCase{"FractionAboveHalf", QStringLiteral("COM2.51"), 3},
        PortTextCase{"Exponent", QStringLiteral("COM1e2"), 100},
        PortTextCase{"Hexadecimal", QStringLiteral("COM&H10"), 16},
        PortTextCase{"HexadecimalLowerCase", QStringLiteral("COM&h1f"), 31},
        PortTextCase{"Largest", QStringLiteral("COM32767"), 32767},
        PortTextCase{"JustBelowOverflowAfterRounding", QStringLiteral("COM32767.4"), 32767},
        // Numbers below 1 convert; the component refuses them
        // (see the real port's tests).
        PortTextCase{"Zero", QStringLiteral("COM0"), 0}, PortTextCase{"Negative", QStringLiteral("COM-1"), -1},
        PortTextCase{"SmallestAfterRoundingToEven", QStringLiteral("COM-32768.5"), -32768}),
    [](const ::testing::TestParamInfo<PortTextCase>& info) { return std::string(info.param.name); });

class PortNumberFails : public ::testing::TestWithParam<PortTextCase> {};

TEST_P(PortNumberFails, ShowsTheMessageWithoutTryingToOpen) {
    FakeLoader f;
    f->PortNumber = 42;
    f->txt[0]->setText(GetParam().text);
    EXPECT_NO_THROW(f->BTNOpenCom_Click());
    EXPECT_EQ(f.box->texts(), QStringList{GetParam().text +
                                          QStringLiteral(" Not available! Use Serial settings to setup your ports.")});
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_EQ(f.port->openAttempts, 0);
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_EQ(f->PortNumber, 42) << "a failed conversion leaves the number as it was";
}

INSTANTIATE_TEST_SUITE_P(Texts, PortNumberFails,
                         ::testing::Values(PortTextCase{"NothingAfterPrefix", QStringLiteral("COM"), 0},
                                           PortTextCase{"ShorterThanPrefix", QStringLiteral("CO"), 0},
                                           PortTextCase{"Empty", QString(), 0},
                                           PortTextCase{"OnlyBlanksAfterPrefix", QStringLiteral("COM   "), 0},
                                           PortTextCase{"TrailingLetter", QStringLiteral("COM3a"), 0},
                                           PortTextCase{"BlankInside", QStringLiteral("COM3 4"), 0},
                                           PortTextCase{"PrefixShiftedByBlank", QStringLiteral(" COM 7 "), 0},
                                           PortTextCase{"Comma", QStringLiteral("COM3,5"), 0},
                                           PortTextCase{"SignOnly", QStringLiteral("COM-"), 0},
                                           PortTextCase{"PointOnly", QStringLiteral("COM."), 0},
                                           PortTextCase{"HexPrefixOnly", QStringLiteral("COM&H"), 0},
                                           PortTextCase{"Overflow", QStringLiteral("COM99999"), 0},
                                           PortTextCase{"OverflowByOne", QStringLiteral("COM32768"), 0},
                                           PortTextCase{"OverflowAfterRounding", QStringLiteral("COM32767.5"), 0},
                                           PortTextCase{"NegativeOverflow", QStringLiteral("COM-32769"), 0},
                                           PortTextCase{"ExponentOverflow", QStringLiteral("COM1e9"), 0},
                                           PortTextCase{"HexOverflow", QStringLiteral("COM&HFFFFF"), 0},
                                           PortTextCase{"FullWidthDigit", QStringLiteral("COM３"), 0}),
                         [](const ::testing::TestParamInfo<PortTextCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vantrel::testing
