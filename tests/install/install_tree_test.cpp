// The install tree in scratch DESTDIRs (prefix /usr), one per package and one
// of the whole install: what is there, and that each piece works where the
// desktop and the shell look for it.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include "app/startup.h"
#include "flasher/exit_codes.h"
#include "install_support.h"
#include "qt_printers.h"

namespace vantrel::testing {
namespace {

const QString kStage = QStringLiteral(VANTREL_STAGE);
const QString kAppId = QStringLiteral(VANTREL_APP_ID);
const QString kVersion = QStringLiteral(VANTREL_PROJECT_VERSION);
const QList<int> kIconSizes{16, 22, 24, 32, 48, 64, 128, 256};
// The two packages, each staged alone from its install component, and the
// whole install.
const QString kWindow = QStringLiteral("vantrel");
const QString kFlasher = QStringLiteral("vantrel-flash");
const QString kFirmware = QStringLiteral("vantrel-firmware");
const QString kPicsim = QStringLiteral("vantrel-picsim");
const QStringList kPackages{kWindow, kFlasher, kFirmware, kPicsim};
const QString kAll = QStringLiteral("all");

QString rootOf(const QString& package) {
    return kStage + u'/' + package;
}
QString usrOf(const QString& package) {
    return rootOf(package) + QStringLiteral("/usr");
}

struct Command {
    const char* name;
    const char* package;
};
const Command kCommands[] = {
    {"vantrel", "vantrel"},
    {"vantrel-flash", "vantrel-flash"},
    {"vantrel-boardsim", "vantrel-flash"},
    {"vantrel-picsim", "vantrel-picsim"},
};

QString packageOf(const QString& command) {
    for (const Command& c : kCommands)
        if (command == QLatin1String(c.name)) return QString::fromLatin1(c.package);
    ADD_FAILURE() << "no package holds " << command.toStdString();
    return kAll;
}

// The installed commands run without a display and without the build tree.
QProcessEnvironment commandEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

QString programOf(const QString& command) {
    return usrOf(packageOf(command)) + QStringLiteral("/bin/") + command;
}

QString manPagePath(const QString& command) {
    return usrOf(packageOf(command)) + QStringLiteral("/share/man/man1/") + command + QStringLiteral(".1.gz");
}

QString manPage(const QString& command) {
    return gunzip(manPagePath(command));
}

QString helpOf(const QString& command) {
    const RunResult r = run(programOf(command), {QStringLiteral("--help")}, commandEnvironment());
    EXPECT_TRUE(r.normalExit && r.code == 0) << command.toStdString() << ": " << r.err.toStdString();
    return r.out;
}

// Every folder on the way to each file, and the files.
QStringList withFolders(const QStringList& files) {
    QSet<QString> entries;
    for (const QString& file : files) {
        entries.insert(file);
        for (qsizetype slash = file.indexOf(u'/'); slash >= 0; slash = file.indexOf(u'/', slash + 1))
            entries.insert(file.left(slash + 1));
    }
    QStringList sorted(entries.begin(), entries.end());
    sorted.sort();
    return sorted;
}

QStringList filesOf(const QString& package) {
    if (package == kWindow) {
        QStringList files{
            "usr/bin/vantrel",
            "usr/share/applications/" + kAppId + ".desktop",
            "usr/share/doc/vantrel/README.md",
            "usr/share/doc/vantrel/changelog.gz",
            "usr/share/doc/vantrel/copyright",
            "usr/share/icons/hicolor/scalable/apps/" + kAppId + ".svg",
            "usr/share/man/man1/vantrel.1.gz",
            "usr/share/metainfo/" + kAppId + ".metainfo.xml",
        };
        for (int size : kIconSizes)
            files << QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/").arg(size) + kAppId + ".png";
        return files;
    }
    if (package == kFirmware) {
        return {
            "usr/share/doc/vantrel-firmware/changelog.gz",
            "usr/share/doc/vantrel-firmware/copyright",
            "usr/share/doc/vantrel-firmware/firmware.md",
            "usr/share/vantrel-firmware/bootloader-18f452-19200.hex",
            "usr/share/vantrel-firmware/bootloader-18f452-9600.hex",
            "usr/share/vantrel-firmware/bootloader-18f452.hex",
            "usr/share/vantrel-firmware/bootloader-18f4550.hex",
            "usr/share/vantrel-firmware/example-app-18f452.hex",
        };
    }
    if (package == kPicsim) {
        return {
            "usr/bin/vantrel-picsim",
            "usr/share/doc/vantrel-picsim/changelog.gz",
            "usr/share/doc/vantrel-picsim/copyright",
            "usr/share/doc/vantrel-picsim/picsim.md",
            "usr/share/man/man1/vantrel-picsim.1.gz",
        };
    }
    return {
        "usr/bin/vantrel-boardsim",
        "usr/bin/vantrel-flash",
        "usr/share/bash-completion/completions/vantrel-flash",
        "usr/share/doc/vantrel-flash/README.md",
        "usr/share/doc/vantrel-flash/boardsim.md",
        "usr/share/doc/vantrel-flash/changelog.gz",
        "usr/share/doc/vantrel-flash/copyright",
        "usr/share/doc/vantrel-flash/examples/60-vantrel.rules",
        "usr/share/doc/vantrel-flash/flasher.md",
        "usr/share/man/man1/vantrel-boardsim.1.gz",
        "usr/share/man/man1/vantrel-flash.1.gz",
    };
}

class PackageTree : public ::testing::TestWithParam<QString> {};

// Each package holds its own programs, manual pages and documentation folder
// with its copyright and changelog, as Debian wants of every package.
TEST_P(PackageTree, HoldsExactlyWhatIsDelivered) {
    EXPECT_EQ(treeOf(rootOf(GetParam())).join(u'\n').toStdString(),
              withFolders(filesOf(GetParam())).join(u'\n').toStdString());
}

INSTANTIATE_TEST_SUITE_P(Packages, PackageTree, ::testing::ValuesIn(kPackages),
                         [](const auto& info) { return QString(info.param).remove(u'-').toStdString(); });

// Every install rule names its package: the four together are the whole
// install, and no file is in two of them (dpkg would refuse the second).
TEST(InstallTree, IsTheFourPackagesTogether) {
    QStringList together;
    QMap<QString, QString> owner;
    for (const QString& package : kPackages) {
        for (const QString& entry : treeOf(rootOf(package))) {
            together << entry;
            if (entry.endsWith(u'/')) continue;
            EXPECT_FALSE(owner.contains(entry)) << entry.toStdString() << " is in " << owner.value(entry).toStdString()
                                                << " and " << package.toStdString();
            owner.insert(entry, package);
        }
    }
    together.removeDuplicates();
    together.sort();
    EXPECT_EQ(treeOf(rootOf(kAll)).join(u'\n').toStdString(), together.join(u'\n').toStdString());
}

// Manual pages name files of the packages by their installed paths; each must
// be there once both are installed.
TEST(InstallTree, FilesNamedByTheManualPagesAreInstalled) {
    static const QRegularExpression path(QStringLiteral("/usr/share/doc/[^\\s]+"));
    static const QRegularExpression font(QStringLiteral("\\\\f[BIRP]"));
    int named = 0;
    for (const Command& c : kCommands) {
        QString roff = manPage(QString::fromLatin1(c.name));
        roff.remove(font).replace(QStringLiteral("\\-"), QStringLiteral("-"));
        for (const auto& m : path.globalMatch(roff)) {
            QString file = m.captured();
            while (file.endsWith(u'.') || file.endsWith(u',')) file.chop(1);
            ++named;
            EXPECT_TRUE(QFileInfo::exists(rootOf(kAll) + file)) << c.name << " names " << file.toStdString();
        }
    }
    EXPECT_GT(named, 0) << "no documentation path read from the manual pages";
}

TEST(InstallTree, ProgramsAreExecutableAndDataIsNot) {
    for (const QString& entry : treeOf(rootOf(kAll))) {
        if (entry.endsWith(u'/')) continue;
        const bool executable = QFileInfo(rootOf(kAll) + u'/' + entry).isExecutable();
        EXPECT_EQ(executable, entry.startsWith(QStringLiteral("usr/bin/"))) << entry.toStdString();
    }
}

// Each command from its own package alone.
class InstalledCommand : public ::testing::TestWithParam<Command> {
  protected:
    static QString command() { return QString::fromLatin1(GetParam().name); }
};

TEST_P(InstalledCommand, ReportsTheProjectVersion) {
    const RunResult r = run(programOf(command()), {QStringLiteral("--version")}, commandEnvironment());
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(r.normalExit);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.toStdString(), (command() + u' ' + kVersion + u'\n').toStdString());
}

// Scripts and users read the manual page; the program answers to --help.
TEST_P(InstalledCommand, ManualPageListsTheOptionsOfHelp) {
    const QString roff = manPage(command());
    ASSERT_FALSE(roff.isEmpty());
    const OptionTable documented = optionsOfManPage(roff);
    const OptionTable accepted = optionsOfHelp(helpOf(command()));
    ASSERT_GE(accepted.size(), 2u) << "no options read from --help";
    for (const auto& [name, value] : accepted) {
        const auto found = documented.find(name);
        if (found == documented.end()) {
            ADD_FAILURE() << name.toStdString() << " is in --help, not in the manual page";
            continue;
        }
        EXPECT_EQ(found->second, value) << name.toStdString() << (value ? " takes" : " takes no") << " value";
    }
    for (const auto& [name, value] : documented)
        EXPECT_TRUE(accepted.count(name)) << name.toStdString() << " is in the manual page, not in --help";
}

TEST_P(InstalledCommand, ManualPageIsCleanForMandoc) {
    ASSERT_TRUE(onPath(QStringLiteral("mandoc"))) << "mandoc is missing: make deps";
    const QString page = manPagePath(command());
    const RunResult r = run(QStringLiteral("mandoc"), {QStringLiteral("-T"), QStringLiteral("lint"), page});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty() && r.err.isEmpty()) << r.out.toStdString() << r.err.toStdString();
    // The version and date are filled in, not left as placeholders.
    const QString roff = manPage(command());
    EXPECT_FALSE(roff.contains(u'@'));
    EXPECT_TRUE(roff.contains(QStringLiteral("\"Vantrel ") + kVersion + u'"'));
}

