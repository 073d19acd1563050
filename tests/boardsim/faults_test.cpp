#include <map>
#include <ostream>

#include <gtest/gtest.h>

#include "boardsim/crc16.h"
#include "boardsim/simulator.h"

namespace vantrel::boardsim {
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
    std::set<long> droppedReplies = {};
    std::map<long, std::string> replacedReplies = {};
};

void PrintTo(const SessionFault& c, std::ostream* out) {
    *out << c.name;
}

class SessionFaults : public ::testing::TestWithParam<SessionFault> {};

TEST_P(SessionFaults, HitTheCountedCommand) {
    SimConfig config;
    config.faults.silentRecords = GetParam().silentRecords;
    config.faults.errorVerifies = GetParam().errorVerifies;
    config.faults.droppedReplies = GetParam().droppedReplies;
    config.faults.replacedReplies = GetParam().replacedReplies;
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
                     {"VER=4.01\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n", "", "OK\r\n", "DOWNLOAD\r\n"}},
        // Replies are counted over everything sent, the version answer
        // included; a dropped reply still counts.
        SessionFault{"DroppedVersionAnswerAndThirdReply",
                     {},
                     {},
                     {"", "OK\r\n", "", "DOWNLOAD\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"},
                     {1, 3}},
        SessionFault{"ReplacedRecordReply",
                     {},
                     {},
                     {"VER=4.01\r\n", "OK\r\n", "FORMAT\r\n", "DOWNLOAD\r\n", "OK\r\n", "OK\r\n", "XYZ\r\n"},
                     {},
                     {{3, "FORMAT"}, {7, "XYZ"}}},
        SessionFault{"DropWinsOverReplace",
                     {},
                     {},
                     {"VER=4.01\r\n", "", "OK\r\n", "DOWNLOAD\r\n", "OK\r\n", "OK\r\n", "DOWNLOAD\r\n"},
                     {2},
                     {{2, "ERROR"}}}),
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
    // Nothing to do before the command is whole: no wake-up per byte.
    EXPECT_EQ(sim.nextDeadline(), 7294);
    sim.advance(7293);
    EXPECT_EQ(sim.takeDue(7293), "");
    sim.advance(7294);
    // Reply bytes back to back may gather: within 2084 us of the first, the
    // third is the last; without gathering, each is its own deadline.
    EXPECT_EQ(sim.nextDeadline(), 7294 + 1042);
    EXPECT_EQ(sim.nextDeadline(2 * 1042), 7294 + 3 * 1042);
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

// What a simulator puts on the wire after commands given at 0: the bytes due
// at each moment, in order, until nothing is left.
using Schedule = std::vector<std::pair<Micros, std::string>>;

Schedule scheduleOf(Simulator& sim, std::string_view commands) {
    sim.receive(0, commands);
    Schedule out;
    while (const auto next = sim.nextDeadline()) {
        sim.advance(*next);
        std::string due = sim.takeDue(*next);
        if (!due.empty()) out.emplace_back(*next, std::move(due));
    }
    return out;
}

struct SplitCase {
    const char* name;
    SimConfig config;
    std::string commands;
    Schedule expected;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.name;
}

SimConfig splitting(std::map<long, ReplySplit> replies, std::optional<ReplySplit> every = std::nullopt) {
    SimConfig config;
    config.faults.splitReplies = std::move(replies);
    config.faults.splitEveryReply = every;
    return config;
}

template <typename Change>
SimConfig with(SimConfig config, Change change) {
    change(config);
    return config;
}

std::string modbusFrame(int address, std::string_view text) {
    return buildFrame(static_cast<std::uint8_t>(address), text);
}

// Both CRC bytes inverted, as --bad-crc-reply sends them.
std::string withBrokenCrc(std::string frame) {
    for (std::size_t i = frame.size() - 2; i < frame.size(); ++i) frame[i] = static_cast<char>(~frame[i]);
    return frame;
}

class SplitReplies : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitReplies, LeaveInTwoPartsWithThePauseBetween) {
    Simulator sim(GetParam().config);
    EXPECT_EQ(scheduleOf(sim, GetParam().commands), GetParam().expected);
}

