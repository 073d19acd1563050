#include "app/startup.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace vantrel::app {
namespace {

struct DisplayCase {
    const char* name;
    const char* platform;
    const char* display;
    const char* wayland;
    bool usable;
};

class MissingDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(MissingDisplay, JudgesOnlyThePlatformsThatNeedADisplay) {
    const DisplayCase& c = GetParam();
    const QString why =
        missingDisplay(QString::fromUtf8(c.platform), QString::fromUtf8(c.display), QString::fromUtf8(c.wayland));
    EXPECT_EQ(why.isEmpty(), c.usable) << why.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Environments, MissingDisplay,
                         ::testing::Values(DisplayCase{"DefaultWithNothing", "", "", "", false},
                                           DisplayCase{"DefaultWithX11", "", ":0", "", true},
                                           DisplayCase{"DefaultWithWayland", "", "", "wayland-0", true},
                                           DisplayCase{"XcbWithoutDisplay", "xcb", "", "wayland-0", false},
                                           DisplayCase{"XcbWithDisplay", "xcb", ":0", "", true},
                                           DisplayCase{"XcbWithPluginOptions", "xcb:nomitshm", ":1", "", true},
                                           DisplayCase{"WaylandWithoutSocket", "wayland", ":0", "", false},
                                           DisplayCase{"WaylandEglWithSocket", "wayland-egl", "", "wayland-1", true},
                                           DisplayCase{"FallbackListFindsX11", "wayland;xcb", ":0", "", true},
                                           DisplayCase{"FallbackListFindsNothing", "wayland;xcb", "", "", false},
                                           DisplayCase{"OffscreenNeedsNone", "offscreen", "", "", true},
                                           DisplayCase{"VncNeedsNone", "vnc:size=800x600", "", "", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MissingDisplay, NamesEveryVariableThatWouldHaveHelped) {
    const QString why = missingDisplay(QStringLiteral("wayland;xcb"), QString(), QString());
    EXPECT_TRUE(why.contains(QStringLiteral("WAYLAND_DISPLAY and DISPLAY are not set"))) << why.toStdString();
}

TEST(RequestedPlatform, TheCommandLineOverridesTheEnvironment) {
    EXPECT_EQ(requestedPlatform({QStringLiteral("vantrel")}, QStringLiteral("xcb")), QStringLiteral("xcb"));
    EXPECT_EQ(requestedPlatform({QStringLiteral("vantrel"), QStringLiteral("-platform"), QStringLiteral("offscreen")},
                                QStringLiteral("xcb")),
              QStringLiteral("offscreen"));
    EXPECT_EQ(requestedPlatform({QStringLiteral("vantrel"), QStringLiteral("--platform"), QStringLiteral("vnc")}, {}),
              QStringLiteral("vnc"));
    // A trailing -platform without a name is Qt's error to report, not a platform.
    EXPECT_EQ(requestedPlatform({QStringLiteral("vantrel"), QStringLiteral("-platform")}, QStringLiteral("xcb")),
              QStringLiteral("xcb"));
}

struct ArgumentsCase {
    const char* name;
    std::vector<const char*> arguments;
    bool strict;
    CommandLine::Kind kind;
    const char* ignored;  // what a run names as ignored; "" for nothing
};

class WindowCommandLine : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(WindowCommandLine, TakesHelpAndVersionAndNamesTheRestAsIgnored) {
    QStringList arguments{QStringLiteral("vantrel")};
    for (const char* a : GetParam().arguments) arguments << QString::fromUtf8(a);
    const CommandLine command = parseCommandLine(arguments, GetParam().strict);
    EXPECT_EQ(command.kind, GetParam().kind) << command.text.toStdString();
    if (command.kind != CommandLine::Kind::Run) return;
    if (*GetParam().ignored == '\0') {
        EXPECT_TRUE(command.text.isEmpty()) << command.text.toStdString();
    } else {
        EXPECT_TRUE(command.text.startsWith(QStringLiteral("ignoring ") + QString::fromUtf8(GetParam().ignored)))
            << command.text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, WindowCommandLine,
    ::testing::Values(
        ArgumentsCase{"Nothing", {}, true, CommandLine::Kind::Run, ""},
        ArgumentsCase{"Help", {"--help"}, false, CommandLine::Kind::Help, ""},
        ArgumentsCase{"ShortHelp", {"-h"}, true, CommandLine::Kind::Help, ""},
        ArgumentsCase{"Version", {"--version"}, false, CommandLine::Kind::Version, ""},
        // Before QApplication takes them out, Qt's own options must not count as ignored.
        ArgumentsCase{"QtOptionsBeforeTheApplication",
                      {"-platform", "offscreen", "-style", "fusion"},
                      false,
                      CommandLine::Kind::Run,
                      ""},
        ArgumentsCase{"HelpAmongQtOptions", {"-style", "fusion", "--help"}, false, CommandLine::Kind::Help, ""},
        ArgumentsCase{"UnknownOption", {"--port", "COM3"}, true, CommandLine::Kind::Run, "--port COM3"},
        ArgumentsCase{"ShortUnknownOption", {"-x"}, true, CommandLine::Kind::Run, "-x"},
        ArgumentsCase{"AFile", {"firmware.hex"}, true, CommandLine::Kind::Run, "firmware.hex"},
        ArgumentsCase{"HelpWinsOverTheRest", {"firmware.hex", "--help"}, true, CommandLine::Kind::Help, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Started from a file manager with a file, or with an option it does not
// know, the window program says what it passes over and opens its window.
TEST(WindowProgram, AnUnknownArgumentIsNamedAndTheWindowStillOpens) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess vantrel;
    vantrel.setProcessEnvironment(env);
    vantrel.start(QStringLiteral(VANTREL_PATH), {QStringLiteral("--frobnicate"), QStringLiteral("blink.hex")});
    ASSERT_TRUE(vantrel.waitForStarted(30000));
    // Qt may have its own say on stderr first (a missing runtime folder).
    const QString expected =
        QStringLiteral("vantrel: ignoring --frobnicate blink.hex: every choice is made in the window\n");
    QString err;
    for (int i = 0; i < 300 && !err.contains(expected) && vantrel.state() == QProcess::Running; ++i) {
        vantrel.waitForReadyRead(100);
        err += QString::fromLocal8Bit(vantrel.readAllStandardError());
    }
    EXPECT_TRUE(err.contains(expected)) << err.toStdString();
    // Still running with its window: no usage exit.
    EXPECT_FALSE(vantrel.waitForFinished(1500)) << "exit code " << vantrel.exitCode();
    vantrel.kill();
    vantrel.waitForFinished(10000);
}

// The real program started as a user would start it where no window can be
// shown: one line that says why and points to the flasher, a plain exit
// status, no abort (an abort is what leaves a core dump).
struct HeadlessCase {
    const char* name;
    const char* platform;  // "" leaves QT_QPA_PLATFORM unset
    const char* display;
    const char* wayland;
};

class Headless : public ::testing::TestWithParam<HeadlessCase> {};

TEST_P(Headless, SaysWhyInOneLineAndExitsWithoutAbort) {
    const HeadlessCase& c = GetParam();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
        env.remove(QString::fromLatin1(name));
    if (*c.platform != '\0') env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromUtf8(c.platform));
    if (*c.display != '\0') env.insert(QStringLiteral("DISPLAY"), QString::fromUtf8(c.display));
    if (*c.wayland != '\0') env.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromUtf8(c.wayland));

    QProcess vantrel;
    vantrel.setProcessEnvironment(env);
    vantrel.start(QStringLiteral(VANTREL_PATH), QStringList());
    ASSERT_TRUE(vantrel.waitForFinished(30000));

    EXPECT_EQ(vantrel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vantrel.exitCode(), kExitNoDisplay);
    const QString err = QString::fromLocal8Bit(vantrel.readAllStandardError());
    ASSERT_TRUE(err.endsWith(u'\n')) << err.toStdString();
    EXPECT_EQ(err.count(u'\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.startsWith(QStringLiteral("vantrel: cannot show the window: "))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("vantrel-flash works without a display"))) << err.toStdString();
    EXPECT_TRUE(vantrel.readAllStandardOutput().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Environments, Headless,
                         ::testing::Values(HeadlessCase{"NoDisplayAtAll", "", "", ""},
                                           HeadlessCase{"XcbAskedWithoutDisplay", "xcb", "", ""},
                                           // Qt itself finds out here, and would abort.
                                           HeadlessCase{"DisplayThatIsNotThere", "", ":254", ""},
                                           HeadlessCase{"WaylandThatIsNotThere", "wayland", "", "vantrel-none"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Headless, HelpAndVersionNeedNoDisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(QString::fromLatin1(name));
    for (const char* option : {"--help", "--version"}) {
        QProcess vantrel;
        vantrel.setProcessEnvironment(env);
        vantrel.start(QStringLiteral(VANTREL_PATH), {QString::fromLatin1(option)});
        ASSERT_TRUE(vantrel.waitForFinished(30000));
        EXPECT_EQ(vantrel.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(vantrel.exitCode(), 0) << option;
        EXPECT_FALSE(vantrel.readAllStandardOutput().isEmpty()) << option;
    }
}

}  // namespace
}  // namespace vantrel::app