INSTANTIATE_TEST_SUITE_P(Commands, InstalledCommand, ::testing::ValuesIn(kCommands), [](const auto& info) {
    return QString::fromLatin1(info.param.name).remove(u'-').toStdString();
});

TEST(ManualPages, ExitStatusesAreThoseOfThePrograms) {
    std::set<int> flasher;
    for (flasher::ExitCode code : flasher::kAllExitCodes) flasher.insert(flasher::toInt(code));
    EXPECT_EQ(exitStatusesOfManPage(manPage(QStringLiteral("vantrel-flash"))), flasher);
    EXPECT_EQ(exitStatusesOfManPage(manPage(QStringLiteral("vantrel"))), (std::set<int>{0, app::kExitNoDisplay}));
}

TEST(Icons, EachPngHasTheSizeOfItsFolderAndShowsTheChip) {
    for (int size : kIconSizes) {
        const QString path =
            usrOf(kWindow) + QStringLiteral("/share/icons/hicolor/%1x%1/apps/").arg(size) + kAppId + ".png";
        const QImage image(path);
        ASSERT_FALSE(image.isNull()) << path.toStdString();
        EXPECT_EQ(image.size(), QSize(size, size)) << path.toStdString();
        EXPECT_TRUE(image.hasAlphaChannel());
        // On the 24 grid: transparent in the corner, the chip's dark body
        // beside the arrow, the green arrow's shaft in the middle.
        auto at = [size, &image](double x, double y) {
            return image.pixelColor(int(x * size / 24), int(y * size / 24));
        };
        EXPECT_EQ(at(0, 0).alpha(), 0) << size;
        EXPECT_EQ(at(6, 20).alpha(), 255) << size;
        EXPECT_LT(at(6, 20).lightness(), 64) << size;
        EXPECT_GT(at(12, 8).green(), 200) << size;
        EXPECT_LT(at(12, 8).red(), 64) << size;
    }
}

