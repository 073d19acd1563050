#include <initializer_list>
#include <string>

#include <QByteArray>
#include <QCheckBox>
#include <QLineEdit>
#include <QList>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

class LineSenderTest : public ::testing::Test {
  protected:
    LineSenderTest() { f.port->setPortOpen(true); }

    void loadLines(std::initializer_list<QByteArray> lines) {
        qint16 n = 0;
        for (const QByteArray& line : lines) f->HexLines[++n] = line;
        f->LineCount = n;
        f->LineIndex = 0;
        f->vbalProgressBar1->setMax(n);
    }

    void send() { f->Command5_Click(); }

    QString barText() const { return f->vbalProgressBar1->text(); }

    FakeLoader f;
};

TEST_F(LineSenderTest, DownloadPassSendsTheLineUnchanged) {
    loadLines({":00000001FF"});

    send();

    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:00000001FF\r\n"});
    EXPECT_EQ(f->vbalProgressBar1->value(), 1);
}

TEST_F(LineSenderTest, VerifyPassReplacesEveryColonAndKeepsTheTableEntry) {
    loadLines({":10:00:FF"});
    f->VerifyPhase = 1;

    send();

    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT#10#00#FF\r\n"});
    EXPECT_EQ(f->HexLines[1], QByteArray(":10:00:FF"));
}

TEST_F(LineSenderTest, ModbusFrameCarriesTheLineEndInsideTheCrc) {
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("1"));
    loadLines({":00000001FF"});

    send();

    EXPECT_EQ(f.port->writes, QList<QByteArray>{QByteArray::fromHex("01424F4F543A303030303030303146460D0A1765")});
    // The writer frames its argument in place; the table must not see that.
    EXPECT_EQ(f->HexLines[1], QByteArray(":00000001FF"));
}

TEST_F(LineSenderTest, EmptyEntryIsSentAsBootAloneInBothPasses) {
    loadLines({"", ""});

    send();
    f->VerifyPhase = 1;
    send();

    EXPECT_EQ(f.port->writes, (QList<QByteArray>{"BOOT\r\n", "BOOT\r\n"}));
}

TEST_F(LineSenderTest, WrapsToLineOneAfterTheLastLine) {
    loadLines({":L1", ":L2", ":L3"});

    for (int i = 0; i < 3; ++i) send();
    EXPECT_EQ(f->LineIndex, 0);
    EXPECT_EQ(f->vbalProgressBar1->value(), 3);

    send();
    EXPECT_EQ(f.port->writes, (QList<QByteArray>{"BOOT:L1\r\n", "BOOT:L2\r\n", "BOOT:L3\r\n", "BOOT:L1\r\n"}));
    EXPECT_EQ(f->LineIndex, 1);
    EXPECT_EQ(f->vbalProgressBar1->value(), 1);
}

TEST_F(LineSenderTest, PortClosedStillAdvancesAndSkippedLinesAreNotResent) {
    loadLines({":L1", ":L2", ":L3"});
    f.port->setPortOpen(false);

    send();
    send();
    EXPECT_EQ(f->LineIndex, 2);
    EXPECT_EQ(f->vbalProgressBar1->value(), 2);

    f.port->setPortOpen(true);
    send();
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:L3\r\n"});
}

// --- Progress text and pass form -----------------------------------------

class DownloadPassText : public LineSenderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DownloadPassText, EveryDownloadCallShowsDownload) {
    loadLines({":L1", ":L2"});
    f->LineIndex = 1;
    f->vbalProgressBar1->setText(QString::fromLatin1(GetParam()));

    send();

    EXPECT_EQ(barText(), QStringLiteral("DOWNLOAD"));
}

INSTANTIATE_TEST_SUITE_P(TextsBefore, DownloadPassText, ::testing::Values("READY", "VERIFY", "ERROR", "END", ""),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             const std::string t = info.param;
                             return t.empty() ? std::string("Empty") : t;
                         });

class VerifyPassText : public LineSenderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(VerifyPassText, VerifyCallsLeaveTheTextAlone) {
    loadLines({":L1", ":L2"});
    f->VerifyPhase = 1;
    f->vbalProgressBar1->setText(QString::fromLatin1(GetParam()));

