#include "transfer/hex_image.h"

#include <string>
#include <unistd.h>
#include <vector>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qt_printers.h"

namespace vantrel {
namespace {

// The most lines the loader takes.
constexpr int kMaxLines = 9000;

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    return path;
}

TEST(HexImage, IsReadOnceWithItsLinesAndTheHashOfItsBytes) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("a.hex"), QByteArray(":0100000000FF\r\n:00000001FF\n"));
    QString why;
    const auto file = readHexImage(path, kMaxLines, &why);
    ASSERT_NE(file, nullptr) << why.toStdString();
    EXPECT_EQ(file->lineCount(), 2);
    EXPECT_EQ(file->lines, (QList<QByteArray>{":0100000000FF", ":00000001FF"}));
    // sha256sum of those 27 bytes.
    EXPECT_EQ(file->sha256, QStringLiteral("cc7957be7bf7da5081a96e87c3ddc31b443bf60b34ca27780902c962e0f5cc2d"));
    ASSERT_TRUE(file->summary.has_value());
    EXPECT_EQ(file->summary->records, 2);
    EXPECT_EQ(file->summary->ranges, (QList<HexAddressRange>{{0, 0}}));
}

struct UnreadableCase {
    const char* name;
    enum class Kind { Missing, Contents, Folder, NoPermission } kind;
    QByteArray contents;
    std::vector<const char*> why;  // parts of the reason
};

void PrintTo(const UnreadableCase& c, std::ostream* os) {
    *os << c.name;
}

class UnreadableFile : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(UnreadableFile, GivesTheReasonInsteadOfAnImage) {
    using Kind = UnreadableCase::Kind;
    const UnreadableCase& c = GetParam();
    // Root reads a file whatever its mode.
    if (c.kind == Kind::NoPermission && ::geteuid() == 0) {
        GTEST_SKIP() << "running as root, which may read a file of mode 000";
    }
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("missing.hex"));
    if (c.kind == Kind::Contents || c.kind == Kind::NoPermission)
        path = writeFile(dir, QStringLiteral("f.hex"), c.contents);
    if (c.kind == Kind::NoPermission) {
        ASSERT_TRUE(QFile::setPermissions(path, {}));
    }
    if (c.kind == Kind::Folder) path = dir.path();
    QString why;
    EXPECT_EQ(readHexImage(path, kMaxLines, &why), nullptr);
    EXPECT_TRUE(why.contains(path)) << why.toStdString();
    for (const char* part : c.why) EXPECT_TRUE(why.contains(QString::fromUtf8(part))) << why.toStdString();
}

using UK = UnreadableCase::Kind;

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableFile,
    ::testing::Values(
        UnreadableCase{"Missing", UK::Missing, {}, {"cannot read", "no such file"}},
        UnreadableCase{"Folder", UK::Folder, {}, {"cannot read", "is a folder"}},
        UnreadableCase{"NoPermission", UK::NoPermission, ":00000001FF\n", {"cannot read", "no permission"}},
        UnreadableCase{"Empty", UK::Contents, QByteArray(""), {"is empty", "holds no lines"}},
        UnreadableCase{"TooManyLines", UK::Contents, QByteArray(9001 * 2, '\n'), {"more than 9000 lines"}},
        UnreadableCase{"BadChecksum",
                       UK::Contents,
                       ":020000040000FA\n:0400000020EF00F0FE\n:00000001FF\n",
                       {"is not a sound HEX file: line 2 \":0400000020EF00F0FE\": checksum is 0xFE, the record's "
                        "bytes need 0xFD"}},
        UnreadableCase{"NoEndOfFile", UK::Contents, ":0400000020EF00F0FD\n", {"no end-of-file record"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HexImage, WithoutTheCheckABadFileIsReadAsItIs) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("a.hex"), QByteArray(":0400000020EF00F0FE\n"));
    QString why;
    const auto file = readHexImage(path, kMaxLines, &why, HexImageCheck::None);
    ASSERT_NE(file, nullptr) << why.toStdString();
    EXPECT_EQ(file->lines, QList<QByteArray>{":0400000020EF00F0FE"});
    EXPECT_FALSE(file->summary.has_value());
    // Unreadable stays unreadable.
    EXPECT_EQ(readHexImage(dir.path(), kMaxLines, &why, HexImageCheck::None), nullptr);
    EXPECT_TRUE(why.contains(QLatin1String("is a folder"))) << why.toStdString();
}

TEST(HexImage, ItsSummaryNamesTheFileLinesRecordsBytesRangesAndHash) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("a.hex"),
                                   QByteArray(":0400000020EF00F0FD\n:02000004000AF0\n:0400100020EF00F0ED\n"
                                              ":00000001FF\n\n"));
    QString why;
    const auto file = readHexImage(path, kMaxLines, &why);
    ASSERT_NE(file, nullptr) << why.toStdString();
    EXPECT_EQ(hexImageSummaryText(*file), QStringLiteral("file:        %1\n"
                                                         "lines:       5\n"
                                                         "records:     4\n"
                                                         "data bytes:  8\n"
                                                         "addresses:   0x000000-0x000003 (4 bytes)\n"
                                                         "             0x0A0010-0x0A0013 (4 bytes)\n"
                                                         "sha256:      %2\n")
                                              .arg(path, file->sha256));
}

}  // namespace
}  // namespace vantrel
