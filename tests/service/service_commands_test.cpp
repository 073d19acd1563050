#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/lamp.h"
#include "window_snapshot.h"

namespace vantrel::testing {
namespace {

const QByteArray kVersionQuery = QByteArrayLiteral("BOOTi\r\n");

// Open in serial mode with a typed address, so no search runs; the probe is
// stopped again so that only the handler under test writes.
void openWithoutSearch(FakeLoader& f) {
    f->Text1->setText(QStringLiteral("1"));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());
    f->Timer3->stop();
    ASSERT_EQ(f->AddressSearch, 0);
    ASSERT_EQ(f->Command1->text(), QStringLiteral("Set Addr"));
}

// ---------------------------------------------------------------------------
// "?": the version query.

TEST(VersionQuery, ClearsTheReplyBoxAndTheTransferFlagThenAsks) {
    FakeLoader f;
    openWithoutSearch(f);
    f->Text8->setText(QStringLiteral("OK"));
    f->TransferActive = 1;
    f->TransferArmed = 1;
    const WindowState before = snapshot(*f.w);

    f->Command4_Click();

    EXPECT_EQ(f.port->writes, QList<QByteArray>{kVersionQuery});
    EXPECT_TRUE(f->Text8->text().isEmpty());
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_EQ(f->TransferArmed, 1) << "the armed transfer is left alone";
    // The write itself turns the lamp dark green; nothing else moves.
    EXPECT_EQ(changes(before, snapshot(*f.w)),
              (std::set<std::string>{"Text8.text", "field.TransferActive", "Pic.fillColor"}));
}

TEST(VersionQuery, InModbusModeGoesToTheAddressInTheBox) {
    FakeLoader f;
    openWithoutSearch(f);
    f->Check1->setChecked(true);
    f->Command4_Click();
    EXPECT_EQ(f.port->writes, QList<QByteArray>{QByteArray::fromHex("01424F4F54690D0AFC89")});
}

TEST(VersionQuery, WithThePortClosedClearsButSendsNothingAndSaysNothing) {
    FakeLoader f;
    f->Text8->setText(QStringLiteral("VER=4.01"));
    f->TransferActive = 1;
    const quint32 lamp = f->Pic->fillColor();
    EXPECT_NO_THROW(f->Command4_Click());
    EXPECT_TRUE(f->Text8->text().isEmpty());
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_TRUE(f.box->shown.isEmpty());
    EXPECT_EQ(f->Pic->fillColor(), lamp);
}

TEST(VersionQuery, AnswerDoesNotStartALoadedFile) {
    FakeLoader f;
    openWithoutSearch(f);
    // A file is loaded and armed; the version answer must not send its lines.
    f->HexLines[1] = ":00000001FF";
    f->LineCount = 1;
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->Command4_Click();
    f.port->writes.clear();
    f.port->feed("VER=4.01\r\n");
    f->TMRComm_Timer();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("READY"));
    EXPECT_TRUE(f.port->writes.isEmpty());
}

// ---------------------------------------------------------------------------
// "Set Addr": the new address from Text2.

struct SetAddressCase {
    const char* name;
    QString text2;
    const char* sent;  // nullptr: nothing is sent
};

class SetAddress : public ::testing::TestWithParam<SetAddressCase> {};

