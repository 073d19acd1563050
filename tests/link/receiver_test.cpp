#include <deque>
#include <initializer_list>
#include <string>

#include <QByteArray>
#include <QCheckBox>
#include <QLineEdit>
#include <QList>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "link/crc16.h"
#include "qt_printers.h"
#include "transfer/hex_file.h"
#include "window/lamp.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

// Address 1, "B", "OK", CRC.
const QByteArray kOkReply = QByteArray::fromHex("01424F4BD5CB");
// The end-of-file record: the one line a "DOWNLOAD" answers.
constexpr const char* kEof = ":00000001FF";

class ReceiverTest : public ::testing::Test {
  protected:
    ReceiverTest() {
        f.port->setPortOpen(true);
        f->Text8->setText(QStringLiteral("untouched"));
        QObject::connect(f.w.get(), &Loader::replyAccepted,
                         [this](const QByteArray& reply) { handedOn.append(reply); });
    }

    void modbus(const char* address) {
        f->Check1->setChecked(true);
        f->Text1->setText(QString::fromLatin1(address));
    }

    // A transfer under way whose last line went out last: LineIndex is back
    // at 0, and a "DOWNLOAD" answers that line if it is the end-of-file record.
    void loadLines(std::initializer_list<const char*> lines) {
        f.transferUnderWay(lines);
        f->LineInFlight = f->LineCount;
        f->EndOfFileOutstanding = isEndOfFileRecord(f->HexLines[f->LineCount]);
    }

    // The same, with the line in flight one that `reply` answers: the
    // end-of-file record for a "DOWNLOAD", a data record otherwise.
    void loadLinesAnsweredBy(const QByteArray& reply) {
        if (reply.contains("DOWNLOAD"))
            loadLines({":L1", kEof});
        else
            loadLines({":L1", ":L2"});
    }

    void tick() { f->TMRComm_Timer(); }
    void quietTicks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }

    QString text8() const { return f->Text8->text(); }

    FakeLoader f;
    // Every reply the receiver handed to the reply interpreter, in order.
    QList<QByteArray> handedOn;
};

// --- Plain mode ----------------------------------------------------------

TEST_F(ReceiverTest, PlainReplyInOneTickIsParsedAndSendsTheNextLine) {
    loadLines({":L1", ":L2"});
    f.port->feed("OK\r\n");

    tick();

    EXPECT_EQ(f->RxLine, QByteArray("OK\r\n"));
    EXPECT_EQ(text8(), QStringLiteral("OK\r\n"));
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:L1\r\n"});
}

// A reply cut after any of its characters is handed on once, whole, on the
// tick that brings its line end; nothing is handed on before.
struct PlainCut {
    const char* name;
    QByteArray reply;
    qsizetype cut;  // characters in the first tick
};

class PlainCutReply : public ReceiverTest, public ::testing::WithParamInterface<PlainCut> {};

TEST_P(PlainCutReply, IsHandedOnOnceWholeOnTheTickThatCompletesIt) {
    const PlainCut& c = GetParam();
    loadLinesAnsweredBy(c.reply);
    f.port->arriveOnPolls({c.reply.left(c.cut), c.reply.mid(c.cut)});

    tick();
    EXPECT_TRUE(handedOn.isEmpty());
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_EQ(f->Pic->fillColor(), color::kRed) << "characters arrived";

    tick();
    EXPECT_EQ(handedOn, QList<QByteArray>{c.reply});
    EXPECT_EQ(text8(), QString::fromLatin1(c.reply));
    EXPECT_EQ(f.port->writes.size(), 1) << "one line sent for the one reply";
    EXPECT_TRUE(f->RxHeld.isEmpty());

    quietTicks(3);
    EXPECT_EQ(handedOn.size(), 1) << "handed on once";
}

// A cut between CR and LF is no cut inside the reply: the CR ends it
// (PlainLineEnd below).
std::vector<PlainCut> plainCuts() {
    std::vector<PlainCut> cuts;
    static const std::string names[] = {"Ok", "Download"};
    const QByteArray replies[] = {"OK\r\n", "DOWNLOAD\r\n"};
    static std::deque<std::string> labels;  // the cases point at their names
    for (int r = 0; r < 2; ++r)
        for (qsizetype cut = 1; cut < replies[r].size() - 1; ++cut) {
            labels.push_back(names[r] + "CutAfter" + std::to_string(cut));
            cuts.push_back({labels.back().c_str(), replies[r], cut});
        }
    return cuts;
}

INSTANTIATE_TEST_SUITE_P(EveryCut, PlainCutReply, ::testing::ValuesIn(plainCuts()),
                         [](const ::testing::TestParamInfo<PlainCut>& info) { return std::string(info.param.name); });

// CR ends a reply as LF does: a board that ends its replies with CR alone
// is answered at once, not after the 100 ms silence. The LF of a CR LF that
// arrives on a tick of its own belongs to the reply before it.
struct LineEndCase {
    const char* name;
    QList<QByteArray> arrivals;  // one per tick
    QList<QByteArray> handedOn;
    int linesSent;
};

