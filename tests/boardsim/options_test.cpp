#include "boardsim/options.h"

#include <map>
#include <ostream>
#include <set>

#include <gtest/gtest.h>

namespace vantrel::boardsim {
namespace {

TEST(Options, EveryOptionReachesItsSetting) {
    const ParseResult parsed = parseOptions({"--com",
                                             "3",
                                             "--ports-dir",
                                             "/tmp/p",
                                             "--log=/tmp/l",
                                             "--modbus",
                                             "3,7,9",
                                             "--baud",
                                             "19200",
                                             "--frame-gap",
                                             "20",
                                             "--boot-version",
                                             "5.0",
                                             "--app-version",
                                             "BLINK",
                                             "--no-reply-record",
                                             "4",
                                             "--no-reply-record",
                                             "9",
                                             "--error-at-verify",
                                             "2",
                                             "--bad-crc-reply",
                                             "1",
                                             "--dribble",
                                             "15",
                                             "--reply-delay",
                                             "250",
                                             "--ok-before-download",
                                             "60",
                                             "--noise",
                                             "2.5",
                                             "--noise-seed",
                                             "77",
                                             "--unplug-after",
                                             "12",
                                             "--replug-after",
                                             "1.5"});
    ASSERT_EQ(parsed.error, "");
    const Options& o = parsed.options;
    EXPECT_EQ(o.com, 3);
    EXPECT_EQ(o.portsDir, "/tmp/p");
    EXPECT_EQ(o.logPath, "/tmp/l");
    EXPECT_TRUE(o.sim.modbus);
    EXPECT_EQ(o.sim.addresses, (std::vector<int>{3, 7, 9}));
    EXPECT_EQ(o.sim.baud, 19200);
    EXPECT_EQ(o.sim.frameGap, 20'000);
    EXPECT_EQ(o.sim.identity.bootVersion, "5.0");
    EXPECT_EQ(o.sim.identity.appVersion, "BLINK");
    EXPECT_EQ(o.sim.faults.silentRecords, (std::set<long>{4, 9}));
    EXPECT_EQ(o.sim.faults.errorVerifies, (std::set<long>{2}));
    EXPECT_EQ(o.sim.faults.damagedReplies, (std::set<long>{1}));
    EXPECT_EQ(o.sim.faults.dribbleGap, 15'000);
    EXPECT_EQ(o.sim.faults.replyDelay, 250'000);
    EXPECT_EQ(o.sim.faults.okBeforeDownload, 60'000);
    EXPECT_DOUBLE_EQ(o.sim.faults.noisePercent, 2.5);
    EXPECT_EQ(o.sim.faults.noiseSeed, 77U);
    EXPECT_EQ(o.sim.faults.unplugAfterRecord, 12);
    EXPECT_EQ(o.replugAfter, 1.5);
}

TEST(Options, ReplyFaultSwitchesReachTheirSettings) {
    // As a test or a dry run writes them: one line, blanks between words.
    const ParseResult parsed = parseOptionText(
        "--modbus 5  --noise-before-reply 1 --noise-before-reply=4:7\t--split-reply 2:3:40 "
        "--split-reply all:5:25 --split-reply 2:1:10 --double-reply 6 --double-reply 9 --drop-reply 1 "
        "--drop-reply 2 --replace-reply 3:FORMAT --replace-reply=8:ADR=0A --late-reply 6:450 --late-reply=9:20 "
        "--line-speed 19200");
    ASSERT_EQ(parsed.error, "");
    const Faults& f = parsed.options.sim.faults;
    EXPECT_TRUE(parsed.options.sim.modbus);
    EXPECT_EQ(f.noiseBeforeReplies, (std::map<long, int>{{1, 3}, {4, 7}}));
    // The later of two splits for one reply counts.
    EXPECT_EQ(f.splitReplies, (std::map<long, ReplySplit>{{2, {1, 10'000}}}));
    EXPECT_EQ(f.splitEveryReply, (ReplySplit{5, 25'000}));
    EXPECT_EQ(f.doubledReplies, (std::set<long>{6, 9}));
    EXPECT_EQ(f.droppedReplies, (std::set<long>{1, 2}));
    EXPECT_EQ(f.replacedReplies, (std::map<long, std::string>{{3, "FORMAT"}, {8, "ADR=0A"}}));
    EXPECT_EQ(f.lateReplies, (std::map<long, Micros>{{6, 450'000}, {9, 20'000}}));
    EXPECT_EQ(parsed.options.sim.lineSpeed, 19200);
}

TEST(Options, PlainModeWithoutAnything) {
    const ParseResult parsed = parseOptions({});
    ASSERT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.options.sim.modbus);
    EXPECT_FALSE(parsed.options.com);
}

TEST(Options, LatePortSwitches) {
    const ParseResult parsed = parseOptions({"--com", "4", "--appear-after", "0.5", "--appear-target"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.appearAfter, 0.5);
    EXPECT_TRUE(parsed.options.appearTarget);
}

struct BadCase {
    const char* name;
    std::vector<std::string> args;
    const char* error;  // a part of the message
};

void PrintTo(const BadCase& c, std::ostream* out) {
    *out << c.name;
}

class BadOptions : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadOptions, AreRefusedWithAReason) {
    const ParseResult parsed = parseOptions(GetParam().args);
    EXPECT_NE(parsed.error.find(GetParam().error), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadOptions,
    ::testing::Values(
        BadCase{"Unknown", {"--turbo"}, "unknown option --turbo"},
        BadCase{"MissingValue", {"--com"}, "--com needs a value"},
        BadCase{"ComNotANumber", {"--com", "COM3"}, "bad value for --com"},
        BadCase{"ComZero", {"--com", "0"}, "bad value for --com"},
        BadCase{"AddressOutOfRange", {"--modbus", "3,248"}, "bad value for --modbus"},
        BadCase{"AddressTwice", {"--modbus", "3,3"}, "bad value for --modbus"},
        BadCase{"EmptyAddress", {"--modbus", "3,"}, "bad value for --modbus"},
        BadCase{"RecordZero", {"--no-reply-record", "0"}, "bad value for --no-reply-record"},
        BadCase{"NegativeDelay", {"--reply-delay", "-5"}, "bad value for --reply-delay"},
        BadCase{"NoiseOverFull", {"--noise", "101"}, "bad value for --noise"},
        BadCase{"ZeroDribble", {"--dribble", "0"}, "bad value for --dribble"},
        BadCase{"ZeroOkBeforeDownload", {"--ok-before-download", "0"}, "bad value for --ok-before-download"},
        BadCase{"DropReplyZero", {"--drop-reply", "0"}, "bad value for --drop-reply"},
        BadCase{"LateReplyWithoutTime", {"--late-reply", "6"}, "bad value for --late-reply"},
        BadCase{"LateReplyZero", {"--late-reply", "0:100"}, "bad value for --late-reply"},
        BadCase{"LineSpeedZero", {"--line-speed", "0"}, "bad value for --line-speed"},
        BadCase{"FlashedFileMissing", {"--flashed", "/nonexistent/image.hex"}, "bad value for --flashed"},
        BadCase{"ReplaceReplyWithoutText", {"--replace-reply", "3:"}, "bad value for --replace-reply"},
        BadCase{"ReplaceReplyWithoutNumber", {"--replace-reply", "FORMAT"}, "bad value for --replace-reply"},
        BadCase{"ZeroBaud", {"--baud", "0"}, "bad value for --baud"},
        BadCase{"TrailingJunk", {"--baud", "9600x"}, "bad value for --baud"},
        BadCase{"BadCrcInPlainMode", {"--bad-crc-reply", "1"}, "--bad-crc-reply needs --modbus"},
        BadCase{"AppearWithoutAlias", {"--appear-after", "1"}, "--appear-after needs --com"},
        BadCase{"TargetWithoutAppear", {"--com", "1", "--appear-target"}, "--appear-target needs"},
        BadCase{"ReplugWithoutUnplug", {"--replug-after", "1"}, "--replug-after needs --unplug-after"},
        BadCase{"PortsDirWithoutCom", {"--ports-dir", "/tmp"}, "--ports-dir needs --com"},
        BadCase{"NoiseBeforeReplyZero", {"--noise-before-reply", "0"}, "bad value for --noise-before-reply"},
        BadCase{"NoiseBeforeNoBytes", {"--noise-before-reply", "2:0"}, "bad value for --noise-before-reply"},
        BadCase{"NoiseBeforeTooMany", {"--noise-before-reply", "2:4097"}, "bad value for --noise-before-reply"},
        BadCase{"NoiseBeforeThreeParts", {"--noise-before-reply", "2:3:4"}, "bad value for --noise-before-reply"},
        BadCase{"SplitTwoParts", {"--split-reply", "2:3"}, "bad value for --split-reply"},
        BadCase{"SplitAfterNothing", {"--split-reply", "2:0:10"}, "bad value for --split-reply"},
        BadCase{"SplitNoPause", {"--split-reply", "2:3:0"}, "bad value for --split-reply"},
        BadCase{"SplitWhichReply", {"--split-reply", "every:3:10"}, "bad value for --split-reply"},
        BadCase{"DoubleReplyZero", {"--double-reply", "0"}, "bad value for --double-reply"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Options, DefaultPortsFolderFollowsXdgConfigHome) {
    EXPECT_EQ(defaultPortsDir("/x/cfg", "/home/u"), "/x/cfg/vantrel/ports");
    EXPECT_EQ(defaultPortsDir("", "/home/u"), "/home/u/.config/vantrel/ports");
    EXPECT_EQ(defaultPortsDir(nullptr, "/home/u"), "/home/u/.config/vantrel/ports");
}

}  // namespace
}  // namespace vantrel::boardsim