TEST_P(SetAddress, SendsTheLowEightBitsOfTheWholeNumber) {
    const SetAddressCase& c = GetParam();
    FakeLoader f;
    openWithoutSearch(f);
    f->Text2->setText(c.text2);
    ASSERT_EQ(f->Text2->text(), c.text2);
    f->Text8->setText(QStringLiteral("OK"));
    f->TransferActive = 1;
    f->TransferArmed = 1;
    f->ProbeCount = 5;
    const WindowState before = snapshot(*f.w);

    EXPECT_NO_THROW(f->Command1_Click());

    if (c.sent) {
        EXPECT_EQ(f.port->writes, QList<QByteArray>{QByteArray(c.sent)});
        // Only the write's lamp: not the address box, the status, the bar,
        // the flags, the probe or the port controls.
        EXPECT_EQ(changes(before, snapshot(*f.w)), std::set<std::string>{"Pic.fillColor"});
    } else {
        EXPECT_TRUE(f.port->writes.isEmpty());
        EXPECT_EQ(snapshot(*f.w), before);
    }
    EXPECT_TRUE(f.box->shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SetAddress,
    ::testing::Values(SetAddressCase{"Ten", QStringLiteral("10"), "BOOT$0A\r\n"},
                      SetAddressCase{"Largest", QStringLiteral("255"), "BOOT$FF\r\n"},
                      SetAddressCase{"One", QStringLiteral("1"), "BOOT$01\r\n"},
                      SetAddressCase{"Hexadecimal", QStringLiteral("&H7F"), "BOOT$7F\r\n"},
                      SetAddressCase{"AboveByte_KeepsLowBits", QStringLiteral("300"), "BOOT$2C\r\n"},
                      SetAddressCase{"HalfGoesDownToEven", QStringLiteral("10.5"), "BOOT$0A\r\n"},
                      SetAddressCase{"HalfGoesUpToEven", QStringLiteral("11.5"), "BOOT$0C\r\n"},
                      SetAddressCase{"MinusOne_IsAllOnes", QStringLiteral("-1"), "BOOT$FF\r\n"},
                      SetAddressCase{"Zero", QStringLiteral("0"), nullptr},
                      SetAddressCase{"LowBitsZero", QStringLiteral("256"), nullptr},
                      SetAddressCase{"Empty", QString(), nullptr},
                      SetAddressCase{"NoNumber", QStringLiteral("abc"), nullptr},
                      SetAddressCase{"OutsideThe32BitRange", QStringLiteral("3000000000"), nullptr},
                      // Further texts, read the same way.
                      SetAddressCase{"BlanksAround", QStringLiteral(" 20 "), "BOOT$14\r\n"},
                      SetAddressCase{"BlanksInside", QStringLiteral("1 2"), "BOOT$0C\r\n"},
                      SetAddressCase{"LeadingNumberOfText", QStringLiteral("12abc"), "BOOT$0C\r\n"},
                      SetAddressCase{"Exponent", QStringLiteral("1e1"), "BOOT$0A\r\n"},
                      SetAddressCase{"LowerCaseHex", QStringLiteral("&hff"), "BOOT$FF\r\n"},
                      SetAddressCase{"HexLowBitsZero", QStringLiteral("&H100"), nullptr},
                      SetAddressCase{"HalfRoundsToZero", QStringLiteral("0.5"), nullptr},
                      SetAddressCase{"OneAndAHalf", QStringLiteral("1.5"), "BOOT$02\r\n"},
                      SetAddressCase{"NegativeLowBitsZero", QStringLiteral("-256"), nullptr},
                      SetAddressCase{"Negative", QStringLiteral("-2"), "BOOT$FE\r\n"},
                      SetAddressCase{"Largest32Bit", QStringLiteral("2147483647"), "BOOT$FF\r\n"},
                      SetAddressCase{"Smallest32Bit", QStringLiteral("-2147483648"), nullptr},
                      SetAddressCase{"JustAbove32Bit", QStringLiteral("2147483648"), nullptr},
                      SetAddressCase{"ThousandDigits", QString(1000, u'9'), nullptr},
                      SetAddressCase{"Cyrillic", QStringLiteral("десять"), nullptr},
                      SetAddressCase{"NulAfterNumber", QStringLiteral("10") + QChar(0), "BOOT$0A\r\n"},
                      SetAddressCase{"TrailingNewLine", QStringLiteral("10\n"), "BOOT$0A\r\n"}),
    [](const ::testing::TestParamInfo<SetAddressCase>& info) { return std::string(info.param.name); });

TEST(SetAddressFrame, InModbusModeGoesToThePresentAddressAndKeepsIt) {
    FakeLoader f;
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("16"));
    f->BTNOpenCom_Click();
    f->Timer3->stop();
    f->Text2->setText(QStringLiteral("10"));
    f->Command1_Click();
    // Address 16, "BOOT$0A" CR LF, CRC-16/MODBUS low byte first.
    EXPECT_EQ(f.port->writes, QList<QByteArray>{QByteArray::fromHex("10424F4F542430410D0A05D5")});
    EXPECT_EQ(f->Text1->text(), QStringLiteral("16")) << "the program does not follow the device";
}

TEST(SetAddressFrame, WithThePortClosedSendsNothingAndSaysNothing) {
    FakeLoader f;
    EXPECT_NO_THROW(f->Command1_Click());
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_TRUE(f.box->shown.isEmpty());
}

// ---------------------------------------------------------------------------
// "Next": the same button during an address search.

TEST(NextAddress, RestartsTheProbeAndClearsTheReplyBoxWithoutSending) {
    FakeLoader f;
    f->BTNOpenCom_Click();  // Text1 empty: a search
    ASSERT_EQ(f->Command1->text(), QStringLiteral("Next"));
    f->Timer3_Timer();
    f.port->feed("VER=4.01\r\n");
    f->TMRComm_Timer();
    ASSERT_FALSE(f->Timer3->isActive());
    f.port->writes.clear();
    f->Text2->setText(QStringLiteral("10"));  // would be sent by "Set Addr"
    f->TransferActive = 1;
    f->TransferArmed = 1;
    const WindowState before = snapshot(*f.w);

    f->Command1_Click();

    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_TRUE(f->Text8->text().isEmpty());
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_EQ(changes(before, snapshot(*f.w)), (std::set<std::string>{"Timer3.active", "Text8.text"}));
}

TEST(NextAddress, RoleFollowsTheSearchFlagNotTheCaption) {
    FakeLoader f;
    openWithoutSearch(f);
    // The caption is only what Open wrote; the flag decides.
    f->AddressSearch = 1;
    f->Command1_Click();
    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST(NextAddress, StaysNextAfterCloseUntilAnOpenWithAnAddress) {
    FakeLoader f;
    f->BTNOpenCom_Click();
    f->BTNCloseCom_Click();
    EXPECT_EQ(f->Command1->text(), QStringLiteral("Next"));
    EXPECT_EQ(f->AddressSearch, 1);
    f->Text1->setText(QStringLiteral("3"));
    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Command1->text(), QStringLiteral("Set Addr"));
    EXPECT_EQ(f->AddressSearch, 0);
}

}  // namespace
}  // namespace vantrel::testing