class PlainLineEnd : public ReceiverTest, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(PlainLineEnd, EndsTheReplyOnTheTickThatBringsIt) {
    const LineEndCase& c = GetParam();
    loadLines({":L1", ":L2", ":L3", ":L4"});
    f.port->arriveOnPolls(c.arrivals);

    for (qsizetype i = 0; i < c.arrivals.size(); ++i) tick();
    EXPECT_EQ(handedOn, c.handedOn);
    EXPECT_EQ(f.port->writes.size(), c.linesSent);
    EXPECT_TRUE(f->RxHeld.isEmpty());

    quietTicks(6);
    EXPECT_EQ(handedOn, c.handedOn) << "the silence hands on nothing more";
}

INSTANTIATE_TEST_SUITE_P(
    CarriageReturn, PlainLineEnd,
    ::testing::Values(LineEndCase{"OkCrAlone", {"OK\r"}, {"OK\r"}, 1},
                      LineEndCase{"CrLfCutBetweenCrAndLf", {"OK\r", "\n"}, {"OK\r"}, 1},
                      LineEndCase{"CrLfCutBetweenCrAndLfThenTheNextReply", {"OK\r", "\nOK\r\n"}, {"OK\r", "OK\r\n"}, 2},
                      LineEndCase{"CrCrLf", {"OK\r\r\n"}, {"OK\r\r\n"}, 1},
                      LineEndCase{"CrCrThenLf", {"OK\r\r", "\n"}, {"OK\r\r"}, 1},
                      LineEndCase{"TwoRepliesEndingInCrInOneTick", {"OK\rOK\r"}, {"OK\rOK\r"}, 1},
                      LineEndCase{"OkCrAndTheStartOfTheNext", {"OK\rO", "K\r"}, {"OK\r", "OK\r"}, 2},
                      // Only an LF right after the CR is its line end.
                      LineEndCase{"LfAfterOtherCharactersIsALineEnd", {"OK\r", "x\n"}, {"OK\r", "x\n"}, 1}),
    [](const ::testing::TestParamInfo<LineEndCase>& info) { return std::string(info.param.name); });

TEST_F(ReceiverTest, PlainTailOfAFrameLengthEndsAtItsCr) {
    loadLines({":L1", ":L2"});
    const QByteArray tail(256, 'x');
    f.port->arriveOnPolls({"OK\r\n" + tail, "\r"});

    tick();
    EXPECT_EQ(handedOn, QList<QByteArray>{"OK\r\n"});
    EXPECT_EQ(f->RxHeld, tail);
    tick();
    EXPECT_EQ(handedOn, (QList<QByteArray>{"OK\r\n", tail + "\r"}));
    EXPECT_TRUE(f->RxHeld.isEmpty());
}

TEST_F(ReceiverTest, PlainReplyWithoutALineEndCountsAfter100msOfSilence) {
    loadLines({":L1", ":L2"});
    f.port->feed("OK");

    tick();
    quietTicks(4);
    EXPECT_TRUE(handedOn.isEmpty()) << "a pause shorter than the silence is no end";
    EXPECT_TRUE(f.port->writes.isEmpty());

    tick();
    EXPECT_EQ(handedOn, QList<QByteArray>{"OK"});
    EXPECT_EQ(text8(), QStringLiteral("OK"));
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:L1\r\n"});

    quietTicks(3);
    EXPECT_EQ(handedOn.size(), 1);
}

TEST_F(ReceiverTest, PlainReplyAndTheStartOfTheNextAreHandedOnInOrder) {
    loadLines({":L1", kEof});
    f->VerifyPhase = 1;
    f->LineIndex = 1;  // the "OK" sends the end-of-file record
    f.port->arriveOnPolls({"OK\r\nDO", "WNLOAD\r\n"});

    tick();
    EXPECT_EQ(handedOn, QList<QByteArray>{"OK\r\n"});
    EXPECT_EQ(f->RxHeld, QByteArray("DO"));
    tick();

    EXPECT_EQ(handedOn, (QList<QByteArray>{"OK\r\n", "DOWNLOAD\r\n"}));
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
}

TEST_F(ReceiverTest, PlainBabbleWithoutLineEndsIsHandedOnBeforeItGrowsPastAFrame) {
    QByteArray all;
    for (int i = 0; i < 100; ++i) {
        const QByteArray chunk(37, static_cast<char>('a' + i % 26));
        all += chunk;
        f.port->feed(chunk);
        tick();
        ASSERT_LE(f->RxHeld.size(), 256) << "tick " << i;
    }
    quietTicks(5);

    EXPECT_TRUE(f->RxHeld.isEmpty());
    EXPECT_EQ(handedOn.join(), all) << "every character handed on, once, in order";
}

TEST_F(ReceiverTest, PlainBabbleAfterALineEndIsNotHeldBeyondAFrame) {
    const QByteArray tick = "OK\r\n" + QByteArray(300, 'x');
    f.port->feed(tick);

    EXPECT_NO_THROW(this->tick());

    EXPECT_TRUE(f->RxHeld.isEmpty());
    EXPECT_EQ(handedOn, QList<QByteArray>{tick}) << "one text, as the tick brought it";
}

