#include <string>

#include <QByteArray>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

constexpr qint16 kEofLine = 3;

// A three-line file loaded whose last line is the end-of-file record, the
// next line to send line 2, the probe timer running and the bar showing a
// text of its own, so that every change made by a reply shows.
class ReplyParserTest : public ::testing::Test {
  protected:
    ReplyParserTest() {
        f.port->setPortOpen(true);
        f->HexLines[1] = ":L1";
        f->HexLines[2] = ":L2";
        f->HexLines[kEofLine] = ":00000001FF";
        f->LineCount = 3;
        f->LineIndex = 1;
        // The end-of-file record was written last and awaits its answer.
        f->LineInFlight = kEofLine;
        f->EndOfFileOutstanding = true;
        f->Timer3->start();
        f->Label2->setText(QStringLiteral("No info"));
        f->vbalProgressBar1->setMax(3);
        f->vbalProgressBar1->setValue(1);
        f->vbalProgressBar1->setText(QStringLiteral("START"));
        f->vbalProgressBar1->setBarColor(color::kBlue);
    }

    void reply(const QByteArray& text) {
        f->RxLine = text;
        f->Com_Parser();
    }

    FakeLoader f;
};

struct ReplyCase {
    const char* name;
    QByteArray reply;
    // Before
    qint16 verifyPhase;
    qint16 armed;
    qint16 active;
    // After
    bool timer3Running;
    const char* label2;
    const char* barText;
    quint32 barColor;
    qint32 barValue;
    qint16 verifyPhaseAfter;
    qint16 activeAfter;
    qint16 lineIndexAfter;
    QByteArray sent;  // empty: nothing written
    // The line whose answer the reply is: line 1 unless a row says
    // otherwise. "DOWNLOAD" counts only while the end-of-file record
    // awaits its answer.
    qint16 inFlight = 1;
};

class ReplyWords : public ReplyParserTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyWords, FirstWordFoundDecides) {
    const ReplyCase& c = GetParam();
    f->VerifyPhase = c.verifyPhase;
    f->TransferArmed = c.armed;
    f->TransferActive = c.active;
    f->LineInFlight = c.inFlight;
    f->EndOfFileOutstanding = c.inFlight == kEofLine;

    reply(c.reply);

    EXPECT_EQ(f->Text8->text(), QString::fromLatin1(c.reply));
    EXPECT_EQ(f->Timer3->isActive(), c.timer3Running);
    EXPECT_EQ(f->Label2->text(), QString::fromLatin1(c.label2));
    EXPECT_EQ(f->vbalProgressBar1->text(), QString::fromLatin1(c.barText));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), c.barColor);
    EXPECT_EQ(f->vbalProgressBar1->value(), c.barValue);
    EXPECT_EQ(f->VerifyPhase, c.verifyPhaseAfter);
    EXPECT_EQ(f->TransferArmed, c.armed);
    EXPECT_EQ(f->TransferActive, c.activeAfter);
    EXPECT_EQ(f->LineIndex, c.lineIndexAfter);
    if (c.sent.isEmpty()) {
        EXPECT_TRUE(f.port->writes.isEmpty());
    } else {
        EXPECT_EQ(f.port->writes, QList<QByteArray>{c.sent});
    }
}

constexpr quint32 kBlue = color::kBlue;
constexpr quint32 kRed = color::kRed;
constexpr quint32 kGreen = color::kGreen;

