// The simulated boards behind the serial port interface, on a virtual clock.

#include "boardsim/simulated_port.h"

#include <functional>
#include <memory>
#include <ostream>

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "boardsim/framing.h"
#include "common/failure.h"

namespace vantrel::boardsim {
namespace {

constexpr Micros kMs = 1000;

// A port on a clock the test moves, made from options as text.
class Rig {
  public:
    explicit Rig(std::string_view options) {
        const ParseResult parsed = parseOptionText(options);
        EXPECT_EQ(parsed.error, "") << options;
        port = std::make_unique<SimulatedPort>(parsed.options, clock.reader());
    }

    void at(Micros t) { clock.advance(t - clock.now()); }
    void open(qint16 number = 3) {
        port->setCommPort(number);
        port->setPortOpen(true);
    }
    void write(std::string_view bytes) {
        port->setOutput(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }
    // One poll as the window makes it: the count, then the bytes if any.
    std::string poll() {
        if (port->inBufferCount() == 0) return {};
        const QByteArray got = port->input();
        return got.toStdString();
    }
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const LogEntry& e : port->log()) {
            if (e.direction == "EV") out.push_back(e.text);
        }
        return out;
    }

    VirtualClock clock;
    std::unique_ptr<SimulatedPort> port;
};

// The failure number an operation raises; 0 when it succeeds.
int failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const vantrel::Failure& f) {
        return f.number();
    }
    return 0;
}

struct ClosedCase {
    const char* name;
    std::function<void(SimulatedPort&)> operation;
};

void PrintTo(const ClosedCase& c, std::ostream* out) {
    *out << c.name;
}

class ClosedPort : public ::testing::TestWithParam<ClosedCase> {};

TEST_P(ClosedPort, RefusesBeforeOpenAndAfterClose) {
    Rig rig("");
    EXPECT_EQ(failureOf([&] { GetParam().operation(*rig.port); }), vantrel::failure::kPortNotOpen);
    rig.open();
    EXPECT_EQ(failureOf([&] { GetParam().operation(*rig.port); }), 0);
    rig.port->setPortOpen(false);
    EXPECT_FALSE(rig.port->portOpen());
    EXPECT_EQ(failureOf([&] { GetParam().operation(*rig.port); }), vantrel::failure::kPortNotOpen);
}

