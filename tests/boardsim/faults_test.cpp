#include <ostream>

#include <gtest/gtest.h>

#include "crc16.h"
#include "simulator.h"

namespace boardsim {
namespace {

constexpr Micros kMs = 1000;

// A download and verify of two data records: six record commands, the 4th to
// 6th of them verify commands 1 to 3. BOOTi in front is not a record.
const std::vector<std::string> kSession = {
    "BOOTi\r\n",           "BOOT:0400000020EF00F0FD\r\n", "BOOT:020008001100E5\r\n",
    "BOOT:00000001FF\r\n", "BOOT#0400000020EF00F0FD\r\n", "BOOT#020008001100E5\r\n",
    "BOOT#00000001FF\r\n",
};
const std::vector<std::string> kNormalReplies = {"VER=4.01\r\n", "OK\r\n", "OK\r\n",      "DOWNLOAD\r\n",
                                                 "OK\r\n",       "OK\r\n", "DOWNLOAD\r\n"};

std::vector<std::string> runSession(Simulator& sim) {
    std::vector<std::string> replies;
    Micros now = 0;
    for (const std::string& command : kSession) {
        sim.receive(now, command);
        replies.push_back(sim.takeDue(now));
        now += 10 * kMs;
    }
    return replies;
}

struct SessionFault {
    const char* name;
    std::set<long> silentRecords;
    std::set<long> errorVerifies;
    std::vector<std::string> replies;
};

void PrintTo(const SessionFault& c, std::ostream* out) {
    *out << c.name;
}

class SessionFaults : public ::testing::TestWithParam<SessionFault> {};

TEST_P(SessionFaults, HitTheCountedCommand) {
    SimConfig config;
    config.faults.silentRecords = GetParam().silentRecords;
    config.faults.errorVerifies = GetParam().errorVerifies;
    Simulator sim(config);
    EXPECT_EQ(runSession(sim), GetParam().replies);
}

INSTANTIATE_TEST_SUITE_P(
    Counting, SessionFaults,
    ::testing::Values(
        SessionFault{"None", {}, {}, kNormalReplies},
        SessionFault{"FirstRecordNotBootI",
                     {1},
                     {},
                     {"VER=4.01\r\n", "", "OK\r\n", "DOWNLOAD\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"}},
        // The silent record is still written: its verify passes.
        SessionFault{"SecondRecord",
                     {2},
                     {},
                     {"VER=4.01\r\n", "OK\r\n", "", "DOWNLOAD\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"}},
        SessionFault{"CountingGoesOnIntoVerify",
                     {5},
                     {},
                     {"VER=4.01\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "OK\r\n", "", "DOWNLOAD\r\n"}},
        SessionFault{"Several", {3, 6}, {}, {"VER=4.01\r\n", "OK\r\n", "OK\r\n", "", "OK\r\n", "OK\r\n", ""}},
        SessionFault{"ErrorAtFirstVerify",
                     {},
                     {1},
                     {"VER=4.01\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "ERROR\r\n", "OK\r\n", "DOWNLOAD\r\n"}},
        SessionFault{"ErrorAtVerifyEndOfFile",
                     {},
                     {3},
                     {"VER=4.01\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "OK\r\n", "OK\r\n", "ERROR\r\n"}},
        SessionFault{"SilenceWinsOverError",
                     {4},
                     {1},
                     {"VER=4.01\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "", "OK\r\n", "DOWNLOAD\r\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Faults, FaultsAreLogged) {
    std::vector<LogEntry> log;
    SimConfig config;
    config.faults.silentRecords = {2};
    config.faults.errorVerifies = {1};
    Simulator sim(config, [&log](const LogEntry& e) { log.push_back(e); });
    runSession(sim);
    std::vector<std::string> events;
    for (const LogEntry& e : log) {
        if (e.direction == "EV") events.push_back(e.text);
    }
    EXPECT_EQ(events, (std::vector<std::string>{"fault no-reply-record 2", "fault error-at-verify 1"}));
}

TEST(Faults, DamagedCrcOnTheNamedReplyOnly) {
    SimConfig config;
    config.modbus = true;
    config.addresses = {4};
    config.faults.damagedReplies = {2};
    Simulator sim(config);
    std::vector<std::string> frames;
    for (int i = 0; i < 3; ++i) {
        sim.receive(0, buildFrame(4, "BOOTi\r\n"));
        frames.push_back(sim.takeDue(0));
    }
    EXPECT_EQ(crc16Modbus(frames[0]), 0);
    EXPECT_NE(crc16Modbus(frames[1]), 0);
    EXPECT_EQ(crc16Modbus(frames[2]), 0);
    // Only the CRC is broken; address and text are as usual.
    EXPECT_EQ(frames[1].substr(0, frames[1].size() - 2), frames[0].substr(0, frames[0].size() - 2));
}

TEST(Faults, ReplyDelayHoldsTheWholeReply) {
    SimConfig config;
    config.faults.replyDelay = 300 * kMs;
    std::vector<LogEntry> log;
    Simulator sim(config, [&log](const LogEntry& e) { log.push_back(e); });
    sim.receive(100 * kMs, "BOOTi\r\n");
    EXPECT_EQ(sim.takeDue(399 * kMs), "");
    EXPECT_EQ(sim.nextDeadline(), 400 * kMs);
    EXPECT_EQ(sim.takeDue(400 * kMs), "VER=4.01\r\n");
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log[1].direction, "TX");
    EXPECT_EQ(log[1].at, 400 * kMs);
}

TEST(Faults, DribbleSendsOneByteAtATime) {
    SimConfig config;
    config.faults.dribbleGap = 30 * kMs;
    Simulator sim(config);
    sim.receive(0, "BOOT:00000001FF\r\n");
    std::vector<std::string> pieces;
    for (Micros t = 0; sim.outputPending(); t += 30 * kMs) {
        EXPECT_EQ(sim.nextDeadline(), t);
        pieces.push_back(sim.takeDue(t));
        EXPECT_EQ(sim.takeDue(t + 29 * kMs), "");
    }
    EXPECT_EQ(pieces, (std::vector<std::string>{"D", "O", "W", "N", "L", "O", "A", "D", "\r", "\n"}));
}

TEST(Faults, DribbledRepliesDoNotOverlap) {
    SimConfig config;
    config.faults.dribbleGap = 10 * kMs;
    Simulator sim(config);
    sim.receive(0, "BOOTx\r\nBOOTx\r\n");  // two FORMAT replies, 16 bytes
    EXPECT_EQ(sim.takeDue(149 * kMs), "FORMAT\r\nFORMAT\r");
    EXPECT_EQ(sim.takeDue(150 * kMs), "\n");
}

SimConfig noisy(double percent, std::uint32_t seed) {
    SimConfig config;
    config.faults.noisePercent = percent;
    config.faults.noiseSeed = seed;
    return config;
}

std::string noisyReplies(double percent, std::uint32_t seed) {
    Simulator sim(noisy(percent, seed));
    std::string out;
    for (int i = 0; i < 20; ++i) {
        sim.receive(0, "BOOT:00000001FF\r\n");
        out += sim.takeDue(0);
    }
    return out;
}

TEST(Faults, NoiseAtFullRatePrecedesEveryByte) {
    const std::string out = noisyReplies(100, 7);
    const std::string clean = noisyReplies(0, 7);
    ASSERT_EQ(out.size(), 2 * clean.size());
    for (std::size_t i = 0; i < clean.size(); ++i) EXPECT_EQ(out[2 * i + 1], clean[i]) << i;
}

TEST(Faults, NoiseIsRepeatableForASeed) {
    const std::string first = noisyReplies(20, 42);
    EXPECT_EQ(noisyReplies(20, 42), first);
    EXPECT_NE(noisyReplies(20, 43), first);
    // 20 % of 200 bytes: some noise, far from every byte.
    EXPECT_GT(first.size(), 200U);
    EXPECT_LT(first.size(), 300U);
}

TEST(Faults, NoiseBytesAreLogged) {
    std::vector<LogEntry> log;
    Simulator sim(noisy(100, 1), [&log](const LogEntry& e) { log.push_back(e); });
    sim.receive(0, "BOOTx\r\n");
    const std::string out = sim.takeDue(0);
    std::string noise;
    for (std::size_t i = 0; i < out.size(); i += 2) noise.push_back(out[i]);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[1].text, "fault noise " + toHex(noise) + " in reply 1");
}

TEST(Baud, CommandArrivesAndReplyLeavesAtWireSpeed) {
    SimConfig config;
    config.baud = 9600;  // 1042 us a byte
    Simulator sim(config);
    sim.receive(0, "BOOTi\r\n");  // 7 bytes: in by 7294 us
    EXPECT_EQ(sim.nextDeadline(), 1042);
    sim.advance(7293);
    EXPECT_EQ(sim.takeDue(7293), "");
    sim.advance(7294);
    // "VER=4.01\r\n": one byte every 1042 us from then on.
    EXPECT_EQ(sim.takeDue(7294 + 1041), "");
    EXPECT_EQ(sim.takeDue(7294 + 1042), "V");
    EXPECT_EQ(sim.takeDue(7294 + 5 * 1042), "ER=4");
    EXPECT_EQ(sim.takeDue(7294 + 10 * 1042), ".01\r\n");
    EXPECT_FALSE(sim.outputPending());
}

TEST(Baud, BytesQueueBehindEachOther) {
    SimConfig config;
    config.baud = 115200;  // 87 us a byte
    Simulator sim(config);
    sim.receive(0, "BOOTi\r");
    sim.receive(100, "\n");  // the line is still busy with the first 6 bytes
    sim.advance(6 * 87 + 86);
    EXPECT_EQ(sim.takeDue(100000), "");
    sim.advance(7 * 87);
    EXPECT_EQ(sim.takeDue(100000), "VER=4.01\r\n");
}

TEST(Unplug, PortGoesAfterTheNamedRecordIsAnswered) {
    SimConfig config;
    config.faults.unplugAfterRecord = 2;
    std::vector<LogEntry> log;
    Simulator sim(config, [&log](const LogEntry& e) { log.push_back(e); });
    sim.receive(0, "BOOTi\r\nBOOT:0400000020EF00F0FD\r\n");
    EXPECT_FALSE(sim.unplugRequested());
    // Record 2 and, in the same read, a third command the board never sees.
    sim.receive(0, "BOOT:020008001100E5\r\nBOOT:00000001FF\r\n");
    EXPECT_TRUE(sim.unplugRequested());
    EXPECT_EQ(sim.takeDue(0), "VER=4.01\r\nOK\r\nOK\r\n");
    sim.receive(0, "BOOTi\r\n");
    EXPECT_EQ(sim.takeDue(0), "");
    long received = 0;
    for (const LogEntry& e : log) received += e.direction == "RX";
    EXPECT_EQ(received, 3);
    std::vector<std::string> events;
    for (const LogEntry& e : log) {
        if (e.direction == "EV") events.push_back(e.text);
    }
    EXPECT_EQ(events, std::vector<std::string>{"fault unplug-after 2"});
}

TEST(Unplug, ReconnectRestartsTheBoardWithItsFlash) {
    SimConfig config;
    config.faults.unplugAfterRecord = 1;
    Simulator sim(config);
    sim.receive(0, "BOOT:0400000020EF00F0FD\r\nBOOTg\r\n");
    sim.takeDue(0);
    ASSERT_TRUE(sim.unplugRequested());
    sim.reconnect(1000 * kMs);
    EXPECT_FALSE(sim.unplugRequested());
    EXPECT_FALSE(sim.board(0).applicationRunning());
    sim.receive(1000 * kMs, "BOOT#0400000020EF00F0FD\r\n");
    EXPECT_EQ(sim.takeDue(1000 * kMs), "OK\r\n");
}

}  // namespace
}  // namespace boardsim
