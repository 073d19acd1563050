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
#include "window/lamp.h"

namespace vantrel::testing {
namespace {

// Address 1, "B", "OK", CRC.
const QByteArray kOkReply = QByteArray::fromHex("01424F4BD5CB");

class ReceiverTest : public ::testing::Test {
  protected:
    ReceiverTest() {
        f.port->setPortOpen(true);
        f->Text8->setText(QStringLiteral("untouched"));
    }

    void modbus(const char* address) {
        f->Check1->setChecked(true);
        f->Text1->setText(QString::fromLatin1(address));
    }

    // A loaded file, so that a reply which reaches the line sender shows as a write.
    void loadLines(std::initializer_list<const char*> lines) {
        qint16 n = 0;
        for (const char* line : lines) f->HexLines[++n] = line;
        f->LineCount = n;
        f->LineIndex = 0;
    }

    void tick() { f->TMRComm_Timer(); }

    QString text8() const { return f->Text8->text(); }

    FakeWindow f;
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

TEST_F(ReceiverTest, PlainReplySplitOverTwoTicksIsParsedPieceByPiece) {
    loadLines({":L1", ":L2"});
    f.port->arriveOnPolls({"O", "K\r\n"});

    tick();
    EXPECT_EQ(text8(), QStringLiteral("O"));
    tick();
    EXPECT_EQ(text8(), QStringLiteral("K\r\n"));

    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST_F(ReceiverTest, PlainTwoRepliesInOneTickAreParsedAsOneText) {
    loadLines({":L1", ":L2"});
    f.port->feed("OK\r\nOK\r\n");

    tick();

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
                      ArrivalCase{"QuietTickInBetween", {kOkReply.left(3), QByteArray(), kOkReply.mid(3)}}),
    [](const ::testing::TestParamInfo<ArrivalCase>& info) { return std::string(info.param.name); });

// --- Modbus mode: rejected replies ---------------------------------------

TEST_F(ReceiverTest, ModbusDamagedCrcIsSilentAndKeepsTheCharacters) {
    modbus("1");
    loadLines({":L1"});
    const QByteArray damaged = QByteArray::fromHex("01424F4BD5CC");
    f.port->arriveOnPolls({damaged, kOkReply});

    tick();
    EXPECT_EQ(f->RxFrame, damaged);
    EXPECT_EQ(text8(), QStringLiteral("untouched"));

    // A good reply behind the damaged one is examined together with it.
    tick();
    EXPECT_EQ(f->RxFrame, damaged + kOkReply);
    EXPECT_EQ(text8(), QStringLiteral("untouched"));
    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST_F(ReceiverTest, ModbusWrongAddressShowsAnErrorWithThisTicksCharacters) {
    modbus("1");
    loadLines({":L1"});
    const QByteArray foreign = QByteArray::fromHex("02424F4BD58F");  // a good reply from address 2
    f.port->arriveOnPolls({foreign, kOkReply});

    tick();
    EXPECT_EQ(text8(), QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(foreign));
    EXPECT_EQ(f->RxFrame, foreign);

    // The rejected characters stay in front, so the next good reply fails too.
    tick();
    EXPECT_EQ(text8(), QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(kOkReply));
    EXPECT_EQ(f->RxFrame, foreign + kOkReply);
    EXPECT_TRUE(f.port->writes.isEmpty());
}

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

    for (int i = 0; i < 30; ++i) tick();

    EXPECT_EQ(f->RxFrame, fiveCharacters);
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

}  // namespace
}  // namespace vantrel::testing