INSTANTIATE_TEST_SUITE_P(Replies, ReplyWords,
                         ::testing::Values(
                             // name, reply, phase/armed/active before,
                             // timer3, Label2, bar text, colour, value, phase/active/index after, line sent
                             ReplyCase{"OkSendsTheNextLine", "OK\r\n", 0, 1, 1,  //
                                       true, "No info", "DOWNLOAD", kBlue, 2, 0, 1, 2, "BOOT:L2\r\n"},
                             // After the end-of-file record there is no next line: an "OK" to
                             // the line before it (two lines in flight) or to the record itself
                             // wraps to nothing.
                             ReplyCase{"OkWhileTheEndOfFileRecordAwaitsItsAnswerSendsNothing",
                                       "OK\r\n",
                                       0,
                                       1,
                                       1,
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {},
                                       kEofLine},
                             ReplyCase{"OkInTheVerifyPassSendsTheVerifyForm", "OK\r\n", 1, 1, 1,  //
                                       true, "No info", "START", kBlue, 2, 1, 1, 2, "BOOT#L2\r\n"},
                             ReplyCase{"OkWithoutATransferSendsNothing",
                                       "OK",
                                       0,
                                       0,
                                       0,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       0,
                                       1,
                                       {}},
                             ReplyCase{"OkAfterTheEndSendsNothing",
                                       "OK\r\n",
                                       0,
                                       1,
                                       0,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       0,
                                       1,
                                       {}},
                             ReplyCase{"OkAfterTheEndOfAVerifyStartSendsNothing",
                                       "OK\r\n",
                                       1,
                                       1,
                                       0,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       1,
                                       0,
                                       1,
                                       {}},
                             ReplyCase{"OkInsideOtherText", "xxOKyy", 0, 1, 1,  //
                                       true, "No info", "DOWNLOAD", kBlue, 2, 0, 1, 2, "BOOT:L2\r\n"},
                             ReplyCase{"VersionDuringATransferSendsTheNextLine", "VER=1.2\r\n", 0, 1, 1,  //
                                       false, "READY", "DOWNLOAD", kBlue, 2, 0, 1, 2, "BOOT:L2\r\n"},
                             ReplyCase{"VersionArmedButInactiveSendsNothing",
                                       "VER=1.2\r\n",
                                       0,
                                       1,
                                       0,  //
                                       false,
                                       "READY",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       0,
                                       1,
                                       {}},
                             ReplyCase{"VersionActiveButNotArmedSendsNothing",
                                       "VER=1.2\r\n",
                                       0,
                                       0,
                                       1,  //
                                       false,
                                       "READY",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"VersionWinsOverEveryOtherWord",
                                       "VER= ERROR DOWNLOAD FORMAT OK",
                                       1,
                                       0,
                                       0,  //
                                       false,
                                       "READY",
                                       "START",
                                       kBlue,
                                       1,
                                       1,
                                       0,
                                       1,
                                       {}},
                             ReplyCase{"ErrorHaltsWithoutSending",
                                       "ERROR\r\n",
                                       1,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "ERROR",
                                       kRed,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"ErrorWinsOverOk",
                                       "ERROR OK",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "ERROR",
                                       kRed,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"ErrorWinsOverDownload",
                                       "DOWNLOAD ERROR",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "ERROR",
                                       kRed,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"DownloadStartsTheVerifyPassFromLineOne", "DOWNLOAD\r\n", 0, 1, 1,  //
                                       true, "No info", "VERIFY", kBlue, 1, 1, 1, 1, "BOOT#L1\r\n", kEofLine},
                             ReplyCase{"DownloadWithAnOddPhaseStartsTheVerifyPass", "DOWNLOAD", 2, 1, 1,  //
                                       true, "No info", "VERIFY", kBlue, 1, 1, 1, 1, "BOOT#L1\r\n", kEofLine},
                             ReplyCase{"DownloadInTheVerifyPassEndsTheTransfer",
                                       "DOWNLOAD\r\n",
                                       1,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "END",
                                       kGreen,
                                       1,
                                       0,
                                       0,
                                       1,
                                       {},
                                       kEofLine},
                             ReplyCase{"DownloadWinsOverOkStartingTheVerifyPass", "DOWNLOAD OK", 0, 1, 1,  //
                                       true, "No info", "VERIFY", kBlue, 1, 1, 1, 1, "BOOT#L1\r\n", kEofLine},
                             ReplyCase{"DownloadWinsOverOkEndingTheTransfer",
                                       "DOWNLOAD OK",
                                       1,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "END",
                                       kGreen,
                                       1,
                                       0,
                                       0,
                                       1,
                                       {},
                                       kEofLine},
                             // A "DOWNLOAD" to any line but the end-of-file record is a stale or
                             // doubled copy: shown, and the pass goes on untouched.
                             ReplyCase{"DownloadToADataRecordIsPassedOver",
                                       "DOWNLOAD\r\n",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {},
                                       1},
                             ReplyCase{"DownloadToADataRecordInTheVerifyPassEndsNothing",
                                       "DOWNLOAD\r\n",
                                       1,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       1,
                                       1,
                                       1,
                                       {},
                                       2},
                             ReplyCase{"DownloadWithNoLineInFlightIsPassedOver",
                                       "DOWNLOAD",
                                       1,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       1,
                                       1,
                                       1,
                                       {},
                                       0},
                             // The "OK" that came with a stray copy answers the line in flight.
                             ReplyCase{"StrayDownloadWithAnOkGoesOnWithTheOk", "DOWNLOAD\r\nOK\r\n", 1, 1, 1,  //
                                       true, "No info", "START", kBlue, 2, 1, 1, 2, "BOOT#L2\r\n", 1},
                             ReplyCase{"FormatEmptiesTheBar",
                                       "FORMAT\r\n",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "",
                                       kBlue,
                                       0,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"FormatWinsOverOk",
                                       "FORMAT OK",
                                       1,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "",
                                       kBlue,
                                       0,
                                       1,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"LowerCaseOkIsNoWord",
                                       "ok",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"MixedCaseOkIsNoWord",
                                       "Ok",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"LowerCaseDownloadIsNoWord",
                                       "download",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"VersionWithoutEqualsIsNoWord",
                                       "VER 1.2",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}},
                             ReplyCase{"EmptyReplyOnlyEmptiesTheReplyBox",
                                       "",
                                       0,
                                       1,
                                       1,  //
                                       true,
                                       "No info",
                                       "START",
                                       kBlue,
                                       1,
                                       0,
                                       1,
                                       1,
                                       {}}),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

