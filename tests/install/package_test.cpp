// The four Debian packages that cpack makes from the install components,
// checked as Debian would check them, and as an upgrade from the single
// package of 4.1 and a server without a desktop need them.

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "install_support.h"
#include "qt_printers.h"

namespace vantrel::testing {
namespace {

const QString kVersion = QStringLiteral(VANTREL_PROJECT_VERSION);
const QString kWindow = QStringLiteral("vantrel");
const QString kFlasher = QStringLiteral("vantrel-flash");
const QString kFirmware = QStringLiteral("vantrel-firmware");
const QString kPicsim = QStringLiteral("vantrel-picsim");
// Up to this version the package vantrel held the flasher and the simulator too.
const QString kSplitVersion = QStringLiteral("4.2");
const QString kLastSinglePackage = QStringLiteral("4.1");

QString architecture() {
    return run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed();
}

// The firmware's HEX files are the same on every machine.
QString architectureOf(const QString& package) {
    return package == kFirmware ? QStringLiteral("all") : architecture();
}

QString packagePath(const QString& package) {
    return QStringLiteral(VANTREL_PACKAGE_DIR "/%1_%2_%3.deb").arg(package, kVersion, architectureOf(package));
}

QString field(const QString& package, const QString& name) {
    return run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), packagePath(package), name}).out.trimmed();
}

// "./usr/bin/vantrel" and the like, folders ending in '/', sorted.
QStringList contentsOf(const QString& package) {
    const RunResult listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), packagePath(package)});
    EXPECT_EQ(listing.code, 0) << listing.err.toStdString();
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
    return contents;
}

// dpkg's own comparison of two versions, e.g. ("4.1", "lt", "4.2").
bool versionsCompare(const QString& a, const QString& relation, const QString& b) {
    return run(QStringLiteral("dpkg"), {QStringLiteral("--compare-versions"), a, relation, b}).code == 0;
}

// Each package unpacked once, as dpkg would put it on a machine.
class DebianPackage : public ::testing::TestWithParam<QString> {
  protected:
    static void SetUpTestSuite() {
        unpacked_ = new QTemporaryDir;
        for (const QString& package : {kWindow, kFlasher, kFirmware, kPicsim}) {
            if (!QFileInfo::exists(packagePath(package))) continue;
            run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), packagePath(package), rootOf(package)});
        }
    }
    static void TearDownTestSuite() {
        delete unpacked_;
        unpacked_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(unpacked_->isValid());
        ASSERT_TRUE(QFileInfo::exists(packagePath(package())))
            << packagePath(package()).toStdString() << " was not made; found: "
            << QDir(QStringLiteral(VANTREL_PACKAGE_DIR)).entryList(QDir::Files).join(u' ').toStdString();
    }
    static QString package() { return GetParam(); }
    static QString rootOf(const QString& package) { return unpacked_->path() + u'/' + package; }

  private:
    static QTemporaryDir* unpacked_;
};
QTemporaryDir* DebianPackage::unpacked_ = nullptr;

TEST_P(DebianPackage, HoldsWhatItsInstallComponentInstalls) {
    EXPECT_EQ(contentsOf(package()).join(u'\n').toStdString(),
              treeOf(QStringLiteral(VANTREL_STAGE "/") + package()).join(u'\n').toStdString());
}

TEST_P(DebianPackage, CarriesTheProjectVersion) {
    EXPECT_EQ(field(package(), QStringLiteral("Package")), package());
    EXPECT_EQ(field(package(), QStringLiteral("Version")), kVersion);
    EXPECT_EQ(field(package(), QStringLiteral("Architecture")), architectureOf(package()));
    EXPECT_EQ(field(package(), QStringLiteral("Section")), QStringLiteral("electronics"));
    // One source for both: the changelog's entries are for it.
    const QString source = field(package(), QStringLiteral("Source"));
    EXPECT_EQ(source.isEmpty() ? package() : source, kWindow);
}

