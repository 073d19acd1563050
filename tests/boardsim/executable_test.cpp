// The real boardsim executable on a real pty, driven the way the loader does.

#include <filesystem>
#include <ostream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "board_sim.h"
#include "boardsim/crc16.h"
#include "boardsim/framing.h"
#include "boardsim/log_line.h"
#include "hex_commands.h"
#include "pseudo_terminal.h"

namespace {

using namespace std::chrono_literals;
using vantrel::testing::BoardSim;
using vantrel::testing::downloadCommand;
using vantrel::testing::hexFileLines;
using vantrel::testing::ptyAvailable;
using vantrel::testing::PtyClient;
using vantrel::testing::verifyCommand;
using Clock = std::chrono::steady_clock;

constexpr auto kReplyTimeout = 10s;

class LiveBoard : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!ptyAvailable(why)) GTEST_SKIP() << why;
        std::string pattern = std::filesystem::temp_directory_path().string() + "/boardsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        portsDir = dir + "/vantrel/ports";
    }

    void TearDown() override {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }

    std::string dir;
    std::string portsDir;
};

std::string readLink(const std::string& path) {
    std::error_code error;
    return std::filesystem::read_symlink(path, error).string();
}

bool exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// A Modbus reply is complete once its CRC holds.
std::string readFrame(PtyClient& client) {
    return client.readUntil(
        [](const std::string& s) { return s.size() >= 4 && vantrel::boardsim::crc16Modbus(s) == 0; }, kReplyTimeout);
}

std::string modbusReply(int address, std::string_view text) {
    return vantrel::boardsim::buildFrame(static_cast<std::uint8_t>(address), "B" + std::string(text));
}

TEST_F(LiveBoard, PlainSessionFromVersionToApplication) {
    BoardSim sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    PtyClient client;
    ASSERT_TRUE(client.open(sim.ptyPath())) << sim.ptyPath();

    client.send("BOOTi\r\n");
    EXPECT_EQ(client.readLine(), "VER=4.01\r\n");
    const QList<QByteArray> lines = hexFileLines(QStringLiteral(VANTREL_EXAMPLES_DIR "/blink.hex"));
    ASSERT_FALSE(lines.empty());
    for (const bool verify : {false, true}) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const std::string command = (verify ? verifyCommand(lines[i]) : downloadCommand(lines[i])).toStdString();
            client.send(command);
            ASSERT_EQ(client.readLine(), i + 1 == lines.size() ? "DOWNLOAD\r\n" : "OK\r\n") << command;
        }
    }
    client.send("BOOTg\r\n");
    client.send("VER\r\n");
    EXPECT_EQ(client.readLine(), "VER=APP 1.0\r\n");

    const std::size_t commands = 3 + 2 * static_cast<std::size_t>(lines.size());
    ASSERT_TRUE(sim.waitForLog(
        [commands](const BoardSim::Log& log) {
            std::size_t received = 0;
            for (const auto& entry : log) received += entry.direction == "RX";
            return received == commands;
        },
        kReplyTimeout));
    const auto log = sim.log();
    std::size_t sent = 0;
    for (const auto& entry : log) {
        if (entry.direction == "TX") ++sent;
        if (entry.direction == "RX" || entry.direction == "TX") {
            EXPECT_FALSE(entry.address);
        }
    }
    EXPECT_EQ(sent, commands - 1);  // BOOTg has no reply
}