// The end-of-file reply doubled: the first copy starts the verify pass, the
// second finds line 1 in flight and ends nothing. Only the answer to the
// end-of-file record of the verify pass ends the transfer.
TEST_F(ReplyParserTest, DoubledDownloadStartsTheVerifyPassAndOnlyItsOwnEndEndsIt) {
    f->VerifyPhase = 0;
    f->TransferArmed = 1;
    f->TransferActive = 1;

    reply("DOWNLOAD");
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("VERIFY"));
    EXPECT_EQ(f->VerifyPhase, 1);
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT#L1\r\n"});

    reply("DOWNLOAD");
    EXPECT_EQ(f->Text8->text(), QStringLiteral("DOWNLOAD"));
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("VERIFY"));
    EXPECT_EQ(f->VerifyPhase, 1);
    EXPECT_EQ(f->TransferActive, 1);
    EXPECT_EQ(f.port->writes.size(), 1) << "the second copy sends nothing";

    reply("OK");
    reply("OK");
    EXPECT_EQ(f.port->writes, (QList<QByteArray>{"BOOT#L1\r\n", "BOOT#L2\r\n", "BOOT#00000001FF\r\n"}));
    reply("DOWNLOAD");
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kGreen);
    EXPECT_EQ(f->VerifyPhase, 0);
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_EQ(f->TransferArmed, 1);

    // Stray replies after the end send nothing: the file is not sent again,
    // and a late "DOWNLOAD" starts no new verify pass.
    for (int i = 0; i < 5; ++i) reply("OK\r\n");
    reply("DOWNLOAD\r\n");
    EXPECT_EQ(f.port->writes.size(), 3);
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
}

// A stray "DOWNLOAD" in the middle of the download pass starts no verify
// pass: the download goes on and reaches its own end.
TEST_F(ReplyParserTest, StrayDownloadInTheMiddleOfADownloadLetsItGoOn) {
    f->VerifyPhase = 0;
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->LineIndex = 0;
    f->EndOfFileOutstanding = false;  // a pass starts
    f->Command5_Click();
    ASSERT_EQ(f->LineInFlight, 1);

    reply("DOWNLOAD\r\n");
    EXPECT_EQ(f->VerifyPhase, 0);
    EXPECT_EQ(f.port->writes.size(), 1);

    reply("OK\r\n");
    reply("OK\r\n");
    reply("DOWNLOAD\r\n");
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("VERIFY"));
    EXPECT_EQ(f.port->writes, (QList<QByteArray>{"BOOT:L1\r\n", "BOOT:L2\r\n", "BOOT:00000001FF\r\n", "BOOT#L1\r\n"}));
}

