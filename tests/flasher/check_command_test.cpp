// `vantrel-flash --check FILE` as a child process: what it prints on which
// stream, and its exit code. No port and no board are involved.

#include <string>
#include <vector>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "flasher/exit_codes.h"

namespace vantrel::flasher {
namespace {

struct Result {
    int code = -1;
    QString out;
    QString err;
};

Result runFlasher(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral(VANTREL_FLASH_PATH), arguments);
    Result r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QString blink() {
    return QStringLiteral(VANTREL_EXAMPLES_DIR "/blink.hex");
}

TEST(CheckCommand, PrintsTheSummaryOfASoundFileOnStandardOutput) {
    QFile file(blink());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());

    const Result r = runFlasher({QStringLiteral("--check"), blink()});
    EXPECT_EQ(r.code, toInt(ExitCode::Success)) << r.err.toStdString();
    EXPECT_EQ(r.err, QString());
    EXPECT_EQ(r.out, QStringLiteral("file:        %1\n"
                                    "lines:       12\n"
                                    "records:     12\n"
                                    "data bytes:  63\n"
                                    "addresses:   0x000000-0x000003 (4 bytes)\n"
                                    "             0x000008-0x000009 (2 bytes)\n"
                                    "             0x000018-0x000019 (2 bytes)\n"
                                    "             0x000040-0x00006B (44 bytes)\n"
                                    "             0x300001-0x300003 (3 bytes)\n"
                                    "             0x300005-0x300006 (2 bytes)\n"
                                    "             0x300008-0x30000D (6 bytes)\n"
                                    "sha256:      %2\n")
                         .arg(blink(), sha));
}

TEST(CheckCommand, QuietKeepsOnlyTheExitCode) {
    const Result r = runFlasher({QStringLiteral("--check"), QStringLiteral("--quiet"), blink()});
    EXPECT_EQ(r.code, toInt(ExitCode::Success)) << r.err.toStdString();
    EXPECT_EQ(r.out, QString());
    EXPECT_EQ(r.err, QString());
}

struct BadCase {
    const char* name;
    QByteArray contents;  // written as bad.hex; null: the folder itself
    const char* message;  // after "vantrel-flash: <path>"
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class CheckOfABadFile : public ::testing::TestWithParam<BadCase> {};

TEST_P(CheckOfABadFile, SaysWhyOnStandardErrorAndEndsWithFive) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString path = dir.path();
    if (!GetParam().contents.isNull()) {
        path = dir.filePath(QStringLiteral("bad.hex"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(GetParam().contents);
    }
    const Result r = runFlasher({QStringLiteral("--check"), path});
    EXPECT_EQ(r.code, toInt(ExitCode::FileUnreadable));
    EXPECT_EQ(r.out, QString());
    EXPECT_EQ(r.err, QStringLiteral("vantrel-flash: ") + QString::fromUtf8(GetParam().message).arg(path) + u'\n');
}

INSTANTIATE_TEST_SUITE_P(
    Files, CheckOfABadFile,
    ::testing::Values(BadCase{"Folder", QByteArray(), "cannot read %1: it is a folder, not a file"},
                      BadCase{"Checksum", ":0400000020EF00F0FE\r\n:00000001FF\r\n",
                              "%1 is not a sound HEX file: line 1 \":0400000020EF00F0FE\": checksum is 0xFE, the "
                              "record's bytes need 0xFD"},
                      BadCase{"NoEndOfFile", ":0400000020EF00F0FD\n",
                              "%1 is not a sound HEX file: no end-of-file record (:00000001FF)"},
                      BadCase{
                          "LongLine", ":" + QByteArray(200000, '0') + "\n",
                          "%1 is not a sound HEX file: line 1 "
                          "\":00000000000000000000000000000000000000000000000000000000000\u2026\": byte count 0 but "
                          "99995 data bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckCommand, AMissingFileEndsWithFiveAndNoPortIsAskedFor) {
    const Result r = runFlasher({QStringLiteral("--check"), QStringLiteral("/nonexistent/firmware.hex")});
    EXPECT_EQ(r.code, toInt(ExitCode::FileUnreadable));
    EXPECT_EQ(r.err, QStringLiteral("vantrel-flash: cannot read /nonexistent/firmware.hex: no such file\n"));
}

TEST(CheckCommand, WithAPortItIsAUsageError) {
    const Result r = runFlasher({QStringLiteral("--check"), QStringLiteral("--port"), QStringLiteral("COM3"), blink()});
    EXPECT_EQ(r.code, toInt(ExitCode::Usage));
    EXPECT_TRUE(r.err.contains(QLatin1String("--check takes only the file"))) << r.err.toStdString();
    EXPECT_EQ(r.out, QString());
}

}  // namespace
}  // namespace vantrel::flasher
