// The window on the real serial port component, against a pseudo-terminal
// that stands in for the board's serial line: the test holds the master end,
// the window opens the slave end through a port alias.

#include <cstdlib>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "common/failure.h"
#include "connection/qt_serial_component.h"
#include "fake_platform.h"
#include "pseudo_terminal.h"
#include "qt_printers.h"
#include "real_loader.h"
#include "window/lamp.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

// Generous: the machine is shared. Only an outcome that never comes waits
// this long.
constexpr int kDeadlineMs = 10000;

// Runs the event loop until the condition holds or the deadline passes.
bool waitFor(const std::function<bool()>& condition, int deadlineMs = kDeadlineMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > deadlineMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ::poll(nullptr, 0, 1);  // yield the processor between looks
    }
    return true;
}

QByteArray allByteValues() {
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(char(b));
    return all;
}

class RealPort : public ::testing::Test {
  protected:
    static constexpr int kPort = 7;

    void SetUp() override {
        if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal: " << pty.error().toStdString();
        ASSERT_TRUE(config.isValid());
        ports = config.filePath(QStringLiteral("vantrel/ports"));
        ASSERT_TRUE(QDir().mkpath(ports));
        alias(kPort, pty.slavePath());
    }

    void alias(int n, const QString& target) {
        const QString link = ports + QStringLiteral("/com%1").arg(n);
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(target, link));
    }

    // Opens port kPort without a probe, so that the line stays quiet.
    void openQuietly(RealLoader& r) {
        r->txt[0]->setText(QStringLiteral("COM%1").arg(kPort));
        r->Text1->setText(QStringLiteral("0"));
        r->BTNOpenCom_Click();
    }

    PseudoTerminal pty;
    QTemporaryDir config;
    QString ports;
    // Where the window finds COMn: this test's aliases only.
    PortResolver resolver() const { return aliasFolderResolver(ports); }
};

TEST_F(RealPort, OpenLightsTheLampAndSwitchesThePortControls) {
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    openQuietly(r);
    ASSERT_TRUE(r.box->shown.isEmpty()) << r.box->texts().join(u'|').toStdString();
    EXPECT_TRUE(r->MSComm1->portOpen());
    // The alias is followed to the device itself ("pts/N" in the port's terms).
    EXPECT_TRUE(QFileInfo(pty.slavePath()).canonicalFilePath().endsWith(u'/' + r.port->deviceName()))
        << r.port->deviceName().toStdString();
    EXPECT_FALSE(r->Pic->isHidden());
    EXPECT_EQ(r->txt[0]->backColor(), std::optional<quint32>(color::kGreen));
    EXPECT_EQ(r->Label2->text(), QStringLiteral("Ready"));
    EXPECT_FALSE(r->BTNOpenCom->isEnabled());
    EXPECT_FALSE(r->txt[0]->isEnabled());
    EXPECT_TRUE(r->BTNCloseCom->isEnabled());
    EXPECT_TRUE(r->TMRComm->isActive());
    EXPECT_FALSE(r->Timer3->isActive());
}

struct LineSpeed {
    const char* name;
    Control* Loader::*button;
    speed_t speed;
    qint32 baud;
};

class RealPortSpeed : public RealPort, public ::testing::WithParamInterface<LineSpeed> {};

TEST_P(RealPortSpeed, LineRunsAtTheChosenSpeedWithEightDataBitsNoParityOneStopBit) {
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    (r.w.get()->*GetParam().button)->setChecked(true);
    openQuietly(r);
    ASSERT_TRUE(r->MSComm1->portOpen()) << r.box->texts().join(u'|').toStdString();
    EXPECT_EQ(r.port->baudRate(), GetParam().baud);

    termios tio{};
    ASSERT_TRUE(pty.lineSettings(tio));
    EXPECT_EQ(::cfgetospeed(&tio), GetParam().speed);
    EXPECT_EQ(::cfgetispeed(&tio), GetParam().speed);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u) << "no hardware flow control";
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u) << "no software flow control: 0x11 and 0x13 are data";
}

INSTANTIATE_TEST_SUITE_P(Buttons, RealPortSpeed,
                         ::testing::Values(LineSpeed{"Speed9600", &Loader::Option1, B9600, 9600},
                                           LineSpeed{"Speed19200", &Loader::Option2, B19200, 19200},
                                           LineSpeed{"Speed115200", &Loader::Option3, B115200, 115200}),
                         [](const ::testing::TestParamInfo<LineSpeed>& info) { return std::string(info.param.name); });

TEST_F(RealPort, EveryByteValueWrittenArrivesUnchanged) {
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    openQuietly(r);
    ASSERT_TRUE(r->MSComm1->portOpen());
    const QByteArray all = allByteValues();
    r->MSComm1->setOutput(all);
    EXPECT_EQ(pty.receive(all.size()), all);
}

