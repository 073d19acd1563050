#include "flasher/flash_job.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QTest>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "flasher/options.h"
#include "hex_commands.h"
#include "scripted_board.h"
#include "window/frm_serial.h"

namespace vantrel::testing {
namespace {

using flasher::Console;
using flasher::ExitCode;
using flasher::FlashJob;

QString blinkPath() {
    return QStringLiteral(VANTREL_EXAMPLES_DIR "/blink.hex");
}

// One job on a scripted board, with what it printed.
struct JobRun {
    QString err;
    QString out;
    std::unique_ptr<Console> console;
    ScriptedBoard* board = nullptr;
    FakeSleeper* sleeper = nullptr;
    std::unique_ptr<FlashJob> job;

    // `arguments` follow "vantrel-flash --port COM3"; "@blink" stands for the example file.
    JobRun(std::vector<QString> arguments, const std::function<void(ScriptedBoard&)>& script = {}) {
        QStringList args{QStringLiteral("vantrel-flash"), QStringLiteral("--port"), QStringLiteral("COM3")};
        for (QString& a : arguments) args << (a == u"@blink" ? blinkPath() : a);
        const flasher::CommandLine command = flasher::parseCommandLine(args);
        EXPECT_EQ(command.kind, flasher::CommandLine::Kind::Run) << command.text.toStdString();
        console = std::make_unique<Console>(
            Console::Style::Plain, command.options.quiet, [this](const QString& t) { err += t; },
            [this](const QString& t) { out += t; });

        auto boardPart = std::make_unique<ScriptedBoard>();
        auto sleeperPart = std::make_unique<FakeSleeper>();
        board = boardPart.get();
        sleeper = sleeperPart.get();
        if (command.options.modbus && !command.options.modbusSearch)
            board->modbusAddress = static_cast<char>(command.options.modbusAddress);
        if (script) script(*board);

        FlashJob::Setup setup;
        setup.options = command.options;
        setup.portBoxText = QStringLiteral("COM3");
        setup.portLabel = QStringLiteral("COM3");
        setup.port = std::move(boardPart);
        setup.sleeper = std::move(sleeperPart);
        job = std::make_unique<FlashJob>(std::move(setup), *console);
    }

    // Runs the job to its end; false when it never ends.
    bool run() {
        bool signalled = false;
        QObject::connect(job.get(), &FlashJob::finished, [&signalled] { signalled = true; });
        job->start();
        return QTest::qWaitFor([&] { return signalled; }, 60000);
    }
};

// Reply overrides.
ScriptedBoard::Reply silentFromRecord(int record) {
    return [record](const ScriptedBoard::Command& c, const QByteArray& usual) -> std::optional<QByteArray> {
        if (c.record >= record) return std::nullopt;
        return usual;
    };
}
ScriptedBoard::Reply answerRecord(int record, QByteArray answer) {
    return [record, answer](const ScriptedBoard::Command& c, const QByteArray& usual) -> std::optional<QByteArray> {
        return c.record == record ? answer : usual;
    };
}

struct OutcomeCase {
    const char* name;
    std::vector<QString> arguments;
    std::function<void(ScriptedBoard&)> script;
    ExitCode code;
    std::vector<const char*> messageHas;
    int writesAfterProbe;  // commands after the version queries; -1: not checked
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.name;
}

class JobOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(JobOutcome, EndsWithItsCodeAndSaysWhy) {
    const OutcomeCase& c = GetParam();
    JobRun r(c.arguments, c.script);
    ASSERT_TRUE(r.run()) << "the job never ended; it printed:\n" << r.err.toStdString();