INSTANTIATE_TEST_SUITE_P(Operations, ClosedPort,
                         ::testing::Values(ClosedCase{"Write", [](SimulatedPort& p) { p.setOutput("BOOTi\r\n"); }},
                                           ClosedCase{"Count", [](SimulatedPort& p) { p.inBufferCount(); }},
                                           ClosedCase{"Input", [](SimulatedPort& p) { p.input(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimulatedPort, RecordsSettingsAndPortAndRefusesASecondOpen) {
    Rig rig("");
    rig.port->setSettings("9600,n,8,1");
    rig.open(7);
    EXPECT_TRUE(rig.port->portOpen());
    EXPECT_EQ(rig.port->settings(), "9600,n,8,1");
    EXPECT_EQ(rig.port->commPort(), 7);
    EXPECT_EQ(failureOf([&] { rig.port->setPortOpen(true); }), vantrel::failure::kPortAlreadyOpen);
    EXPECT_TRUE(rig.port->portOpen());
}

TEST(SimulatedPort, WithComOnlyThatPortExists) {
    Rig rig("--com 3");
    EXPECT_EQ(failureOf([&] { rig.open(4); }), vantrel::failure::kPortInvalid);
    EXPECT_FALSE(rig.port->portOpen());
    EXPECT_EQ(failureOf([&] { rig.open(3); }), 0);
}

// The receive event, as the QSerialPort adapter's readyRead: it runs from the
// event loop once reply bytes wait, and never for a closed port.
TEST(SimulatedPort, AnnouncesWaitingRepliesThroughTheReceiveEvent) {
    Rig rig("");
    int calls = 0;
    std::string got;
    rig.port->setReceiveEvent([&] {
        ++calls;
        got += rig.poll();
    });
    rig.open();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0) << "nothing was waiting";

    rig.write("BOOTi\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 5000));
    EXPECT_EQ(got, "VER=4.01\r\n");
    EXPECT_EQ(calls, 1);

    rig.write("BOOTi\r\n");
    rig.port->setPortOpen(false);
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1) << "a closed port announces nothing";
}

struct PollCase {
    const char* name;
    const char* options;
    std::string command;                                // written at 0
    std::vector<std::pair<Micros, std::string>> polls;  // what a poll at that time gets
};

void PrintTo(const PollCase& c, std::ostream* out) {
    *out << c.name;
}

class WhatEachPollGets : public ::testing::TestWithParam<PollCase> {};

// Reply bytes are there from the moment they are due, not before, whatever
// the switches make of that moment.
TEST_P(WhatEachPollGets, FollowsTheBoardsTiming) {
    Rig rig(GetParam().options);
    rig.open();
    rig.write(GetParam().command);
    for (const auto& [t, expected] : GetParam().polls) {
        rig.at(t);
        EXPECT_EQ(rig.poll(), expected) << "at " << t << " us";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Switches, WhatEachPollGets,
    ::testing::Values(
        PollCase{"AtOnce", "", "BOOTi\r\n", {{0, "VER=4.01\r\n"}, {20 * kMs, ""}}},
        PollCase{"ReplyDelay", "--reply-delay 300", "BOOTi\r\n", {{299 * kMs, ""}, {300 * kMs, "VER=4.01\r\n"}}},
        PollCase{"Dribble",
                 "--dribble 30",
                 "BOOTi\r\n",
                 {{20 * kMs, "V"}, {40 * kMs, "E"}, {59 * kMs, ""}, {60 * kMs, "R"}}},
        // 9600 baud: the command is in at 7.3 ms, then a byte every 1.04 ms.
        PollCase{"Baud", "--baud 9600", "BOOTi\r\n", {{10 * kMs, "VE"}, {20 * kMs, "R=4.01\r\n"}}},
        PollCase{"SplitReply",
                 "--split-reply 1:2:30",
                 "BOOT:00000001FF\r\n",
                 {{20 * kMs, "DO"}, {29 * kMs, ""}, {30 * kMs, "WNLOAD\r\n"}}},
        PollCase{"DoubleReplyModbus",
                 "--modbus 5 --double-reply 1",
                 buildFrame(5, "BOOTi\r\n"),
                 {{0, buildFrame(5, "BVER=4.01\r\n") + buildFrame(5, "BVER=4.01\r\n")}}},
        PollCase{"NoReply", "--no-reply-record 1", "BOOT:00000001FF\r\n", {{0, ""}, {1000 * kMs, ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimulatedPort, ReplyIsLoggedWhenItLeftNotWhenItWasRead) {
    Rig rig("--reply-delay 300");
    rig.open();
    rig.at(100 * kMs);
    rig.write("BOOTi\r\n");
    rig.at(900 * kMs);
    EXPECT_EQ(rig.poll(), "VER=4.01\r\n");
    const auto& log = rig.port->log();
    ASSERT_EQ(log.size(), 3U);  // ready, RX, TX
    EXPECT_EQ(formatLogLine(log[1]), "100 RX - 424F4F54690D0A BOOTi\\r\\n");
    EXPECT_EQ(formatLogLine(log[2]), "400 TX - 5645523D342E30310D0A VER=4.01\\r\\n");
}

TEST(SimulatedPort, EveryByteValuePassesUnchanged) {
    // In: a command holding every byte value; out: a frame from address 200,
    // a byte above 127.
    Rig rig("--modbus 200");
    rig.open();
    std::string everything = "BOOT";
    for (int b = 0; b < 256; ++b) everything.push_back(static_cast<char>(b));
    everything += "\r\n";
    rig.write(buildFrame(200, everything));
    EXPECT_EQ(rig.poll(), buildFrame(200, "BFORMAT\r\n"));
    EXPECT_EQ(rig.port->commands(), std::vector<std::string>{everything});
}

TEST(SimulatedPort, CountStopsAt32767AndInputHandsOutNoMore) {
    Rig rig("");
    rig.open();
    std::string commands;
    for (int i = 0; i < 5000; ++i) commands += "BOOTx\r\n";
    rig.write(commands);  // 5000 "FORMAT\r\n": 40000 bytes
    EXPECT_EQ(rig.port->inBufferCount(), 32767);
    std::string got = rig.port->input().toStdString();
    EXPECT_EQ(got.size(), 32767U);
    EXPECT_EQ(rig.port->inBufferCount(), 40000 - 32767);
    got += rig.port->input().toStdString();
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += "FORMAT\r\n";
    EXPECT_EQ(got, expected);
    EXPECT_EQ(rig.port->inBufferCount(), 0);
}

TEST(SimulatedPort, OpeningDropsWhatWasWaiting) {
    Rig rig("");
    rig.open();
    rig.write("BOOTi\r\n");
    rig.port->setPortOpen(false);
    rig.open();
    EXPECT_EQ(rig.port->inBufferCount(), 0);
    rig.write("BOOTx\r\n");
    EXPECT_EQ(rig.poll(), "FORMAT\r\n");
}

class AppearingPort : public ::testing::TestWithParam<const char*> {};

// A USB board switched on a second after the test starts.
TEST_P(AppearingPort, OpensFailUntilTheAppearTime) {
    Rig rig(GetParam());
    EXPECT_EQ(failureOf([&] { rig.open(); }), vantrel::failure::kPortInvalid);
    rig.at(999 * kMs);
    EXPECT_EQ(failureOf([&] { rig.open(); }), vantrel::failure::kPortInvalid);
    rig.at(1000 * kMs);
    EXPECT_EQ(failureOf([&] { rig.open(); }), 0);
    EXPECT_EQ(rig.events(), (std::vector<std::string>{"ready in-process COM3", "appeared COM3"}));
    EXPECT_EQ(rig.port->log().back().at, 1000 * kMs);
}

INSTANTIATE_TEST_SUITE_P(Switches, AppearingPort,
                         ::testing::Values("--com 3 --appear-after 1", "--com 3 --appear-after 1 --appear-target"),
                         [](const auto& info) { return info.index == 0 ? "AliasLate" : "TargetLate"; });

TEST(SimulatedPort, UnplugsOnceTheNamedRecordsReplyIsRead) {
    Rig rig("--unplug-after 2");
    rig.open();
    rig.write("BOOT:0400000020EF00F0FD\r\n");
    EXPECT_EQ(rig.poll(), "OK\r\n");
    rig.write("BOOT:020008001100E5\r\n");
    EXPECT_EQ(rig.port->inBufferCount(), 4);
    EXPECT_TRUE(rig.port->portOpen()) << "the reply is still unread";
    EXPECT_EQ(rig.port->input(), "OK\r\n");
    EXPECT_FALSE(rig.port->portOpen());
    EXPECT_EQ(failureOf([&] { rig.write("BOOTi\r\n"); }), vantrel::failure::kPortNotOpen);
    EXPECT_EQ(failureOf([&] { rig.port->inBufferCount(); }), vantrel::failure::kPortNotOpen);
    // Without --replug-after the device never comes back.
    rig.at(3600'000 * kMs);
    EXPECT_EQ(failureOf([&] { rig.open(); }), vantrel::failure::kPortInvalid);
    EXPECT_EQ(rig.events(), (std::vector<std::string>{"ready in-process", "fault unplug-after 2", "unplugged"}));
}

TEST(SimulatedPort, ReplugBringsThePortBackWithTheBoardRestarted) {
    Rig rig("--unplug-after 2 --replug-after 1.5");
    rig.open();
    rig.write("BOOT:0400000020EF00F0FD\r\n");
    EXPECT_EQ(rig.poll(), "OK\r\n");
    // Record 2 moves the extended address to 0x10000; the BOOTi comes too late.
    rig.write("BOOT:020000040001F9\r\nBOOTi\r\n");
    rig.at(10 * kMs);
    EXPECT_EQ(rig.poll(), "OK\r\n");
    ASSERT_FALSE(rig.port->portOpen());

    rig.at(1509 * kMs);
    EXPECT_EQ(failureOf([&] { rig.open(); }), vantrel::failure::kPortInvalid);
    rig.at(1510 * kMs);
    EXPECT_EQ(failureOf([&] { rig.open(); }), 0);
    // The flash kept record 1, and the restart put the extended address back
    // to 0, so verifying record 1 compares the bytes it wrote.
    rig.write("BOOT#0400000020EF00F0FD\r\nBOOTi\r\n");
    EXPECT_EQ(rig.poll(), "OK\r\nVER=4.01\r\n");
    EXPECT_EQ(rig.events(), (std::vector<std::string>{"ready in-process", "fault unplug-after 2", "unplugged",
                                                      "replugged in-process"}));
    EXPECT_EQ(rig.port->commands().size(), 4U) << "the BOOTi after the unplug record never arrived";
}

TEST(SimulatedPort, UnreadUnplugReplyGoesAfterTwoSeconds) {
    Rig rig("--unplug-after 1");
    rig.open();
    rig.write("BOOT:00000001FF\r\n");
    EXPECT_EQ(rig.port->inBufferCount(), 10);
    rig.at(1999 * kMs);
    EXPECT_EQ(rig.port->inBufferCount(), 10);
    rig.at(2000 * kMs);
    EXPECT_EQ(failureOf([&] { rig.port->inBufferCount(); }), vantrel::failure::kPortNotOpen);
    EXPECT_FALSE(rig.port->portOpen());
}

}  // namespace
}  // namespace vantrel::boardsim