TEST_F(LiveBoard, ModbusBoardsShareOnePty) {
    BoardSim sim({"--modbus", "3,7,9"});
    ASSERT_TRUE(sim.start()) << sim.error();
    PtyClient client;
    ASSERT_TRUE(client.open(sim.ptyPath()));

    // A frame for nobody, then one for board 7, in one write: only 7 answers.
    client.send(vantrel::boardsim::buildFrame(5, "BOOTi\r\n") + vantrel::boardsim::buildFrame(7, "BOOTi\r\n"));
    EXPECT_EQ(readFrame(client), modbusReply(7, "VER=4.01\r\n"));

    // A frame with a broken CRC stays unanswered; board 9 still answers after it.
    std::string broken = vantrel::boardsim::buildFrame(3, "BOOTi\r\n");
    broken.back() = static_cast<char>(broken.back() ^ 0x10);
    client.send(broken);
    client.send(vantrel::boardsim::buildFrame(9, "BOOT:00000001FF\r\n"));
    EXPECT_EQ(readFrame(client), modbusReply(9, "DOWNLOAD\r\n"));

    ASSERT_TRUE(sim.waitForLog(
        [](const BoardSim::Log& log) {
            std::vector<std::string> ignored;
            for (const auto& entry : log) {
                if (entry.direction == "IG") ignored.push_back(entry.text);
            }
            return ignored == std::vector<std::string>{"other-address", "bad-frame"};
        },
        kReplyTimeout));
}

TEST_F(LiveBoard, AliasPointsAtThePtyAndGoesOnExit) {
    BoardSim sim;
    sim.setAlias(portsDir, 3);
    ASSERT_TRUE(sim.start()) << sim.error();
    EXPECT_EQ(sim.aliasPath(), portsDir + "/com3");
    EXPECT_EQ(readLink(sim.aliasPath()), sim.ptyPath());

    PtyClient client;
    ASSERT_TRUE(client.open(sim.aliasPath()));
    client.send("BOOTi\r\n");
    EXPECT_EQ(client.readLine(), "VER=4.01\r\n");

    const int status = sim.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(exists(portsDir + "/com3"));
}

TEST_F(LiveBoard, ExistingAliasIsReplaced) {
    std::filesystem::create_directories(portsDir);
    std::filesystem::create_symlink("/dev/null", portsDir + "/com4");
    BoardSim sim;
    sim.setAlias(portsDir, 4);
    ASSERT_TRUE(sim.start()) << sim.error();
    EXPECT_EQ(readLink(portsDir + "/com4"), sim.ptyPath());
}

class LatePort : public LiveBoard, public ::testing::WithParamInterface<bool> {};

// USB power-on: the alias (or what it points at) exists only after a while,
// though the simulator says READY at once.
TEST_P(LatePort, OpensOnlyOnceThePortHasAppeared) {
    const bool targetLate = GetParam();
    std::vector<std::string> args = {"--appear-after", "3"};
    if (targetLate) args.push_back("--appear-target");
    BoardSim sim(args);
    sim.setAlias(portsDir, 5);
    ASSERT_TRUE(sim.start()) << sim.error();

    PtyClient client;
    EXPECT_FALSE(client.open(sim.aliasPath()));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(exists(sim.aliasPath()), targetLate);  // a dangling alias, or none

    ASSERT_TRUE(sim.waitForLine("APPEARED", 20s));
    ASSERT_TRUE(client.open(sim.aliasPath())) << std::strerror(errno);
    client.send("BOOTi\r\n");
    EXPECT_EQ(client.readLine(), "VER=4.01\r\n");

    sim.stop();
    EXPECT_FALSE(exists(sim.aliasPath()));
    EXPECT_FALSE(exists(portsDir + "/.com5.target"));
}

INSTANTIATE_TEST_SUITE_P(Alias, LatePort, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "TargetLate" : "AliasLate"; });

TEST_F(LiveBoard, UnplugAfterARecordAndReplugLater) {
    BoardSim sim({"--unplug-after", "2", "--replug-after", "2"});
    sim.setAlias(portsDir, 6);
    ASSERT_TRUE(sim.start()) << sim.error();
    PtyClient client;
    ASSERT_TRUE(client.open(sim.aliasPath()));

    client.send("BOOT:0400000020EF00F0FD\r\n");
    EXPECT_EQ(client.readLine(), "OK\r\n");
    client.send("BOOT:020008001100E5\r\n");
    EXPECT_EQ(client.readLine(), "OK\r\n");  // answered, then the port goes

    ASSERT_TRUE(sim.waitForLine("UNPLUGGED", 20s));
    EXPECT_FALSE(exists(sim.aliasPath()));
    EXPECT_TRUE(client.waitForHangup(10s));
    client.close();

    ASSERT_TRUE(sim.waitForLine("REPLUGGED", 20s));
    EXPECT_EQ(readLink(sim.aliasPath()), sim.ptyPath());
    ASSERT_TRUE(client.open(sim.aliasPath()));
    // Flash survived the unplug.
    client.send("BOOT#0400000020EF00F0FD\r\n");
    EXPECT_EQ(client.readLine(), "OK\r\n");
}

