#include "connection/ports/open_hints.h"

#include <string>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "common/failure.h"

namespace vantrel {
namespace {

DeviceFacts present(const char* path) {
    DeviceFacts f;
    f.path = QString::fromLatin1(path);
    f.exists = true;
    f.readWrite = true;
    f.group = QStringLiteral("dialout");
    return f;
}

DeviceFacts withoutRights(const char* path) {
    DeviceFacts f = present(path);
    f.readWrite = false;
    f.accessErrno = EACCES;
    return f;
}

struct HintCase {
    const char* name;
    int failureNumber;
    DeviceFacts facts;
    std::vector<const char*> has;
    std::vector<const char*> hasNot;
};

void PrintTo(const HintCase& c, std::ostream* os) {
    *os << c.name;
}

class OpenHint : public ::testing::TestWithParam<HintCase> {};

TEST_P(OpenHint, NamesTheRemedyForTheCause) {
    const HintCase& c = GetParam();
    const QString hint = openFailureHint(c.failureNumber, c.facts);
    for (const char* part : c.has)
        EXPECT_TRUE(hint.contains(QLatin1String(part))) << "missing \"" << part << "\" in: " << hint.toStdString();
    for (const char* part : c.hasNot)
        EXPECT_FALSE(hint.contains(QLatin1String(part))) << "unexpected \"" << part << "\" in: " << hint.toStdString();
}

DeviceFacts missing() {
    DeviceFacts f;
    f.path = QStringLiteral("/dev/ttyUSB3");
    return f;
}

DeviceFacts joinedSinceLogin() {
    DeviceFacts f = withoutRights("/dev/ttyUSB0");
    f.inGroupDatabase = true;
    return f;
}

DeviceFacts otherGroup() {
    DeviceFacts f = withoutRights("/dev/ttyACM0");
    f.group = QStringLiteral("uucp");
    return f;
}

DeviceFacts acmWithModemManager() {
    DeviceFacts f = present("/dev/ttyACM0");
    f.modemManagerRunning = true;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Hints, OpenHint,
    ::testing::Values(
        HintCase{"NoSuchDevice",
                 failure::kPortInvalid,
                 missing(),
                 {"/dev/ttyUSB3 does not exist", "vantrel-flash --list", "cable", "power"},
                 {"usermod"}},
        HintCase{"NoPermission",
                 failure::kPortPermission,
                 withoutRights("/dev/ttyUSB0"),
                 {"No permission for /dev/ttyUSB0", "sudo usermod -aG dialout $USER", "log out and in again"},
                 {"newgrp", "ModemManager"}},
        HintCase{"NoPermissionUntilTheNextLogin",
                 failure::kPortPermission,
                 joinedSinceLogin(),
                 {"you are in group dialout", "newgrp dialout"},
                 {"usermod"}},
        HintCase{"TheDevicesOwnGroup", failure::kPortPermission, otherGroup(), {"usermod -aG uucp $USER"}, {"dialout"}},
        HintCase{"BusyUsbSerial",
                 failure::kPortBusy,
                 present("/dev/ttyUSB0"),
                 {"in use by another program", "fuser -v /dev/ttyUSB0"},
                 {"ModemManager"}},
        HintCase{"BusyAcmPort",
                 failure::kPortBusy,
                 present("/dev/ttyACM0"),
                 {"fuser -v /dev/ttyACM0", "ModemManager", "systemctl stop ModemManager", "ID_MM_DEVICE_IGNORE"},
                 {"running here"}},
        HintCase{"BusyWhileModemManagerRuns",
                 failure::kPortBusy,
                 acmWithModemManager(),
                 {"ModemManager (running here)"},
                 {}},
        HintCase{"OtherFailuresGiveNoAdvice",
                 failure::kInvalidPropertyValue,
                 present("/dev/ttyUSB0"),
                 {},
                 {"usermod", "fuser", "does not exist"}}),
    [](const ::testing::TestParamInfo<HintCase>& info) { return std::string(info.param.name); });

TEST(OpenHint, UnknownCausesGiveNoHintAtAll) {
    EXPECT_TRUE(openFailureHint(failure::kInvalidPropertyValue, present("/dev/ttyUSB0")).isEmpty());
}

TEST(DeviceFacts, AMissingDeviceBehindAnAliasIsNamedByItsTarget) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString alias = dir.path() + QStringLiteral("/com3");
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/ttyACM77"), alias));
    const DeviceFacts f = inspectDevice(alias);
    EXPECT_FALSE(f.exists);
    EXPECT_EQ(f.path, QStringLiteral("/dev/ttyACM77"));
}

TEST(DeviceFacts, AnExistingDeviceIsFollowedToItsRealPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.path() + QStringLiteral("/ttyUSB0");
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString alias = dir.path() + QStringLiteral("/com1");
    ASSERT_TRUE(QFile::link(target, alias));
    const DeviceFacts facts = inspectDevice(alias);
    EXPECT_TRUE(facts.exists);
    EXPECT_TRUE(facts.readWrite);
    EXPECT_EQ(facts.path, QFileInfo(target).canonicalFilePath());
    EXPECT_FALSE(facts.group.isEmpty());
}

}  // namespace
}  // namespace vantrel