// "BOOTx" gets "FORMAT\r\n" (8 bytes), the end-of-file record "DOWNLOAD\r\n".
INSTANTIATE_TEST_SUITE_P(
    Timing, SplitReplies,
    ::testing::Values(
        SplitCase{"PlainAfterTwoBytes",
                  splitting({{1, {2, 30 * kMs}}}),
                  "BOOT:00000001FF\r\n",
                  {{0, "DO"}, {30 * kMs, "WNLOAD\r\n"}}},
        SplitCase{"OnlyTheNamedReply",
                  splitting({{2, {3, 30 * kMs}}}),
                  "BOOTx\r\nBOOTx\r\n",
                  {{0, "FORMAT\r\nFOR"}, {30 * kMs, "MAT\r\n"}}},
        // The next reply waits for the rest of the split one.
        SplitCase{"AllReplies",
                  splitting({}, ReplySplit{3, 25 * kMs}),
                  "BOOTi\r\nBOOT:00000001FF\r\n",
                  {{0, "VER"}, {25 * kMs, "=4.01\r\nDOW"}, {50 * kMs, "NLOAD\r\n"}}},
        SplitCase{"OwnEntryWinsOverAll",
                  splitting({{2, {1, 10 * kMs}}}, ReplySplit{3, 25 * kMs}),
                  "BOOTx\r\nBOOTx\r\n",
                  {{0, "FOR"}, {25 * kMs, "MAT\r\nF"}, {35 * kMs, "ORMAT\r\n"}}},
        SplitCase{"AtTheLengthNoSplit", splitting({{1, {8, 30 * kMs}}}), "BOOTx\r\n", {{0, "FORMAT\r\n"}}},
        SplitCase{"BeyondTheLengthNoSplit", splitting({{1, {50, 30 * kMs}}}), "BOOTx\r\n", {{0, "FORMAT\r\n"}}},
        // K counts the frame's bytes: address and "B" first, the CRC last.
        SplitCase{"ModbusFramingCounts",
                  with(splitting({{1, {2, 40 * kMs}}}),
                       [](SimConfig& c) {
                           c.modbus = true;
                           c.addresses = {1};
                       }),
                  modbusFrame(1, "BOOTx\r\n"),
                  {{0,
                    "\x01"
                    "B"},
                   {40 * kMs, modbusFrame(1, "BFORMAT\r\n").substr(2)}}},
        SplitCase{
            "ModbusBeforeTheCrc",
            with(splitting({{1, {9, 40 * kMs}}}),
                 [](SimConfig& c) {
                     c.modbus = true;
                     c.addresses = {1};
                 }),
            modbusFrame(1, "BOOTx\r\n"),
            {{0, modbusFrame(1, "BFORMAT\r\n").substr(0, 9)}, {40 * kMs, modbusFrame(1, "BFORMAT\r\n").substr(9)}}},
        SplitCase{"AfterTheReplyDelay",
                  with(splitting({{1, {2, 30 * kMs}}}), [](SimConfig& c) { c.faults.replyDelay = 100 * kMs; }),
                  "BOOTx\r\n",
                  {{100 * kMs, "FO"}, {130 * kMs, "RMAT\r\n"}}},
        // 10000 baud: one byte a millisecond; the command is in at 7 ms.
        SplitCase{"AtWireSpeed",
                  with(splitting({{1, {2, 5 * kMs}}}), [](SimConfig& c) { c.baud = 10000; }),
                  "BOOTx\r\n",
                  {{8 * kMs, "F"},
                   {9 * kMs, "O"},
                   {14 * kMs, "R"},
                   {15 * kMs, "M"},
                   {16 * kMs, "A"},
                   {17 * kMs, "T"},
                   {18 * kMs, "\r"},
                   {19 * kMs, "\n"}}},
        SplitCase{"PauseShorterThanAByteTime",
                  with(splitting({{1, {2, 1}}}), [](SimConfig& c) { c.baud = 10000; }),
                  "BOOTx\r\n",
                  {{8 * kMs, "F"},
                   {9 * kMs, "O"},
                   {10 * kMs, "R"},
                   {11 * kMs, "M"},
                   {12 * kMs, "A"},
                   {13 * kMs, "T"},
                   {14 * kMs, "\r"},
                   {15 * kMs, "\n"}}},
        SplitCase{"WithDribble",
                  with(splitting({{1, {2, 35 * kMs}}}), [](SimConfig& c) { c.faults.dribbleGap = 10 * kMs; }),
                  "BOOTx\r\n",
                  {{0, "F"},
                   {10 * kMs, "O"},
                   {45 * kMs, "R"},
                   {55 * kMs, "M"},
                   {65 * kMs, "A"},
                   {75 * kMs, "T"},
                   {85 * kMs, "\r"},
                   {95 * kMs, "\n"}}},
        SplitCase{"DoubledReply",
                  with(SimConfig{}, [](SimConfig& c) { c.faults.doubledReplies = {2}; }),
                  "BOOTi\r\nBOOTx\r\nBOOTx\r\n",
                  {{0, "VER=4.01\r\nFORMAT\r\nFORMAT\r\nFORMAT\r\n"}}},
        // A doubled reply is twice as long on the wire: K may cut between the copies.
        SplitCase{"DoubledAndSplitBetweenTheCopies",
                  with(splitting({{1, {8, 30 * kMs}}}), [](SimConfig& c) { c.faults.doubledReplies = {1}; }),
                  "BOOTx\r\n",
                  {{0, "FORMAT\r\n"}, {30 * kMs, "FORMAT\r\n"}}},
        SplitCase{"DoubledModbusFrameKeepsItsCrcDamage",
                  with(SimConfig{},
                       [](SimConfig& c) {
                           c.modbus = true;
                           c.addresses = {1};
                           c.faults.doubledReplies = {1};
                           c.faults.damagedReplies = {1};
                       }),
                  modbusFrame(1, "BOOTx\r\n"),
                  {{0, withBrokenCrc(modbusFrame(1, "BFORMAT\r\n")) + withBrokenCrc(modbusFrame(1, "BFORMAT\r\n"))}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Faults, SplitAndDoubleAreLogged) {
    std::vector<LogEntry> log;
    SimConfig config;
    config.faults.splitReplies = {{2, {3, 30 * kMs}}};
    config.faults.doubledReplies = {1};
    Simulator sim(config, [&log](const LogEntry& e) { log.push_back(e); });
    scheduleOf(sim, "BOOTx\r\nBOOTx\r\n");
    std::vector<std::string> events;
    long sent = 0;
    for (const LogEntry& e : log) {
        if (e.direction == "EV") events.push_back(e.text);
        sent += e.direction == "TX";
    }
    EXPECT_EQ(events, (std::vector<std::string>{"fault double-reply 1", "fault split-reply 2 after byte 3 for 30 ms"}));
    EXPECT_EQ(sent, 2) << "a doubled reply is logged once";
}

struct NoiseBeforeCase {
    const char* name;
    bool modbus;
    std::map<long, int> noise;  // reply -> bytes
};

void PrintTo(const NoiseBeforeCase& c, std::ostream* out) {
    *out << c.name;
}

class NoiseBeforeReply : public ::testing::TestWithParam<NoiseBeforeCase> {};

// The session's replies one by one: the named ones carry their noise right
// in front, unchanged otherwise; the noise is logged as it is sent.
TEST_P(NoiseBeforeReply, PrecedesTheNamedRepliesOnly) {
    const NoiseBeforeCase& c = GetParam();
    SimConfig config;
    config.modbus = c.modbus;
    config.addresses = {5};
    std::vector<std::string> clean;
    {
        Simulator sim(config);
        for (const std::string& command : kSession) {
            sim.receive(0, c.modbus ? modbusFrame(5, command) : command);
            clean.push_back(sim.takeDue(0));
        }
    }
    config.faults.noiseBeforeReplies = c.noise;
    std::vector<LogEntry> log;
    Simulator sim(config, [&log](const LogEntry& e) { log.push_back(e); });
    std::vector<std::string> events;
    for (std::size_t i = 0; i < kSession.size(); ++i) {
        sim.receive(0, c.modbus ? modbusFrame(5, kSession[i]) : kSession[i]);
        const std::string out = sim.takeDue(0);
        const long number = static_cast<long>(i) + 1;
        const auto noise = c.noise.find(number);
        const std::size_t count = noise == c.noise.end() ? 0 : static_cast<std::size_t>(noise->second);
        ASSERT_EQ(out.size(), clean[i].size() + count) << "reply " << number;
        EXPECT_EQ(out.substr(count), clean[i]) << "reply " << number;
        if (count > 0)
            events.push_back("fault noise-before-reply " + std::to_string(number) + " " + toHex(out.substr(0, count)));
    }
    std::vector<std::string> logged;
    for (const LogEntry& e : log) {
        if (e.direction == "EV") logged.push_back(e.text);
    }
    EXPECT_EQ(logged, events);
}

INSTANTIATE_TEST_SUITE_P(Counting, NoiseBeforeReply,
                         ::testing::Values(NoiseBeforeCase{"TheProbesAnswerIsReplyOne", false, {{1, 3}}},
                                           NoiseBeforeCase{"ModbusProbesAnswer", true, {{1, 3}}},
                                           NoiseBeforeCase{"EndOfDownload", false, {{4, 5}}},
                                           NoiseBeforeCase{"SeveralWithTheirOwnCounts", true, {{2, 1}, {7, 40}}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Faults, NoiseBeforeAReplyFollowsTheSeed) {
    auto noiseOf = [](std::uint32_t seed) {
        SimConfig config;
        config.faults.noiseBeforeReplies = {{1, 8}};
        config.faults.noiseSeed = seed;
        Simulator sim(config);
        sim.receive(0, "BOOTx\r\n");
        return sim.takeDue(0).substr(0, 8);
    };
    EXPECT_EQ(noiseOf(5), noiseOf(5));
    EXPECT_NE(noiseOf(5), noiseOf(6));
}

// No gap between the noise and the reply: at wire speed every byte follows
// the one before by one byte time, and with a split the pause stays inside
// the reply.
TEST(Faults, NoiseBeforeAReplyRunsStraightIntoIt) {
    SimConfig config;
    config.baud = 10000;  // one byte a millisecond; "BOOTx\r\n" is in at 7 ms
    config.faults.noiseBeforeReplies = {{1, 2}};
    config.faults.splitReplies = {{1, {3, 20 * kMs}}};
    Simulator sim(config);
    const Schedule got = scheduleOf(sim, "BOOTx\r\n");
    std::vector<Micros> times;
    std::string bytes;
    for (const auto& [at, due] : got) {
        times.push_back(at);
        bytes += due;
    }
    EXPECT_EQ(times, (std::vector<Micros>{8 * kMs, 9 * kMs, 10 * kMs, 11 * kMs, 12 * kMs, 32 * kMs, 33 * kMs, 34 * kMs,
                                          35 * kMs, 36 * kMs}));
    EXPECT_EQ(bytes.substr(2), "FORMAT\r\n");
}

struct DamagedCase {
    const char* name;
    std::set<long> damaged;
    std::set<long> silentRecords;
    std::vector<bool> broken;  // per command of the session: its answer's CRC fails
};

void PrintTo(const DamagedCase& c, std::ostream* out) {
    *out << c.name;
}

class DamagedReplyCounting : public ::testing::TestWithParam<DamagedCase> {};

// Replies are counted over everything sent, the probe's answer to "BOOTi"
// first; a reply lost to --no-reply-record is never sent and not counted.
TEST_P(DamagedReplyCounting, CountsEveryReplySent) {
    SimConfig config;
    config.modbus = true;
    config.addresses = {5};
    config.faults.damagedReplies = GetParam().damaged;
    config.faults.silentRecords = GetParam().silentRecords;
    Simulator sim(config);
    std::vector<bool> broken;
    for (const std::string& command : kSession) {
        sim.receive(0, modbusFrame(5, command));
        const std::string out = sim.takeDue(0);
        if (!out.empty()) broken.push_back(crc16Modbus(out) != 0);
    }
    EXPECT_EQ(broken, GetParam().broken);
}

INSTANTIATE_TEST_SUITE_P(
    Modbus, DamagedReplyCounting,
    ::testing::Values(DamagedCase{"ProbesAnswer", {1}, {}, {true, false, false, false, false, false, false}},
                      DamagedCase{"FirstRecord", {2}, {}, {false, true, false, false, false, false, false}},
                      DamagedCase{"EndOfVerify", {7}, {}, {false, false, false, false, false, false, true}},
                      DamagedCase{"AfterALostReply", {2}, {1}, {false, true, false, false, false, false}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::boardsim
