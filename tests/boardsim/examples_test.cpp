#include <ostream>

#include <QByteArray>
#include <QList>
#include <QString>

#include <gtest/gtest.h>

#include "boardsim/simulator.h"
#include "hex_commands.h"

namespace vantrel::boardsim {
namespace {

struct ExampleCase {
    const char* file;
    std::size_t dataBytes;  // bytes the image puts into flash
};

void PrintTo(const ExampleCase& c, std::ostream* out) {
    *out << c.file;
}

class ExampleImage : public ::testing::TestWithParam<ExampleCase> {};

// What the loader does with a file: every line as a download command, then
// every line again with ':' made '#' as a verify command.
TEST_P(ExampleImage, DownloadsAndVerifies) {
    const QList<QByteArray> lines =
        vantrel::testing::hexFileLines(QStringLiteral(VANTREL_EXAMPLES_DIR "/") + QLatin1String(GetParam().file));
    ASSERT_GE(lines.size(), 2) << GetParam().file;
    Simulator sim(SimConfig{});
    for (const bool verify : {false, true}) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            ASSERT_TRUE(lines[i].startsWith(':')) << GetParam().file << " line " << i + 1;
            const QByteArray command =
                verify ? vantrel::testing::verifyCommand(lines[i]) : vantrel::testing::downloadCommand(lines[i]);
            sim.receive(0, command.toStdString());
            const std::string reply = sim.takeDue(0);
            const bool last = i + 1 == lines.size();
            ASSERT_EQ(reply, last ? "DOWNLOAD\r\n" : "OK\r\n")
                << (verify ? "verify" : "download") << " line " << i + 1 << ": " << lines[i].toStdString();
        }
    }
    EXPECT_EQ(sim.board(0).storedBytes(), GetParam().dataBytes);
}

INSTANTIATE_TEST_SUITE_P(Files, ExampleImage,
                         ::testing::Values(ExampleCase{"blink.hex", 63}, ExampleCase{"medium.hex", 33600},
                                           ExampleCase{"large.hex", 0x14000}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace vantrel::boardsim
