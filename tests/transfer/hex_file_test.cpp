#include "transfer/hex_file.h"

#include <string>

#include <QByteArray>
#include <QList>

#include <gtest/gtest.h>

#include "qt_printers.h"

namespace vantrel::testing {
namespace {

// Keeps NUL characters that a plain C string would end at.
template <std::size_t N>
QByteArray bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

struct SplitCase {
    const char* name;
    QByteArray data;
    QList<QByteArray> fields;
};

class SplitHexFields : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitHexFields, SplitsAtLineEndsAndCommas) {
    EXPECT_EQ(splitHexFields(GetParam().data), GetParam().fields);
}

QByteArray allByteValues() {
    QByteArray all;
    for (int c = 0x80; c <= 0xFF; ++c) all += static_cast<char>(c);
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SplitHexFields,
    ::testing::Values(SplitCase{"CrLf", "a\r\nb\r\n", {"a", "b"}}, SplitCase{"LfAlone", "a\nb\n", {"a", "b"}},
                      SplitCase{"CrAlone", "a\rb\r", {"a", "b"}}, SplitCase{"NoFinalLineEnd", "a\r\nb", {"a", "b"}},
                      SplitCase{"Empty", "", {}}, SplitCase{"OnlyALineEndIsOneBlankLine", "\r\n", {""}},
                      SplitCase{"BlankMiddleLine", "a\r\n\r\nb\r\n", {"a", "", "b"}},
                      SplitCase{"LfThenCrAreTwoLineEnds", "a\n\rb", {"a", "", "b"}},
                      SplitCase{"CrBeforeCrLf", "a\r\r\nb", {"a", "", "b"}}, SplitCase{"Comma", "a,b\r\n", {"a", "b"}},
                      SplitCase{"CommaAtTheEnd", "a,", {"a"}},
                      SplitCase{"NulBytesStayInTheField", bytes("\0a\0\r\n\0"), {bytes("\0a\0"), bytes("\0")}},
                      SplitCase{"HighBytesStayInTheField", allByteValues(), {allByteValues()}},
                      SplitCase{
                          "IntelHexRecords", ":020000040000FA\r\n:00000001FF\r\n", {":020000040000FA", ":00000001FF"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

// The lines as the file numbers them: the fields' line ends, a comma kept.
TEST(SplitHexLines, EndsLinesWhereFieldsEndButKeepsCommas) {
    const QByteArray text(":0A,0B\r\n:0C\n\r:0D\r\r\n");
    EXPECT_EQ(splitHexLines(text), (QList<QByteArray>{":0A,0B", ":0C", "", ":0D", ""}));
    EXPECT_EQ(splitHexFields(text), (QList<QByteArray>{":0A", "0B", ":0C", "", ":0D", ""}));
}

struct EndOfFileCase {
    const char* name;
    const char* record;
    bool endOfFile;
};

class EndOfFileRecord : public ::testing::TestWithParam<EndOfFileCase> {};

TEST_P(EndOfFileRecord, IsTheRecordOfTypeZeroOne) {
    EXPECT_EQ(isEndOfFileRecord(QByteArray(GetParam().record)), GetParam().endOfFile);
}

INSTANTIATE_TEST_SUITE_P(Records, EndOfFileRecord,
                         ::testing::Values(EndOfFileCase{"Usual", ":00000001FF", true},
                                           EndOfFileCase{"LowerCaseChecksum", ":00000001ff", true},
                                           EndOfFileCase{"WithAnAddress", ":00FFFF01FF", true},
                                           EndOfFileCase{"BlankBeforeTheColon", " :00000001FF", true},
                                           EndOfFileCase{"Data", ":10010000214601360121470136007EFE09D2190140", false},
                                           EndOfFileCase{"ExtendedLinearAddress", ":020000040000FA", false},
                                           EndOfFileCase{"ZeroOneInTheAddress", ":00000100FF", false},
                                           EndOfFileCase{"VerifyForm", "#00000001FF", false},
                                           EndOfFileCase{"CutShort", ":0000000", false},
                                           EndOfFileCase{"Empty", "", false}),
                         [](const ::testing::TestParamInfo<EndOfFileCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vantrel::testing
