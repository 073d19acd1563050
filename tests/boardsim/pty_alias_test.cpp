// The pieces the pty programs share: the alias links, the port's lifecycle
// in time, and the raw pseudo-terminal.
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "boardsim/alias.h"
#include "boardsim/port_lifecycle.h"
#include "boardsim/pty.h"

namespace {

using namespace vantrel::boardsim;
namespace fs = std::filesystem;

class AliasTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vantrel-alias-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string linkTarget(const std::string& link) const { return fs::read_symlink(link).string(); }

    std::string dir_;
};

TEST_F(AliasTest, PlacesMissingFoldersAndReplacesAnOldAlias) {
    const std::string ports = dir_ + "/a/b/ports";
    ASSERT_TRUE(makeDirs(ports));
    AliasLinks links = AliasLinks::forPort(ports, 3, false);
    ASSERT_TRUE(placeLink(links.alias, "/dev/null"));
    ASSERT_TRUE(links.place("/dev/pts/99"));
    EXPECT_EQ(linkTarget(ports + "/com3"), "/dev/pts/99");
    links.remove("/dev/pts/99");
    EXPECT_FALSE(fs::is_symlink(ports + "/com3"));
}

TEST_F(AliasTest, LeavesAnAliasAnotherProgramTookSince) {
    AliasLinks links = AliasLinks::forPort(dir_, 4, false);
    ASSERT_TRUE(links.place("/dev/pts/98"));
    ASSERT_TRUE(placeLink(links.alias, "/dev/pts/97"));  // another simulator took com4
    links.remove("/dev/pts/98");
    EXPECT_EQ(linkTarget(dir_ + "/com4"), "/dev/pts/97");
}

TEST_F(AliasTest, ThroughTargetTheAliasDanglesUntilThePortComes) {
    AliasLinks links = AliasLinks::forPort(dir_, 5, true);
    ASSERT_TRUE(links.placeDangling());
    EXPECT_EQ(linkTarget(dir_ + "/com5"), dir_ + "/.com5.target");
    EXPECT_FALSE(fs::exists(dir_ + "/com5"));
    ASSERT_TRUE(links.place("/dev/null"));
    EXPECT_TRUE(fs::exists(dir_ + "/com5"));
    links.remove("/dev/null");
    EXPECT_FALSE(fs::is_symlink(dir_ + "/com5"));
    EXPECT_FALSE(fs::is_symlink(dir_ + "/.com5.target"));
}

TEST(PortLifecycleTest, AppearsOnceAtItsTime) {
    PortLifecycle life(0.5, std::nullopt);
    EXPECT_FALSE(life.present(499'999));
    EXPECT_FALSE(life.takeAppear(499'999));
    EXPECT_EQ(life.takeAppear(600'000), 500'000);
    EXPECT_FALSE(life.takeAppear(700'000));
    EXPECT_TRUE(life.present(700'000));
}

struct DrainCase {
    const char* name;
    bool replyRead;
    Micros secondLook;  // when the second look happens, from the first
    bool goneAtSecondLook;
};

class PortDrainTest : public ::testing::TestWithParam<DrainCase> {};

TEST_P(PortDrainTest, GoesWhenTheReplyIsReadOrTheLimitPassed) {
    const DrainCase& c = GetParam();
    PortLifecycle life(std::nullopt, 1.0);
    EXPECT_EQ(life.unplugDue(10'000, c.replyRead), c.replyRead);
    if (!c.replyRead) {
        EXPECT_TRUE(life.draining());
        EXPECT_EQ(life.unplugDue(10'000 + c.secondLook, false), c.goneAtSecondLook);
    }
    life.unplugged(20'000);
    EXPECT_TRUE(life.gone());
    EXPECT_FALSE(life.draining());
    EXPECT_FALSE(life.present(30'000));
    EXPECT_FALSE(life.takeReplug(1'019'999));
    EXPECT_EQ(life.takeReplug(1'020'000), 1'020'000);
    EXPECT_TRUE(life.present(1'020'000));
}

INSTANTIATE_TEST_SUITE_P(Cases, PortDrainTest,
                         ::testing::Values(DrainCase{"Read", true, 0, true},
                                           DrainCase{"UnreadWithinLimit", false, PortLifecycle::kDrainLimit - 1, false},
                                           DrainCase{"UnreadAtLimit", false, PortLifecycle::kDrainLimit, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PtyDrainWatchTest, AnEmptyQueueCountsOnlyAfterTheReplyWasSeenOrTheSettleTime) {
    PtyDrainWatch watch;
    EXPECT_FALSE(watch.replyRead(1'000, 0, 900));  // not yet moved to the slave
    EXPECT_FALSE(watch.replyRead(2'000, 5, 900));  // waiting there
    EXPECT_TRUE(watch.replyRead(3'000, 0, 900));   // and read
    watch.reset();
    EXPECT_FALSE(watch.replyRead(3'000, 0, 900));
    EXPECT_TRUE(watch.replyRead(900 + PtyDrainWatch::kSettle, 0, 900));
}

TEST(PtyTest, RawBothWaysAndTheHostSpeedIsSeen) {
    auto pty = openPty();
    ASSERT_TRUE(pty.has_value());
    const int host = open(pty->path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(host, &tio), 0);
    cfsetospeed(&tio, B19200);
    cfsetispeed(&tio, B19200);
    ASSERT_EQ(tcsetattr(host, TCSANOW, &tio), 0);
    EXPECT_EQ(hostSpeed(pty->master), 19200);

    ASSERT_EQ(write(pty->master, "\r\n\x03", 3), 3);  // no CR/LF mapping, no signal from ^C
    char got[8] = {};
    ssize_t n = 0;
    for (int tries = 0; tries < 1000 && n < 3; ++tries) {
        const ssize_t r = read(host, got + n, sizeof got - static_cast<std::size_t>(n));
        if (r > 0)
            n += r;
        else
            usleep(1000);
    }
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(n)), std::string("\r\n\x03"));
    close(host);
    closePty(*pty);
    EXPECT_EQ(pty->master, -1);
}

}  // namespace