TEST(Icons, SvgIsWellFormedOnTheIconGrid) {
    QFile file(usrOf(kWindow) + QStringLiteral("/share/icons/hicolor/scalable/apps/") + kAppId + ".svg");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int shapes = 0;
    QString viewBox;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("svg")) viewBox = xml.attributes().value(QStringLiteral("viewBox")).toString();
        if (xml.name() == QLatin1String("rect") || xml.name() == QLatin1String("polygon")) ++shapes;
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(viewBox, QStringLiteral("0 0 24 24"));
    EXPECT_GE(shapes, 2);
}

TEST(DesktopEntry, ValidatesAndStartsTheInstalledWindowWithItsIcon) {
    ASSERT_TRUE(onPath(QStringLiteral("desktop-file-validate"))) << "desktop-file-utils is missing: make deps";
    const QString entry = usrOf(kWindow) + QStringLiteral("/share/applications/") + kAppId + ".desktop";
    const RunResult r = run(QStringLiteral("desktop-file-validate"), {entry});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();

    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=vantrel\n")));
    EXPECT_TRUE(QFileInfo(usrOf(kWindow) + QStringLiteral("/bin/vantrel")).isExecutable());
    EXPECT_TRUE(text.contains(QStringLiteral("\nIcon=") + kAppId + u'\n'));
}