TEST_P(DebianPackage, HasItsOwnCopyrightAndChangelog) {
    const QString doc = rootOf(package()) + QStringLiteral("/usr/share/doc/") + package();
    EXPECT_TRUE(QFileInfo(doc + QStringLiteral("/copyright")).isFile());
    const QString changelog = gunzip(doc + QStringLiteral("/changelog.gz"));
    EXPECT_TRUE(changelog.startsWith(QStringLiteral("vantrel (") + kVersion + QStringLiteral(") ")))
        << changelog.left(80).toStdString();
}

// The packages that hold programs.
class ProgramPackage : public DebianPackage {};

// Programs are stripped for the package (the build keeps its symbols).
TEST_P(ProgramPackage, ProgramsAreStripped) {
    const QStringList programs = QDir(rootOf(package()) + QStringLiteral("/usr/bin")).entryList(QDir::Files);
    ASSERT_FALSE(programs.isEmpty());
    for (const QString& program : programs) {
        const RunResult sections = run(
            QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("LC_ALL=C objdump -h \"$1\""),
                                   QStringLiteral("sh"), rootOf(package()) + QStringLiteral("/usr/bin/") + program});
        ASSERT_EQ(sections.code, 0) << sections.err.toStdString();
        EXPECT_FALSE(sections.out.contains(QStringLiteral(".debug_info"))) << program.toStdString();
    }
}

// Errors and warnings both fail. A warning that has to stay would go into a
// lintian overrides file installed with the package, with its reason beside it.
TEST_P(DebianPackage, LintianFindsNoErrorsOrWarnings) {
    ASSERT_TRUE(onPath(QStringLiteral("lintian"))) << "lintian is missing: make deps";
    const RunResult r = run(QStringLiteral("lintian"),
                            {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), packagePath(package())});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    static const QRegularExpression finding(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption);
    EXPECT_FALSE(r.out.contains(finding)) << r.out.toStdString();
}

// What a program of the package loads, as `ldd` shows it.
QString librariesOf(const QString& program) {
    const RunResult r = run(QStringLiteral("ldd"), {program});
    EXPECT_EQ(r.code, 0) << program.toStdString() << ": " << r.err.toStdString();
    return r.out;
}

// The package names in a relation field: "libc6 (>= 2.34), libqt6core6 (>= 6.4)".
QStringList namesIn(const QString& relations) {
    QStringList names;
    for (const QString& alternative : relations.split(QRegularExpression(QStringLiteral("[,|]")), Qt::SkipEmptyParts))
        names << alternative.trimmed().section(u' ', 0, 0);
    return names;
}

// dpkg-shlibdeps read the libraries off each package's programs, with the
// versions they need; neither the window nor the flasher needs the other to
// run, and neither needs the simulated chip's gpsim.
TEST_P(ProgramPackage, DependsOnWhatItsProgramsLink) {
    const QString depends = field(package(), QStringLiteral("Depends"));
    QStringList needed{"libc6 (>=", "libstdc++6 (>="};
    if (package() == kPicsim)
        needed << "gpsim"
               << "vantrel-firmware (= " + kVersion + ")";
    else
        needed << "libqt6core6 (>="
               << "libqt6serialport6 (>=";
    if (package() == kWindow)
        needed << "libqt6gui6 (>="
               << "libqt6widgets6 (>=";
    for (const QString& library : needed)
        EXPECT_TRUE(depends.contains(library)) << library.toStdString() << " not in " << depends.toStdString();
    const QStringList names = namesIn(depends);
    EXPECT_FALSE(names.contains(kWindow) || names.contains(kFlasher)) << depends.toStdString();
    // Every library a program loads is found on this machine.
    for (const QString& program : QDir(rootOf(package()) + QStringLiteral("/usr/bin")).entryList(QDir::Files))
        EXPECT_FALSE(librariesOf(rootOf(package()) + QStringLiteral("/usr/bin/") + program)
                         .contains(QStringLiteral("not found")))
            << program.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Packages, DebianPackage, ::testing::Values(kWindow, kFlasher, kFirmware, kPicsim),
                         [](const auto& info) { return QString(info.param).remove(u'-').toStdString(); });
