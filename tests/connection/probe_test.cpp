#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/lamp.h"
#include "window/progress_bar.h"
#include "window_snapshot.h"

namespace vantrel::testing {
namespace {

const QByteArray kAsk = QByteArrayLiteral("BOOTi\r\n");
const QString kNotAvailable = QStringLiteral(" Not available! Use Serial settings to setup your ports.");

// Modbus frames worked out by hand: address, "BOOTi" CR LF, CRC-16/MODBUS
// low byte first.
const QByteArray kAskAt1 = QByteArray::fromHex("01424F4F54690D0AFC89");
const QByteArray kAskAt2 = QByteArray::fromHex("02424F4F54690D0ABC9C");
const QByteArray kAskAt3 = QByteArray::fromHex("03424F4F54690D0A7D50");
const QByteArray kAskAt4 = QByteArray::fromHex("04424F4F54690D0A3CB6");
const QByteArray kAskAt5 = QByteArray::fromHex("05424F4F54690D0AFD7A");
const QByteArray kAskAt16 = QByteArray::fromHex("10424F4F54690D0A3C49");
const QByteArray kAskAt0 = QByteArray::fromHex("00424F4F54690D0A3D45");
// The board's answer "VER=4.01" CR LF from address 3 and 5, framed likewise.
const QByteArray kVersionFrom3 = QByteArray::fromHex("03425645523D342E30310D0A8DBE");
const QByteArray kVersionFrom5 = QByteArray::fromHex("05425645523D342E30310D0A85B6");

QString waiting(int count) {
    // One position is kept for the sign: two blanks before a positive count.
    return QStringLiteral("WAIT Connect:  %1").arg(count);
}

// ---------------------------------------------------------------------------
// Serial variant.

class SerialProbe : public ::testing::Test {
  protected:
    void open(const QString& address, bool modbus) {
        f->Text1->setText(address);
        f->Check1->setChecked(modbus);
        f->BTNOpenCom_Click();
        ASSERT_TRUE(f->MSComm1->portOpen());
        ASSERT_TRUE(f->Timer3->isActive());
    }
    // The receiver's tick, with what the board answered since the last one.
    void answer(const QByteArray& reply) {
        f.port->feed(reply);
        f->TMRComm_Timer();
    }
    FakeLoader f;
};

TEST_F(SerialProbe, StatusLineCountsTheAsksWithABlankForTheSign) {
    open(QStringLiteral("7"), false);
    for (int tick = 1; tick <= 12; ++tick) {
        f->Timer3_Timer();
        EXPECT_EQ(f->Label2->text(), waiting(tick));
        EXPECT_EQ(f->ProbeCount, tick + 1);
        EXPECT_EQ(f.port->writes.size(), tick);
    }
    EXPECT_EQ(f->Label2->text().toLatin1(), QByteArray("WAIT Connect:  12"));
}

TEST_F(SerialProbe, PlainAskIsTheBareVersionQuery) {
    open(QStringLiteral("7"), false);
    f->Timer3_Timer();
    ASSERT_EQ(f.port->writes.size(), 1);
    EXPECT_EQ(f.port->writes[0], kAsk);
    EXPECT_EQ(f->Pic->fillColor(), 49152u) << "each write turns the lamp dark green";
    EXPECT_EQ(f->Text1->text(), QStringLiteral("7")) << "no search: the box is left alone";
}

struct AskCase {
    const char* name;
    const char* text1;
    bool modbus;
    QList<QByteArray> asks;  // one per tick; empty when the write is refused
    const char* text1After;
};

class SerialProbeAsks : public SerialProbe, public ::testing::WithParamInterface<AskCase> {};

TEST_P(SerialProbeAsks, GoOutOnePerTick) {
    const AskCase& c = GetParam();
    open(QString::fromLatin1(c.text1), c.modbus);
    for (qsizetype tick = 0; tick < c.asks.size(); ++tick) f->Timer3_Timer();
    QList<QByteArray> sent = f.port->writes;
    QList<QByteArray> expected;
    for (const QByteArray& a : c.asks)
        if (!a.isEmpty()) expected.append(a);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(f->Text1->text(), QString::fromLatin1(c.text1After));
    EXPECT_EQ(f->ProbeCount, c.asks.size() + 1) << "the count goes on even when a write is refused";
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, SerialProbeAsks,
    ::testing::Values(AskCase{"ModbusAddress1", "1", true, {kAskAt1, kAskAt1}, "1"},
                      AskCase{"ModbusAddress5", "5", true, {kAskAt5}, "5"},
                      AskCase{"ModbusHexAddress", "&H10", true, {kAskAt16}, "&H10"},
                      AskCase{"ModbusSearchWritesTrialAddresses", "", true, {kAskAt1, kAskAt2, kAskAt3, kAskAt4}, "4"},
                      AskCase{"PlainSearchStillWritesTrialAddresses", "", false, {kAsk, kAsk, kAsk}, "3"},
                      AskCase{"ModbusAddressOutOfRange_SendsNothing", "300", true, {QByteArray(), QByteArray()}, "300"},
                      AskCase{"ModbusNegativeAddress_SendsNothing", "-1", true, {QByteArray()}, "-1"},
                      AskCase{"ModbusTextWithoutNumber_GoesToAddress0", "x", true, {kAskAt0}, "x"}),
    [](const ::testing::TestParamInfo<AskCase>& info) { return std::string(info.param.name); });

TEST_F(SerialProbe, SearchStopsAtTheAddressThatAnswersAndNextGoesOn) {
    open(QString(), true);
    f->Timer3_Timer();
    f->Timer3_Timer();
    f->Timer3_Timer();
    ASSERT_EQ(f.port->writes, (QList<QByteArray>{kAskAt1, kAskAt2, kAskAt3}));
    answer(kVersionFrom3);

    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f->ProbeCount, 4);
    EXPECT_EQ(f->Text1->text(), QStringLiteral("3"));
    EXPECT_EQ(f->Label2->text(), QStringLiteral("READY"));
    EXPECT_EQ(f->Command1->text(), QStringLiteral("Next"));

