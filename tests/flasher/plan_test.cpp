#include "flasher/plan.h"

#include <string>
#include <unistd.h>
#include <vector>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "common/failure.h"
#include "fake_platform.h"
#include "loader/loader.h"
#include "qt_printers.h"

namespace vantrel::flasher {
namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    return path;
}

TEST(PlannedFile, TheLoaderIsHandedTheBytesThatWereHashedNotTheDiskAgain) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("a.hex"), QByteArray(":00000001FF\n"));
    QString why;
    const auto file = readHexImage(path, Loader::kMaxLines, &why);
    ASSERT_NE(file, nullptr);
    // The file changes on disk after the plan read it.
    writeFile(dir, QStringLiteral("a.hex"), QByteArray(":0200000400F00A\n:00000001FF\n"));
    testing::FakeLoader f;
    f.port->setPortOpen(true);
    f->startPass(false, file->lines);
    EXPECT_EQ(f->LineCount, 1);
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:00000001FF\r\n"});
}

// The command line's targets: port plus address, or a search.
struct TargetCase {
    const char* name;
    QStringList arguments;        // after the program name
    QList<QList<Target>> boards;  // per port
    QList<bool> searchFirst;
};

class PlanTargets : public ::testing::TestWithParam<TargetCase> {};

TEST_P(PlanTargets, NameEveryBoardOfEveryPort) {
    QStringList args{QStringLiteral("vantrel-flash")};
    args += GetParam().arguments;
    const CommandLine command = parseCommandLine(args);
    ASSERT_EQ(command.kind, CommandLine::Kind::Run) << command.text.toStdString();
    const FlashPlan plan = planOf(command.options);
    ASSERT_EQ(plan.ports.size(), GetParam().boards.size());
    for (qsizetype i = 0; i < plan.ports.size(); ++i) {
        EXPECT_EQ(plan.ports[i].boards, GetParam().boards[i]) << i;
        EXPECT_EQ(plan.ports[i].searchFirst, GetParam().searchFirst[i]) << i;
    }
}

const PortName kCom3{QStringLiteral("COM3"), false};
const PortName kCom4{QStringLiteral("COM4"), false};
using K = Target::Kind;

INSTANTIATE_TEST_SUITE_P(
    CommandLines, PlanTargets,
    ::testing::Values(TargetCase{"Plain", {"--port", "COM3", "x.hex"}, {{Target{kCom3, K::Plain, 0}}}, {false}},
                      TargetCase{"OneAddress",
                                 {"--port", "COM3", "--modbus", "5", "x.hex"},
                                 {{Target{kCom3, K::Address, 5}}},
                                 {false}},
                      TargetCase{"Bus",
                                 {"--port", "COM3", "--modbus", "3,7", "x.hex"},
                                 {{Target{kCom3, K::Address, 3}, Target{kCom3, K::Address, 7}}},
                                 {false}},
                      TargetCase{"AllOnTheBus", {"--port", "COM3", "--modbus", "all", "x.hex"}, {{}}, {true}},
                      TargetCase{"TwoPorts",
                                 {"--port", "COM3", "--port", "COM4", "x.hex"},
                                 {{Target{kCom3, K::Plain, 0}}, {Target{kCom4, K::Plain, 0}}},
                                 {false, false}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Plan, CarriesTheActionAndTheTimeLimits) {
    const CommandLine command = parseCommandLine(
        {QStringLiteral("vantrel-flash"), QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--timeout"),
         QStringLiteral("2.5"), QStringLiteral("--verify-only"), QStringLiteral("x.hex")});
    ASSERT_EQ(command.kind, CommandLine::Kind::Run) << command.text.toStdString();
    const FlashPlan plan = planOf(command.options);
    EXPECT_EQ(plan.action, Action::VerifyOnly);
    EXPECT_TRUE(plan.needsFile());
    EXPECT_EQ(plan.limits.replyMs, 2500);
}

}  // namespace
}  // namespace vantrel::flasher
