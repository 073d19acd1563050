#include <string>

#include <QByteArray>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/lamp.h"

namespace vantrel::testing {
namespace {

class FrameWriterTest : public ::testing::Test {
  protected:
    FrameWriterTest() { f.port->setPortOpen(true); }

    void modbus(const char* address) {
        f->Check1->setChecked(true);
        f->Text1->setText(QString::fromLatin1(address));
    }

    FakeLoader f;
};

// --- Framing -------------------------------------------------------------

struct FrameCase {
    const char* name;
    bool modbus;
    const char* address;  // text of the address box
    QByteArray command;
    QByteArray frame;  // empty: nothing may be written
};

class WriteFrame : public FrameWriterTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(WriteFrame, WritesTheCommandPlainOrInAnAddressedFrameWithCrc) {
    const FrameCase& c = GetParam();
    f->Check1->setChecked(c.modbus);
    f->Text1->setText(QString::fromLatin1(c.address));
    QByteArray text = c.command;

    const qint16 result = f->WriteCOM32(text);

    if (c.frame.isEmpty()) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(f.port->writes.isEmpty());
    } else {
        EXPECT_EQ(result, c.frame.size());
        ASSERT_EQ(f.port->writes.size(), 1);
        EXPECT_EQ(f.port->writes[0], c.frame);
        // In Modbus mode the caller's text is left holding the frame.
        EXPECT_EQ(text, c.modbus ? c.frame : c.command);
    }
    // The lamp lights even when the address cannot be formed.
    EXPECT_EQ(f->Pic->fillColor(), color::kDarkGreen);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WriteFrame,
    ::testing::Values(
        FrameCase{"PlainCommandUnchanged", false, "1", "BOOTi\r\n", "BOOTi\r\n"},
        FrameCase{"PlainIgnoresAnUnusableAddress", false, "300", "BOOTi\r\n", "BOOTi\r\n"},
        FrameCase{"ModbusAddressOne", true, "1", "BOOTi\r\n", QByteArray::fromHex("01424F4F54690D0AFC89")},
        FrameCase{"ModbusAddressWithBlanks", true, " 1 ", "BOOTi\r\n", QByteArray::fromHex("01424F4F54690D0AFC89")},
        FrameCase{"ModbusEmptyAddressBoxIsAddressZero", true, "", "BOOTi\r\n",
                  QByteArray::fromHex("00424F4F54690D0A3D45")},
        FrameCase{"ModbusHexAddress", true, "&H10", "BOOTi\r\n", QByteArray::fromHex("10424F4F54690D0A3C49")},
        FrameCase{"ModbusHalfAddressRoundsDownToEven", true, "2.5", "BOOTi\r\n",
                  QByteArray::fromHex("02424F4F54690D0ABC9C")},
        FrameCase{"ModbusHalfAddressRoundsUpToEven", true, "3.5", "BOOTi\r\n",
                  QByteArray::fromHex("04424F4F54690D0A3CB6")},
        FrameCase{"ModbusHighestAddress", true, "255", "BOOTi\r\n", QByteArray::fromHex("FF424F4F54690D0A7241")},
        FrameCase{"ModbusAddressAboveAByteWritesNothing", true, "300", "BOOTi\r\n", {}},
        FrameCase{"ModbusHalfAboveTheHighestRoundsOut", true, "255.5", "BOOTi\r\n", {}},
        FrameCase{"ModbusNegativeAddressWritesNothing", true, "-1", "BOOTi\r\n", {}},
        FrameCase{"ModbusEmptyCommandIsAddressAndCrc", true, "1", "", QByteArray::fromHex("017E80")}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

// --- Port and lamp -------------------------------------------------------

TEST_F(FrameWriterTest, PortClosedWritesNothingAndLeavesTheLampAlone) {
    f.port->setPortOpen(false);
    f->Pic->setFillColor(color::kGrey);
    QByteArray text("BOOTi\r\n");

    EXPECT_EQ(f->WriteCOM32(text), 0);

    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_EQ(f->Pic->fillColor(), color::kGrey);
    EXPECT_EQ(text, QByteArray("BOOTi\r\n"));
}

TEST_F(FrameWriterTest, RefusedWriteGivesZeroAfterLightingTheLamp) {
    f.port->writeFailure = Failure(failure::kDeviceIo, QStringLiteral("write refused"));
    QByteArray text("BOOTi\r\n");

    EXPECT_EQ(f->WriteCOM32(text), 0);

    EXPECT_EQ(f->Pic->fillColor(), color::kDarkGreen);
}

TEST_F(FrameWriterTest, ModbusCommandTooLongForTheCrcWritesNothing) {
    modbus("1");
    QByteArray text(32767, 'A');  // with the address character one beyond what the CRC takes

    EXPECT_EQ(f->WriteCOM32(text), 0);

    EXPECT_TRUE(f.port->writes.isEmpty());
}

// --- Receive timer -------------------------------------------------------

struct TimerCase {
    const char* name;
    bool modbus;
    const char* address;
};

class WriteRestartsTimer : public FrameWriterTest, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(WriteRestartsTimer, RunningReceiveTimerStartsAFullIntervalAgain) {
    f->Check1->setChecked(GetParam().modbus);
    f->Text1->setText(QString::fromLatin1(GetParam().address));
    f->TMRComm->start();
    // Let the interval run out without handling events, so no tick runs;
    // only a restart can give the timer time again.
    while (f->TMRComm->remainingTime() > 0) {
    }
    QByteArray text("BOOTi\r\n");

    f->WriteCOM32(text);

    EXPECT_TRUE(f->TMRComm->isActive());
    EXPECT_GT(f->TMRComm->remainingTime(), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, WriteRestartsTimer,
                         ::testing::Values(TimerCase{"Plain", false, "1"}, TimerCase{"Modbus", true, "1"},
                                           // The restart comes before the address is formed.
                                           TimerCase{"ModbusWithUnusableAddress", true, "300"}),
                         [](const ::testing::TestParamInfo<TimerCase>& info) { return std::string(info.param.name); });

TEST_F(FrameWriterTest, StoppedReceiveTimerStaysStopped) {
    QByteArray text("BOOTi\r\n");

    EXPECT_EQ(f->WriteCOM32(text), 7);

    EXPECT_FALSE(f->TMRComm->isActive());
}

}  // namespace
}  // namespace vantrel::testing
