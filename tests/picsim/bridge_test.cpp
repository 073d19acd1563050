// vantrel-picsim with a small echo program of its own instead of the
// bootloader: the bridge between the pty and the chip's USART pins, and the
// launcher's options. Each test runs gpsim in real time (lock vantrel_gpsim).
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "pic_sim.h"
#include "pseudo_terminal.h"

namespace {

using namespace std::chrono_literals;
using vantrel::testing::PicSim;
using vantrel::testing::PtyClient;
namespace fs = std::filesystem;

std::string echoHex(long baud) {
    return std::string(VANTREL_ECHO_DIR) + "/echo-" + std::to_string(baud) + ".hex";
}

std::vector<std::string> echoArgs(long baud) {
    return {"--bootloader", echoHex(baud), "--baud", std::to_string(baud)};
}

auto hasAtLeast(std::size_t n) {
    return [n](const std::string& got) { return got.size() >= n; };
}

class EchoTest : public ::testing::TestWithParam<long> {};

TEST_P(EchoTest, CharactersGoBothWaysAtTheLinesBitTiming) {
    const long baud = GetParam();
    PicSim chip(echoArgs(baud));
    ASSERT_TRUE(chip.start()) << chip.error();
    PtyClient host;
    ASSERT_TRUE(host.open(chip.ptyPath()));
    // The "R" of the reset went out before we opened: wait until it is
    // surely past, then start clean.
    std::this_thread::sleep_for(50ms);
    host.readUntil([](const std::string&) { return false; }, 20ms);

    const std::string text = "The quick brown fox jumps over the lazy dog 0123456789";
    const std::string bytes = text + std::string("\x00\x7F\x80\xFF\r\n", 6);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(host.send(bytes));
    const std::string got = host.readUntil(hasAtLeast(bytes.size()), 10s);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(got, bytes);
    // Every character went to the chip at ten bits: the echo of the last
    // one cannot come sooner than the line carries them all, nor much later.
    const double wire = static_cast<double>(bytes.size()) * 10.0 / static_cast<double>(baud);
    EXPECT_GE(seconds, wire);
    EXPECT_LT(seconds, 3.0 * wire + 0.5);
    EXPECT_EQ(chip.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, EchoTest, ::testing::Values(9600L, 115200L),
                         [](const auto& info) { return "At" + std::to_string(info.param); });

TEST(BridgeTest, CharactersSentWhileTheChipStallsAreLost) {
    PicSim chip(echoArgs(115200));
    ASSERT_TRUE(chip.start()) << chip.error();
    PtyClient host;
    ASSERT_TRUE(host.open(chip.ptyPath()));
    std::this_thread::sleep_for(50ms);
    host.readUntil([](const std::string&) { return false; }, 20ms);

    // "!" stalls the chip 5 ms, the time of 57 characters: of the ten that
    // follow at once, the receiver's FIFO keeps at most two.
    ASSERT_TRUE(host.send("!0123456789"));
    const std::string got = host.readUntil([](const std::string&) { return false; }, 300ms);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], '!');
    EXPECT_LE(got.size(), 3u) << got;
    EXPECT_EQ(got.find('9'), std::string::npos) << got;
    // The chip clears its overrun and hears the next character again.
    ASSERT_TRUE(host.send("Z"));
    EXPECT_EQ(host.readUntil(hasAtLeast(1), 2s), "Z");
    EXPECT_EQ(chip.stop(), 0);
}

class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = vantrel::testing::makeTempDir("picsim-test");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

TEST_F(LauncherTest, ReadyNamesThePtyAndTheAliasWhichGoesAtTheEnd) {
    PicSim chip(echoArgs(115200));
    chip.setAlias(dir_ + "/ports", 7);
    ASSERT_TRUE(chip.start()) << chip.error();
    EXPECT_EQ(chip.readyLine(), "READY " + chip.ptyPath() + " " + dir_ + "/ports/com7");
    EXPECT_EQ(fs::read_symlink(dir_ + "/ports/com7").string(), chip.ptyPath());
    PtyClient host;
    ASSERT_TRUE(host.open(dir_ + "/ports/com7"));
    ASSERT_TRUE(host.send("x"));
    EXPECT_NE(host.readUntil([](const std::string& got) { return got.ends_with("x"); }, 2s).find('x'),
              std::string::npos);
    const int status = chip.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(fs::is_symlink(dir_ + "/ports/com7"));
}

