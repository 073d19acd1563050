#include "flasher/board_result.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vantrel::flasher {
namespace {

struct HeadlineCase {
    const char* name;
    std::vector<const char*> results;
    double seconds;
    const char* expected;
};

void PrintTo(const HeadlineCase& c, std::ostream* os) {
    *os << c.name;
}

class SummaryHeadline : public ::testing::TestWithParam<HeadlineCase> {};

TEST_P(SummaryHeadline, CountsTheOutcomesAndGivesTheRunsTime) {
    QList<BoardResult> boards;
    for (const char* result : GetParam().results) {
        BoardResult b;
        b.result = QString::fromLatin1(result);
        // A board's own time is not the run's: the ports work at once.
        b.seconds = 100.0;
        boards.append(b);
    }
    EXPECT_EQ(summaryHeadline(boards, GetParam().seconds).toStdString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SummaryHeadline,
    ::testing::Values(HeadlineCase{"SixBoards",
                                   {"END", "END", "END", "END", "ERROR", "END"},
                                   12.43,
                                   "summary: 6 boards: 5 END, 1 ERROR in 12.4 s"},
                      HeadlineCase{"OutcomesInTheOrderTheyFirstAppear",
                                   {"no reply", "END", "no reply"},
                                   0.96,
                                   "summary: 3 boards: 2 no reply, 1 END in 1.0 s"},
                      HeadlineCase{
                          "OneBoard", {"port not opened"}, 0.0, "summary: 1 board: 1 port not opened in 0.0 s"},
                      HeadlineCase{"LongRun", {"END", "END"}, 3725.26, "summary: 2 boards: 2 END in 3725.3 s"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::flasher
