// The BoardSim helper that the loader's end-to-end tests use.

#include <csignal>
#include <filesystem>
#include <ostream>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "board_sim.h"
#include "boardsim/framing.h"
#include "boardsim/log_line.h"
#include "pseudo_terminal.h"

namespace {

using namespace std::chrono_literals;
using vantrel::boardsim::LogEntry;
using vantrel::boardsim::parseLogLine;
using vantrel::testing::BoardSim;
using vantrel::testing::ptyAvailable;
using vantrel::testing::PtyClient;

struct LineCase {
    const char* name;
    const char* line;
    bool parses;
    LogEntry expected;
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

class LogLineParsing : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogLineParsing, ReadsEachField) {
    const auto entry = parseLogLine(GetParam().line);
    ASSERT_EQ(entry.has_value(), GetParam().parses);
    if (!entry) return;
    EXPECT_EQ(entry->at, GetParam().expected.at);
    EXPECT_EQ(entry->direction, GetParam().expected.direction);
    EXPECT_EQ(entry->address, GetParam().expected.address);
    EXPECT_EQ(entry->bytes, GetParam().expected.bytes);
    EXPECT_EQ(entry->text, GetParam().expected.text);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LogLineParsing,
    ::testing::Values(
        LineCase{
            "PlainCommand", "12 RX - 424F4F54690D0A BOOTi\\r\\n", true, {12'000, "RX", std::nullopt, "BOOTi\r\n", ""}},
        LineCase{"ModbusReply", "3051 TX 7 4F4B0D0A OK\\r\\n", true, {3'051'000, "TX", 7, "OK\r\n", ""}},
        LineCase{"Ignored",
                 "40 IG 5 0542 other-address",
                 true,
                 {40'000, "IG", 5,
                  "\x05"
                  "B",
                  "other-address"}},
        LineCase{"Event",
                 "0 EV - - ready /dev/pts/3 /tmp/p/com3",
                 true,
                 {0, "EV", std::nullopt, "", "ready /dev/pts/3 /tmp/p/com3"}},
        LineCase{"TooFewFields", "12 RX -", false, {}}, LineCase{"TimeNotANumber", "x RX - 4F OK", false, {}},
        LineCase{"OddHex", "1 RX - 4F4 OK", false, {}}, LineCase{"NotHex", "1 RX - 4G OK", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The reader takes back what the writer wrote, binary bytes and all, to the
// millisecond.
TEST(LogLineParsing, ReadsBackWhatTheSimulatorWrites) {
    const std::string bytes("A \\\r\n\x00\xFF z", 9);
    for (const LogEntry& written :
         {LogEntry{123'456, "RX", 247, bytes, {}}, LogEntry{7'000, "TX", {}, "OK\r\n", {}},
          LogEntry{9'000, "IG", 3, bytes, "bad-frame"}, LogEntry{42'000, "EV", {}, {}, "fault drop-reply 3"}}) {
        const std::string line = vantrel::boardsim::formatLogLine(written);
        const auto entry = parseLogLine(line);
        ASSERT_TRUE(entry) << line;
        LogEntry expected = written;
        expected.at = written.at / 1000 * 1000;
        EXPECT_EQ(*entry, expected) << line;
    }
}

class Helper : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!ptyAvailable(why)) GTEST_SKIP() << why;
    }
};

bool processGone(pid_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

TEST_F(Helper, StartsWaitsForReadyAndStopsByPid) {
    BoardSim sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    ASSERT_TRUE(sim.running());
    const pid_t pid = sim.pid();
    EXPECT_EQ(kill(pid, 0), 0);
    EXPECT_TRUE(sim.ptyPath().starts_with("/dev/")) << sim.ptyPath();
    EXPECT_TRUE(std::filesystem::exists(sim.ptyPath()));

    const int status = sim.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(sim.running());
    EXPECT_TRUE(processGone(pid));
    EXPECT_EQ(sim.stop(), -1);
}

TEST_F(Helper, DestructorStopsTheSimulatorAndRemovesItsLog) {
    pid_t pid = -1;
    std::string log;
    {
        BoardSim sim;
        ASSERT_TRUE(sim.start()) << sim.error();
        pid = sim.pid();
        log = sim.logPath();
        EXPECT_TRUE(std::filesystem::exists(log));
    }
    EXPECT_TRUE(processGone(pid));
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST_F(Helper, ReportsASimulatorThatWillNotStart) {
    BoardSim sim({"--no-such-switch"});
    EXPECT_FALSE(sim.start());
    EXPECT_NE(sim.error().find("exited"), std::string::npos) << sim.error();
    EXPECT_FALSE(sim.running());
}

TEST_F(Helper, ReadsTheLogOfASession) {
    BoardSim sim({"--modbus", "2"});
    ASSERT_TRUE(sim.start()) << sim.error();
    PtyClient client;
    ASSERT_TRUE(client.open(sim.ptyPath()));
    client.send(vantrel::boardsim::buildFrame(2, "BOOTi\r\n"));

    ASSERT_TRUE(sim.waitForLog([](const BoardSim::Log& log) { return log.size() >= 3; }, 10s));
    const auto log = sim.log();
    EXPECT_EQ(log[0].direction, "EV");
    EXPECT_EQ(log[0].text, "ready " + sim.ptyPath());
    EXPECT_EQ(log[1].direction, "RX");
    EXPECT_EQ(log[1].address, 2);
    EXPECT_EQ(log[1].bytes, "BOOTi\r\n");
    EXPECT_EQ(log[2].direction, "TX");
    EXPECT_EQ(log[2].address, 2);
    EXPECT_EQ(log[2].bytes, "VER=4.01\r\n");
    EXPECT_LE(log[1].at, log[2].at);
}

TEST_F(Helper, KeepsALogPathGivenByTheTest) {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/boardsim-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string path = pattern + "/mine.log";
    {
        BoardSim sim({"--log", path});
        ASSERT_TRUE(sim.start()) << sim.error();
        EXPECT_EQ(sim.logPath(), path);
        ASSERT_TRUE(sim.waitForLog([](const BoardSim::Log& log) { return !log.empty(); }, 10s));
    }
    EXPECT_TRUE(std::filesystem::exists(path));  // the test's file is the test's to remove
    std::filesystem::remove_all(pattern);
}

}  // namespace