    send();
    send();

    EXPECT_EQ(barText(), QString::fromLatin1(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(TextsBefore, VerifyPassText, ::testing::Values("VERIFY", "READY", "ERROR"));

class PhaseOtherThanOne : public LineSenderTest, public ::testing::WithParamInterface<qint16> {};

TEST_P(PhaseOtherThanOne, SendsTheDownloadForm) {
    loadLines({":L1"});
    f->VerifyPhase = GetParam();

    send();

    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:L1\r\n"});
    EXPECT_EQ(barText(), QStringLiteral("DOWNLOAD"));
}

INSTANTIATE_TEST_SUITE_P(Phases, PhaseOtherThanOne, ::testing::Values<qint16>(0, 2, -1, 32767),
                         [](const ::testing::TestParamInfo<qint16>& info) {
                             return info.param < 0 ? "Minus" + std::to_string(-info.param)
                                                   : "Phase" + std::to_string(info.param);
                         });

// --- Nothing loaded, and indices outside the file ------------------------

class NothingLoaded : public LineSenderTest, public ::testing::WithParamInterface<qint16> {};

TEST_P(NothingLoaded, SendsNothingAndChangesNothing) {
    // Leftovers of an earlier file must not go out either.
    f->HexLines[1] = ":OLD1";
    f->HexLines[2] = ":OLD2";
    f->LineCount = GetParam();
    f->LineIndex = 1;
    f->vbalProgressBar1->setText(QStringLiteral("READY"));
    f->vbalProgressBar1->setValue(5);

    send();
    send();

    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_EQ(f->LineIndex, 1);
    EXPECT_EQ(barText(), QStringLiteral("READY"));
    EXPECT_EQ(f->vbalProgressBar1->value(), 5);
}

INSTANTIATE_TEST_SUITE_P(Counts, NothingLoaded, ::testing::Values<qint16>(0, -1, -32768),
                         [](const ::testing::TestParamInfo<qint16>& info) {
                             return info.param == 0 ? std::string("Zero") : "Minus" + std::to_string(-info.param);
                         });

struct IndexCase {
    const char* name;
    qint16 lineIndex;
    qint16 lineCount;
};

class IndexBounds : public LineSenderTest, public ::testing::WithParamInterface<IndexCase> {};

TEST_P(IndexBounds, OnlyLinesOfTheFileAreEverSent) {
    for (int k = 0; k <= Loader::kMaxLines; ++k) f->HexLines[k] = "L" + QByteArray::number(k);
    f->LineIndex = GetParam().lineIndex;
    f->LineCount = GetParam().lineCount;
    const int last = qMin<int>(GetParam().lineCount, Loader::kMaxLines);

    for (int call = 1; call <= 4; ++call) {
        f.port->writes.clear();
        send();
        ASSERT_EQ(f.port->writes.size(), 1) << "call " << call;
        const QByteArray& w = f.port->writes[0];
        ASSERT_TRUE(w.startsWith("BOOTL") && w.endsWith("\r\n")) << "call " << call;
        const int line = w.mid(5, w.size() - 7).toInt();
        EXPECT_GE(line, 1) << "call " << call;
        EXPECT_LE(line, last) << "call " << call;
        EXPECT_GE(f->LineIndex, 0) << "call " << call;
        EXPECT_LE(f->LineIndex, Loader::kMaxLines) << "call " << call;
    }
}

INSTANTIATE_TEST_SUITE_P(States, IndexBounds,
                         ::testing::Values(IndexCase{"LastLineOfAFullTable", 8999, 9000},
                                           IndexCase{"IndexAtAFullTablesEnd", 9000, 9000},
                                           IndexCase{"IndexBeyondTheCount", 5, 3}, IndexCase{"NegativeIndex", -1, 3},
                                           IndexCase{"MostNegativeIndex", -32768, 3},
                                           IndexCase{"LargestIndex", 32767, 3},
                                           IndexCase{"CountBeyondTheTable", 9000, 9001},
                                           IndexCase{"LargestCountAtTheTablesEnd", 9000, 32767},
                                           IndexCase{"LargestCountAndIndex", 32767, 32767}),
                         [](const ::testing::TestParamInfo<IndexCase>& info) { return std::string(info.param.name); });

// Writing the line in flight again and holding the next one back: what a
// tool that retries uses so that a second reply to one line moves nothing.
class HeldLines : public LineSenderTest {
  protected:
    HeldLines() {
        loadLines({":020000040000FA", ":0400000020EF00F0FD", ":00000001FF"});
        f->TransferArmed = 1;
        f->TransferActive = 1;
    }
    void reply(const QByteArray& text) {
        f->RxLine = text;
        f->Com_Parser();
    }
};

struct ResendCase {
    const char* name;
    qint16 verifyPhase;
    int linesSent;  // before the resend
    QByteArray again;
};

class ResendLine : public HeldLines, public ::testing::WithParamInterface<ResendCase> {};

TEST_P(ResendLine, WritesTheLineInFlightAgainAndTheNextLineStillFollows) {
    const ResendCase& c = GetParam();
    f->VerifyPhase = c.verifyPhase;
    for (int i = 0; i < c.linesSent; ++i) send();
    const qint16 inFlight = f->LineInFlight;
    f.port->writes.clear();

    f->resendLineInFlight();

    EXPECT_EQ(f.port->writes, QList<QByteArray>{c.again});
    EXPECT_EQ(f->LineInFlight, inFlight);
    // The line after it is the one that would have come anyway.
    f.port->writes.clear();
    send();
    ASSERT_EQ(f.port->writes.size(), 1);
    const qint16 next = inFlight == 3 ? 1 : inFlight + 1;
    EXPECT_EQ(f->LineInFlight, next);
}

INSTANTIATE_TEST_SUITE_P(Lines, ResendLine,
                         ::testing::Values(ResendCase{"FirstDownloadLine", 0, 1, "BOOT:020000040000FA\r\n"},
                                           ResendCase{"MiddleDownloadLine", 0, 2, "BOOT:0400000020EF00F0FD\r\n"},
                                           // The index has wrapped to 0 after the last line.
                                           ResendCase{"LastDownloadLine", 0, 3, "BOOT:00000001FF\r\n"},
                                           ResendCase{"VerifyLine", 1, 2, "BOOT#0400000020EF00F0FD\r\n"}),
                         [](const ::testing::TestParamInfo<ResendCase>& info) { return std::string(info.param.name); });

TEST_F(HeldLines, NoLineInFlightResendsNothing) {
    f->resendLineInFlight();
    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST_F(HeldLines, ASecondOkWhileHeldSendsNothingAndTheReleaseSendsOneLine) {
    send();
    f->holdLines();
    f->resendLineInFlight();
    f.port->writes.clear();

    reply("OK\r\n");
    reply("OK\r\n");

    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_TRUE(f->lineHeld());
    EXPECT_EQ(f->LineInFlight, 0);
    f->releaseHeldLine();
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:0400000020EF00F0FD\r\n"});
    EXPECT_FALSE(f->lineHeld());
    // No longer held: the next answer moves on at once, as always.
    reply("OK\r\n");
    EXPECT_EQ(f.port->writes.size(), 2);
}

TEST_F(HeldLines, ADoubledDownloadWhileHeldStartsTheVerifyPassOnceAndDoesNotEndIt) {
    for (int i = 0; i < 3; ++i) send();
    f->holdLines();

    reply("DOWNLOAD\r\n");
    reply("DOWNLOAD\r\n");

    EXPECT_EQ(f->VerifyPhase, 1);
    EXPECT_EQ(f->TransferActive, 1) << "a copy of the answer must not end the transfer";
    EXPECT_NE(f->vbalProgressBar1->text(), QStringLiteral("END"));
    f.port->writes.clear();
    f->releaseHeldLine();
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT#020000040000FA\r\n"});
}

TEST_F(HeldLines, CloseDropsTheHeldLine) {
    send();
    f->holdLines();
    reply("OK\r\n");
    f->BTNCloseCom_Click();
    f.port->writes.clear();

    f->releaseHeldLine();

    EXPECT_FALSE(f->lineHeld());
    EXPECT_TRUE(f.port->writes.isEmpty());
}

}  // namespace
}  // namespace vantrel::testing