// A slow sender dribbles its reply a character at a time, slower than the
// 20 ms poll: the reply is still handed on once, whole.
struct DribbleCase {
    const char* name;
    QByteArray reply;
    int gapMs;  // between two characters
};

class PlainDribble : public ReceiverTest, public ::testing::WithParamInterface<DribbleCase> {};

TEST_P(PlainDribble, ReplyIsHandedOnOnceWhole) {
    const DribbleCase& c = GetParam();
    loadLinesAnsweredBy(c.reply);
    // Character i arrives at i * gap ms; the poll at 20 k ms takes what
    // arrived since the one before.
    QList<QByteArray> polls;
    for (qsizetype i = 0; i < c.reply.size(); ++i) {
        const qsizetype poll = (i * c.gapMs) / 20 + 1;
        while (polls.size() < poll) polls.append(QByteArray());
        polls[poll - 1] += c.reply[i];
    }
    f.port->arriveOnPolls(polls);

    for (qsizetype i = 0; i < polls.size() + 10; ++i) tick();

    // Slower than the poll, the LF comes on a tick after the CR, which has
    // already ended the reply.
    const QByteArray whole = c.reply.endsWith("\r\n") ? c.reply.chopped(1) : c.reply;
    EXPECT_EQ(handedOn, QList<QByteArray>{whole});
    EXPECT_EQ(text8(), QString::fromLatin1(whole));
    EXPECT_EQ(f.port->writes.size(), 1) << "one line for the one reply";
}

INSTANTIATE_TEST_SUITE_P(SlowSenders, PlainDribble,
                         ::testing::Values(DribbleCase{"DownloadEvery30ms", "DOWNLOAD\r\n", 30},
                                           DribbleCase{"DownloadEvery90ms", "DOWNLOAD\r\n", 90},
                                           DribbleCase{"VersionEvery30ms", "VER=4.01\r\n", 30},
                                           DribbleCase{"VersionEvery90ms", "VER=4.01\r\n", 90},
                                           DribbleCase{"OkWithoutLineEndEvery90ms", "OK", 90}),
                         [](const ::testing::TestParamInfo<DribbleCase>& info) {
                             return std::string(info.param.name);
                         });

// What follows the last line end waits for its own end, up to a frame length.
struct TailCase {
    const char* name;
    qsizetype tail;
    bool held;
};

class PlainTail : public ReceiverTest, public ::testing::WithParamInterface<TailCase> {};

