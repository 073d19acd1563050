#include "flasher/private_alias.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "connection/port_naming.h"

namespace vantrel::flasher {
namespace {

// Puts XDG_CONFIG_HOME back, whatever the test did.
struct XdgGuard {
    bool had = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    QByteArray value = qgetenv("XDG_CONFIG_HOME");
    ~XdgGuard() {
        if (had)
            qputenv("XDG_CONFIG_HOME", value);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
};

TEST(PrivatePortAlias, ReachesTheDeviceAsCom1WithoutTouchingTheUsersAliases) {
    XdgGuard guard;
    QTemporaryDir user;
    ASSERT_TRUE(user.isValid());
    const QString userPorts = user.path() + QStringLiteral("/vantrel/ports");
    ASSERT_TRUE(QDir().mkpath(userPorts));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/ttyUSB9"), userPorts + QStringLiteral("/com1")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(user.path()));

    QTemporaryDir devices;
    ASSERT_TRUE(devices.isValid());
    const QString device = devices.path() + QStringLiteral("/ttyFAKE0");
    {
        PrivatePortAlias alias(device);
        ASSERT_TRUE(alias.ok()) << alias.error().toStdString();
        EXPECT_EQ(alias.portBoxText(), QStringLiteral("COM1"));
        // The window's naming now finds the device behind COM1.
        const QString com1 = deviceForPort(1);
        EXPECT_EQ(com1, alias.aliasPath());
        EXPECT_EQ(QFileInfo(com1).symLinkTarget(), device);
        EXPECT_FALSE(com1.startsWith(user.path()));
    }
    // Afterwards the user's folder is in force again, and as it was.
    EXPECT_EQ(qgetenv("XDG_CONFIG_HOME"), QFile::encodeName(user.path()));
    EXPECT_EQ(QDir(userPorts).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("com1")});
    EXPECT_EQ(QFileInfo(userPorts + QStringLiteral("/com1")).symLinkTarget(), QStringLiteral("/dev/ttyUSB9"));
}

TEST(PrivatePortAlias, ARelativePathIsTakenFromTheCurrentFolder) {
    XdgGuard guard;
    PrivatePortAlias alias(QStringLiteral("dev/ttyX"));
    ASSERT_TRUE(alias.ok());
    EXPECT_EQ(QFileInfo(alias.aliasPath()).symLinkTarget(),
              QDir::current().absoluteFilePath(QStringLiteral("dev/ttyX")));
}

TEST(PrivatePortAlias, LeavesAnUnsetConfigFolderUnset) {
    XdgGuard guard;
    qunsetenv("XDG_CONFIG_HOME");
    { PrivatePortAlias alias(QStringLiteral("/dev/ttyUSB0")); }
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"));
}

}  // namespace
}  // namespace vantrel::flasher
