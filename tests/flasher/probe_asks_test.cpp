#include "flasher/probe_asks.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vantrel::flasher {
namespace {

// What the line saw, in time order: an ask to an address, or an answer from one.
struct Event {
    char kind;  // 'a' asked, 'v' a "VER=" answered
    int address;
    qint64 at;
};

struct SettleCase {
    const char* name;
    std::vector<Event> events;
    int address;          // the address that answered
    qint64 checkAt;       // when the flasher looks
    qint64 expectedWait;  // 0: settled
};

class ProbeAsksSettle : public ::testing::TestWithParam<SettleCase> {};

TEST_P(ProbeAsksSettle, WaitsForEveryAskOrForQuietLongerThanTheSlowestAnswer) {
    ProbeAsks asks;
    for (const Event& e : GetParam().events) {
        if (e.kind == 'a')
            asks.asked(e.address, e.at);
        else
            asks.answered(e.address, e.at);
    }
    EXPECT_EQ(asks.waitMs(GetParam().address, GetParam().checkAt), GetParam().expectedWait);
    EXPECT_EQ(asks.settled(GetParam().address, GetParam().checkAt), GetParam().expectedWait == 0);
}

constexpr qint64 kMargin = ProbeAsks::kQuietMarginMs;

INSTANTIATE_TEST_SUITE_P(
    Lines, ProbeAsksSettle,
    ::testing::Values(
        // A board that answers within the probe's 200 ms: one ask, one answer.
        SettleCase{"QuickBoard", {{'a', -1, 0}, {'v', -1, 30}}, -1, 30, 0},
        // 450 ms a reply: asks at 0, 200 and 400; the first answer comes at
        // 450 and two more are on their way.
        SettleCase{"SlowBoardFirstAnswer",
                   {{'a', -1, 0}, {'a', -1, 200}, {'a', -1, 400}, {'v', -1, 450}},
                   -1,
                   450,
                   450 + kMargin},
        SettleCase{"SlowBoardSecondAnswer",
                   {{'a', -1, 0}, {'a', -1, 200}, {'a', -1, 400}, {'v', -1, 450}, {'v', -1, 650}},
                   -1,
                   650,
                   450 + kMargin},
        SettleCase{"SlowBoardEveryAnswer",
                   {{'a', -1, 0}, {'a', -1, 200}, {'a', -1, 400}, {'v', -1, 450}, {'v', -1, 650}, {'v', -1, 850}},
                   -1,
                   850,
                   0},
        // An answer lost on the way: the quiet after the last one settles it.
        SettleCase{
            "LostAnswerAfterTheQuiet", {{'a', -1, 0}, {'a', -1, 200}, {'v', -1, 250}}, -1, 250 + 250 + kMargin, 0},
        SettleCase{"LostAnswerJustBeforeTheQuietEnds",
                   {{'a', -1, 0}, {'a', -1, 200}, {'v', -1, 250}},
                   -1,
                   250 + 250 + kMargin - 1,
                   1},
        // A search: asks to 1 and 2 go unanswered, the board at 3 answers the
        // one ask it had.
        SettleCase{"SearchCountsOnlyTheAnsweringAddress",
                   {{'a', 1, 0}, {'a', 2, 200}, {'a', 3, 400}, {'a', 4, 600}, {'v', 3, 850}},
                   3,
                   850,
                   0},
        // A slow board in a search was asked twice at its address (a
        // "Next"): both answers count.
        SettleCase{"TwoAsksToTheAnsweringAddress", {{'a', 3, 0}, {'a', 3, 200}, {'v', 3, 300}}, 3, 300, 300 + kMargin},
        // An answer nobody asked for settles nothing more, but is no quiet.
        SettleCase{"UnaskedAnswerIsNoQuiet",
                   {{'a', -1, 0}, {'a', -1, 200}, {'v', -1, 300}, {'v', 9, 600}},
                   -1,
                   600,
                   300 + kMargin}),
    [](const ::testing::TestParamInfo<SettleCase>& info) { return std::string(info.param.name); });

TEST(ProbeAsks, TheSlowestAnswerIsRemembered) {
    ProbeAsks asks;
    asks.asked(-1, 0);
    asks.asked(-1, 200);
    asks.answered(-1, 120);
    asks.answered(-1, 650);
    EXPECT_EQ(asks.slowestAnswerMs(), 450);
    EXPECT_EQ(asks.unanswered(-1), 0);
}

}  // namespace
}  // namespace vantrel::flasher