TEST(Metainfo, ValidatesAndNamesTheReleaseOfTheProject) {
    ASSERT_TRUE(onPath(QStringLiteral("appstreamcli"))) << "appstream is missing: make deps";
    const QString path = usrOf(kWindow) + QStringLiteral("/share/metainfo/") + kAppId + ".metainfo.xml";
    const RunResult r =
        run(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"), path});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList releases;
    QString launchable;
    bool screenshot = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("release"))
            releases << xml.attributes().value(QStringLiteral("version")).toString();
        if (xml.name() == QLatin1String("launchable")) launchable = xml.readElementText();
        if (xml.name() == QLatin1String("image"))
            screenshot = xml.readElementText().startsWith(QStringLiteral("https://"));
    }
    ASSERT_FALSE(releases.isEmpty());
    EXPECT_EQ(releases.first(), kVersion) << "the newest release comes first";
    EXPECT_EQ(launchable, kAppId + ".desktop");
    EXPECT_TRUE(screenshot);
}

// Completion runs in the user's shell: bash with the installed script sourced.
RunResult complete(const QStringList& words, const QProcessEnvironment& env = commandEnvironment()) {
    QString script = QStringLiteral(
        "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
        "_vantrel_flash; printf '%s\\n' \"${COMPREPLY[@]}\"");
    QStringList arguments{QStringLiteral("-c"), script, QStringLiteral("bash"),
                          usrOf(kFlasher) + QStringLiteral("/share/bash-completion/completions/vantrel-flash")};
    return run(QStringLiteral("bash"), arguments + words, env);
}

QSet<QString> linesOf(const QString& text) {
    QSet<QString> lines;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) lines.insert(line);
    return lines;
}

TEST(BashCompletion, OffersTheLongOptionsOfHelp) {
    QSet<QString> expected;
    for (const auto& [name, value] : optionsOfHelp(helpOf(QStringLiteral("vantrel-flash"))))
        if (name.startsWith(QStringLiteral("--"))) expected.insert(name);
    const RunResult r = complete({usrOf(kFlasher) + QStringLiteral("/bin/vantrel-flash"), QStringLiteral("--")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(linesOf(r.out), expected);
}

TEST(BashCompletion, OffersTheSpeedsTheFlasherTakes) {
    const RunResult r = complete({QStringLiteral("vantrel-flash"), QStringLiteral("--speed"), QString()});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QSet<QString> speeds = linesOf(r.out);
    EXPECT_EQ(speeds, (QSet<QString>{"9600", "19200", "115200", "auto", "usb"}));
    // Each is one the flasher accepts: its usage check refuses a bad speed with code 2, before any port.
    for (const QString& speed : speeds) {
        const RunResult flash = run(usrOf(kFlasher) + QStringLiteral("/bin/vantrel-flash"),
                                    {QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--speed"), speed,
                                     QStringLiteral("--timeout"), QStringLiteral("bad")},
                                    commandEnvironment());
        EXPECT_FALSE(flash.err.contains(QStringLiteral("speed"))) << speed.toStdString() << flash.err.toStdString();
    }
}

TEST(BashCompletion, OffersThePortsOfList) {
    // An alias com7 in a configuration folder of the test's own.
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    ASSERT_TRUE(QDir().mkpath(config.path() + QStringLiteral("/vantrel/ports")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), config.path() + QStringLiteral("/vantrel/ports/com7")));
    QProcessEnvironment env = commandEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());

    const QString flasher = usrOf(kFlasher) + QStringLiteral("/bin/vantrel-flash");
    const RunResult r = complete({flasher, QStringLiteral("--port"), QStringLiteral("CO")}, env);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(linesOf(r.out).contains(QStringLiteral("COM7"))) << r.out.toStdString();
    for (const QString& port : linesOf(r.out)) EXPECT_TRUE(port.startsWith(QStringLiteral("CO"))) << port.toStdString();
}

}  // namespace
}  // namespace vantrel::testing