    EXPECT_EQ(r.job->exitCode(), c.code) << r.err.toStdString();
    for (const char* part : c.messageHas)
        EXPECT_TRUE(r.job->exitMessage().contains(QLatin1String(part)))
            << "missing \"" << part << "\" in: " << r.job->exitMessage().toStdString();
    if (c.writesAfterProbe >= 0) {
        // One write per answered command: the flasher never sends a line again by itself.
        EXPECT_EQ(r.board->afterProbe().size(), c.writesAfterProbe);
    }
    // The port is closed at the end, whatever the outcome.
    EXPECT_FALSE(r.board->portOpen());
}

const QString kFile = QStringLiteral("@blink");
const QString kTimeout = QStringLiteral("--timeout");

INSTANTIATE_TEST_SUITE_P(
    FlashJob, JobOutcome,
    ::testing::Values(
        OutcomeCase{"DownloadAndVerify", {kFile}, {}, ExitCode::Success, {"END", "blink.hex", "12 lines"}, 24},
        OutcomeCase{"VerifyOnly", {"--verify-only", kFile}, {}, ExitCode::Success, {"END"}, 12},
        OutcomeCase{"ErrorInTheVerifyPass",
                    {kFile},
                    [](ScriptedBoard& b) { b.reply = answerRecord(15, "ERROR\r\n"); },
                    ExitCode::BoardError,
                    {"ERROR", "verify line 3 of 12"},
                    15},
        OutcomeCase{"FormatRefusesARecord",
                    {kFile},
                    [](ScriptedBoard& b) { b.reply = answerRecord(2, "FORMAT\r\n"); },
                    ExitCode::BoardFormat,
                    {"FORMAT", "download line 2 of 12"},
                    2},
        OutcomeCase{"FormatRefusesTheFirstLine",
                    {kFile},
                    [](ScriptedBoard& b) { b.reply = answerRecord(1, "FORMAT\r\n"); },
                    ExitCode::BoardFormat,
                    {"download line 1 of 12"},
                    1},
        OutcomeCase{"SilentInTheDownload",
                    {kTimeout, "0.5", kFile},
                    [](ScriptedBoard& b) { b.reply = silentFromRecord(5); },
                    ExitCode::NoReply,
                    {"no reply within 0.5 s to download line 5 of 12", "last answered: download line 4"},
                    5},
        OutcomeCase{"SilentAtTheFirstVerifyLine",
                    {kTimeout, "0.5", kFile},
                    [](ScriptedBoard& b) { b.reply = silentFromRecord(13); },
                    ExitCode::NoReply,
                    {"verify line 1 of 12", "last answered: download line 12"},
                    13},
        OutcomeCase{"SilentFromTheFirstLine",
                    {kTimeout, "0.5", kFile},
                    [](ScriptedBoard& b) { b.reply = silentFromRecord(1); },
                    ExitCode::NoReply,
                    {"download line 1 of 12", "no line was answered"},
                    1},
        OutcomeCase{"LineHangsUp",
                    {kFile},
                    [](ScriptedBoard& b) { b.vanishAfterRecord = 4; },
                    ExitCode::ConnectionLost,
                    {"COM3 went away"},
                    4},
        OutcomeCase{"PortMissing",
                    {kFile},
                    [](ScriptedBoard& b) {
                        b.openFailure =
                            Failure(failure::kPortInvalid, QStringLiteral("COM3 (/nowhere): no such device"));
                    },
                    ExitCode::PortNotOpened,
                    {"cannot open COM3", "no such device"},
                    0},
        OutcomeCase{"PortBusy",
                    {kFile},
                    [](ScriptedBoard& b) {
                        b.openFailure = Failure(failure::kPortBusy, QStringLiteral("COM3: in use by another program"));
                    },
                    ExitCode::PortNotOpened,
                    {"cannot open COM3", "in use"},
                    0},
        OutcomeCase{"FileMissing",
                    {QStringLiteral("/nonexistent/firmware.hex")},
                    {},
                    ExitCode::FileUnreadable,
                    {"/nonexistent/firmware.hex"},
                    0},
        OutcomeCase{
            "InstallAfterTheTransfer", {"--install", kFile}, {}, ExitCode::Success, {"installed", "VER=APP 1.0"}, 26},
        OutcomeCase{"InstalledApplicationSilent",
                    {kTimeout, "0.5", "--install"},
                    [](ScriptedBoard& b) {
                        b.reply = [](const ScriptedBoard::Command& c,
                                     const QByteArray& usual) -> std::optional<QByteArray> {
                            if (c.bytes == "VER\r\n") return std::nullopt;
                            return usual;
                        };
                    },
                    ExitCode::NoReply,
                    {"no reply within 0.5 s to VER"},
                    2},
        OutcomeCase{"QueryVersion", {"--query-version"}, {}, ExitCode::Success, {"version"}, -1},
        OutcomeCase{
            "SetAddress", {"--modbus", "5", "--set-address", "9"}, {}, ExitCode::Success, {"ADR=09", "address 9"}, 1},
        OutcomeCase{"SetAddressRefused",
                    {"--modbus", "5", "--set-address", "9"},
                    [](ScriptedBoard& b) {
                        b.reply = [](const ScriptedBoard::Command& c,
                                     const QByteArray& usual) -> std::optional<QByteArray> {
                            if (c.bytes.startsWith("BOOT$")) return QByteArray("FORMAT\r\n");
                            return usual;
                        };
                    },
                    ExitCode::BoardFormat,
                    {"BOOT$09"},
                    1}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

TEST(FlashJob, SendsTheWindowsCommandsForTheFileInBothPasses) {
    JobRun r({kFile});
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();

    const QList<QByteArray> lines = hexFileLines(blinkPath());
    ASSERT_EQ(lines.size(), 12);
    const QList<QByteArray> expected = downloadAndVerifyCommands(lines);
    EXPECT_EQ(r.board->writes.first(), QByteArray("BOOTi\r\n"));
    EXPECT_EQ(r.board->afterProbe(), expected);
}

TEST(FlashJob, ModbusFramesEveryCommandForTheBoardsAddress) {
    JobRun r({QStringLiteral("--modbus"), QStringLiteral("17"), kFile});
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    ASSERT_EQ(r.board->writes.size(), 25);
    for (const QByteArray& w : r.board->writes) {
        EXPECT_EQ(w.front(), char(17));
        EXPECT_EQ(crc16Modbus(w), 0) << w.toHex().toStdString();
    }
}

TEST(FlashJob, AddressSearchGoesOnWithTheAddressThatAnswered) {
    JobRun r({QStringLiteral("--modbus"), QStringLiteral("search"), kFile},
             [](ScriptedBoard& b) { b.modbusAddress = char(3); });
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    // Asks at 1, 2 and 3, then every line to 3.
    ASSERT_EQ(r.board->writes.size(), 3 + 24);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.board->writes[i].front(), char(i + 1));
    for (qsizetype i = 3; i < r.board->writes.size(); ++i) EXPECT_EQ(r.board->writes[i].front(), char(3));
    EXPECT_TRUE(r.err.contains(QStringLiteral("board found at Modbus address 3"))) << r.err.toStdString();
}

TEST(FlashJob, TheBoundCountsFromTheLastWriteNotFromTheStart) {
    // Every reply takes eight receive ticks (160 ms or more); twelve of them
    // take longer than the whole bound, none of them alone comes close.
    JobRun r({kTimeout, QStringLiteral("1"), QStringLiteral("--verify-only"), kFile},
             [](ScriptedBoard& b) { b.replyAfterPolls = 8; });
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::Success) << r.job->exitMessage().toStdString();
    EXPECT_EQ(r.board->afterProbe().size(), 12);
}

TEST(FlashJob, WaitsForTheVersionReplyBeforeTheFirstLine) {
    // The board stays silent to the first two version queries.
    int asks = 0;
    JobRun r({kFile}, [&asks](ScriptedBoard& b) {
        b.reply = [&asks](const ScriptedBoard::Command& c, const QByteArray& usual) -> std::optional<QByteArray> {
            if (c.bytes == "BOOTi\r\n" && ++asks <= 2) return std::nullopt;
            return usual;
        };
    });
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    ASSERT_GE(r.board->writes.size(), 3);
    EXPECT_EQ(r.board->writes.mid(0, 3), (QList<QByteArray>{"BOOTi\r\n", "BOOTi\r\n", "BOOTi\r\n"}));
    EXPECT_EQ(r.board->afterProbe().size(), 24);
}

TEST(FlashJob, FileIsReadBeforeThePortIsTouched) {
    JobRun r({QStringLiteral("/nonexistent/firmware.hex")});
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::FileUnreadable);
    EXPECT_EQ(r.board->openAttempts, 0);
}

TEST(FlashJob, InstallPausesASecondBetweenItsCommandsAsTheWindowDoes) {
    JobRun r({QStringLiteral("--install")});
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_EQ(r.sleeper->pauses, QList<int>{1000});
    EXPECT_EQ(r.board->afterProbe(), (QList<QByteArray>{"BOOTg\r\n", "VER\r\n"}));
}

TEST(FlashJob, VersionGoesToStandardOutput) {
    JobRun r({QStringLiteral("--query-version"), QStringLiteral("--quiet")});
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::Success);
    EXPECT_EQ(r.out, QStringLiteral("VER=4.01\n"));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    // The probe's question, then the window's "?".
    EXPECT_EQ(r.board->writes, (QList<QByteArray>{"BOOTi\r\n", "BOOTi\r\n"}));
}

TEST(FlashJob, WindowMessagesArePassedOnToStandardError) {
    JobRun r({kFile}, [](ScriptedBoard& b) {
        b.openFailure = Failure(failure::kPortInvalid, QStringLiteral("COM3 (/nowhere): no such device"));
    });
    ASSERT_TRUE(r.run());
    EXPECT_TRUE(r.err.contains(QStringLiteral("COM3 Not available!"))) << r.err.toStdString();
}

}  // namespace
}  // namespace vantrel::testing
