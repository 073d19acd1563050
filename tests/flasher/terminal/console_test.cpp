#include "flasher/terminal/console.h"

#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

namespace vantrel::flasher {
namespace {

// A console whose clock the test moves.
struct Captured {
    QString err;
    QString out;
    qint64 now = 1000;
    Console console;

    explicit Captured(Console::Style style, bool quiet = false)
        : console(
              style, quiet, [this](const QString& t) { err += t; }, [this](const QString& t) { out += t; },
              [this] { return now; }) {}

    QStringList errLines() const { return err.split(u'\n', Qt::SkipEmptyParts); }

    // A download and verify of `lines` lines, one line every `stepMs`.
    void transfer(int lines, qint64 stepMs) {
        console.beginTransfer(lines, 2);
        for (Pass pass : {Pass::Download, Pass::Verify}) {
            for (int line = 1; line <= lines; ++line) {
                console.lineSent(pass, line, lines);
                now += stepMs;
            }
        }
        console.endTransfer();
    }
};

TEST(Console, PlainProgressNamesEachPassAndEveryTenth) {
    Captured c(Console::Style::Plain);
    c.transfer(50, 100);
    const QStringList lines = c.errLines();
    ASSERT_EQ(lines.size(), 22) << c.err.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("download: 50 lines"));
    EXPECT_EQ(lines[11], QStringLiteral("verify: 50 lines"));
    for (int i = 1; i <= 10; ++i) {
        EXPECT_TRUE(lines[i].startsWith(QStringLiteral("download %1%").arg(i * 10, 3))) << lines[i].toStdString();
        EXPECT_TRUE(lines[11 + i].startsWith(QStringLiteral("verify %1%").arg(i * 10, 3)))
            << lines[11 + i].toStdString();
    }
    // Nothing meant for a terminal in a log.
    EXPECT_FALSE(c.err.contains(u'\r'));
    EXPECT_FALSE(c.err.contains(QChar(0x1b)));
    EXPECT_TRUE(c.out.isEmpty());
}

TEST(Console, FewLinesStillGiveOneLinePerCrossedTenth) {
    Captured c(Console::Style::Plain);
    c.console.beginTransfer(3, 1);
    for (int line = 1; line <= 3; ++line) c.console.lineSent(Pass::Verify, line, 3);
    const QStringList lines = c.errLines();
    ASSERT_EQ(lines.size(), 4) << c.err.toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("verify  30%")));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("verify  60%")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("verify 100%")));
}

TEST(Console, RateAndTimeLeftCountTheLinesOfThePassesToCome) {
    Captured c(Console::Style::Plain);
    c.console.beginTransfer(50, 2);
    // Ten lines a second; the report at 25 of 50 has 25 lines of this pass
    // and the 50 of the verify pass still to go: 75 lines, 7.5 s.
    for (int line = 1; line <= 25; ++line) {
        if (line > 1) c.now += 100;
        c.console.lineSent(Pass::Download, line, 50);
    }
    const QString last = c.errLines().back();
    EXPECT_TRUE(last.contains(QStringLiteral("25/50"))) << last.toStdString();
    EXPECT_TRUE(last.contains(QStringLiteral("10.0 lines/s"))) << last.toStdString();
    EXPECT_TRUE(last.contains(QStringLiteral("0:08 left"))) << last.toStdString();
}

TEST(Console, TerminalBarIsRedrawnInPlaceAndNotOnEveryLine) {
    Captured c(Console::Style::Terminal);
    c.console.beginTransfer(100, 1);
    // The clock stands still: only the first line and the last draw.
    for (int line = 1; line <= 100; ++line) c.console.lineSent(Pass::Download, line, 100);
    EXPECT_EQ(c.err.count(u'\r'), 2) << c.err.toStdString();
    EXPECT_TRUE(c.err.contains(QStringLiteral("100/100")));
    EXPECT_FALSE(c.err.contains(u'\n'));
    c.console.endTransfer();
    EXPECT_TRUE(c.err.endsWith(u'\n'));
}

