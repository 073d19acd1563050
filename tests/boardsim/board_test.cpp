#include "boardsim/board.h"

#include <ostream>

#include <gtest/gtest.h>

namespace vantrel::boardsim {
namespace {

constexpr const char* kSilence = "<no reply>";

class BoardTest : public ::testing::Test {
  protected:
    std::string say(std::string_view command) {
        const Outcome outcome = board.handle(command);
        return outcome.reply.value_or(kSilence);
    }

    Board board{1};
};

// The first records of examples/blink.hex, including its configuration words
// behind an extended linear address record.
const std::vector<std::string> kImage = {
    ":020000040000FA", ":0400000020EF00F0FD", ":020008001100E5", ":10004000720ED36E0F0EC16E8A6A93908A7001D8B9",
    ":020000040030CA", ":0300010008181EBE",   ":00000001FF",
};

std::string verifyLine(std::string line) {
    line[0] = '#';
    return line;
}

TEST_F(BoardTest, DownloadThenVerifyOfASmallImage) {
    EXPECT_EQ(say("BOOTi"), "VER=4.01\r\n");
    for (std::size_t i = 0; i + 1 < kImage.size(); ++i) EXPECT_EQ(say("BOOT" + kImage[i]), "OK\r\n") << kImage[i];
    EXPECT_EQ(say("BOOT" + kImage.back()), "DOWNLOAD\r\n");

    EXPECT_EQ(board.byteAt(0x0000), 0x20);
    EXPECT_EQ(board.byteAt(0x0040), 0x72);
    EXPECT_EQ(board.byteAt(0x300001), 0x08);  // placed by the 04 record
    EXPECT_EQ(board.byteAt(0x0001), 0xEF);    // not overwritten by the 0x300001 data

    for (std::size_t i = 0; i + 1 < kImage.size(); ++i) {
        EXPECT_EQ(say("BOOT" + verifyLine(kImage[i])), "OK\r\n") << kImage[i];
    }
    EXPECT_EQ(say("BOOT" + verifyLine(kImage.back())), "DOWNLOAD\r\n");
}

TEST_F(BoardTest, VerifyReportsAChangedByte) {
    say("BOOT:0400000020EF00F0FD");
    EXPECT_EQ(say("BOOT#0400000020EF00F1FC"), "ERROR\r\n");
    EXPECT_EQ(say("BOOT#0400000020EF00F0FD"), "OK\r\n");
}

TEST_F(BoardTest, VerifyOfUnwrittenFlashSeesErasedBytes) {
    EXPECT_EQ(say("BOOT#02010000FFFFFF"), "OK\r\n");
    EXPECT_EQ(say("BOOT#020100000000FD"), "ERROR\r\n");
}

TEST_F(BoardTest, VerifyUsesItsOwnExtendedAddress) {
    say("BOOT:020000040001F9");
    say("BOOT:020000001234B8");  // 0x10000
    say("BOOT:00000001FF");
    // Without the 04 record the verify pass compares at 0x00000 and differs.
    EXPECT_EQ(say("BOOT#020000001234B8"), "ERROR\r\n");
    say("BOOT#020000040001F9");
    EXPECT_EQ(say("BOOT#020000001234B8"), "OK\r\n");
}

TEST_F(BoardTest, ExtendedSegmentAddressShiftsByFour) {
    EXPECT_EQ(say("BOOT:020000021000EC"), "OK\r\n");
    EXPECT_EQ(say("BOOT:0100200055 8A"), "FORMAT\r\n");  // refused, nothing stored
    EXPECT_EQ(say("BOOT:01002000558A"), "OK\r\n");
    EXPECT_EQ(board.byteAt(0x10020), 0x55);
    EXPECT_EQ(board.storedBytes(), 1U);
}

TEST_F(BoardTest, OffsetsWrapInsideTheSixtyFourKilobyteWindow) {
    say("BOOT:020000040001F9");
    EXPECT_EQ(say("BOOT:02FFFF00ABCD88"), "OK\r\n");
    EXPECT_EQ(board.byteAt(0x1FFFF), 0xAB);
    EXPECT_EQ(board.byteAt(0x10000), 0xCD);
    EXPECT_FALSE(board.byteAt(0x20000));
}

TEST_F(BoardTest, EndOfFileStartsTheNextPassAtAddressZero) {
    say("BOOT:020000040001F9");
    say("BOOT:00000001FF");
    say("BOOT:010000007788");
    EXPECT_EQ(board.byteAt(0x00000), 0x77);
    EXPECT_FALSE(board.byteAt(0x10000));
}

TEST_F(BoardTest, MalformedRecordIsRefusedAndNotStored) {
    EXPECT_EQ(say("BOOT:0400000020EF00F0FE"), "FORMAT\r\n");
    EXPECT_EQ(say("BOOT#0400000020EF00F0FE"), "FORMAT\r\n");
    EXPECT_EQ(board.storedBytes(), 0U);
}

TEST_F(BoardTest, ApplicationAnswersVersionOnlyOnceInstalled) {
    EXPECT_EQ(say("VER"), kSilence);
    EXPECT_EQ(say("BOOTg"), kSilence);
    EXPECT_TRUE(board.applicationRunning());
    EXPECT_EQ(say("VER"), "VER=APP 1.0\r\n");
    // Any BOOT command takes the board back to its bootloader.
    EXPECT_EQ(say("BOOTi"), "VER=4.01\r\n");
    EXPECT_FALSE(board.applicationRunning());
    EXPECT_EQ(say("VER"), kSilence);
}

TEST_F(BoardTest, PowerCycleKeepsFlashButStopsTheApplication) {
    say("BOOT:020000040001F9");
    say("BOOT:010000007788");
    say("BOOTg");
    board.powerCycle();
    EXPECT_FALSE(board.applicationRunning());
    EXPECT_EQ(board.byteAt(0x10000), 0x77);
    say("BOOT:010000006699");  // extended address forgotten: lands at 0
    EXPECT_EQ(board.byteAt(0x00000), 0x66);
}

TEST(BoardIdentity, VersionsAreConfigurable) {
    Board board(1, BoardIdentity{"9.9-test", "BLINK 2"});
    EXPECT_EQ(board.handle("BOOTi").reply, "VER=9.9-test\r\n");
    board.handle("BOOTg");
    EXPECT_EQ(board.handle("VER").reply, "VER=BLINK 2\r\n");
}

struct CommandCase {
    const char* name;
    const char* command;
    const char* reply;  // nullptr: silence
    int addressAfter;
};

void PrintTo(const CommandCase& c, std::ostream* out) {
    *out << c.name;
}

class BoardCommands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(BoardCommands, RepliesAndAddress) {
    Board board(5);
    const Outcome outcome = board.handle(GetParam().command);
    if (GetParam().reply == nullptr) {
        EXPECT_FALSE(outcome.reply) << *outcome.reply;
    } else {
        EXPECT_EQ(outcome.reply, GetParam().reply);
    }
    EXPECT_EQ(board.address(), GetParam().addressAfter);
}

INSTANTIATE_TEST_SUITE_P(Commands, BoardCommands,
                         ::testing::Values(CommandCase{"SetAddress", "BOOT$0A", "ADR=0A\r\n", 10},
                                           CommandCase{"SetHighestAddress", "BOOT$F7", "ADR=F7\r\n", 247},
                                           CommandCase{"SetLowestAddress", "BOOT$01", "ADR=01\r\n", 1},
                                           CommandCase{"AddressZeroIsBroadcast", "BOOT$00", "FORMAT\r\n", 5},
                                           CommandCase{"ReservedAddress", "BOOT$F8", "FORMAT\r\n", 5},
                                           CommandCase{"LowerCaseAddress", "BOOT$0a", "FORMAT\r\n", 5},
                                           CommandCase{"OneDigitAddress", "BOOT$A", "FORMAT\r\n", 5},
                                           CommandCase{"ThreeDigitAddress", "BOOT$00A", "FORMAT\r\n", 5},
                                           CommandCase{"UnknownBootCommand", "BOOTx", "FORMAT\r\n", 5},
                                           CommandCase{"BareBoot", "BOOT", "FORMAT\r\n", 5},
                                           CommandCase{"VersionWithTrailer", "BOOTii", "FORMAT\r\n", 5},
                                           CommandCase{"ForeignText", "HELLO", nullptr, 5},
                                           CommandCase{"EmptyLine", "", nullptr, 5},
                                           CommandCase{"LowerCaseBoot", "booti", nullptr, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// The loader sends its next line on any "OK" and reacts to the other words
// too, so the answer to BOOT$ must carry none of them, whatever the address.
TEST(BoardCommands, AddressReplyNeverCarriesAWordTheLoaderReactsTo) {
    static constexpr const char* kDigits = "0123456789ABCDEF";
    for (int value = 1; value <= 247; ++value) {
        Board board(1);
        const std::string command = std::string("BOOT$") + kDigits[value >> 4] + kDigits[value & 15];
        const std::string reply = board.handle(command).reply.value_or("");
        ASSERT_EQ(board.address(), value) << command;
        for (const char* word : {"VER=", "ERROR", "DOWNLOAD", "FORMAT", "OK"}) {
            EXPECT_EQ(reply.find(word), std::string::npos) << command << " -> " << reply;
        }
    }
}

}  // namespace
}  // namespace vantrel::boardsim