TEST_P(PlainTail, WaitsUpToAFrameLength) {
    const QByteArray tail(GetParam().tail, 'x');
    f.port->feed("OK\r\n" + tail);

    tick();

    if (GetParam().held) {
        EXPECT_EQ(handedOn, QList<QByteArray>{"OK\r\n"});
        EXPECT_EQ(f->RxHeld, tail);
        quietTicks(5);
        EXPECT_EQ(handedOn, (QList<QByteArray>{"OK\r\n", tail})) << "the silence ends it";
    } else {
        EXPECT_EQ(handedOn, QList<QByteArray>{"OK\r\n" + tail}) << "babble goes on at once, with what came before";
        EXPECT_TRUE(f->RxHeld.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Bound, PlainTail,
                         ::testing::Values(TailCase{"Exactly256", 256, true}, TailCase{"Of257", 257, false}),
                         [](const ::testing::TestParamInfo<TailCase>& info) { return std::string(info.param.name); });

// The board's end-of-file reply doubled: whatever the cut, the second copy
// ends nothing, and "END" comes only after every line was verified.
struct DoubledEndCase {
    const char* name;
    QList<QByteArray> polls;
    QList<QByteArray> answersLeft = {"OK\r\n", "OK\r\n", "DOWNLOAD\r\n"};  // to the rest of the verify pass
};

class DoubledEndOfFileReply : public ReceiverTest, public ::testing::WithParamInterface<DoubledEndCase> {};

TEST_P(DoubledEndOfFileReply, TheVerifyPassStillSendsEveryLine) {
    loadLines({":L1", ":L2", kEof});
    f.port->arriveOnPolls(GetParam().polls);
    for (qsizetype i = 0; i < GetParam().polls.size(); ++i) tick();
    ASSERT_EQ(f->vbalProgressBar1->text(), QStringLiteral("VERIFY"));
    ASSERT_EQ(f->VerifyPhase, 1);

    for (const QByteArray& answer : GetParam().answersLeft) {
        EXPECT_NE(f->vbalProgressBar1->text(), QStringLiteral("END")) << "before " << answer.toStdString();
        f.port->feed(answer);
        tick();
    }

    EXPECT_EQ(f.port->writes, (QList<QByteArray>{"BOOT#L1\r\n", "BOOT#L2\r\n", "BOOT#00000001FF\r\n"}));
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(f->TransferActive, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, DoubledEndOfFileReply,
    ::testing::Values(DoubledEndCase{"WholeInOneTick", {"DOWNLOAD\r\nDOWNLOAD\r\n"}},
                      DoubledEndCase{"CutAcrossTwoTicks", {"DOWNLOAD\r\nDOWN", "LOAD\r\n"}},
                      DoubledEndCase{"DuringTheFirstVerifyLine", {"DOWNLOAD\r\n", QByteArray(), "DOWNLOAD\r\n"}},
                      // The rest of the copy and the answer to verify line 1 in one tick.
                      DoubledEndCase{"WithTheAnswerToTheFirstVerifyLine",
                                     {"DOWNLOAD\r\nDOWN", "LOAD\r\nOK\r\n"},
                                     {"OK\r\n", "DOWNLOAD\r\n"}}),
    [](const ::testing::TestParamInfo<DoubledEndCase>& info) { return std::string(info.param.name); });

// --- Bytes taken as soon as they arrive (the port's receive event) -------

TEST_F(ReceiverTest, ReceiveEventTakesAReplyAtOnceAndTheNextTickIsNoSilence) {
    loadLines({":L1", kEof});
    f.port->feed("DOWN");
    f->MSComm1_OnComm();
    EXPECT_TRUE(handedOn.isEmpty());

    // The tick finds nothing new, but the line was not quiet since the last
    // tick: the start of the reply keeps waiting for its end.
    tick();
    EXPECT_TRUE(handedOn.isEmpty());
    EXPECT_EQ(f->RxHeld, QByteArray("DOWN"));

    f.port->feed("LOAD\r\n");
    f->MSComm1_OnComm();
    EXPECT_EQ(handedOn, QList<QByteArray>{"DOWNLOAD\r\n"});
    EXPECT_EQ(f.port->writes.size(), 1) << "the verify pass began at once";
}

TEST_F(ReceiverTest, ReceiveEventInTheMiddleOfAReceiveStepLeavesTheBytesWaiting) {
    loadLines({":L1", ":L2"});
    // The line sender writes while the reply is being handled; an event that
    // came just then must not take the next bytes inside that step.
    QObject::connect(f.w.get(), &Loader::commandWritten, [this] {
        f.port->feed("OK\r\n");
        f->MSComm1_OnComm();
    });
    f.port->feed("OK\r\n");

    f->MSComm1_OnComm();
    EXPECT_EQ(handedOn.size(), 1);
    EXPECT_EQ(f.port->waiting(), 4) << "left for the next event or tick";
}

TEST_F(ReceiverTest, CloseDropsAReplyCutShort) {
    f.port->feed("DOWN");
    tick();
    ASSERT_EQ(f->RxHeld, QByteArray("DOWN"));

    f->BTNCloseCom_Click();
    f.port->setPortOpen(true);
    quietTicks(3);

    EXPECT_TRUE(handedOn.isEmpty());
}

TEST_F(ReceiverTest, PlainTwoRepliesInOneTickAreParsedAsOneText) {
    loadLines({":L1", ":L2"});
    f.port->feed("OK\r\nOK\r\n");

    tick();

    EXPECT_EQ(handedOn, QList<QByteArray>{"OK\r\nOK\r\n"});
    EXPECT_EQ(text8(), QStringLiteral("OK\r\nOK\r\n"));
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:L1\r\n"});
}

TEST_F(ReceiverTest, PlainTickWithDataEmptiesTheGatheredModbusCharacters) {
    f->RxFrame = QByteArray::fromHex("02424F4B");
    f.port->feed("x");

    tick();

    EXPECT_TRUE(f->RxFrame.isEmpty());
}

TEST_F(ReceiverTest, TickWithoutDataParsesNothingAndEmptiesTheTickFields) {
    modbus("1");
    f.port->feed(kOkReply);
    tick();
    ASSERT_FALSE(f->RxCrc.isEmpty());
    f->Text8->setText(QStringLiteral("untouched"));

    tick();

    EXPECT_TRUE(f->RxLine.isEmpty());
    EXPECT_TRUE(f->RxCrc.isEmpty());
    EXPECT_TRUE(f->CalcCrc.isEmpty());
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
}

TEST_F(ReceiverTest, ReadFailureEndsTheTickSilently) {
    f->RxLine = "stale";
    f.port->feed("OK\r\n");
    f.port->readFailure = Failure(failure::kDeviceIo, QStringLiteral("read failed"));

    EXPECT_NO_THROW(tick());

    EXPECT_TRUE(f->RxLine.isEmpty());
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
    EXPECT_EQ(f->BlinkTicks, 1);
}

// --- Modbus mode: replies that arrive in pieces --------------------------

QByteArray withCrc(const QByteArray& frame) {
    return frame + crc16ModbusBytes(frame);
}

class ModbusCutReply : public ReceiverTest, public ::testing::WithParamInterface<qsizetype> {};

struct ArrivalCase {
    const char* name;
    QList<QByteArray> chunks;  // one per tick; together they make kOkReply
};

class ModbusArrival : public ReceiverTest, public ::testing::WithParamInterface<ArrivalCase> {};

TEST_P(ModbusArrival, ReplyIsAcceptedOnTheTickThatCompletesIt) {
    modbus("1");
    loadLines({":L1", ":L2"});
    const QList<QByteArray>& chunks = GetParam().chunks;
    f.port->arriveOnPolls(chunks);

    QByteArray gathered;
    for (qsizetype i = 0; i + 1 < chunks.size(); ++i) {
        tick();
        gathered += chunks[i];
        EXPECT_EQ(f->RxFrame, gathered) << "after tick " << i + 1;
        EXPECT_EQ(text8(), QStringLiteral("untouched")) << "after tick " << i + 1;
        EXPECT_TRUE(f.port->writes.isEmpty()) << "after tick " << i + 1;
    }
    tick();

    EXPECT_EQ(f->RxLine, QByteArray("OK"));
    EXPECT_EQ(text8(), QStringLiteral("OK"));
    EXPECT_TRUE(f->RxFrame.isEmpty());
    ASSERT_EQ(f.port->writes.size(), 1);
    EXPECT_EQ(f.port->writes[0].mid(1, 9), QByteArray("BOOT:L1\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Splits, ModbusArrival,
    ::testing::Values(ArrivalCase{"WholeInOneTick", {kOkReply}},
                      ArrivalCase{"FourThenTwo", {kOkReply.left(4), kOkReply.mid(4)}},
                      ArrivalCase{"FiveThenOne", {kOkReply.left(5), kOkReply.mid(5)}},
                      ArrivalCase{"OneByOne",
                                  {kOkReply.mid(0, 1), kOkReply.mid(1, 1), kOkReply.mid(2, 1), kOkReply.mid(3, 1),
                                   kOkReply.mid(4, 1), kOkReply.mid(5, 1)}},
                      ArrivalCase{"QuietTickInBetween", {kOkReply.left(3), QByteArray(), kOkReply.mid(3)}},
                      ArrivalCase{
                          "FourQuietTicksInBetween",
                          {kOkReply.left(3), QByteArray(), QByteArray(), QByteArray(), QByteArray(), kOkReply.mid(3)}}),
    [](const ::testing::TestParamInfo<ArrivalCase>& info) { return std::string(info.param.name); });

TEST_P(ModbusCutReply, IsAcceptedOnceOnTheTickThatCompletesIt) {
    modbus("1");
    loadLines({":L1", kEof});
    const QByteArray frame = withCrc(QByteArray::fromHex("0142") + "DOWNLOAD\r\n");
    const qsizetype cut = GetParam();
    f.port->arriveOnPolls({frame.left(cut), frame.mid(cut)});

    tick();
    EXPECT_TRUE(handedOn.isEmpty());
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
    tick();

    EXPECT_EQ(handedOn, QList<QByteArray>{"DOWNLOAD\r\n"});
    EXPECT_TRUE(f->RxFrame.isEmpty());
    quietTicks(6);
    EXPECT_EQ(handedOn.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryCut, ModbusCutReply, ::testing::Range<qsizetype>(1, 14));

// --- Modbus mode: what stands in front of a reply ------------------------

// Noise, a damaged reply, a foreign frame or a reply run together with the
// next one never keep the next valid reply from being accepted.
struct ResyncCase {
    const char* name;
    QList<QByteArray> chunks;    // one per tick
    QList<QByteArray> accepted;  // replies handed on, in order
    QString text8;               // the answer box at the end
    int linesSent = 1;
};

class ModbusResync : public ReceiverTest, public ::testing::WithParamInterface<ResyncCase> {};

TEST_P(ModbusResync, NextValidReplyIsAccepted) {
    const ResyncCase& c = GetParam();
    modbus("1");
    loadLines({":L1", ":L2", ":L3"});
    f.port->arriveOnPolls(c.chunks);

    for (qsizetype i = 0; i < c.chunks.size(); ++i) tick();

    EXPECT_EQ(handedOn, c.accepted);
    EXPECT_EQ(text8(), c.text8);
    EXPECT_TRUE(f->RxFrame.isEmpty()) << "nothing stale is left in front";
    EXPECT_EQ(f.port->writes.size(), c.linesSent) << "one line per accepted reply text that asks for one";
}

const QByteArray kVerReply = withCrc(QByteArray::fromHex("0142") + "VER=4.01\r\n");
const QByteArray kDamagedOk = QByteArray::fromHex("01424F4BD5CC");
const QByteArray kForeignOk = QByteArray::fromHex("02424F4BD58F");  // a good reply from address 2
const QByteArray kLowerB = QByteArray::fromHex("01624F4BD401");     // "b" instead of "B", CRC right
const QByteArray kNoise = QByteArray::fromHex("FF0142");            // ends like the start of a reply
const QByteArray kErrorReply = withCrc(QByteArray::fromHex("0142") + "ERROR\r\n");
const QByteArray kOkLine = withCrc(QByteArray::fromHex("0142") + "OK\r\n");
const QByteArray kZeroCrcByte = withCrc(QByteArray::fromHex("0142") + "OK3068\r\n");  // CRC F9 00
// "OK", then the CRC of what came so far, then CR LF: the CRC over the reply
// comes to zero after its first six characters.
const QByteArray kChancePayload = "OK" + crc16ModbusBytes(QByteArray::fromHex("0142") + "OK") + "\r\n";
const QByteArray kChanceCrcInside = withCrc(QByteArray::fromHex("0142") + kChancePayload);

INSTANTIATE_TEST_SUITE_P(
    Heads, ModbusResync,
    ::testing::Values(
        ResyncCase{"NoiseInTheSameTick", {kNoise + kOkReply}, {"OK"}, "OK"},
        ResyncCase{"NoiseOnTheTickBefore", {kNoise, kOkReply}, {"OK"}, "OK"},
        ResyncCase{"NoiseThenAReplyInPieces", {kNoise, kOkReply.left(2), kOkReply.mid(2)}, {"OK"}, "OK"},
        ResyncCase{"DamagedReplyThenAGoodOne", {kDamagedOk, kOkReply}, {"OK"}, "OK"},
        ResyncCase{"DamagedAndGoodInOneTick", {kDamagedOk + kOkReply}, {"OK"}, "OK"},
        ResyncCase{"ForeignFrameThenAGoodOne", {kForeignOk, kOkReply}, {"OK"}, "OK"},
        ResyncCase{"ForeignAndGoodInOneTick", {kForeignOk + kOkReply}, {"OK"}, "OK"},
        ResyncCase{"LowerCaseBThenAGoodOne", {kLowerB, kOkReply}, {"OK"}, "OK"},
        // Whole replies that end in one receive step go on together, in
        // order, as one text, as two plain replies in one tick do.
        ResyncCase{"VersionAndOkInOneTickGoOnTogether", {kVerReply + kOkReply}, {"VER=4.01\r\nOK"}, "VER=4.01\r\nOK"},
        ResyncCase{
            "ErrorThenOkInOneTickCountsAsError", {kErrorReply + kOkLine}, {"ERROR\r\nOK\r\n"}, "ERROR\r\nOK\r\n", 0},
        ResyncCase{"DoubledOkInOneTickSendsOneLine", {kOkLine + kOkLine}, {"OK\r\nOK\r\n"}, "OK\r\nOK\r\n"},
        ResyncCase{"ThreeOksInOneTickSendOneLine", {kOkReply + kOkReply + kOkReply}, {"OKOKOK"}, "OKOKOK"},
        ResyncCase{"OkNoiseOkInOneTickGoOnTogether", {kOkReply + kNoise + kOkReply}, {"OKOK"}, "OKOK"},
        // This reply's CRC ends in a zero byte, so its CRC also checks one
        // character early; the reading that ends where the next reply starts
        // is the reply.
        ResyncCase{"ReplyWithAZeroCrcByteThenAnother", {kZeroCrcByte + kOkReply}, {"OK3068\r\nOK"}, "OK3068\r\nOK"},
        // A CRC that comes to zero by chance inside a reply does not cut it.
        ResyncCase{"ReplyWithAChanceCrcInsideThenAnother",
                   {kChanceCrcInside + kOkReply},
                   {kChancePayload + "OK"},
                   QString::fromLatin1(kChancePayload + "OK")},
        ResyncCase{"RepliesRunTogetherThenAnother",
                   {kVerReply + kOkReply.left(3), kOkReply.mid(3), kOkReply},
                   {"VER=4.01\r\nOK", "OK"},
                   "OK",
                   2},
        ResyncCase{"StaleStartThenAGoodReply", {kOkReply.left(3), kOkReply}, {"OK"}, "OK"}),
    [](const ::testing::TestParamInfo<ResyncCase>& info) { return std::string(info.param.name); });

// The address box is read at every check: a reply counts for the address
// the box holds when its last character arrives.
struct AddressChangeCase {
    const char* name;
    const char* before;
    const char* after;
    bool accepted;
};

class ModbusAddressChange : public ReceiverTest, public ::testing::WithParamInterface<AddressChangeCase> {};

TEST_P(ModbusAddressChange, BetweenAPartialFrameAndItsCompletion) {
    modbus(GetParam().before);
    loadLines({":L1"});
    f.port->arriveOnPolls({kOkReply.left(4), kOkReply.mid(4)});
    tick();
    f->Text1->setText(QString::fromLatin1(GetParam().after));
    tick();

    EXPECT_EQ(handedOn.size(), GetParam().accepted ? 1 : 0);
    EXPECT_EQ(f.port->writes.size(), GetParam().accepted ? 1 : 0);
    if (!GetParam().accepted) {
        EXPECT_EQ(text8(), QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(kOkReply.mid(4)));
    }
}

INSTANTIATE_TEST_SUITE_P(Boxes, ModbusAddressChange,
                         ::testing::Values(AddressChangeCase{"AwayFromTheReplysAddress", "1", "2", false},
                                           AddressChangeCase{"ToTheReplysAddress", "2", "1", true}),
                         [](const ::testing::TestParamInfo<AddressChangeCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ReceiverTest, ModbusDamagedCrcIsSilentAndKeepsTheCharactersUntilTheLineFallsSilent) {
    modbus("1");
    loadLines({":L1"});
    f.port->feed(kDamagedOk);

    tick();
    EXPECT_EQ(f->RxFrame, kDamagedOk);
    EXPECT_EQ(text8(), QStringLiteral("untouched"));

    quietTicks(4);
    EXPECT_EQ(f->RxFrame, kDamagedOk) << "a pause shorter than the silence keeps them";
    quietTicks(1);
    EXPECT_TRUE(f->RxFrame.isEmpty()) << "100 ms of silence end the frame";
    EXPECT_TRUE(handedOn.isEmpty());
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST_F(ReceiverTest, ModbusWrongAddressShowsAnErrorWithThisTicksCharacters) {
    modbus("1");
    loadLines({":L1"});
    const QByteArray noise = QByteArray::fromHex("0299");
    f.port->arriveOnPolls({kForeignOk, noise});

    tick();
    EXPECT_EQ(text8(), QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(kForeignOk));
    EXPECT_EQ(f->RxFrame, kForeignOk);

    // As long as no reply ends the gathered characters, each tick with data
    // says what is wrong at their head, with the characters it brought.
    tick();
    EXPECT_EQ(text8(), QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(noise));
    EXPECT_EQ(f->RxFrame, kForeignOk + noise);
    EXPECT_TRUE(handedOn.isEmpty());
    EXPECT_TRUE(f.port->writes.isEmpty());
}

// A pause inside a reply shorter than the silence keeps what came before it;
// 100 ms of silence end the frame, and a remainder alone is no reply.
struct PauseCase {
    const char* name;
    int quietTicks;
    bool accepted;
};

class ModbusPause : public ReceiverTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(ModbusPause, InsideAReply) {
    modbus("1");
    loadLines({":L1"});
    f.port->feed(kOkReply.left(4));
    tick();
    quietTicks(GetParam().quietTicks);
    f.port->feed(kOkReply.mid(4));
    tick();

    EXPECT_EQ(handedOn.size(), GetParam().accepted ? 1 : 0);
    EXPECT_EQ(f.port->writes.size(), GetParam().accepted ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Gaps, ModbusPause,
                         ::testing::Values(PauseCase{"OneTick", 1, true}, PauseCase{"FourTicks", 4, true},
                                           PauseCase{"FiveTicks", 5, false}, PauseCase{"TenTicks", 10, false}),
                         [](const ::testing::TestParamInfo<PauseCase>& info) { return std::string(info.param.name); });

TEST_F(ReceiverTest, ModbusWrongFunctionCharacterShowsAnErrorWithThisTicksCharacters) {
    modbus("1");
    const QByteArray lowerB = QByteArray::fromHex("01624F4BD401");  // "b" instead of "B", CRC correct
    f.port->feed(lowerB);

    tick();

    EXPECT_EQ(text8(), QStringLiteral("Error CMD  >> ") + QString::fromLatin1(lowerB));
    EXPECT_EQ(f->RxFrame, lowerB);
}

TEST_F(ReceiverTest, ModbusFewerThanSixCharactersNeverCountAsAReply) {
    modbus("1");
    loadLines({":L1"});
    // Address, "B", "O" and the CRC of those three: framed like a reply, but
    // one character short of the smallest one.
    const QByteArray fiveCharacters = QByteArray::fromHex("01424F5154");
    f.port->feed(fiveCharacters);

    tick();
    EXPECT_EQ(f->RxFrame, fiveCharacters);
    for (int i = 0; i < 30; ++i) tick();

    EXPECT_TRUE(handedOn.isEmpty());
    EXPECT_TRUE(f->RxFrame.isEmpty()) << "the silence after them ends them";
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST_F(ReceiverTest, ModbusUnusableAddressEndsTheTickWithTheCharactersGathered) {
    modbus("300");
    loadLines({":L1"});
    f.port->feed(kOkReply);

    EXPECT_NO_THROW(tick());

    EXPECT_EQ(f->RxFrame, kOkReply);
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_EQ(f->Pic->fillColor(), color::kRed);
}

// --- Modbus mode: the bound on gathered characters -----------------------

TEST_F(ReceiverTest, ModbusNoiseBehindARejectedReplyKeepsOnlyTheNewestFrameLength) {
    modbus("1");
    const QByteArray foreign = QByteArray::fromHex("02424F4BD58F");
    f.port->feed(foreign);
    tick();
    ASSERT_EQ(f->RxFrame, foreign);

    QByteArray last;
    for (int i = 0; i < 200; ++i) {
        last = QByteArray(97, static_cast<char>('a' + i % 26));
        f.port->feed(last);
        tick();
        ASSERT_LE(f->RxFrame.size(), 256) << "tick " << i;
    }
    EXPECT_EQ(f->RxFrame.size(), 256);
    EXPECT_TRUE(f->RxFrame.endsWith(last));
    EXPECT_EQ(text8(), QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(last));
}

TEST_F(ReceiverTest, ModbusReplyOfTheLongestFrameLengthIsStillAccepted) {
    modbus("1");
    const QByteArray payload = QByteArray(248, 'x') + "OK\r\n";
    QByteArray frame = QByteArray::fromHex("0142") + payload;
    frame += crc16ModbusBytes(frame);
    ASSERT_EQ(frame.size(), 256);
    f.port->arriveOnPolls({frame.left(100), frame.mid(100, 100), frame.mid(200)});

    tick();
    tick();
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
    tick();

    EXPECT_EQ(f->RxLine, payload);
    EXPECT_EQ(text8(), QString::fromLatin1(payload));
    EXPECT_TRUE(f->RxFrame.isEmpty());
}

// --- The lamp ------------------------------------------------------------

struct BlinkCase {
    const char* name;
    quint32 before;
    quint32 after;
};

class LampBlink : public ReceiverTest, public ::testing::WithParamInterface<BlinkCase> {};

TEST_P(LampBlink, TenthQuietTickTogglesTheLamp) {
    f->Pic->setFillColor(GetParam().before);

    for (int i = 1; i <= 9; ++i) {
        tick();
        EXPECT_EQ(f->Pic->fillColor(), GetParam().before) << "after tick " << i;
        EXPECT_EQ(f->BlinkTicks, i);
    }
    tick();

    EXPECT_EQ(f->Pic->fillColor(), GetParam().after);
    EXPECT_EQ(f->BlinkTicks, 0);
}

INSTANTIATE_TEST_SUITE_P(Colours, LampBlink,
                         ::testing::Values(BlinkCase{"WhiteBecomesGrey", color::kWhite, color::kGrey},
                                           BlinkCase{"GreyBecomesWhite", color::kGrey, color::kWhite},
                                           BlinkCase{"RedBecomesWhite", color::kRed, color::kWhite},
                                           BlinkCase{"DarkGreenBecomesWhite", color::kDarkGreen, color::kWhite},
                                           BlinkCase{"YellowBecomesWhite", color::kYellow, color::kWhite}),
                         [](const ::testing::TestParamInfo<BlinkCase>& info) { return std::string(info.param.name); });

TEST_F(ReceiverTest, LampKeepsBlinkingEveryTenTicks) {
    f->Pic->setFillColor(color::kWhite);

    for (int i = 0; i < 20; ++i) tick();
    EXPECT_EQ(f->Pic->fillColor(), color::kWhite);
    for (int i = 0; i < 10; ++i) tick();
    EXPECT_EQ(f->Pic->fillColor(), color::kGrey);
}

TEST_F(ReceiverTest, DataTurnsTheLampRedEvenOnABlinkTick) {
    f->Pic->setFillColor(color::kGrey);
    for (int i = 0; i < 9; ++i) tick();
    f.port->feed("x");

    tick();

    EXPECT_EQ(f->Pic->fillColor(), color::kRed);
    EXPECT_EQ(f->BlinkTicks, 0);
}

// Characters that made no reply are announced as damaged once the line has
// been quiet for 100 ms, and only then: a good reply that follows in time,
// a clean line without a word, or a whole frame from another address is no
// damage.
struct DamageCase {
    const char* name;
    bool modbus;
    QList<QByteArray> arrivals;  // one per tick
    QList<QByteArray> damaged;
};

class DamageAnnounced : public ReceiverTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamageAnnounced, WhenTheLineFallsQuiet) {
    const DamageCase& c = GetParam();
    if (c.modbus) modbus("1");
    loadLines({":L1", ":L2", ":L3", ":L4"});
    QList<QByteArray> said;
    QObject::connect(f.w.get(), &Loader::replyDamaged, [&said](const QByteArray& d) { said.append(d); });
    f.port->arriveOnPolls(c.arrivals);

    for (qsizetype i = 0; i < c.arrivals.size(); ++i) tick();
    quietTicks(4);
    EXPECT_TRUE(said.isEmpty()) << "not before 100 ms of quiet";
    quietTicks(1);
    EXPECT_EQ(said, c.damaged);
    quietTicks(10);
    EXPECT_EQ(said, c.damaged) << "announced once";
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DamageAnnounced,
    ::testing::Values(DamageCase{"PlainNoiseInsideOk", false, {"O\x97K\r\n"}, {"O\x97K\r\n"}},
                      DamageCase{"PlainPrintableNoiseInsideOk", false, {"OxK\r\n"}, {"OxK\r\n"}},
                      DamageCase{"PlainDamagedWithoutLineEnd", false, {"O\x97K"}, {"O\x97K"}},
                      DamageCase{"PlainDamagedCutAcrossTicks", false, {"DOWN\x01", "LOAD\r\n"}, {"DOWN\x01LOAD\r\n"}},
                      DamageCase{"PlainCleanLineWithoutAWord", false, {"ADR=05\r\n"}, {}},
                      DamageCase{"PlainDamagedThenAGoodReply", false, {"O\x97K\r\n", "OK\r\n"}, {}},
                      DamageCase{"PlainGoodReply", false, {"OK\r\n"}, {}},
                      DamageCase{"ModbusDamagedCrc", true, {kDamagedOk}, {kDamagedOk}},
                      DamageCase{"ModbusCutShort", true, {kOkReply.left(4)}, {kOkReply.left(4)}},
                      DamageCase{"ModbusNoiseAlone", true, {kNoise}, {kNoise}},
                      DamageCase{"ModbusNoiseThenAGoodReply", true, {kNoise + kOkReply}, {}},
                      DamageCase{"ModbusWholeFrameFromAnotherAddress", true, {kForeignOk}, {}}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::testing