    f->Text8->setText(QStringLiteral("VER=4.01"));
    f->Command1_Click();
    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_TRUE(f->Text8->text().isEmpty());
    EXPECT_EQ(f.port->writes.size(), 3) << "Next itself sends nothing";
    f->Timer3_Timer();
    EXPECT_EQ(f->Text1->text(), QStringLiteral("4"));
    EXPECT_EQ(f.port->writes.last(), kAskAt4);
    EXPECT_EQ(f->ProbeCount, 5);
}

TEST_F(SerialProbe, PlainSearchIsAnsweredAtOnce) {
    open(QString(), false);
    f->Timer3_Timer();
    answer("VER=4.01\r\n");
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f->Text1->text(), QStringLiteral("1"));
    EXPECT_EQ(f->ProbeCount, 2);
}

TEST_F(SerialProbe, BoardAtTheTypedAddressStopsTheProbeAfterTheFirstAsk) {
    open(QStringLiteral("5"), true);
    f->Timer3_Timer();
    ASSERT_EQ(f.port->writes, QList<QByteArray>{kAskAt5});
    answer(kVersionFrom5);
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f->ProbeCount, 2);
    EXPECT_EQ(f->Label2->text(), QStringLiteral("READY"));
}

TEST_F(SerialProbe, RepliesWithoutTheVersionWordDoNotStopIt) {
    open(QStringLiteral("7"), false);
    f->Timer3_Timer();
    answer("OK\r\n");
    answer("ver=4.01\r\n");
    answer("VER 4.01\r\n");
    EXPECT_TRUE(f->Timer3->isActive());
    f->Timer3_Timer();
    EXPECT_EQ(f->ProbeCount, 3);
    EXPECT_EQ(f.port->writes.size(), 2);
}

TEST_F(SerialProbe, GivesUpOnThe128thTick) {
    open(QStringLiteral("7"), false);
    for (int tick = 1; tick <= 127; ++tick) f->Timer3_Timer();
    EXPECT_EQ(f.port->writes.size(), 127);
    EXPECT_EQ(f->Label2->text(), waiting(127));
    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_TRUE(f.box->shown.isEmpty());

    QString statusWhileShown;
    bool probeRunningWhileShown = true;
    f.box->onShow = [&](const ShownMessage&) {
        statusWhileShown = f->Label2->text();
        probeRunningWhileShown = f->Timer3->isActive();
    };
    f->Timer3_Timer();

    ASSERT_EQ(f.box->shown.size(), 1);
    EXPECT_EQ(f.box->shown[0].text, QStringLiteral("COM3 Not connect !"));
    EXPECT_EQ(f.box->shown[0].icon, MsgBox::Icon::None);
    EXPECT_EQ(statusWhileShown, waiting(128));
    EXPECT_FALSE(probeRunningWhileShown) << "the timer stops before the box";
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_EQ(f->ProbeCount, 1);
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f.port->writes.size(), 127) << "no ask on the tick that gives up";
    // The port stays open and the receiver keeps running.
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_TRUE(f->TMRComm->isActive());
}

