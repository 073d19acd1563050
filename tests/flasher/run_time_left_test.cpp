#include "flasher/run_time_left.h"

#include <string>

#include <gtest/gtest.h>

namespace vantrel::flasher {
namespace {

PortTimeLeft running(qint64 secondsLeft, int queued = 0, double rate = 0.0) {
    PortTimeLeft p;
    p.running = true;
    p.runningSecondsLeft = secondsLeft;
    p.queuedBoards = queued;
    p.linesPerSecond = rate;
    return p;
}

PortTimeLeft searching() {
    PortTimeLeft p;
    p.running = true;
    p.runningSecondsLeft = -1;
    p.searching = true;
    return p;
}

struct TimeLeftCase {
    const char* name;
    QList<PortTimeLeft> ports;
    qint64 linesPerBoard;
    qint64 expected;
};

void PrintTo(const TimeLeftCase& c, std::ostream* os) {
    *os << c.name;
}

class RunTimeLeft : public ::testing::TestWithParam<TimeLeftCase> {};

TEST_P(RunTimeLeft, IsTheLongestPortWithItsQueue) {
    EXPECT_EQ(runSecondsLeft(GetParam().ports, GetParam().linesPerBoard), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunTimeLeft,
    ::testing::Values(TimeLeftCase{"OneBoard", {running(81, 0, 49.0)}, 4204, 81},
                      // 30 s left, then two boards of 1000 lines at 50 lines/s: 20 s each.
                      TimeLeftCase{"ABusQueue", {running(30, 2, 50.0)}, 1000, 70},
                      TimeLeftCase{"QueuedPartsOfASecondRoundUp", {running(0, 1, 3.0)}, 10, 4},
                      // At the same time: the longer one, not the sum.
                      TimeLeftCase{"TwoPortsInParallel", {running(30, 1, 50.0), running(45, 0, 20.0)}, 1000, 50},
                      TimeLeftCase{
                          "TheSlowerPortsQueueDecides", {running(30, 0, 50.0), running(10, 1, 20.0)}, 1000, 60},
                      // The boards a search is still to find are not counted; the other port is.
                      TimeLeftCase{"ASearchNotYetDone", {searching(), running(12, 0, 50.0)}, 1000, 12},
                      TimeLeftCase{"OnlyASearch", {searching()}, 1000, 0},
                      TimeLeftCase{"UnknownRateOfTheRunningBoard", {running(-1), running(10, 0, 50.0)}, 1000, -1},
                      TimeLeftCase{"UnknownRateForTheQueue", {running(10, 2, 0.0)}, 1000, -1},
                      TimeLeftCase{"APortDoneCountsNothing", {PortTimeLeft{}, running(5, 0, 50.0)}, 1000, 5},
                      TimeLeftCase{"NoLinesToSendAddNothing", {running(3, 4, 0.0)}, 0, 3},
                      TimeLeftCase{"NothingLeft", {PortTimeLeft{}, PortTimeLeft{}}, 1000, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::flasher
