#include "boardsim/simulator.h"

#include <ostream>

#include <gtest/gtest.h>

#include "boardsim/crc16.h"

namespace vantrel::boardsim {
namespace {

constexpr Micros kMs = 1000;

// A simulator with its log captured; time is whatever the test says.
class Bus {
  public:
    explicit Bus(SimConfig config) : sim(std::move(config), [this](const LogEntry& e) { log.push_back(e); }) {}

    // Sends `bytes` at `now` and collects what is due by then.
    std::string exchange(Micros now, std::string_view bytes) {
        sim.receive(now, bytes);
        return sim.takeDue(now);
    }

    std::vector<LogEntry> entries(std::string_view direction) const {
        std::vector<LogEntry> out;
        for (const LogEntry& e : log) {
            if (e.direction == direction) out.push_back(e);
        }
        return out;
    }

    std::vector<LogEntry> log;
    Simulator sim;
};

SimConfig plain() {
    return SimConfig{};
}

SimConfig modbus(std::vector<int> addresses) {
    SimConfig config;
    config.modbus = true;
    config.addresses = std::move(addresses);
    return config;
}

std::string reply(int address, std::string_view text) {
    return buildFrame(static_cast<std::uint8_t>(address), "B" + std::string(text));
}

TEST(PlainLine, CommandSplitAcrossReadsIsAnsweredOnce) {
    Bus bus(plain());
    EXPECT_EQ(bus.exchange(0, "BOO"), "");
    EXPECT_EQ(bus.exchange(1 * kMs, "Ti\r"), "");
    EXPECT_EQ(bus.exchange(2 * kMs, "\n"), "VER=4.01\r\n");
}

TEST(PlainLine, CommandsInOneReadAreAnsweredInOrder) {
    Bus bus(plain());
    EXPECT_EQ(bus.exchange(0, "BOOTi\r\nBOOT:00000001FF\r\n"), "VER=4.01\r\nDOWNLOAD\r\n");
}

TEST(PlainLine, LogShowsCommandAndReplyWithoutAddress) {
    Bus bus(plain());
    bus.exchange(7 * kMs, "BOOTi\r\n");
    ASSERT_EQ(bus.log.size(), 2U);
    EXPECT_EQ(formatLogLine(bus.log[0]), "7 RX - 424F4F54690D0A BOOTi\\r\\n");
    EXPECT_EQ(formatLogLine(bus.log[1]), "7 TX - 5645523D342E30310D0A VER=4.01\\r\\n");
}

// A board that holds an image from the start: its verify passes, and a
// board without it finds the first data record different.
struct FlashedCase {
    const char* name;
    bool flashed;
    std::string dataReply;
};

void PrintTo(const FlashedCase& c, std::ostream* out) {
    *out << c.name;
}

class Flashed : public ::testing::TestWithParam<FlashedCase> {};

TEST_P(Flashed, VerifyFindsWhatTheBoardHolds) {
    SimConfig config = plain();
    if (GetParam().flashed) config.flashedRecords = {":020000040000FA", ":0400000020EF00F0FD", ":00000001FF"};
    Bus bus(config);
    EXPECT_EQ(bus.exchange(0, "BOOT#020000040000FA\r\n"), "OK\r\n");
    EXPECT_EQ(bus.exchange(10 * kMs, "BOOT#0400000020EF00F0FD\r\n"), GetParam().dataReply);
    EXPECT_EQ(bus.exchange(20 * kMs, "BOOT#00000001FF\r\n"), "DOWNLOAD\r\n");
    EXPECT_FALSE(bus.sim.board(0).applicationRunning());
}

INSTANTIATE_TEST_SUITE_P(Image, Flashed,
                         ::testing::Values(FlashedCase{"Held", true, "OK\r\n"},
                                           FlashedCase{"Erased", false, "ERROR\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Modbus, AnswersTheExampleVersionQueryFrame) {
    Bus bus(modbus({1}));
    const std::string query("\x01\x42\x4F\x4F\x54\x69\x0D\x0A\xFC\x89", 10);
    const std::string out = bus.exchange(0, query);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0], '\x01');
    EXPECT_EQ(framePayload(out), "BVER=4.01\r\n");
    EXPECT_EQ(crc16Modbus(out), 0);
}

struct RouteCase {
    const char* name;
    std::string frame;
    std::string expected;    // empty: silence
    const char* ignoredFor;  // the IG reason logged, or nullptr
};

void PrintTo(const RouteCase& c, std::ostream* out) {
    *out << c.name;
}

class ModbusRouting : public ::testing::TestWithParam<RouteCase> {};

// Three boards on one bus: each answers only frames with its address and a
// good CRC; everything else goes unanswered, as on a real line.
TEST_P(ModbusRouting, OnlyTheAddressedBoardAnswers) {
    Bus bus(modbus({3, 7, 9}));
    std::string out = bus.exchange(0, GetParam().frame);
    bus.sim.advance(1000 * kMs);  // long quiet: anything unfinished is settled
    out += bus.sim.takeDue(1000 * kMs);
    EXPECT_EQ(out, GetParam().expected);
    const auto ignored = bus.entries("IG");
    if (GetParam().ignoredFor == nullptr) {
        EXPECT_TRUE(ignored.empty());
    } else {
        ASSERT_EQ(ignored.size(), 1U);
        EXPECT_EQ(ignored[0].text, GetParam().ignoredFor);
        EXPECT_TRUE(bus.entries("RX").empty());
    }
}

std::string withBadCrc(std::string frame) {
    frame.back() = static_cast<char>(frame.back() ^ 0x40);
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ModbusRouting,
    ::testing::Values(RouteCase{"FirstBoard", buildFrame(3, "BOOTi\r\n"), reply(3, "VER=4.01\r\n"), nullptr},
                      RouteCase{"SecondBoard", buildFrame(7, "BOOTi\r\n"), reply(7, "VER=4.01\r\n"), nullptr},
                      RouteCase{"ThirdBoard", buildFrame(9, "BOOT:00000001FF\r\n"), reply(9, "DOWNLOAD\r\n"), nullptr},
                      RouteCase{"NobodyAtThatAddress", buildFrame(5, "BOOTi\r\n"), "", "other-address"},
                      RouteCase{"Broadcast", buildFrame(0, "BOOTi\r\n"), "", "other-address"},
                      RouteCase{"BadCrc", withBadCrc(buildFrame(3, "BOOTi\r\n")), "", "bad-frame"},
                      RouteCase{"PlainTextOnTheBus", "BOOTi\r\n", "", "bad-frame"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Modbus, EachBoardHasItsOwnFlash) {
    Bus bus(modbus({3, 7, 9}));
    EXPECT_EQ(bus.exchange(0, buildFrame(7, "BOOT:0400000020EF00F0FD\r\n")), reply(7, "OK\r\n"));
    EXPECT_EQ(bus.exchange(0, buildFrame(7, "BOOT#0400000020EF00F0FD\r\n")), reply(7, "OK\r\n"));
    EXPECT_EQ(bus.exchange(0, buildFrame(3, "BOOT#0400000020EF00F0FD\r\n")), reply(3, "ERROR\r\n"));
    EXPECT_EQ(bus.sim.board(1).byteAt(0), 0x20);
    EXPECT_FALSE(bus.sim.board(0).byteAt(0));
    EXPECT_FALSE(bus.sim.board(2).byteAt(0));
}

TEST(Modbus, SplitFrameIsJoinedWhileTheLineIsBusy) {
    Bus bus(modbus({3}));
    const std::string frame = buildFrame(3, "BOOTi\r\n");
    EXPECT_EQ(bus.exchange(0, frame.substr(0, 4)), "");
    EXPECT_EQ(bus.exchange(10 * kMs, frame.substr(4)), reply(3, "VER=4.01\r\n"));
}

TEST(Modbus, PauseLongerThanTheFrameGapDropsTheFirstPart) {
    Bus bus(modbus({3}));
    const std::string frame = buildFrame(3, "BOOTi\r\n");
    bus.exchange(0, frame.substr(0, 4));
    EXPECT_EQ(bus.exchange(60 * kMs, frame.substr(4)), "");
    bus.sim.advance(200 * kMs);
    EXPECT_EQ(bus.sim.takeDue(200 * kMs), "");
    EXPECT_EQ(bus.entries("IG").size(), 2U);
}

TEST(Modbus, SlowLineDoesNotCutFramesApart) {
    SimConfig config = modbus({3});
    config.baud = 110;  // 91 ms a byte: longer than the default frame gap
    Bus bus(config);
    bus.sim.receive(0, buildFrame(3, "BOOTi\r\n"));
    while (!bus.sim.outputPending()) {
        const auto next = bus.sim.nextDeadline();
        ASSERT_TRUE(next) << "frame lost";
        bus.sim.advance(*next);
    }
    EXPECT_TRUE(bus.entries("IG").empty());
}

TEST(Modbus, FramesRunTogetherAreAnsweredInOrder) {
    Bus bus(modbus({3, 7}));
    const std::string out = bus.exchange(0, buildFrame(7, "BOOTi\r\n") + buildFrame(3, "BOOT:00000001FF\r\n"));
    EXPECT_EQ(out, reply(7, "VER=4.01\r\n") + reply(3, "DOWNLOAD\r\n"));
}

TEST(Modbus, GoodFrameAfterNoiseIsAnsweredOnceTheLineIsQuiet) {
    Bus bus(modbus({3}));
    EXPECT_EQ(bus.exchange(0, "\x13\x37" + buildFrame(3, "BOOTi\r\n")), "");
    EXPECT_EQ(bus.sim.nextDeadline(), 50 * kMs);
    bus.sim.advance(50 * kMs);
    EXPECT_EQ(bus.sim.takeDue(50 * kMs), reply(3, "VER=4.01\r\n"));
}

TEST(Modbus, NewAddressTakesEffectAfterTheReplyFromTheOldOne) {
    Bus bus(modbus({3, 7}));
    EXPECT_EQ(bus.exchange(0, buildFrame(3, "BOOT$0A\r\n")), reply(3, "ADR=0A\r\n"));
    EXPECT_EQ(bus.exchange(0, buildFrame(3, "BOOTi\r\n")), "");
    EXPECT_EQ(bus.exchange(0, buildFrame(10, "BOOTi\r\n")), reply(10, "VER=4.01\r\n"));
    EXPECT_EQ(bus.exchange(0, buildFrame(7, "BOOTi\r\n")), reply(7, "VER=4.01\r\n"));
}

// A board whose UART is fixed at one speed hears only a host set to it.
struct SpeedCase {
    const char* name;
    long hostSpeed;  // 0: never said
    bool answered;
};

void PrintTo(const SpeedCase& c, std::ostream* os) {
    *os << c.name;
}

class FixedLineSpeed : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(FixedLineSpeed, AnswersOnlyAtItsSpeed) {
    SimConfig config = plain();
    config.lineSpeed = 19200;
    Bus bus(config);
    if (GetParam().hostSpeed != 0) bus.sim.setHostSpeed(0, GetParam().hostSpeed);
    EXPECT_EQ(bus.exchange(1 * kMs, "BOOTi\r\n"), GetParam().answered ? "VER=4.01\r\n" : "");
    EXPECT_EQ(bus.entries("RX").size(), GetParam().answered ? 1U : 0U);
}

INSTANTIATE_TEST_SUITE_P(Speeds, FixedLineSpeed,
                         ::testing::Values(SpeedCase{"Same", 19200, true}, SpeedCase{"Faster", 115200, false},
                                           SpeedCase{"Slower", 9600, false}, SpeedCase{"Unknown", 0, false}),
                         [](const ::testing::TestParamInfo<SpeedCase>& info) { return std::string(info.param.name); });

TEST(FixedLineSpeed, AHostThatChangesToItsSpeedIsHeardFromThen) {
    SimConfig config = plain();
    config.lineSpeed = 9600;
    Bus bus(config);
    bus.sim.setHostSpeed(0, 115200);
    EXPECT_EQ(bus.exchange(1 * kMs, "BOOTi\r\n"), "");
    bus.sim.setHostSpeed(2 * kMs, 9600);
    EXPECT_EQ(bus.exchange(3 * kMs, "BOOTi\r\n"), "VER=4.01\r\n");
}

TEST(LateReply, ComesAfterTheAnswerToALaterCommand) {
    SimConfig config = plain();
    config.faults.lateReplies[1] = 100 * kMs;
    Bus bus(config);
    EXPECT_EQ(bus.exchange(0, "BOOTi\r\n"), "");
    // The second answer does not wait for the late first one.
    EXPECT_EQ(bus.exchange(10 * kMs, "BOOT:00000001FF\r\n"), "DOWNLOAD\r\n");
    EXPECT_EQ(bus.sim.takeDue(99 * kMs), "");
    EXPECT_EQ(bus.sim.takeDue(100 * kMs), "VER=4.01\r\n");
}

}  // namespace
}  // namespace vantrel::boardsim