TEST(Console, TerminalBarIsCutToTheTerminalsWidth) {
    Captured c(Console::Style::Terminal);
    c.console.setWidth(30);
    c.console.beginTransfer(100, 2);
    c.console.lineSent(Pass::Download, 1, 100);
    const QString drawn = c.err.section(u'\r', -1).section(QStringLiteral("\x1b["), 0, 0);
    EXPECT_EQ(drawn.size(), 29) << c.err.toStdString();
    EXPECT_TRUE(drawn.startsWith(QStringLiteral("download 1/2 ["))) << drawn.toStdString();
}

TEST(Console, LanesAreCutToTheTerminalsWidth) {
    QString err;
    Lanes lanes([&err](const QString& t) { err += t; });
    lanes.setWidth(10);
    lanes.add(QStringLiteral("COM3: download 1/2 [####----]"));
    lanes.add(QStringLiteral("COM4: ok"));
    EXPECT_TRUE(err.contains(QStringLiteral("COM3: dow\x1b[K"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("COM4: ok\x1b[K"))) << err.toStdString();
}

struct FitCase {
    const char* name;
    int columns;
    const char* line;
    const char* shown;
};

class FitToWidth : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitToWidth, KeepsTheLineShorterThanTheTerminal) {
    EXPECT_EQ(fitToWidth(QString::fromLatin1(GetParam().line), GetParam().columns),
              QString::fromLatin1(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(Widths, FitToWidth,
                         ::testing::Values(FitCase{"Unknown", 0, "abcdef", "abcdef"},
                                           FitCase{"Wider", 80, "abcdef", "abcdef"},
                                           FitCase{"OneMoreThanTheLine", 7, "abcdef", "abcdef"},
                                           FitCase{"AsWideAsTheLine", 6, "abcdef", "abcde"},
                                           FitCase{"Narrower", 4, "abcdef", "abc"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TerminalColumns, ComeFromColumnsWhenTheTerminalDoesNotSay) {
    // Descriptor -1 is no terminal.
    EXPECT_EQ(terminalColumns(-1, "120"), 120);
    EXPECT_EQ(terminalColumns(-1, " 64 "), 64);
    EXPECT_EQ(terminalColumns(-1, ""), 0);
    EXPECT_EQ(terminalColumns(-1, "wide"), 0);
    EXPECT_EQ(terminalColumns(-1, "-5"), 0);
}

TEST(DrawsInPlace, OnlyOnATerminalThatIsNotDumb) {
    EXPECT_TRUE(drawsInPlace(true, "xterm-256color"));
    EXPECT_TRUE(drawsInPlace(true, ""));
    EXPECT_FALSE(drawsInPlace(true, "dumb"));
    EXPECT_FALSE(drawsInPlace(false, "xterm"));
}

TEST(Console, TerminalBarRedrawsAtMostTenTimesASecond) {
    Captured c(Console::Style::Terminal);
    c.console.beginTransfer(1000, 1);
    for (int line = 1; line < 1000; ++line) {
        c.console.lineSent(Pass::Download, line, 1000);
        c.now += 10;
    }
    // 9990 ms of lines: the first draw and one every 100 ms.
    EXPECT_NEAR(c.err.count(u'\r'), 100, 1);
}

TEST(Console, MessagesDuringTheBarGoAboveIt) {
    Captured c(Console::Style::Terminal);
    c.console.beginTransfer(10, 1);
    c.console.lineSent(Pass::Download, 4, 10);
    c.err.clear();
    c.console.passthrough(QStringLiteral("vantrel.link: TX"));
    // Cleared line, the message on its own line, the bar drawn again.
    EXPECT_TRUE(c.err.startsWith(QStringLiteral("\r\x1b[K") + QStringLiteral("vantrel.link: TX\n")))
        << c.err.toStdString();
    EXPECT_TRUE(c.err.contains(QStringLiteral("4/10")));
}

TEST(Console, QuietKeepsOnlyFailuresAndResults) {
    Captured c(Console::Style::Terminal, true);
    c.transfer(10, 100);
    c.console.info(QStringLiteral("board found"));
    EXPECT_TRUE(c.err.isEmpty()) << c.err.toStdString();
    c.console.error(QStringLiteral("vantrel-flash: no reply"));
    c.console.result(QStringLiteral("VER=4.01"));
    EXPECT_EQ(c.err, QStringLiteral("vantrel-flash: no reply\n"));
    EXPECT_EQ(c.out, QStringLiteral("VER=4.01\n"));
}

// The screen a terminal shows after the given output: carriage return, new
// line, cursor up (ESC [ n A), clear to the end of the screen (ESC [ J) and
// of the line (ESC [ K).
QStringList screenAfter(const QString& output) {
    QStringList rows{QString()};
    int row = 0;
    int column = 0;
    for (qsizetype i = 0; i < output.size(); ++i) {
        const QChar c = output[i];
        if (c == u'\r') {
            column = 0;
        } else if (c == u'\n') {
            ++row;
            column = 0;
            if (row >= rows.size()) rows << QString();
        } else if (c == QChar(0x1b) && i + 1 < output.size() && output[i + 1] == u'[') {
            qsizetype j = i + 2;
            QString number;
            while (j < output.size() && output[j].isDigit()) number += output[j++];
            const QChar command = output[j];
            if (command == u'A') row = std::max(0, row - (number.isEmpty() ? 1 : number.toInt()));
            if (command == u'K') rows[row].truncate(column);
            if (command == u'J') {
                rows[row].truncate(column);
                while (rows.size() > row + 1) rows.removeLast();
            }
            i = j;
        } else {
            if (rows[row].size() < column) rows[row] += QString(column - rows[row].size(), u' ');
            rows[row] = rows[row].left(column) + c + rows[row].mid(column + 1);
            ++column;
        }
    }
    while (!rows.isEmpty() && rows.back().isEmpty()) rows.removeLast();
    return rows;
}

TEST(Console, SeveralBoardsOnATerminalKeepOneLineEachBelowTheirMessages) {
    QString err;
    qint64 now = 0;
    Lanes lanes([&err](const QString& t) { err += t; });
    auto clock = [&now] { return now; };
    auto sink = [&err](const QString& t) { err += t; };
    Console a(Console::Style::Terminal, false, QStringLiteral("COM3 @3"), &lanes, sink, sink, clock);
    Console b(Console::Style::Terminal, false, QStringLiteral("COM4"), &lanes, sink, sink, clock);

    a.info(QStringLiteral("board found"));
    a.beginTransfer(10, 2);
    b.beginTransfer(20, 2);
    for (int line = 1; line <= 10; ++line) {
        now += 200;
        a.lineSent(Pass::Download, line, 10);
        b.lineSent(Pass::Download, line, 20);
    }
    b.error(QStringLiteral("vantrel-flash: no reply"));
    a.endTransfer();
    a.settle(QStringLiteral("END"));

    QStringList screen = screenAfter(err);
    ASSERT_EQ(screen.size(), 4) << err.toStdString();
    EXPECT_EQ(screen[0], QStringLiteral("COM3 @3: board found"));
    EXPECT_EQ(screen[1], QStringLiteral("COM4: vantrel-flash: no reply"));
    EXPECT_EQ(screen[2], QStringLiteral("COM3 @3: END"));
    EXPECT_TRUE(screen[3].startsWith(QStringLiteral("COM4: download 1/2 [############"))) << screen[3].toStdString();
    EXPECT_TRUE(screen[3].contains(QStringLiteral("10/20"))) << screen[3].toStdString();

    lanes.finish();
    err += QStringLiteral("summary\n");
    screen = screenAfter(err);
    EXPECT_EQ(screen.back(), QStringLiteral("summary")) << "the lanes stay, the cursor below them";
    EXPECT_EQ(screen[2], QStringLiteral("COM3 @3: END"));
}

TEST(Console, TheRunsLineStaysUnderTheBoardsLinesAddedLater) {
    QString err;
    Lanes lanes([&err](const QString& t) { err += t; });
    auto sink = [&err](const QString& t) { err += t; };
    Console a(Console::Style::Terminal, false, QStringLiteral("COM3 @3"), &lanes, sink, sink);
    lanes.setFooter(QStringLiteral("run: 0 of 2 boards done, 1:10 left"));
    Console b(Console::Style::Terminal, false, QStringLiteral("COM3 @7"), &lanes, sink, sink);
    a.info(QStringLiteral("board found"));
    a.settle(QStringLiteral("END"));
    lanes.setFooter(QStringLiteral("run: 1 of 2 boards done, 0:35 left"));

    QStringList screen = screenAfter(err);
    EXPECT_EQ(screen, (QStringList{QStringLiteral("COM3 @3: board found"), QStringLiteral("COM3 @3: END"),
                                   QStringLiteral("COM3 @7"), QStringLiteral("run: 1 of 2 boards done, 0:35 left")}))
        << err.toStdString();

    // Taken away at the end, the boards' lines stay.
    lanes.setFooter(QString());
    lanes.finish();
    screen = screenAfter(err);
    EXPECT_EQ(screen, (QStringList{QStringLiteral("COM3 @3: board found"), QStringLiteral("COM3 @3: END"),
                                   QStringLiteral("COM3 @7")}))
        << err.toStdString();
}

TEST(Console, IntoALogEveryTenthSaysTheRunsTimeLeftWhenGivenIt) {
    Captured c(Console::Style::Plain);
    qint64 runLeft = 200;
    c.console.setRunTimeLeft([&runLeft] { return runLeft--; });
    c.transfer(20, 100);

    const QStringList lines = c.errLines().filter(QStringLiteral("%"));
    ASSERT_EQ(lines.size(), 20) << c.err.toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(", run 3:20 left"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(", run 3:19 left"))) << lines[1].toStdString();

    Captured unknown(Console::Style::Plain);
    unknown.console.setRunTimeLeft([] { return qint64(-1); });
    unknown.transfer(10, 100);
    EXPECT_TRUE(unknown.errLines().filter(QStringLiteral("%")).front().endsWith(QStringLiteral(", run --:-- left")));

    Captured alone(Console::Style::Plain);
    alone.transfer(10, 100);
    EXPECT_FALSE(alone.err.contains(QStringLiteral("run "))) << "a run of one board says nothing more";
}

TEST(Console, TheTransfersFiguresAreKnownFromTheSecondLineAndKeepTheRateAtTheEnd) {
    Captured c(Console::Style::Plain);
    EXPECT_FALSE(c.console.transferFigures()) << "before the transfer";
    c.console.beginTransfer(11, 2);
    c.console.lineSent(Pass::Download, 1, 11);
    ASSERT_TRUE(c.console.transferFigures());
    EXPECT_EQ(c.console.transferFigures()->secondsLeft, -1);
    for (int line = 2; line <= 11; ++line) {
        c.now += 100;
        c.console.lineSent(Pass::Download, line, 11);
    }
    // 10 lines in a second; the verify pass's 11 lines to come.
    EXPECT_DOUBLE_EQ(c.console.transferFigures()->rate, 10.0);
    EXPECT_EQ(c.console.transferFigures()->secondsLeft, 2);
    c.console.endTransfer();
    c.now += 60000;
    EXPECT_DOUBLE_EQ(c.console.transferFigures()->rate, 10.0);
    EXPECT_EQ(c.console.transferFigures()->secondsLeft, 0);
}

TEST(Console, SeveralBoardsIntoALogNameTheirBoardOnEveryLine) {
    QString err;
    QString out;
    qint64 now = 0;
    Console c(
        Console::Style::Plain, false, QStringLiteral("COM3 @7"), nullptr, [&err](const QString& t) { err += t; },
        [&out](const QString& t) { out += t; }, [&now] { return now; });
    c.info(QStringLiteral("board found"));
    c.beginTransfer(10, 1);
    for (int line = 1; line <= 10; ++line) {
        now += 100;
        c.lineSent(Pass::Verify, line, 10);
    }
    c.settle(QStringLiteral("END"));  // a log has said it already
    c.result(QStringLiteral("VER=4.01"));

    const QStringList lines = err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 12) << err.toStdString();
    for (const QString& line : lines) EXPECT_TRUE(line.startsWith(QStringLiteral("COM3 @7: "))) << line.toStdString();
    EXPECT_FALSE(err.contains(QChar(0x1b)));
    EXPECT_EQ(out, QStringLiteral("COM3 @7 VER=4.01\n"));
}

TEST(Console, DurationsReadAsClockTimes) {
    EXPECT_EQ(formatDuration(-1), QStringLiteral("--:--"));
    EXPECT_EQ(formatDuration(0), QStringLiteral("0:00"));
    EXPECT_EQ(formatDuration(59), QStringLiteral("0:59"));
    EXPECT_EQ(formatDuration(61), QStringLiteral("1:01"));
    EXPECT_EQ(formatDuration(3600 + 2 * 60 + 7), QStringLiteral("1:02:07"));
}

}  // namespace
}  // namespace vantrel::flasher