TEST_F(SerialProbe, GiveUpMessageNamesThePortByItsText) {
    f->txt[0]->setText(QStringLiteral("XYZ9"));
    open(QStringLiteral("7"), false);
    for (int tick = 1; tick <= 128; ++tick) f->Timer3_Timer();
    EXPECT_EQ(f.box->texts(), QStringList{QStringLiteral("XYZ9 Not connect !")});
}

TEST_F(SerialProbe, NextAfterGivingUpStartsTheSearchAgainAtAddress1) {
    open(QString(), true);
    for (int tick = 1; tick <= 128; ++tick) f->Timer3_Timer();
    ASSERT_EQ(f->Text1->text(), QStringLiteral("127"));
    ASSERT_EQ(f->ProbeCount, 1);

    f->Command1_Click();
    EXPECT_TRUE(f->Timer3->isActive());
    f->Timer3_Timer();
    EXPECT_EQ(f->Text1->text(), QStringLiteral("1"));
    EXPECT_EQ(f.port->writes.last(), kAskAt1);
    EXPECT_EQ(f->ProbeCount, 2);
}

TEST_F(SerialProbe, NextAfterCloseAsksIntoTheClosedPortUntilItGivesUp) {
    open(QString(), true);
    for (int tick = 1; tick <= 3; ++tick) f->Timer3_Timer();
    answer(kVersionFrom3);
    f->BTNCloseCom_Click();
    const qsizetype written = f.port->writes.size();
    const quint32 lamp = f->Pic->fillColor();

    f->Command1_Click();
    ASSERT_TRUE(f->Timer3->isActive());
    for (int tick = 4; tick <= 127; ++tick) f->Timer3_Timer();
    EXPECT_EQ(f.port->writes.size(), written) << "a closed port takes nothing";
    EXPECT_EQ(f->Pic->fillColor(), lamp);
    EXPECT_EQ(f->Text1->text(), QStringLiteral("127"));
    EXPECT_TRUE(f.box->shown.isEmpty());
    f->Timer3_Timer();
    EXPECT_EQ(f.box->texts(), QStringList{QStringLiteral("COM3 Not connect !")});
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
}

// ---------------------------------------------------------------------------
// USB variant: the board's port appears some time after Open.

class UsbProbe : public ::testing::Test {
  protected:
    void SetUp() override {
        f->Option4->setChecked(true);
        // The operator's Modbus choice is overridden by USB mode.
        f->Check1->setChecked(true);
        f->Text1->setText(QStringLiteral("5"));
    }
    FakeLoader f;
};

class UsbPortAppearsLate : public UsbProbe, public ::testing::WithParamInterface<int> {};

TEST_P(UsbPortAppearsLate, IsTakenOverOneTickAfterItOpened) {
    const int opensOnTick = GetParam();
    f.port->firstOpenThatSucceeds = opensOnTick;
    f->BTNOpenCom_Click();

    for (int tick = 1; tick <= opensOnTick; ++tick) {
        ASSERT_FALSE(f->MSComm1->portOpen()) << "tick " << tick;
        f->Timer3_Timer();
        EXPECT_EQ(f->ProbeCount, tick + 1);
        EXPECT_EQ(f->Label2->text(), waiting(tick + 1));
        EXPECT_EQ(f.port->openAttempts, tick);
    }
    // The tick that opened the port shows it but does not take it over yet.
    ASSERT_TRUE(f->MSComm1->portOpen());
    EXPECT_EQ(f.port->commPort, 3);
    EXPECT_FALSE(f->Pic->isHidden());
    EXPECT_EQ(f->txt[0]->backColor(), std::optional<quint32>(color::kGreen));
    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->TMRComm->isActive());
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_TRUE(f.sleeper->pauses.isEmpty());

    // The next tick takes it over. Watch the order around the pause.
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->vbalProgressBar1->setValue(9);
    f->vbalProgressBar1->setBarColor(255);
    bool wroteBeforePause = true, receiverOnAtPause = false, switchedAtPause = false;
    f.sleeper->onSleep = [&](int) {
        wroteBeforePause = !f.port->writes.isEmpty();
        receiverOnAtPause = f->TMRComm->isActive();
        switchedAtPause = f->BTNCloseCom->isEnabled();
    };
    f->Timer3_Timer();

    EXPECT_EQ(f->ProbeCount, 1);
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f->vbalProgressBar1->value(), 0);
    EXPECT_EQ(f->vbalProgressBar1->barColor(), 8388608u);
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->txt[0]->isEnabled());
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
    EXPECT_TRUE(f->TMRComm->isActive());
    EXPECT_EQ(f.sleeper->pauses, QList<int>{100});
    EXPECT_FALSE(wroteBeforePause);
    EXPECT_TRUE(receiverOnAtPause);
    EXPECT_TRUE(switchedAtPause);
    EXPECT_EQ(f.port->writes, QList<QByteArray>{kAsk}) << "unframed: USB mode cleared the Modbus box";
    EXPECT_EQ(f->TransferArmed, 0);
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_EQ(f.port->openAttempts, opensOnTick) << "no open attempt on the take-over tick";
    EXPECT_TRUE(f.box->shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(OpenAttempts, UsbPortAppearsLate, ::testing::Values(1, 2, 25, 197),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "OpensOnTick" + std::to_string(info.param);
                         });