INSTANTIATE_TEST_SUITE_P(Packages, ProgramPackage, ::testing::Values(kWindow, kFlasher, kPicsim),
                         [](const auto& info) { return QString(info.param).remove(u'-').toStdString(); });

// The bootloader's HEX files are for any machine and need nothing to lie there.
TEST(FirmwarePackage, IsForEveryArchitectureAndDependsOnNothing) {
    EXPECT_EQ(field(kFirmware, QStringLiteral("Architecture")), QStringLiteral("all"));
    EXPECT_EQ(field(kFirmware, QStringLiteral("Depends")), QString());
}

// gpsim depends on GTK 2: only the simulated chip's package may bring it.
TEST(FlasherPackage, DoesNotBringGpsim) {
    for (const QString& package : {kWindow, kFlasher})
        EXPECT_FALSE(namesIn(field(package, QStringLiteral("Depends"))).contains(QStringLiteral("gpsim")))
            << package.toStdString();
}

// A production server installs the flasher alone: it must bring no GUI stack.
TEST(FlasherPackage, DependsOnNoGuiLibrary) {
    ASSERT_TRUE(QFileInfo::exists(packagePath(kFlasher)));
    const QString depends = field(kFlasher, QStringLiteral("Depends"));
    ASSERT_FALSE(depends.isEmpty());
    for (const char* gui : {"libqt6widgets6", "libqt6gui6"})
        EXPECT_FALSE(depends.contains(QLatin1String(gui))) << gui << " in " << depends.toStdString();
}

TEST(FlasherPackage, ProgramsLoadNoGuiLibrary) {
    ASSERT_TRUE(QFileInfo::exists(packagePath(kFlasher)));
    QTemporaryDir unpacked;
    ASSERT_TRUE(unpacked.isValid());
    ASSERT_EQ(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), packagePath(kFlasher), unpacked.path()}).code, 0);
    for (const char* program : {"vantrel-flash", "vantrel-boardsim"}) {
        const QString libraries = librariesOf(unpacked.path() + QStringLiteral("/usr/bin/") + QLatin1String(program));
        ASSERT_TRUE(libraries.contains(QStringLiteral("libc.so"))) << program << ": " << libraries.toStdString();
        for (const QString& line : libraries.split(u'\n')) {
            for (const char* gui : {"libQt6Widgets", "libQt6Gui"})
                EXPECT_FALSE(line.contains(QLatin1String(gui))) << program << " loads " << line.trimmed().toStdString();
        }
    }
}

// vantrel-flash takes over files the single package vantrel held up to 4.1:
// it replaces that package and breaks it, so dpkg moves the files over on an
// upgrade. The window's package of this version is outside the bound, so both
// install side by side.
TEST(FlasherPackage, TakesOverTheFilesOfTheSinglePackage) {
    ASSERT_TRUE(QFileInfo::exists(packagePath(kFlasher)));
    const QString relation = kWindow + QStringLiteral(" (<< ") + kSplitVersion + u')';
    EXPECT_EQ(field(kFlasher, QStringLiteral("Breaks")), relation);
    EXPECT_EQ(field(kFlasher, QStringLiteral("Replaces")), relation);
    EXPECT_TRUE(versionsCompare(kLastSinglePackage, QStringLiteral("lt"), kSplitVersion));
    EXPECT_FALSE(versionsCompare(field(kWindow, QStringLiteral("Version")), QStringLiteral("lt"), kSplitVersion));
    // The window's package takes over nothing and breaks nothing.
    EXPECT_TRUE(field(kWindow, QStringLiteral("Breaks")).isEmpty());
    EXPECT_TRUE(field(kWindow, QStringLiteral("Replaces")).isEmpty());
}

// Whoever upgrades vantrel from 4.1 keeps the flasher: apt installs what a
// package recommends.
TEST(WindowPackage, RecommendsTheFlasher) {
    ASSERT_TRUE(QFileInfo::exists(packagePath(kWindow)));
    EXPECT_EQ(field(kWindow, QStringLiteral("Recommends")), kFlasher);
}

}  // namespace
}  // namespace vantrel::testing