TEST_F(RealPort, VersionQueryReachesTheLine) {
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    openQuietly(r);
    ASSERT_TRUE(r->MSComm1->portOpen());
    r->Command4_Click();
    EXPECT_EQ(pty.receive(7), QByteArrayLiteral("BOOTi\r\n"));
}

TEST_F(RealPort, EveryByteValueSentByTheBoardIsReadUnchanged) {
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    openQuietly(r);
    ASSERT_TRUE(r->MSComm1->portOpen());
    // Read the component directly; the receiver would take the bytes first.
    r->TMRComm->stop();
    const QByteArray all = allByteValues();
    ASSERT_TRUE(pty.send(all));
    QByteArray got;
    ASSERT_TRUE(waitFor([&] {
        if (r->MSComm1->inBufferCount() > 0) got += r->MSComm1->input();
        return got.size() >= all.size();
    }));
    EXPECT_EQ(got, all);
    EXPECT_EQ(r->MSComm1->inBufferCount(), 0) << "input() takes the bytes out of the buffer";
}

TEST_F(RealPort, ProbeIsAnsweredThroughTheReceiver) {
    // Real timers: the probe asks every 200 ms, the receiver polls every 20 ms.
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    r->txt[0]->setText(QStringLiteral("COM%1").arg(kPort));
    r->BTNOpenCom_Click();  // Text1 empty: a plain search
    ASSERT_TRUE(r->MSComm1->portOpen());
    ASSERT_TRUE(r->Timer3->isActive());

    EXPECT_EQ(pty.receive(7).left(7), QByteArrayLiteral("BOOTi\r\n"));
    ASSERT_TRUE(pty.send("VER=4.01\r\n"));
    ASSERT_TRUE(waitFor([&] { return r->Label2->text() == QStringLiteral("READY"); }))
        << "status stayed " << r->Label2->text().toStdString();
    EXPECT_FALSE(r->Timer3->isActive());
    EXPECT_TRUE(r->Text8->text().contains(QStringLiteral("VER=4.01")));
    EXPECT_TRUE(r.box->shown.isEmpty());
}

TEST_F(RealPort, CloseReversesOpenAndFreesTheDevice) {
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    openQuietly(r);
    ASSERT_TRUE(r->MSComm1->portOpen());
    r->BTNCloseCom_Click();
    EXPECT_FALSE(r->MSComm1->portOpen());
    EXPECT_TRUE(r->Pic->isHidden());
    EXPECT_EQ(r->txt[0]->backColor(), std::nullopt);
    EXPECT_EQ(r->Label2->text(), QStringLiteral("Closed"));
    EXPECT_TRUE(r->BTNOpenCom->isEnabled());
    EXPECT_TRUE(r->txt[0]->isEnabled());
    EXPECT_FALSE(r->BTNCloseCom->isEnabled());
    EXPECT_FALSE(r->TMRComm->isActive());

    // Another component (or another program) may now open it.
    QtSerialComponent other(resolver());
    other.setCommPort(kPort);
    EXPECT_NO_THROW(other.setPortOpen(true));
    EXPECT_TRUE(other.portOpen());
    other.setPortOpen(false);

    // And the window itself may open it again.
    r->BTNOpenCom_Click();
    EXPECT_TRUE(r->MSComm1->portOpen());
    EXPECT_TRUE(r.box->shown.isEmpty());
}

TEST_F(RealPort, ClosingTheWindowClosesThePort) {
    Platform p;
    p.port = std::make_unique<QtSerialComponent>(resolver());
    p.msgBox = std::make_unique<FakeMsgBox>();
    p.fileDialog = std::make_unique<FakeFileDialog>();
    p.sleeper = std::make_unique<FakeSleeper>();
    frmSerial w(std::move(p));
    w.show();
    w.loader().txt[0]->setText(QStringLiteral("COM%1").arg(kPort));
    w.loader().Text1->setText(QStringLiteral("0"));
    w.loader().BTNOpenCom_Click();
    ASSERT_TRUE(w.loader().MSComm1->portOpen());
    w.close();
    EXPECT_FALSE(w.loader().MSComm1->portOpen());
}

struct MissingPortCase {
    const char* name;
    const char* text;
};

class RealPortMissing : public RealPort, public ::testing::WithParamInterface<MissingPortCase> {};