TEST_F(UsbProbe, ReplyToTheTakeOverQueryStartsNoTransfer) {
    f->BTNOpenCom_Click();
    f->Timer3_Timer();
    f->LineCount = 3;  // a file loaded earlier
    f->Timer3_Timer();
    f.port->writes.clear();
    f.port->feed("VER=4.01\r\n");
    f->TMRComm_Timer();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("READY"));
    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST_F(UsbProbe, NoBoardGivesUpOnTheTickThatReaches200) {
    f.port->refuseOpen = true;
    f->BTNOpenCom_Click();
    for (int tick = 1; tick <= 198; ++tick) f->Timer3_Timer();
    EXPECT_EQ(f->Label2->text(), waiting(199));
    EXPECT_EQ(f.port->openAttempts, 198);
    EXPECT_TRUE(f.box->shown.isEmpty());
    EXPECT_TRUE(f->Timer3->isActive());

    QString statusWhileShown;
    bool probeRunningWhileShown = true;
    f.box->onShow = [&](const ShownMessage&) {
        statusWhileShown = f->Label2->text();
        probeRunningWhileShown = f->Timer3->isActive();
    };
    f->Timer3_Timer();

    ASSERT_EQ(f.box->shown.size(), 1);
    EXPECT_EQ(f.box->shown[0].text, QStringLiteral("COM3") + kNotAvailable);
    EXPECT_EQ(f.box->shown[0].icon, MsgBox::Icon::None);
    EXPECT_EQ(statusWhileShown, waiting(200));
    EXPECT_FALSE(probeRunningWhileShown);
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_EQ(f->ProbeCount, 200);
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f.port->openAttempts, 198) << "no open attempt on the tick that gives up";
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());
}

TEST_F(UsbProbe, PortOpeningOnTheLastTryIsNotTakenOverBecauseTheScanGivesUpFirst) {
    // The count is checked before the port: opened on tick 198, the scan
    // still ends on tick 199, and the port it opened is closed again.
    f.port->firstOpenThatSucceeds = 198;
    f->BTNOpenCom_Click();
    for (int tick = 1; tick <= 198; ++tick) f->Timer3_Timer();
    ASSERT_TRUE(f->MSComm1->portOpen());
    bool openWhileShown = true;
    f.box->onShow = [&](const ShownMessage&) { openWhileShown = f->MSComm1->portOpen(); };
    f->Timer3_Timer();
    EXPECT_EQ(f.box->texts(), QStringList{QStringLiteral("COM3") + kNotAvailable});
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_FALSE(f->TMRComm->isActive());
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_FALSE(openWhileShown) << "closed before the message";
    EXPECT_TRUE(f->Pic->isHidden());
    EXPECT_EQ(f->txt[0]->backColor(), std::nullopt);

    // A serial-mode Open can use the port at once.
    f->Option3->setChecked(true);
    f->BTNOpenCom_Click();
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
}

TEST_F(UsbProbe, PortIsOpenedWithTheUsbSettingsAndTheNumberFromThePortBox) {
    f->Option4->setChecked(true);
    f->txt[0]->setText(QStringLiteral("COM7"));
    f->BTNOpenCom_Click();
    f->Timer3_Timer();
    EXPECT_EQ(f.port->commPort, 7);
    EXPECT_EQ(f->PortNumber, 7);
    EXPECT_EQ(f.port->settings, QStringLiteral("115200,n,8,1"));
}

}  // namespace
}  // namespace vantrel::testing