TEST_F(ReplyParserTest, ErrorInTheVerifyPassMakesTheNextDownloadStartItAgain) {
    f->VerifyPhase = 1;
    f->LineIndex = 2;
    f->TransferArmed = 1;
    f->TransferActive = 1;

    reply("ERROR");
    reply("DOWNLOAD");

    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("VERIFY"));
    EXPECT_EQ(f->VerifyPhase, 1);
    EXPECT_EQ(f->TransferActive, 1);
    EXPECT_EQ(f->LineIndex, 1);
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT#L1\r\n"});
}

TEST_F(ReplyParserTest, OkAfterAnErrorGoesOnInTheDownloadForm) {
    f->VerifyPhase = 1;
    f->LineIndex = 1;
    f->LineInFlight = 1;
    f->EndOfFileOutstanding = false;
    f->TransferArmed = 1;
    f->TransferActive = 1;

    reply("ERROR");
    reply("OK");

    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("DOWNLOAD"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kRed);
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:L2\r\n"});
}

// Whole transfers of the three-line file, reply by reply: "DOWNLOAD" counts
// while the pass's end-of-file record awaits its answer, whatever line was
// written last, and "END" follows a verify pass of every line.
struct TransferCase {
    const char* name;
    QList<QByteArray> replies;
    QList<QByteArray> written;
    const char* barText;
};

class WholeTransfer : public ReplyParserTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(WholeTransfer, EndsAfterEveryLineOfBothPasses) {
    f->VerifyPhase = 0;
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->LineIndex = 0;
    f->LineInFlight = 0;
    f->EndOfFileOutstanding = false;
    f->Command5_Click();

    for (const QByteArray& r : GetParam().replies) reply(r);

    EXPECT_EQ(f.port->writes, GetParam().written);
    EXPECT_EQ(f->vbalProgressBar1->text(), QString::fromLatin1(GetParam().barText));
    const bool ended = QByteArrayView(GetParam().barText) == "END";
    EXPECT_EQ(f->TransferActive, ended ? 0 : 1);
    EXPECT_EQ(f->EndOfFileOutstanding, !ended) << "only an unanswered record is outstanding";
}

const QList<QByteArray> kBothPasses{"BOOT:L1\r\n", "BOOT:L2\r\n", "BOOT:00000001FF\r\n",
                                    "BOOT#L1\r\n", "BOOT#L2\r\n", "BOOT#00000001FF\r\n"};

INSTANTIATE_TEST_SUITE_P(
    EndOfFile, WholeTransfer,
    ::testing::Values(
        TransferCase{"OneLineInFlight", {"OK", "OK", "DOWNLOAD", "OK", "OK", "DOWNLOAD"}, kBothPasses, "END"},
        // A "VER=" while line 2 is in flight sends the end-of-file record too:
        // the "OK" to line 2 then finds nothing after it, and the board's
        // "DOWNLOAD" to the record starts the verify pass.
        TransferCase{"TwoLinesInFlightAtTheEndOfTheDownload",
                     {"OK", "VER=4.01", "OK", "DOWNLOAD", "OK", "OK", "DOWNLOAD"},
                     kBothPasses,
                     "END"},
        TransferCase{"TwoLinesInFlightAtTheEndOfTheVerify",
                     {"OK", "OK", "DOWNLOAD", "OK", "VER=4.01", "OK", "DOWNLOAD"},
                     kBothPasses,
                     "END"},
        // A board that answers the end-of-file record "OK" and then "DOWNLOAD".
        TransferCase{"OkThenDownloadToTheEndOfFileRecord",
                     {"OK", "OK", "OK", "DOWNLOAD", "OK", "OK", "OK", "DOWNLOAD"},
                     kBothPasses,
                     "END"},
        // "OK" alone to the record, never "DOWNLOAD": the pass waits, it does
        // not go round the file again.
        TransferCase{"OkAloneToTheEndOfFileRecordStalls",
                     {"OK", "OK", "OK", "OK"},
                     {"BOOT:L1\r\n", "BOOT:L2\r\n", "BOOT:00000001FF\r\n"},
                     "DOWNLOAD"}),
    [](const ::testing::TestParamInfo<TransferCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::testing