TEST_F(LauncherTest, FlashOutAndFlashInKeepProgramMemoryAndEeprom) {
    // The echo program and some EEPROM bytes, as a dump of an earlier run.
    PicSim::Memory start = *vantrel::testing::readHexMemory(echoHex(115200));
    std::ofstream(dir_ + "/in.hex") << [&] {
        std::ifstream in(echoHex(115200));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        text.erase(text.find(":00000001FF"));
        // 0xF00010: 0xA5 0x5A
        return text + ":020000040000FA\n:0200000400F00A\n:02001000A55AEF\n:00000001FF\n";
    }();
    PicSim firstWithInput({"--bootloader", echoHex(115200), "--flash-in", dir_ + "/in.hex"});
    ASSERT_TRUE(firstWithInput.start()) << firstWithInput.error();
    EXPECT_EQ(firstWithInput.stop(), 0);
    const PicSim::Memory once = firstWithInput.flashOut();
    ASSERT_FALSE(once.empty());
    for (const auto& [address, byte] : start) {
        if (address < 0x8000) {
            EXPECT_EQ(once.at(address), byte) << address;
        }
    }
    EXPECT_EQ(once.at(0xF00010), 0xA5);
    EXPECT_EQ(once.at(0xF00011), 0x5A);
    EXPECT_EQ(once.count(0xF00000 + 255), 1u);
    EXPECT_EQ(once.count(0x7FFF), 1u);

    // The dump read back in comes out the same.
    PicSim second({"--bootloader", echoHex(115200), "--flash-in", firstWithInput.flashOutPath()});
    ASSERT_TRUE(second.start()) << second.error();
    EXPECT_EQ(second.stop(), 0);
    EXPECT_EQ(second.flashOut(), once);
}

TEST_F(LauncherTest, StartOnOpenHoldsTheChipUntilTheHostOpens) {
    PicSim chip({"--bootloader", echoHex(115200), "--start-on-open"});
    ASSERT_TRUE(chip.start()) << chip.error();
    std::this_thread::sleep_for(100ms);
    // Nothing ran yet: the chip's "R" at reset is still to come.
    EXPECT_FALSE(chip.waitForLog(
        [](const PicSim::Log& log) {
            for (const auto& entry : log)
                if (entry.direction == "TX") return true;
            return false;
        },
        0ms));
    PtyClient host;
    ASSERT_TRUE(host.open(chip.ptyPath()));
    EXPECT_EQ(host.readUntil(hasAtLeast(1), 2s), "R");
    EXPECT_EQ(chip.stop(), 0);
}

TEST_F(LauncherTest, ResetAfterRecordResetsTheChipRightAfterThatLine) {
    PicSim chip({"--bootloader", echoHex(115200), "--start-on-open", "--reset-after-record", "2"});
    ASSERT_TRUE(chip.start()) << chip.error();
    PtyClient host;
    ASSERT_TRUE(host.open(chip.ptyPath()));
    EXPECT_EQ(host.readUntil(hasAtLeast(1), 2s), "R");
    // One "BOOT:" line, another command, the second "BOOT:" line: the chip
    // restarts (its "R" again) after the second one's LF has reached it.
    ASSERT_TRUE(host.send("BOOT:1\r\n"));
    EXPECT_EQ(host.readUntil(hasAtLeast(8), 2s), "BOOT:1\r\n");
    ASSERT_TRUE(host.send("BOOTi\r\n"));
    EXPECT_EQ(host.readUntil(hasAtLeast(7), 2s), "BOOTi\r\n");
    ASSERT_TRUE(host.send("BOOT:2\r\n"));
    // (What the chip was sending when MCLR fell is gpsim's to model.)
    const std::string got =
        host.readUntil([](const std::string& s) { return s.find('R', 7) != std::string::npos; }, 2s);
    EXPECT_EQ(got.substr(0, 7), "BOOT:2\r");
    EXPECT_NE(got.find('R', 7), std::string::npos) << ::testing::PrintToString(got);
    host.readUntil([](const std::string&) { return false; }, 20ms);
    // The log has the reset right after the whole line reached the chip.
    const PicSim::Log log = chip.log();
    std::vector<std::string> seen;
    for (const auto& entry : log) seen.push_back(entry.direction == "EV" ? entry.text : entry.direction + entry.bytes);
    const auto line = std::find(seen.begin(), seen.end(), "RXBOOT:2\r\n");
    ASSERT_NE(line, seen.end());
    ASSERT_NE(line + 1, seen.end());
    EXPECT_EQ(*(line + 1), "reset after record 2");
    ASSERT_TRUE(host.send("BOOT:3\r\n"));
    EXPECT_EQ(host.readUntil(hasAtLeast(8), 2s), "BOOT:3\r\n");  // once only
    EXPECT_EQ(chip.stop(), 0);
}

}  // namespace