TEST_P(RealPortMissing, ShowsTheMessageAndNotPresentBoard) {
    alias(8, config.filePath(QStringLiteral("no-such-device")));
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    r->txt[0]->setText(QString::fromLatin1(GetParam().text));
    r->BTNOpenCom_Click();
    EXPECT_EQ(r.box->texts(), QStringList{QString::fromLatin1(GetParam().text) +
                                          QStringLiteral(" Not available! Use Serial settings to setup your ports.")});
    EXPECT_EQ(r->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_FALSE(r->MSComm1->portOpen());
    EXPECT_FALSE(r->Timer3->isActive());
    EXPECT_FALSE(r->TMRComm->isActive());
    EXPECT_TRUE(r->BTNOpenCom->isEnabled());
    EXPECT_FALSE(r->BTNCloseCom->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Ports, RealPortMissing,
                         ::testing::Values(MissingPortCase{"AliasToNothing", "COM8"}, MissingPortCase{"Zero", "COM0"},
                                           MissingPortCase{"Negative", "COM-1"},
                                           MissingPortCase{"Smallest", "COM-32768"}),
                         [](const ::testing::TestParamInfo<MissingPortCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(RealPort, PortHeldByAnotherWindowIsBusy) {
    RealLoader first(RealLoader::Pause::Recorded, resolver());
    openQuietly(first);
    ASSERT_TRUE(first->MSComm1->portOpen());

    RealLoader second(RealLoader::Pause::Recorded, resolver());
    openQuietly(second);
    EXPECT_EQ(second.box->texts(),
              QStringList{QStringLiteral("COM7 Not available! Use Serial settings to setup your ports.")});
    EXPECT_EQ(second->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_FALSE(second->MSComm1->portOpen());

    // The first keeps the line.
    EXPECT_TRUE(first->MSComm1->portOpen());
    first->Command4_Click();
    EXPECT_EQ(pty.receive(7), QByteArrayLiteral("BOOTi\r\n"));
}

TEST_F(RealPort, SecondComponentOnTheSameDeviceFailsAsBusy) {
    QtSerialComponent holder(resolver());
    holder.setCommPort(kPort);
    holder.setPortOpen(true);
    ASSERT_TRUE(holder.portOpen());

    QtSerialComponent other(resolver());
    other.setCommPort(kPort);
    try {
        other.setPortOpen(true);
        FAIL() << "a second open of a held device succeeded";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), failure::kPortBusy) << failure.description().toStdString();
    }
    EXPECT_FALSE(other.portOpen());
    EXPECT_TRUE(holder.portOpen());
}

TEST_F(RealPort, UnpluggedLineLeavesThePortClosedAndCloseStillWorks) {
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    openQuietly(r);
    ASSERT_TRUE(r->MSComm1->portOpen());
    r->TMRComm->stop();

    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return !r->MSComm1->portOpen(); })) << "the port still reads open";

    // Writes and polls into the vanished line fail quietly.
    QByteArray ask = QByteArrayLiteral("BOOTi\r\n");
    EXPECT_EQ(r->WriteCOM32(ask), 0);
    EXPECT_NO_THROW(r->TMRComm_Timer());
    EXPECT_NO_THROW(r->Command4_Click());

    EXPECT_NO_THROW(r->BTNCloseCom_Click());
    EXPECT_EQ(r->Label2->text(), QStringLiteral("Closed"));
    EXPECT_TRUE(r->BTNOpenCom->isEnabled());
    EXPECT_FALSE(r->BTNCloseCom->isEnabled());
    EXPECT_TRUE(r->Pic->isHidden());
    EXPECT_TRUE(r.box->shown.isEmpty());
}

TEST_F(RealPort, UsbScanOpensThePortOnceTheDeviceAppears) {
    // The board is not powered yet: its alias points at nothing.
    alias(kPort, config.filePath(QStringLiteral("not-powered")));
    RealLoader r(RealLoader::Pause::Recorded, resolver());
    r->txt[0]->setText(QStringLiteral("COM%1").arg(kPort));
    r->Option4->setChecked(true);
    r->BTNOpenCom_Click();
    ASSERT_TRUE(r->Timer3->isActive());

    r->Timer3_Timer();
    r->Timer3_Timer();
    EXPECT_FALSE(r->MSComm1->portOpen());
    EXPECT_TRUE(r.box->shown.isEmpty()) << "failed opens during a scan are silent";

    alias(kPort, pty.slavePath());  // powered: the device exists
    r->Timer3_Timer();
    ASSERT_TRUE(r->MSComm1->portOpen());
    EXPECT_EQ(r.port->baudRate(), 115200);
    EXPECT_FALSE(r->Pic->isHidden());

    r->Timer3_Timer();  // take-over
    EXPECT_EQ(r->Label2->text(), QStringLiteral("Ready"));
    EXPECT_EQ(r.sleeper->pauses, QList<int>{100});
    EXPECT_EQ(pty.receive(7), QByteArrayLiteral("BOOTi\r\n"));
    EXPECT_TRUE(r->BTNCloseCom->isEnabled());
    r->BTNCloseCom_Click();
    EXPECT_FALSE(r->MSComm1->portOpen());
}

}  // namespace
}  // namespace vantrel::testing
