#include "connection/ports/port_list.h"

#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "pseudo_terminal.h"

namespace vantrel {
namespace {

// A /dev of the test's own and an alias folder beside it.
class PortList : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(QDir().mkpath(dev()));
        ASSERT_TRUE(QDir().mkpath(aliases()));
    }
    QString dev() const { return root_.path() + QStringLiteral("/dev"); }
    QString aliases() const { return root_.path() + QStringLiteral("/ports"); }

    QString device(const char* name) {
        const QString path = dev() + u'/' + QLatin1String(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return path;
    }
    void alias(int n, const QString& target) {
        ASSERT_TRUE(QFile::link(target, aliases() + QStringLiteral("/com%1").arg(n)));
    }
    SerialPortEntry port(const QString& location) const {
        SerialPortEntry e;
        e.systemLocation = location;
        return e;
    }
    QString list(const QList<SerialPortEntry>& ports) const { return formatPortList(ports, aliases(), dev()); }

    // The line of the listing that starts with `start` (after its indent).
    static QString lineOf(const QString& listing, const QString& start) {
        for (const QString& line : listing.split(u'\n'))
            if (line.trimmed().startsWith(start)) return line.trimmed();
        return {};
    }

  private:
    QTemporaryDir root_;
};

TEST_F(PortList, UsbAdapterIsReachedByItsFallbackNumber) {
    SerialPortEntry usb = port(device("ttyUSB0"));
    usb.description = QStringLiteral("CP2102 USB to UART Bridge Controller");
    usb.manufacturer = QStringLiteral("Silicon Labs");
    usb.serialNumber = QStringLiteral("0001");
    usb.vendorId = 0x10c4;
    usb.productId = 0xea60;
    const QString out = list({usb});
    EXPECT_EQ(lineOf(out, usb.systemLocation), usb.systemLocation + QStringLiteral("  as COM1")) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("description:   CP2102 USB to UART Bridge Controller")));
    EXPECT_TRUE(out.contains(QStringLiteral("manufacturer:  Silicon Labs")));
    EXPECT_TRUE(out.contains(QStringLiteral("USB id:        10c4:ea60")));
    EXPECT_TRUE(out.contains(QStringLiteral("serial number: 0001")));
}

TEST_F(PortList, ADeviceShadowedByAnEarlierStemSaysWhoHasItsNumber) {
    const QString usb = device("ttyUSB0");
    const QString acm = device("ttyACM0");
    const QString out = list({port(usb), port(acm)});
    EXPECT_EQ(lineOf(out, usb), usb + QStringLiteral("  as COM1"));
    const QString line = lineOf(out, acm);
    EXPECT_TRUE(line.contains(QStringLiteral("not reached by a COMn name (COM1 is %1)").arg(usb)))
        << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("--port ") + acm));
}

TEST_F(PortList, AnAliasReachesItsTargetAndTakesTheNumberFromTheFallback) {
    const QString usb = device("ttyUSB0");
    const QString acm = device("ttyACM0");
    alias(1, acm);
    alias(7, usb);
    const QString out = list({port(usb), port(acm)});
    EXPECT_EQ(lineOf(out, acm), acm + QStringLiteral("  as COM1")) << out.toStdString();
    EXPECT_EQ(lineOf(out, usb), usb + QStringLiteral("  as COM7"));
    EXPECT_TRUE(out.contains(QStringLiteral("COM1  com1 -> ") + acm));
    EXPECT_TRUE(out.contains(QStringLiteral("COM7  com7 -> ") + usb));
}

TEST_F(PortList, ADanglingAliasIsListedAndMarked) {
    alias(5, dev() + QStringLiteral("/ttyACM9"));
    const QString out = list({});
    const QString line = lineOf(out, QStringLiteral("COM5"));
    EXPECT_TRUE(line.startsWith(QStringLiteral("COM5  com5 -> %1/ttyACM9").arg(dev()))) << out.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("dangling")));
    EXPECT_TRUE(out.contains(QStringLiteral("(none found)")));
}

TEST_F(PortList, AnAliasToAPseudoTerminalShowsThoughTheSystemDoesNotListIt) {
    vantrel::testing::PseudoTerminal terminal;
    if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminal available: " << terminal.error().toStdString();
    const QString pty = terminal.slavePath();
    alias(3, pty);
    const QString out = list({});
    terminal.closeMaster();
    const QString line = lineOf(out, QStringLiteral("COM3"));
    EXPECT_EQ(line, QStringLiteral("COM3  com3 -> %1  (pseudo-terminal)").arg(pty)) << out.toStdString();
}

TEST_F(PortList, OnlyNamesThePortNamingLooksForCount) {
    const QString usb = device("ttyUSB4");
    ASSERT_TRUE(QFile::link(usb, aliases() + QStringLiteral("/com03")));
    ASSERT_TRUE(QFile::link(usb, aliases() + QStringLiteral("/COM6")));
    const QString out = list({port(usb)});
    EXPECT_FALSE(out.contains(QStringLiteral("com03"))) << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("COM6")));
    EXPECT_EQ(lineOf(out, usb), usb + QStringLiteral("  as COM5"));
    EXPECT_TRUE(out.contains(QStringLiteral("(none)")));
}

TEST_F(PortList, APortWithoutAFallbackNameNeedsAnAliasOrItsPath) {
    const QString odd = device("rfcomm0");
    const QString out = list({port(odd)});
    EXPECT_TRUE(lineOf(out, odd).contains(QStringLiteral("use --port ") + odd)) << out.toStdString();
}

}  // namespace
}  // namespace vantrel