struct PacedCase {
    const char* name;
    std::vector<std::string> args;
    const char* command;
    const char* reply;
    std::chrono::milliseconds atLeast;
};

void PrintTo(const PacedCase& c, std::ostream* out) {
    *out << c.name;
}

class PacedReply : public LiveBoard, public ::testing::WithParamInterface<PacedCase> {};

// Lower bounds only: a slow machine may take longer, never less.
TEST_P(PacedReply, TakesAtLeastItsTime) {
    BoardSim sim(GetParam().args);
    ASSERT_TRUE(sim.start()) << sim.error();
    PtyClient client;
    ASSERT_TRUE(client.open(sim.ptyPath()));
    const auto sent = Clock::now();
    client.send(GetParam().command);
    EXPECT_EQ(client.readLine(), GetParam().reply);
    EXPECT_GE(Clock::now() - sent, GetParam().atLeast);
}

INSTANTIATE_TEST_SUITE_P(Switches, PacedReply,
                         ::testing::Values(
                             // 17 bytes in and 10 out at 1200 baud: 27 x 8.33 ms.
                             PacedCase{"Baud1200", {"--baud", "1200"}, "BOOT:00000001FF\r\n", "DOWNLOAD\r\n", 220ms},
                             PacedCase{"ReplyDelay", {"--reply-delay", "300"}, "BOOTi\r\n", "VER=4.01\r\n", 300ms},
                             PacedCase{"Dribble", {"--dribble", "40"}, "BOOTi\r\n", "VER=4.01\r\n", 360ms},
                             PacedCase{"SplitReply", {"--split-reply", "1:4:300"}, "BOOTi\r\n", "VER=4.01\r\n", 300ms}),
                         [](const auto& info) { return std::string(info.param.name); });

// The reply fault switches reach the board through the executable's options:
// the probe's answer is reply 1 and gets its noise right in front, reply 2
// leaves in two parts.
TEST_F(LiveBoard, NoiseBeforeAndSplitRepliesThroughTheOptions) {
    BoardSim sim({"--noise-before-reply", "1:4", "--split-reply", "2:1:200", "--noise-seed", "9"});
    ASSERT_TRUE(sim.start()) << sim.error();
    PtyClient client;
    ASSERT_TRUE(client.open(sim.ptyPath()));

    client.send("BOOTi\r\n");
    const std::string first = client.readLine();
    ASSERT_EQ(first.size(), 14U) << first;
    EXPECT_EQ(first.substr(4), "VER=4.01\r\n");

    const auto sent = Clock::now();
    client.send("BOOT:00000001FF\r\n");
    EXPECT_EQ(client.readUntil([](const std::string& s) { return !s.empty(); }, kReplyTimeout), "D");
    EXPECT_EQ(client.readLine(), "OWNLOAD\r\n");
    EXPECT_GE(Clock::now() - sent, 200ms);

    ASSERT_TRUE(sim.waitForLog(
        [&first](const BoardSim::Log& log) {
            std::vector<std::string> events;
            for (const auto& entry : log) {
                if (entry.direction == "EV" && entry.text.starts_with("fault")) events.push_back(entry.text);
            }
            return events == std::vector<std::string>{
                                 "fault noise-before-reply 1 " + vantrel::boardsim::toHex(first.substr(0, 4)),
                                 "fault split-reply 2 after byte 1 for 200 ms"};
        },
        kReplyTimeout));
}

}  // namespace
