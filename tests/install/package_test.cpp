// The Debian package that cpack makes from the install rules, checked as
// Debian would check it.

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "install_support.h"

namespace vantrel::testing {
namespace {

const QString kVersion = QStringLiteral(VANTREL_PROJECT_VERSION);

QString architecture() {
    return run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed();
}

QString packagePath() {
    return QStringLiteral(VANTREL_PACKAGE_DIR "/vantrel_%1_%2.deb").arg(kVersion, architecture());
}

QString field(const QString& name) {
    return run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), packagePath(), name}).out.trimmed();
}

class DebianPackage : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QFileInfo::exists(packagePath()))
            << packagePath().toStdString() << " was not made; found: "
            << QDir(QStringLiteral(VANTREL_PACKAGE_DIR)).entryList(QDir::Files).join(u' ').toStdString();
    }
};

TEST_F(DebianPackage, HoldsWhatTheInstallRulesInstall) {
    const RunResult listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), packagePath()});
    ASSERT_EQ(listing.code, 0) << listing.err.toStdString();
    QStringList contents;
    for (const QString& line : listing.out.split(u'\n', Qt::SkipEmptyParts)) {
        // "-rwxr-xr-x root/root  164672 2026-12-10 13:43 ./usr/bin/vantrel"
        QString path = line.section(u' ', -1);
        if (line.startsWith(u'l')) path = line.section(QStringLiteral(" -> "), 0, 0).section(u' ', -1);
        EXPECT_TRUE(line.contains(QStringLiteral(" root/root "))) << line.toStdString();
        if (path == QLatin1String("./")) continue;
        contents << path.mid(2);
    }
    contents.sort();
    EXPECT_EQ(contents.join(u'\n').toStdString(), treeOf(QStringLiteral(VANTREL_STAGE)).join(u'\n').toStdString());
}

TEST_F(DebianPackage, CarriesTheProjectVersionAndComputedDependencies) {
    EXPECT_EQ(field(QStringLiteral("Package")), QStringLiteral("vantrel"));
    EXPECT_EQ(field(QStringLiteral("Version")), kVersion);
    EXPECT_EQ(field(QStringLiteral("Architecture")), architecture());
    // dpkg-shlibdeps read these off the programs, with the versions they need.
    const QString depends = field(QStringLiteral("Depends"));
    for (const char* library : {"libqt6core6 (>=", "libqt6gui6 (>=", "libqt6widgets6 (>=", "libqt6serialport6 (>=",
                                "libc6 (>=", "libstdc++6 (>="}) {
        EXPECT_TRUE(depends.contains(QString::fromLatin1(library))) << library << " not in " << depends.toStdString();
    }
}

TEST_F(DebianPackage, ChangelogTopEntryIsThisVersion) {
    QTemporaryDir unpacked;
    ASSERT_TRUE(unpacked.isValid());
    const RunResult extract = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), packagePath(), unpacked.path()});
    ASSERT_EQ(extract.code, 0) << extract.err.toStdString();
    const QString changelog = gunzip(unpacked.path() + QStringLiteral("/usr/share/doc/vantrel/changelog.gz"));
    EXPECT_TRUE(changelog.startsWith(QStringLiteral("vantrel (") + kVersion + QStringLiteral(") ")))
        << changelog.left(80).toStdString();
    // Programs are stripped for the package (the build keeps its symbols).
    const RunResult sections =
        run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("LC_ALL=C objdump -h \"$1\""),
                                   QStringLiteral("sh"), unpacked.path() + QStringLiteral("/usr/bin/vantrel")});
    ASSERT_EQ(sections.code, 0) << sections.err.toStdString();
    EXPECT_FALSE(sections.out.contains(QStringLiteral(".debug_info")));
}

// Errors and warnings both fail. A warning that has to stay would go into a
// lintian overrides file installed with the package, with its reason beside it.
TEST_F(DebianPackage, LintianFindsNoErrorsOrWarnings) {
    ASSERT_TRUE(onPath(QStringLiteral("lintian"))) << "lintian is missing: make deps";
    const RunResult r =
        run(QStringLiteral("lintian"), {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), packagePath()});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    static const QRegularExpression finding(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption);
    EXPECT_FALSE(r.out.contains(finding)) << r.out.toStdString();
}

}  // namespace
}  // namespace vantrel::testing
