// The host's side of the line in cycles, and the HEX images and options of
// vantrel-picsim: the parts that need no gpsim.
#include <string>

#include <gtest/gtest.h>

#include "picsim/hex_image.h"
#include "picsim/options.h"
#include "picsim/uart_wire.h"

namespace {

using namespace vantrel::picsim;

// Runs a transmitter into a receiver, edge by edge, as the bridge does
// through gpsim's pins.
std::string loopBack(const std::string& bytes, Cycles txBit, Cycles rxBit, unsigned* framing = nullptr) {
    UartTransmitter tx(txBit);
    UartReceiver rx(rxBit);
    tx.queue(bytes);
    Cycles now = 100;
    std::string sent;
    for (;;) {
        const auto step = tx.step(now);
        rx.edge(now, step.level);
        if (step.sent) sent.push_back(*step.sent);
        if (!step.next) break;
        now = *step.next;
    }
    EXPECT_EQ(sent, bytes);
    std::string got = rx.take(now + 20 * rxBit);
    if (framing != nullptr) *framing = rx.framingErrors();
    return got;
}

struct LineCase {
    const char* name;
    Cycles bitCycles;
    std::string bytes;
};

class WireTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(WireTest, EveryByteArrivesAtTheSameRate) {
    unsigned framing = 99;
    EXPECT_EQ(loopBack(GetParam().bytes, GetParam().bitCycles, GetParam().bitCycles, &framing), GetParam().bytes);
    EXPECT_EQ(framing, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, WireTest,
                         ::testing::Values(LineCase{"At115200", 16, "BOOTi\r\n"},
                                           LineCase{"At9600", 192, std::string("\x00\xFF\x55\xAA\x80\x01", 6)},
                                           LineCase{"EndsWithHighBits", 16, "\xFF\x7F"},
                                           LineCase{"AllZero", 16, std::string(3, '\0')}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WireTest, ACharacterTakesTenBitTimes) {
    UartTransmitter tx(16);
    tx.queue("AB");
    Cycles now = 0;
    std::vector<Cycles> sentAt;
    for (;;) {
        const auto step = tx.step(now);
        if (step.sent) sentAt.push_back(now);
        if (!step.next) break;
        now = *step.next;
    }
    ASSERT_EQ(sentAt.size(), 2u);
    EXPECT_EQ(sentAt[0], 160u);
    EXPECT_EQ(sentAt[1], 320u);
    EXPECT_TRUE(tx.idle());
}

TEST(WireTest, ASpeedMismatchGarblesAsOnARealLine) {
    unsigned framing = 0;
    const std::string got = loopBack("BOOTi\r\n", 192, 16, &framing);
    EXPECT_NE(got, "BOOTi\r\n");
}

TEST(WireTest, TheReceiverCompletesACharacterWithoutAnotherEdge) {
    UartReceiver rx(16);
    // 0xFF: only the start bit is low.
    rx.edge(1000, false);
    rx.edge(1016, true);
    EXPECT_EQ(rx.take(1000 + 16 * 9), "");
    ASSERT_TRUE(rx.due().has_value());
    EXPECT_EQ(rx.take(*rx.due()), "\xFF");
}

TEST(HexImageTest, WrittenAndReadBackAcrossPages) {
    MemoryImage image;
    for (std::uint32_t a = 0; a < 40; ++a) image[a] = static_cast<std::uint8_t>(a * 7);
    image[0x7FFE] = 0x12;
    image[kEepromBase] = 0xA5;
    image[kEepromBase + 0xFF] = 0x5A;
    const std::string text = formatIntelHex(image);
    EXPECT_NE(text.find(":0200000400F00A\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with(":00000001FF\n"));
    std::string error;
    const auto back = parseIntelHex(text, error);
    ASSERT_TRUE(back.has_value()) << error;
    EXPECT_EQ(*back, image);
}

TEST(HexImageTest, SegmentAddressAndBadChecksum) {
    std::string error;
    const auto image = parseIntelHex(":020000021000EC\n:0100000042BD\n:00000001FF\n", error);
    ASSERT_TRUE(image.has_value()) << error;
    EXPECT_EQ(image->at(0x10000), 0x42);
    EXPECT_FALSE(parseIntelHex(":0100000042BE\n", error).has_value());
    EXPECT_NE(error.find("line 1"), std::string::npos);
}

struct OptionCase {
    const char* name;
    std::vector<std::string> args;
    std::string error;  // a part of it; empty: accepted
};

class PicsimOptionsTest : public ::testing::TestWithParam<OptionCase> {};

TEST_P(PicsimOptionsTest, AcceptsOrSaysWhy) {
    const ParseResult result = parseOptions(GetParam().args);
    if (GetParam().error.empty()) {
        EXPECT_EQ(result.error, "");
    } else {
        EXPECT_NE(result.error.find(GetParam().error), std::string::npos) << result.error;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PicsimOptionsTest,
                         ::testing::Values(OptionCase{"All",
                                                      {"--com", "3", "--ports-dir=/tmp/p", "--baud", "9600",
                                                       "--start-on-open", "--reset-after-record", "4", "--flash-out",
                                                       "o.hex", "--chip", "18f452"},
                                                      ""},
                                           OptionCase{"Chip4550NotSimulated", {"--chip", "18f4550"}, "only 18f452"},
                                           OptionCase{"BadBaud", {"--baud", "fast"}, "--baud"},
                                           OptionCase{"RecordZero", {"--reset-after-record", "0"}, "from 1"},
                                           OptionCase{"PortsDirAlone", {"--ports-dir", "/tmp"}, "needs --com"},
                                           OptionCase{"MissingValue", {"--app"}, "needs a value"},
                                           OptionCase{"FlagWithValue", {"--start-on-open=1"}, "takes no value"},
                                           OptionCase{"Unknown", {"--turbo"}, "unknown option"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PicsimOptionsTest, ValuesLandWhereTheySay) {
    const ParseResult result = parseOptions({"--baud=19200", "--reset-after-record", "7", "--com", "12"});
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.options.baud, 19200);
    EXPECT_EQ(result.options.resetAfterRecord, 7);
    EXPECT_EQ(result.options.com, 12);
}

}  // namespace
