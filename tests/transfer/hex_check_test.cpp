#include "transfer/hex_check.h"

#include <string>

#include <QByteArray>
#include <QFile>

#include <gtest/gtest.h>

#include "qt_printers.h"

namespace vantrel::testing {
namespace {

// One fault per fixture, each on the line it names; the records around it
// are real ones (from examples/blink.hex).
struct FaultCase {
    const char* name;
    QByteArray file;
    int line;            // 0: the file as a whole
    const char* reason;  // the reason, whole
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class HexFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(HexFault, NamesTheFirstBadLineAndWhy) {
    const HexCheck check = checkHexFile(GetParam().file);
    ASSERT_FALSE(check.ok());
    EXPECT_EQ(check.problem->line, GetParam().line);
    EXPECT_EQ(check.problem->reason, QString::fromUtf8(GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HexFault,
    ::testing::Values(
        FaultCase{"BadStartCharacter", ":020000040000FA\n020008001100E5\n:00000001FF\n", 2,
                  "not a record: it does not start with ':'"},
        FaultCase{"OddNumberOfDigits", ":020000040000FA\r\n:0400000020EF00F0F\r\n:00000001FF\r\n", 2,
                  "odd number of hex digits (17)"},
        FaultCase{"NonHexCharacter", ":0200000400G0FA\n:00000001FF\n", 1, "a non-hex character 'G' at column 12"},
        // A comma ends a field for the loader, but the line keeps its number.
        FaultCase{"CommaInALine", ":020000040000FA\n:0400000020EF,00F0FD\n:00000001FF\n", 2,
                  "a non-hex character ',' at column 14"},
        FaultCase{"TrailingBlank", ":020000040000FA\n:00000001FF \n", 2, "a non-hex character ' ' at column 12"},
        FaultCase{"ControlCharacter",
                  QByteArray(":0200000400\x01"
                             "0FA\n:00000001FF\n"),
                  1, "a non-hex character \\x01 at column 12"},
        FaultCase{"CountMismatch", ":020000040000FA\n:1000000020EF00F0FD\n:00000001FF\n", 2,
                  "byte count 16 but 4 data bytes"},
        FaultCase{"BadChecksum", ":020000040000FA\n:0400000020EF00F0FE\n:00000001FF\n", 2,
                  "checksum is 0xFE, the record's bytes need 0xFD"},
        FaultCase{"RecordType06", ":00000006FA\n:00000001FF\n", 1, "record type 06 is not 00 to 05"},
        FaultCase{"TooShort", ":0000FF\n:00000001FF\n", 1,
                  "too short for a record: 6 hex digits, a record has at least 10"},
        FaultCase{"ExtendedAddressOfThreeBytes", ":0300000400000AEF\n:00000001FF\n", 1,
                  "an extended linear address record (04) holds 2 data bytes, not 3"},
        FaultCase{"NoEndOfFile", ":020000040000FA\n:0400000020EF00F0FD\n", 0, "no end-of-file record (:00000001FF)"},
        FaultCase{"EmptyOfRecords", "\n\n", 0, "no end-of-file record (:00000001FF)"},
        FaultCase{"RecordAfterTheEndOfFile", ":00000001FF\n\n:0400000020EF00F0FD\n", 3,
                  "not blank, after the end-of-file record of line 1"},
        FaultCase{"SecondEndOfFile", ":00000001FF\r\n:00000001FF\r\n", 2,
                  "not blank, after the end-of-file record of line 1"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SoundCase {
    const char* name;
    QByteArray file;
    int lines;
    int records;
};

void PrintTo(const SoundCase& c, std::ostream* os) {
    *os << c.name;
}

class SoundHex : public ::testing::TestWithParam<SoundCase> {};

TEST_P(SoundHex, PassesWithItsCounts) {
    const HexCheck check = checkHexFile(GetParam().file);
    ASSERT_TRUE(check.ok()) << describeProblem(*check.problem).toStdString();
    EXPECT_EQ(check.summary.lines, GetParam().lines);
    EXPECT_EQ(check.summary.records, GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SoundHex,
    ::testing::Values(SoundCase{"CrLf", ":0400000020EF00F0FD\r\n:00000001FF\r\n", 2, 2},
                      SoundCase{"Lf", ":0400000020EF00F0FD\n:00000001FF\n", 2, 2},
                      SoundCase{"NoLineEndAtTheEnd", ":0400000020EF00F0FD\n:00000001FF", 2, 2},
                      SoundCase{"LowerCaseHex", ":0400000020ef00f0fd\n:00000001ff\n", 2, 2},
                      SoundCase{"BlankLinesAfterTheEndOfFile", ":00000001FF\n\n  \n\t\n", 4, 1},
                      SoundCase{"TrailingBlankCrLfLines", ":00000001FF\r\n\r\n\r\n", 3, 1},
                      SoundCase{"BlankLineBetweenRecords", ":0400000020EF00F0FD\n\n:00000001FF\n", 3, 2},
                      SoundCase{"StartAddresses", ":0400000300003800C1\n:04000005000000CD2A\n:00000001FF\n", 3, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// A file gputils made: its counts and where its bytes go, worked out by hand
// from the file (04 0000: code at 0x0000; 04 0030: configuration at 0x300000).
TEST(HexCheck, ARealToolchainsFileIsSoundWithItsAddressRanges) {
    QFile file(QStringLiteral(VANTREL_EXAMPLES_DIR "/blink.hex"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const HexCheck check = checkHexFile(file.readAll());
    ASSERT_TRUE(check.ok()) << describeProblem(*check.problem).toStdString();
    EXPECT_EQ(check.summary.lines, 12);
    EXPECT_EQ(check.summary.records, 12);
    EXPECT_EQ(check.summary.dataBytes, 63);
    EXPECT_EQ(check.summary.ranges, (QList<HexAddressRange>{{0x0000, 0x0003},
                                                            {0x0008, 0x0009},
                                                            {0x0018, 0x0019},
                                                            {0x0040, 0x006B},
                                                            {0x300001, 0x300003},
                                                            {0x300005, 0x300006},
                                                            {0x300008, 0x30000D}}));
}

TEST(HexCheck, SegmentAndLinearAddressRecordsMoveTheData) {
    const QByteArray file =
        ":020000021000EC\n"      // segment 0x1000: base 0x10000
        ":0400000020EF00F0FD\n"  // 0x10000-0x10003
        ":02000004000AF0\n"      // linear 0x000A: base 0xA0000
        ":0400140020EF00F0E9\n"  // 0xA0014-0xA0017, given before its neighbour
        ":0400100020EF00F0ED\n"  // 0xA0010-0xA0013
        ":00000001FF\n";
    const HexCheck check = checkHexFile(file);
    ASSERT_TRUE(check.ok()) << describeProblem(*check.problem).toStdString();
    EXPECT_EQ(check.summary.records, 6);
    EXPECT_EQ(check.summary.dataBytes, 12);
    EXPECT_EQ(check.summary.ranges, (QList<HexAddressRange>{{0x10000, 0x10003}, {0xA0010, 0xA0017}}));
    EXPECT_EQ(describeRange(check.summary.ranges[1]), QStringLiteral("0x0A0010-0x0A0017 (8 bytes)"));
}

TEST(HexCheck, ARangeReadsAsItsEndsAndSize) {
    EXPECT_EQ(describeRange({0x0, 0x7F}), QStringLiteral("0x000000-0x00007F (128 bytes)"));
    EXPECT_EQ(describeRange({0xFFFF0000, 0xFFFF0001}), QStringLiteral("0xFFFF0000-0xFFFF0001 (2 bytes)"));
}

TEST(HexCheck, ALongLineIsQuotedByItsFirstSixtyCharacters) {
    QByteArray line = ":" + QByteArray(200000, 'Z');
    const HexCheck check = checkHexFile(line + "\n:00000001FF\n");
    ASSERT_FALSE(check.ok());
    const QString expected = QString::fromLatin1(line.left(60)) + QChar(0x2026);
    EXPECT_EQ(check.problem->quote, expected);
    const QString message = describeProblem(*check.problem);
    EXPECT_EQ(message, QStringLiteral("line 1 \"%1\": a non-hex character 'Z' at column 2").arg(expected));

    // Sixty characters are shown whole, with nothing added.
    const QByteArray sixty = ":" + QByteArray(59, '0');
    EXPECT_EQ(quoteHexLine(sixty), QString::fromLatin1(sixty));
    EXPECT_EQ(quoteHexLine(sixty + "1"), QString::fromLatin1(sixty) + QChar(0x2026));
    EXPECT_EQ(quoteHexLine(QByteArray(":0\x01\xff", 4)), QStringLiteral(":0\\x01\\xFF"));
}

TEST(HexCheck, AFaultOfTheWholeFileNamesNoLine) {
    const HexCheck check = checkHexFile(":0400000020EF00F0FD\n");
    ASSERT_FALSE(check.ok());
    EXPECT_EQ(describeProblem(*check.problem), QStringLiteral("no end-of-file record (:00000001FF)"));
}

}  // namespace
}  // namespace vantrel::testing
