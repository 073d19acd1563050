#include "connection/port_naming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qt_printers.h"

namespace vantrel::testing {
namespace {

// A private alias folder and a private device folder, each empty at start.
class PortNaming : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("aliases")));
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("dev")));
    }
    QString aliases() const { return root.filePath(QStringLiteral("aliases")); }
    QString dev() const { return root.filePath(QStringLiteral("dev")); }
    void makeDevice(const QString& name) {
        QFile file(dev() + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    void makeAlias(const QString& name, const QString& target) {
        ASSERT_TRUE(QFile::link(target, aliases() + u'/' + name));
    }
    QTemporaryDir root;
};

TEST_F(PortNaming, AliasWinsOverEveryDevice) {
    makeDevice(QStringLiteral("ttyUSB2"));
    makeDevice(QStringLiteral("ttyACM2"));
    makeDevice(QStringLiteral("ttyS2"));
    makeAlias(QStringLiteral("com3"), dev() + QStringLiteral("/ttyS2"));
    EXPECT_EQ(deviceForPort(3, aliases(), dev()), aliases() + QStringLiteral("/com3"));
}

TEST_F(PortNaming, DanglingAliasStillWins) {
    // The board's device appears only once it is powered; until then the
    // open must fail on the alias instead of falling through to ttyS.
    makeDevice(QStringLiteral("ttyS2"));
    makeAlias(QStringLiteral("com3"), dev() + QStringLiteral("/not-there-yet"));
    EXPECT_EQ(deviceForPort(3, aliases(), dev()), aliases() + QStringLiteral("/com3"));
}

TEST_F(PortNaming, AliasOfAnotherNumberDoesNotApply) {
    makeAlias(QStringLiteral("com30"), dev() + QStringLiteral("/x"));
    makeAlias(QStringLiteral("com4"), dev() + QStringLiteral("/y"));
    EXPECT_EQ(deviceForPort(3, aliases(), dev()), dev() + QStringLiteral("/ttyS2"));
}

TEST_F(PortNaming, MissingAliasFolderIsNoAlias) {
    makeDevice(QStringLiteral("ttyACM0"));
    EXPECT_EQ(deviceForPort(1, root.filePath(QStringLiteral("nowhere")), dev()), dev() + QStringLiteral("/ttyACM0"));
}

struct DeviceCase {
    const char* name;
    QStringList existing;
    int port;
    const char* expected;  // relative to the device folder
};

class PortNamingDevices : public PortNaming, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(PortNamingDevices, FirstExistingDeviceOfTheNumberBelow) {
    for (const QString& d : GetParam().existing) makeDevice(d);
    EXPECT_EQ(deviceForPort(GetParam().port, aliases(), dev()), dev() + u'/' + QLatin1String(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, PortNamingDevices,
    ::testing::Values(DeviceCase{"UsbBeforeAcmAndSerial", {"ttyUSB2", "ttyACM2", "ttyS2"}, 3, "ttyUSB2"},
                      DeviceCase{"AcmBeforeSerial", {"ttyACM2", "ttyS2"}, 3, "ttyACM2"},
                      DeviceCase{"SerialAlone", {"ttyS2"}, 3, "ttyS2"},
                      DeviceCase{"UsbAlone", {"ttyUSB0"}, 1, "ttyUSB0"},
                      DeviceCase{"OtherNumbersIgnored", {"ttyUSB3", "ttyACM1", "ttyUSB22"}, 3, "ttyS2"},
                      DeviceCase{"NoneExisting_IsSerialPath", {}, 3, "ttyS2"},
                      DeviceCase{"TwoDigitNumber", {"ttyACM11"}, 12, "ttyACM11"},
                      DeviceCase{"LargestNumber", {}, 32767, "ttyS32766"}),
    [](const ::testing::TestParamInfo<DeviceCase>& info) { return std::string(info.param.name); });

TEST_F(PortNaming, NumberBelowOneNamesNoPort) {
    makeDevice(QStringLiteral("ttyS0"));
    makeAlias(QStringLiteral("com0"), dev() + QStringLiteral("/ttyS0"));
    for (int n : {0, -1, -32768}) EXPECT_TRUE(deviceForPort(n, aliases(), dev()).isEmpty()) << n;
}

struct AliasDirCase {
    const char* name;
    const char* xdg;
    const char* expected;  // with the home folder /home/op
};

class PortAliasDir : public ::testing::TestWithParam<AliasDirCase> {};

TEST_P(PortAliasDir, FollowsXdgConfigHomeElseDotConfig) {
    EXPECT_EQ(portAliasDirFor(QLatin1String(GetParam().xdg), QStringLiteral("/home/op")),
              QLatin1String(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Folders, PortAliasDir,
                         ::testing::Values(AliasDirCase{"XdgSet", "/some/config", "/some/config/vantrel/ports"},
                                           AliasDirCase{"XdgEmptyOrUnset", "", "/home/op/.config/vantrel/ports"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortNaming, AnAliasFolderResolverIsReadAnewAtEveryLookUpAndNamesThePortComN) {
    const PortResolver resolve = aliasFolderResolver(aliases(), dev());
    EXPECT_EQ(resolve(5).device, dev() + QStringLiteral("/ttyS4")) << "no alias, no device: the last fallback";
    makeAlias(QStringLiteral("com5"), QStringLiteral("/nonexistent/board"));
    EXPECT_EQ(resolve(5).device, aliases() + QStringLiteral("/com5"));
    EXPECT_EQ(resolve(5).name, QStringLiteral("COM5"));
    EXPECT_TRUE(resolve(0).device.isEmpty());
}

}  // namespace
}  // namespace vantrel::testing
