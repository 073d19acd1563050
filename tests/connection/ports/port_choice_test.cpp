#include "connection/ports/port_choice.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include "common/failure.h"
#include "connection/link_trace.h"
#include "connection/qt_serial_component.h"

namespace vantrel {
namespace {

PortChoice withPort(const QString& port, bool isDevice) {
    return portChoiceFor(port, isDevice ? PortForm::Device : PortForm::ComN);
}

// A pseudo-terminal's far side, which the port component can open like a serial device.
struct Pty {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QString path;
    Pty() {
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            path = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
};

TEST(PortChoice, DevicePathIsPortOneOfTheRunsOwnAndKeepsItsName) {
    const PortChoice choice = withPort(QStringLiteral("/dev/serial/by-id/usb-FTDI-if00"), true);

    EXPECT_EQ(choice.portBoxText, QStringLiteral("COM1"));
    const PortLocation one = choice.resolver(1);
    EXPECT_EQ(one.device, QStringLiteral("/dev/serial/by-id/usb-FTDI-if00"));
    EXPECT_EQ(one.name, QStringLiteral("/dev/serial/by-id/usb-FTDI-if00"));
    // No other number leads anywhere: the user's aliases are never consulted.
    for (int n : {0, 2, 3, 9}) EXPECT_TRUE(choice.resolver(n).device.isEmpty()) << n;
}

TEST(PortChoice, ARelativePathIsTakenFromTheCurrentFolder) {
    const PortChoice choice = withPort(QStringLiteral("dev/ttyX"), true);
    EXPECT_EQ(choice.resolver(1).device, QDir::current().absoluteFilePath(QStringLiteral("dev/ttyX")));
    EXPECT_EQ(choice.resolver(1).name, QStringLiteral("dev/ttyX"));
}

TEST(PortChoice, ComNIsThePortBoxTextWithTheWindowsOwnNaming) {
    const PortChoice choice = withPort(QStringLiteral("COM12"), false);
    EXPECT_EQ(choice.portBoxText, QStringLiteral("COM12"));
    EXPECT_EQ(choice.resolver(12).name, QStringLiteral("COM12"));
    EXPECT_EQ(choice.resolver(12).device, deviceForPort(12));
}

TEST(PortChoice, AUsbIdentityIsPortOneLookedForAtEveryOpen) {
    int listed = 0;
    QList<SerialPortEntry> machine;
    const PortChoice access = portChoiceFor(QStringLiteral("usb:0403:6001"), PortForm::Usb, [&] {
        ++listed;
        return machine;
    });
    EXPECT_EQ(access.portBoxText, QStringLiteral("COM1"));
    EXPECT_EQ(listed, 0) << "not looked for before an open";

    // Not there yet: the open fails, naming the port as given.
    try {
        access.resolver(1);
        ADD_FAILURE() << "a port that is not there was found";
    } catch (const Failure& f) {
        EXPECT_TRUE(f.description().startsWith(QStringLiteral("usb:0403:6001"))) << f.description().toStdString();
    }
    SerialPortEntry adapter;
    adapter.systemLocation = QStringLiteral("/dev/ttyUSB3");
    adapter.vendorId = 0x0403;
    adapter.productId = 0x6001;
    machine.append(adapter);
    EXPECT_EQ(access.resolver(1).device, QStringLiteral("/dev/ttyUSB3"));
    EXPECT_EQ(access.resolver(1).name, QStringLiteral("usb:0403:6001"));
    EXPECT_EQ(listed, 3);
}

TEST(PortChoice, TheDeviceOpensAndMessagesAndTheTraceNameItAsGiven) {
    Pty pty;
    if (pty.path.isEmpty()) GTEST_SKIP() << "no pseudo-terminal available";
    const QProcessEnvironment before = QProcessEnvironment::systemEnvironment();
    const PortChoice choice = withPort(pty.path, true);

    QtSerialComponent port(choice.resolver);
    port.setSettings(QStringLiteral("115200,n,8,1"));
    port.setCommPort(1);
    ASSERT_NO_THROW(port.setPortOpen(true));
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.portName(), pty.path);
    port.setPortOpen(false);

    // A second device of the same process is its own port 1: nothing is shared.
    QtSerialComponent other(withPort(QStringLiteral("/nonexistent/ttyUSB7"), true).resolver);
    other.setSettings(QStringLiteral("115200,n,8,1"));
    other.setCommPort(1);
    try {
        other.setPortOpen(true);
        ADD_FAILURE() << "a missing device opened";
    } catch (const Failure& f) {
        EXPECT_TRUE(f.description().startsWith(QStringLiteral("/nonexistent/ttyUSB7")))
            << f.description().toStdString();
        EXPECT_FALSE(f.description().contains(QStringLiteral("COM1"))) << f.description().toStdString();
    }

    EXPECT_EQ(QProcessEnvironment::systemEnvironment().toStringList(), before.toStringList())
        << "the environment is left as it was";
}

}  // namespace
}  // namespace vantrel
