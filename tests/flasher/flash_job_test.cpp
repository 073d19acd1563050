#include "flasher/flash_job.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "boardsim/simulated_port.h"
#include "common/failure.h"
#include "fake_platform.h"
#include "flasher/options.h"
#include "hex_commands.h"
#include "loader/loader.h"

namespace vantrel::testing {
namespace {

using flasher::Console;
using flasher::ExitCode;
using flasher::FlashJob;

QString blinkPath() {
    return QStringLiteral(VANTREL_EXAMPLES_DIR "/blink.hex");
}

// The simulated board's port with an open that fails as a real port's can
// (in use by another program): a fault of the port, not of the board.
class RefusingPort final : public SerialComponent {
  public:
    RefusingPort(std::unique_ptr<boardsim::SimulatedPort> inner, Failure failure)
        : inner_(std::move(inner)), failure_(std::move(failure)) {}
    void setSettings(const QString& s) override { inner_->setSettings(s); }
    void setCommPort(qint16 n) override { inner_->setCommPort(n); }
    void setPortOpen(bool open) override {
        if (open) throw failure_;
        inner_->setPortOpen(false);
    }
    bool portOpen() const override { return inner_->portOpen(); }
    void setOutput(const QByteArray& data) override { inner_->setOutput(data); }
    qint16 inBufferCount() override { return inner_->inBufferCount(); }
    QByteArray input() override { return inner_->input(); }
    const boardsim::SimulatedPort& board() const { return *inner_; }

  private:
    std::unique_ptr<boardsim::SimulatedPort> inner_;
    Failure failure_;
};

// One job on the simulated board, with what it printed.
struct JobRun {
    QString err;
    QString out;
    std::unique_ptr<Console> console;
    const boardsim::SimulatedPort* board = nullptr;  // the window owns it
    FakeSleeper* sleeper = nullptr;
    std::unique_ptr<FlashJob> job;

    // `arguments` follow "vantrel-flash --port COM3"; "@blink" stands for the
    // example file. `boardOptions`: the simulated board's own options (fault
    // switches); without them a board that matches the command line.
    JobRun(std::vector<QString> arguments, QString boardOptions = {}, std::optional<Failure> openFailure = {}) {
        QStringList args{QStringLiteral("vantrel-flash"), QStringLiteral("--port"), QStringLiteral("COM3")};
        for (QString& a : arguments) args << (a == u"@blink" ? blinkPath() : a);
        const flasher::CommandLine command = flasher::parseCommandLine(args);
        EXPECT_EQ(command.kind, flasher::CommandLine::Kind::Run) << command.text.toStdString();
        console = std::make_unique<Console>(
            Console::Style::Plain, command.options.quiet, [this](const QString& t) { err += t; },
            [this](const QString& t) { out += t; });

        if (boardOptions.isNull() && command.options.modbus && !command.options.modbusSearch)
            boardOptions = QStringLiteral("--modbus %1").arg(command.options.modbusAddress);
        const boardsim::ParseResult parsed = boardsim::parseOptionText(boardOptions.toStdString());
        EXPECT_EQ(parsed.error, "");
        auto simulated = std::make_unique<boardsim::SimulatedPort>(parsed.options, boardsim::steadyClock());
        board = simulated.get();
        auto sleeperPart = std::make_unique<FakeSleeper>();
        sleeper = sleeperPart.get();

        FlashJob::Setup setup;
        setup.options = command.options;
        setup.portBoxText = QStringLiteral("COM3");
        setup.portLabel = QStringLiteral("COM3");
        if (openFailure)
            setup.port = std::make_unique<RefusingPort>(std::move(simulated), *openFailure);
        else
            setup.port = std::move(simulated);
        setup.sleeper = std::move(sleeperPart);
        job = std::make_unique<FlashJob>(std::move(setup), *console);
    }

    // Runs the job to its end; false when it never ends.
    bool run() {
        bool signalled = false;
        QObject::connect(job.get(), &FlashJob::finished, [&signalled] { signalled = true; });
        job->start();
        return QTest::qWaitFor([&] { return signalled; }, 60000);
    }

    // Every command the board took, as it took it (framing stripped).
    QList<QByteArray> taken() const {
        QList<QByteArray> out;
        for (const auto& e : board->log())
            if (e.direction == "RX") out << QByteArray::fromStdString(e.bytes);
        return out;
    }
    // The same without the version queries of the probe in front.
    QList<QByteArray> afterProbe() const {
        QList<QByteArray> all = taken();
        while (!all.isEmpty() && all.front() == "BOOTi\r\n") all.removeFirst();
        return all;
    }
    int entries(const char* direction) const {
        int n = 0;
        for (const auto& e : board->log()) n += e.direction == direction;
        return n;
    }
};

struct OutcomeCase {
    const char* name;
    std::vector<QString> arguments;
    QString boardOptions;  // the simulated board's fault switches
    std::optional<Failure> openFailure;
    ExitCode code;
    std::vector<const char*> messageHas;
    int commandsAfterProbe;  // commands the board took after the version queries; -1: not checked
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.name;
}

class JobOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(JobOutcome, EndsWithItsCodeAndSaysWhy) {
    const OutcomeCase& c = GetParam();
    JobRun r(c.arguments, c.boardOptions, c.openFailure);
    ASSERT_TRUE(r.run()) << "the job never ended; it printed:\n" << r.err.toStdString();

    EXPECT_EQ(r.job->exitCode(), c.code) << r.err.toStdString();
    for (const char* part : c.messageHas)
        EXPECT_TRUE(r.job->exitMessage().contains(QLatin1String(part)))
            << "missing \"" << part << "\" in: " << r.job->exitMessage().toStdString();
    if (c.commandsAfterProbe >= 0) {
        // One command per answered one: the flasher never sends a line again by itself.
        EXPECT_EQ(r.afterProbe().size(), c.commandsAfterProbe);
    }
    // The port is closed at the end, whatever the outcome.
    EXPECT_FALSE(r.job->loader().MSComm1->portOpen());
}

const QString kFile = QStringLiteral("@blink");
const QString kTimeout = QStringLiteral("--timeout");

INSTANTIATE_TEST_SUITE_P(
    FlashJob, JobOutcome,
    ::testing::Values(
        OutcomeCase{"DownloadAndVerify", {kFile}, {}, {}, ExitCode::Success, {"END", "blink.hex", "12 lines"}, 24},
        // A board that holds the file already.
        OutcomeCase{"VerifyOnly",
                    {"--verify-only", kFile},
                    "--flashed " VANTREL_EXAMPLES_DIR "/blink.hex",
                    {},
                    ExitCode::Success,
                    {"END"},
                    12},
        // Record 15 is the third verify line.
        OutcomeCase{"ErrorInTheVerifyPass",
                    {kFile},
                    "--error-at-verify 3",
                    {},
                    ExitCode::BoardError,
                    {"ERROR", "verify line 3 of 12"},
                    15},
        // Reply 1 answers the version query, reply 3 the second line.
        OutcomeCase{"FormatRefusesARecord",
                    {kFile},
                    "--replace-reply 3:FORMAT",
                    {},
                    ExitCode::BoardFormat,
                    {"FORMAT", "download line 2 of 12"},
                    2},
        OutcomeCase{"FormatRefusesTheFirstLine",
                    {kFile},
                    "--replace-reply 2:FORMAT",
                    {},
                    ExitCode::BoardFormat,
                    {"download line 1 of 12"},
                    1},
        OutcomeCase{"SilentInTheDownload",
                    {kTimeout, "0.5", kFile},
                    "--no-reply-record 5",
                    {},
                    ExitCode::NoReply,
                    {"no reply within 0.5 s to download line 5 of 12", "last answered: download line 4"},
                    5},
        OutcomeCase{"SilentAtTheFirstVerifyLine",
                    {kTimeout, "0.5", kFile},
                    "--no-reply-record 13",
                    {},
                    ExitCode::NoReply,
                    {"verify line 1 of 12", "last answered: download line 12"},
                    13},
        OutcomeCase{"SilentFromTheFirstLine",
                    {kTimeout, "0.5", kFile},
                    "--no-reply-record 1",
                    {},
                    ExitCode::NoReply,
                    {"download line 1 of 12", "no line was answered"},
                    1},
        OutcomeCase{"LineHangsUp", {kFile}, "--unplug-after 4", {}, ExitCode::ConnectionLost, {"COM3 went away"}, 4},
        // Only COM9 exists.
        OutcomeCase{
            "PortMissing", {kFile}, "--com 9", {}, ExitCode::PortNotOpened, {"cannot open COM3", "no such device"}, 0},
        OutcomeCase{"PortBusy",
                    {kFile},
                    {},
                    Failure(failure::kPortBusy, QStringLiteral("COM3: in use by another program")),
                    ExitCode::PortNotOpened,
                    {"cannot open COM3", "in use"},
                    0},
        OutcomeCase{"FileMissing",
                    {QStringLiteral("/nonexistent/firmware.hex")},
                    {},
                    {},
                    ExitCode::FileUnreadable,
                    {"/nonexistent/firmware.hex"},
                    0},
        OutcomeCase{"InstallAfterTheTransfer",
                    {"--install", kFile},
                    {},
                    {},
                    ExitCode::Success,
                    {"installed", "VER=APP 1.0"},
                    26},
        // Reply 2 would be the installed application's answer to VER.
        OutcomeCase{"InstalledApplicationSilent",
                    {kTimeout, "0.5", "--install"},
                    "--drop-reply 2",
                    {},
                    ExitCode::NoReply,
                    {"no reply within 0.5 s to VER"},
                    2},
        OutcomeCase{"QueryVersion", {"--query-version"}, {}, {}, ExitCode::Success, {"version"}, -1},
        OutcomeCase{"SetAddress",
                    {"--modbus", "5", "--set-address", "9"},
                    {},
                    {},
                    ExitCode::Success,
                    {"ADR=09", "address 9"},
                    1},
        OutcomeCase{"SetAddressRefused",
                    {"--modbus", "5", "--set-address", "9"},
                    "--modbus 5 --replace-reply 2:FORMAT",
                    {},
                    ExitCode::BoardFormat,
                    {"BOOT$09"},
                    1}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

TEST(FlashJob, SendsTheWindowsCommandsForTheFileInBothPasses) {
    JobRun r({kFile});
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();

    const QList<QByteArray> lines = hexFileLines(blinkPath());
    ASSERT_EQ(lines.size(), 12);
    EXPECT_EQ(r.taken().first(), QByteArray("BOOTi\r\n"));
    EXPECT_EQ(r.afterProbe(), downloadAndVerifyCommands(lines));
}

TEST(FlashJob, ModbusFramesEveryCommandForTheBoardsAddress) {
    JobRun r({QStringLiteral("--modbus"), QStringLiteral("17"), kFile});
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    // The board took every frame (right address, good CRC) and ignored none.
    EXPECT_EQ(r.taken().size(), 25);
    EXPECT_EQ(r.entries("IG"), 0);
    for (const auto& e : r.board->log()) {
        if (e.direction == "RX") {
            EXPECT_EQ(e.address, 17);
        }
    }
}

TEST(FlashJob, AddressSearchGoesOnWithTheAddressThatAnswered) {
    JobRun r({QStringLiteral("--modbus"), QStringLiteral("search"), kFile}, QStringLiteral("--modbus 3"));
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    // Asks at 1 and 2 go unanswered, then everything goes to 3.
    std::vector<int> asked;
    for (const auto& e : r.board->log())
        if (e.direction == "IG" || e.direction == "RX") asked.push_back(e.address.value_or(-1));
    ASSERT_EQ(asked.size(), 3u + 24u);
    EXPECT_EQ(asked[0], 1);
    EXPECT_EQ(asked[1], 2);
    for (std::size_t i = 2; i < asked.size(); ++i) EXPECT_EQ(asked[i], 3) << "command " << i;
    EXPECT_TRUE(r.err.contains(QStringLiteral("board found at Modbus address 3"))) << r.err.toStdString();
}

TEST(FlashJob, TheBoundCountsFromTheLastWriteNotFromTheStart) {
    // Every reply takes 160 ms; twelve of them take longer than the whole
    // bound, none of them alone comes close.
    JobRun r({kTimeout, QStringLiteral("1"), QStringLiteral("--verify-only"), kFile},
             QStringLiteral("--reply-delay 160 --flashed " VANTREL_EXAMPLES_DIR "/blink.hex"));
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::Success) << r.job->exitMessage().toStdString();
    EXPECT_EQ(r.afterProbe().size(), 12);
}

TEST(FlashJob, WaitsForTheVersionReplyBeforeTheFirstLine) {
    // The board stays silent to the first two version queries.
    JobRun r({kFile}, QStringLiteral("--drop-reply 1 --drop-reply 2"));
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    const QList<QByteArray> taken = r.taken();
    ASSERT_GE(taken.size(), 3);
    EXPECT_EQ(taken.mid(0, 3), (QList<QByteArray>{"BOOTi\r\n", "BOOTi\r\n", "BOOTi\r\n"}));
    EXPECT_EQ(r.afterProbe().size(), 24);
}

TEST(FlashJob, FileIsReadBeforeThePortIsTouched) {
    JobRun r({QStringLiteral("/nonexistent/firmware.hex")});
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::FileUnreadable);
    EXPECT_EQ(r.board->openAttempts(), 0);
}

TEST(FlashJob, InstallPausesASecondBetweenItsCommandsAsTheWindowDoes) {
    JobRun r({QStringLiteral("--install")});
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_EQ(r.sleeper->pauses, QList<int>{1000});
    EXPECT_EQ(r.afterProbe(), (QList<QByteArray>{"BOOTg\r\n", "VER\r\n"}));
}

TEST(FlashJob, VersionGoesToStandardOutput) {
    JobRun r({QStringLiteral("--query-version"), QStringLiteral("--quiet")});
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::Success);
    EXPECT_EQ(r.out, QStringLiteral("VER=4.01\n"));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    // The probe's question, then the window's "?".
    EXPECT_EQ(r.taken(), (QList<QByteArray>{"BOOTi\r\n", "BOOTi\r\n"}));
}

TEST(FlashJob, WindowMessagesArePassedOnToStandardError) {
    JobRun r({kFile}, QStringLiteral("--com 9"));
    ASSERT_TRUE(r.run());
    EXPECT_TRUE(r.err.contains(QStringLiteral("COM3 Not available!"))) << r.err.toStdString();
}

TEST(FlashJob, AReplyWithoutAReplyWordIsNotTakenForAnAnswer) {
    // The fifth record's reply holds no reply word: it answers nothing, and
    // the message says what came instead.
    JobRun r({kTimeout, QStringLiteral("0.5"), kFile}, QStringLiteral("--replace-reply 6:BUSY"));
    ASSERT_TRUE(r.run());
    EXPECT_EQ(r.job->exitCode(), ExitCode::NoReply);
    EXPECT_TRUE(r.job->exitMessage().contains(QStringLiteral("last answered: download line 4")))
        << r.job->exitMessage().toStdString();
    EXPECT_TRUE(r.job->exitMessage().contains(QStringLiteral("the last reply held no reply word: \"BUSY\"")))
        << r.job->exitMessage().toStdString();
}

// A board slower than the probe's 200 ms ask gets several asks and answers
// each. The transfer waits for the last of those answers, so that none of
// them reaches it: every line goes once per pass, in order, and each only
// after the board answered the one before.
struct SlowBoardCase {
    const char* name;
    bool modbus;
    int replyDelayMs;
};

class SlowBoard : public ::testing::TestWithParam<SlowBoardCase> {};

TEST_P(SlowBoard, EveryLineOncePerPassAndOneLineInFlight) {
    const SlowBoardCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("small.hex"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(":020000040000FA\r\n:0400000020EF00F0FD\r\n:00000001FF\r\n");
    file.close();

    std::vector<QString> arguments;
    QString board = QStringLiteral("--reply-delay %1").arg(c.replyDelayMs);
    if (c.modbus) {
        arguments = {QStringLiteral("--modbus"), QStringLiteral("5")};
        board += QStringLiteral(" --modbus 5");
    }
    arguments.push_back(path);
    JobRun r(arguments, board);
    ASSERT_TRUE(r.run());
    ASSERT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();

    EXPECT_EQ(r.afterProbe(), downloadAndVerifyCommands(hexFileLines(path)));
    // The probe asked more than once, and every ask was answered before the
    // first line went out; from then on commands and replies alternate.
    std::vector<std::string> order;
    for (const auto& e : r.board->log())
        if (e.direction == "RX" || e.direction == "TX") order.push_back(e.direction);
    const QList<QByteArray> taken = r.taken();
    const qsizetype asks = taken.size() - r.afterProbe().size();
    EXPECT_GE(asks, 2) << "the board was slower than the probe";
    ASSERT_EQ(order.size(), static_cast<std::size_t>(2 * taken.size()));
    for (std::size_t i = 2 * static_cast<std::size_t>(asks); i < order.size(); ++i)
        EXPECT_EQ(order[i], i % 2 == 0 ? "RX" : "TX") << "log entry " << i;
    int answers = 0;
    for (std::size_t i = 0; i < 2 * static_cast<std::size_t>(asks); ++i) answers += order[i] == "TX";
    EXPECT_EQ(answers, asks) << "every ask answered before the first line";
}

INSTANTIATE_TEST_SUITE_P(
    FlashJob, SlowBoard,
    ::testing::Values(SlowBoardCase{"Plain250ms", false, 250}, SlowBoardCase{"Plain450ms", false, 450},
                      SlowBoardCase{"Modbus250ms", true, 250}, SlowBoardCase{"Modbus450ms", true, 450}),
    [](const ::testing::TestParamInfo<SlowBoardCase>& info) { return std::string(info.param.name); });

// A file of `text` in a folder of the test's own.
struct HexFixture {
    QTemporaryDir dir;
    QString path;
    explicit HexFixture(const QByteArray& text) : path(dir.filePath(QStringLiteral("fixture.hex"))) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write(text);
    }
};

// Whether a command went on the wire while an earlier one still waited for
// its answer. A reply the board meant but that was lost on the way (a fault
// switch) counts as an answer; a line written again (the same command twice
// in a row) goes by intent while the first write waits.
std::string secondLineInFlight(const boardsim::SimulatedPort& board) {
    int commands = 0;
    int replies = 0;
    std::string previous;
    for (const auto& e : board.log()) {
        if (e.direction == "TX" || (e.direction == "EV" && (e.text.starts_with("fault drop-reply") ||
                                                            e.text.starts_with("fault no-reply-record"))))
            ++replies;
        if (e.direction != "RX") continue;
        const bool again = e.bytes == previous;
        if (!again && replies < commands)
            return "command " + std::to_string(commands + 1) + " (" + e.bytes + ") went with " +
                   std::to_string(commands - replies) + " unanswered";
        ++commands;
        previous = e.bytes;
    }
    return {};
}

// --retries: a file line whose reply did not come within --timeout is
// written again; after a write again the next line waits for the line to
// stay quiet, so a second reply to the same line moves nothing on.
struct RetryCase {
    const char* name;
    std::vector<QString> arguments;
    QString boardOptions;
    ExitCode code;
    std::vector<const char*> messageHas;
    int retries;
    int writesOfLine5;  // download line 5 (record 5 on the wire)
    int downloadLines;  // the download lines that went, each counted once
    int verifyLines;
};

void PrintTo(const RetryCase& c, std::ostream* os) {
    *os << c.name;
}

class Retries : public ::testing::TestWithParam<RetryCase> {};

TEST_P(Retries, WriteAgainOnlyAfterTheBoundAndNeverTwoLinesInFlight) {
    const RetryCase& c = GetParam();
    std::vector<QString> arguments{kTimeout, QStringLiteral("0.3")};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    arguments.push_back(kFile);
    JobRun r(arguments, c.boardOptions);
    ASSERT_TRUE(r.run()) << r.err.toStdString();

    EXPECT_EQ(r.job->exitCode(), c.code) << r.err.toStdString();
    for (const char* part : c.messageHas)
        EXPECT_TRUE(r.job->exitMessage().contains(QLatin1String(part)))
            << "missing \"" << part << "\" in: " << r.job->exitMessage().toStdString();
    EXPECT_EQ(r.job->retries(), c.retries);
    EXPECT_EQ(r.job->result().retries, c.retries);
    EXPECT_EQ(r.err.count(QStringLiteral("writing it again")), c.retries) << r.err.toStdString();

    const QList<QByteArray> lines = hexFileLines(blinkPath());
    QList<QByteArray> expected;
    for (int i = 1; i <= c.downloadLines; ++i)
        for (int n = 0; n < (i == 5 ? c.writesOfLine5 : 1); ++n) expected << "BOOT" + lines[i - 1] + "\r\n";
    for (int i = 1; i <= c.verifyLines; ++i) expected << "BOOT" + QByteArray(lines[i - 1]).replace(':', '#') + "\r\n";
    EXPECT_EQ(r.afterProbe(), expected);
    EXPECT_EQ(secondLineInFlight(*r.board), "");
}

const QString kRetries = QStringLiteral("--retries");

INSTANTIATE_TEST_SUITE_P(
    FlashJob, Retries,
    ::testing::Values(
        // Reply 1 answers the version query, reply 6 download line 5.
        RetryCase{"ReplyLostOnce", {kRetries, "2"}, "--drop-reply 6", ExitCode::Success, {"END"}, 1, 2, 12, 12},
        RetryCase{"ReplyLostTwice",
                  {kRetries, "2"},
                  "--no-reply-record 5 --no-reply-record 6",
                  ExitCode::Success,
                  {"END"},
                  2,
                  3,
                  12,
                  12},
        RetryCase{"NeverAnswered",
                  {kRetries, "2"},
                  "--no-reply-record 5 --no-reply-record 6 --no-reply-record 7",
                  ExitCode::NoReply,
                  {"download line 5 of 12", "written 3 times", "last answered: download line 4"},
                  2,
                  3,
                  5,
                  0},
        RetryCase{"NoRetriesIsTodaysBound",
                  {},
                  "--drop-reply 6",
                  ExitCode::NoReply,
                  {"no reply within 0.3 s to download line 5 of 12"},
                  0,
                  1,
                  5,
                  0},
        RetryCase{"DamagedModbusReply",
                  {kRetries, "1", "--modbus", "5"},
                  "--modbus 5 --bad-crc-reply 6",
                  ExitCode::Success,
                  {"END"},
                  1,
                  2,
                  12,
                  12},
        // The first answer comes after the bound, behind the answer to the
        // write again: the second of the two must not send a line.
        RetryCase{"LateReplyAfterTheWriteAgain",
                  {kRetries, "1"},
                  "--late-reply 6:450",
                  ExitCode::Success,
                  {"END"},
                  1,
                  2,
                  12,
                  12},
        RetryCase{"LateModbusReplyAfterTheWriteAgain",
                  {kRetries, "1", "--modbus", "5"},
                  "--modbus 5 --late-reply 6:450",
                  ExitCode::Success,
                  {"END"},
                  1,
                  2,
                  12,
                  12},
        // The verify pass still decides.
        RetryCase{"RetriedAndThenAVerifyError",
                  {kRetries, "1"},
                  "--drop-reply 6 --error-at-verify 3",
                  ExitCode::BoardError,
                  {"verify line 3 of 12"},
                  1,
                  2,
                  12,
                  3}),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return std::string(info.param.name); });

// --retries and a reply that came damaged: the line is written again as soon
// as the line falls quiet, not after the bound; a clean line without a reply
// word is no damage and waits for the bound.
struct DamagedCase {
    const char* name;
    std::vector<QString> arguments;
    QString boardOptions;
    const char* retryLineHas;  // what the retry's console line says
};

void PrintTo(const DamagedCase& c, std::ostream* os) {
    *os << c.name;
}

class DamagedReplies : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedReplies, AreWrittenAgainOnceAndTheTransferEnds) {
    const DamagedCase& c = GetParam();
    std::vector<QString> arguments{kTimeout, QStringLiteral("0.5"), kRetries, QStringLiteral("1")};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    arguments.push_back(kFile);
    JobRun r(arguments, c.boardOptions);
    ASSERT_TRUE(r.run()) << r.err.toStdString();

    EXPECT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_EQ(r.job->retries(), 1);
    EXPECT_EQ(r.err.count(QStringLiteral("writing it again")), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String(c.retryLineHas))) << r.err.toStdString();

    // Download line 5 twice, every other line of both passes once.
    const QList<QByteArray> lines = hexFileLines(blinkPath());
    QList<QByteArray> expected;
    for (int i = 1; i <= 12; ++i)
        for (int n = 0; n < (i == 5 ? 2 : 1); ++n) expected << "BOOT" + lines[i - 1] + "\r\n";
    for (int i = 1; i <= 12; ++i) expected << "BOOT" + QByteArray(lines[i - 1]).replace(':', '#') + "\r\n";
    EXPECT_EQ(r.afterProbe(), expected);
    EXPECT_EQ(secondLineInFlight(*r.board), "");
}

INSTANTIATE_TEST_SUITE_P(
    FlashJob, DamagedReplies,
    ::testing::Values(
        // Reply 6 answers download line 5.
        DamagedCase{"ModbusReplyWithABrokenCrc",
                    {"--modbus", "5"},
                    "--modbus 5 --bad-crc-reply 6",
                    "the reply to download line 5 of 12"},
        DamagedCase{"PlainReplyWithNoiseInsideItsWord", {}, "--replace-reply 6:O#K", "arrived damaged (\"O#K\\r\\n\")"},
        DamagedCase{
            "PlainReplyWithAControlCharacter", {}, "--replace-reply 6:O\x01K", "arrived damaged (\"O\\x01K\\r\\n\")"},
        // Clean, and no word: nothing says it was the answer, so the bound decides.
        DamagedCase{"CleanLineWithoutAWordWaitsForTheBound", {}, "--replace-reply 6:HELLO", "no reply within 0.5 s"}),
    [](const ::testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

// A noisy line: every damaged reply costs one write again, and both passes
// still go through whole, one line in flight.
class NoisyLine : public ::testing::TestWithParam<bool> {};

TEST_P(NoisyLine, EveryLineIsAnsweredAndEachWriteAgainFollowsADamagedReply) {
    const bool modbus = GetParam();
    std::vector<QString> arguments{kTimeout, QStringLiteral("5"), kRetries, QStringLiteral("5")};
    if (modbus) arguments.insert(arguments.end(), {QStringLiteral("--modbus"), QStringLiteral("5")});
    arguments.push_back(kFile);
    JobRun r(arguments,
             QStringLiteral("%1--noise 4 --noise-seed 7").arg(modbus ? QStringLiteral("--modbus 5 ") : QString()));
    ASSERT_TRUE(r.run()) << r.err.toStdString();

    EXPECT_EQ(r.job->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_GT(r.job->retries(), 0) << "this seed damages replies";
    EXPECT_EQ(r.err.count(QStringLiteral("arrived damaged")), r.job->retries()) << r.err.toStdString();
    // Each write again is the line just written, byte for byte.
    const QList<QByteArray> taken = r.afterProbe();
    int again = 0;
    for (qsizetype i = 1; i < taken.size(); ++i) again += taken[i] == taken[i - 1];
    EXPECT_EQ(again, r.job->retries());
    EXPECT_EQ(taken.size() - again, 24) << "every line of both passes";
    EXPECT_EQ(secondLineInFlight(*r.board), "");
}

INSTANTIATE_TEST_SUITE_P(FlashJob, NoisyLine, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "Modbus" : "Plain");
});

// --speed auto: the probe tries 115200, 19200 and 9600 in turn, a bounded
// number of asks each, and the job runs at the first that answers.
struct SpeedCase {
    const char* name;
    std::vector<QString> arguments;
    QString boardOptions;
    ExitCode code;
    flasher::Speed speed;
    QString reported;  // the report's speed; empty: none
};

void PrintTo(const SpeedCase& c, std::ostream* os) {
    *os << c.name;
}

class AutoSpeed : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(AutoSpeed, FindsTheBoardsSpeedOrGivesUpInBoundedTime) {
    const SpeedCase& c = GetParam();
    std::vector<QString> arguments{QStringLiteral("--speed"), QStringLiteral("auto"), QStringLiteral("--fast")};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    JobRun r(arguments, c.boardOptions);
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(r.run()) << r.err.toStdString();

    EXPECT_EQ(r.job->exitCode(), c.code) << r.err.toStdString();
    EXPECT_EQ(r.job->result().speed, c.reported);
    if (c.code == ExitCode::Success) {
        EXPECT_EQ(r.job->speed(), c.speed);
        EXPECT_TRUE(r.err.contains(QStringLiteral("the board answers at %1 bit/s").arg(c.reported)))
            << r.err.toStdString();
    } else {
        EXPECT_TRUE(r.job->exitMessage().contains(QStringLiteral("at any speed (115200, 19200, 9600 bit/s)")))
            << r.job->exitMessage().toStdString();
        // Three speeds of eleven asks 200 ms apart, and no more.
        EXPECT_LT(took.elapsed(), 3 * (flasher::kAutoSpeedAsks + 1) * 200 + 5000);
    }
    // The speeds were tried fastest first, each once, up to the one that answered.
    std::vector<long> tried;
    for (const auto& e : r.board->log()) {
        if (e.direction != "EV" || !e.text.starts_with("host at ")) continue;
        tried.push_back(std::stol(e.text.substr(8)));
    }
    std::vector<long> expected{115200, 19200, 9600};
    if (c.code == ExitCode::Success)
        expected.resize(c.speed == flasher::Speed::B115200 ? 1 : c.speed == flasher::Speed::B19200 ? 2 : 3);
    EXPECT_EQ(tried, expected);
}

INSTANTIATE_TEST_SUITE_P(
    FlashJob, AutoSpeed,
    ::testing::Values(
        SpeedCase{
            "PlainAt115200", {kFile}, "--line-speed 115200", ExitCode::Success, flasher::Speed::B115200, "115200"},
        SpeedCase{"PlainAt19200", {kFile}, "--line-speed 19200", ExitCode::Success, flasher::Speed::B19200, "19200"},
        SpeedCase{"ModbusAt9600",
                  {"--modbus", "5", kFile},
                  "--modbus 5 --line-speed 9600",
                  ExitCode::Success,
                  flasher::Speed::B9600,
                  "9600"},
        SpeedCase{"AtNoSpeed", {kFile}, "--line-speed 38400", ExitCode::NoBoard, flasher::Speed::B9600, ""}),
    [](const ::testing::TestParamInfo<SpeedCase>& info) { return std::string(info.param.name); });

TEST(FlashJob, AFileWithoutAnEndOfFileRecordEndsAfterOnePass) {
    // Sent unchecked, the board answers "OK" to every record, so without
    // "DOWNLOAD" nothing would end the pass: the file must not be sent
    // round again.
    HexFixture hex(":020000040000FA\r\n:0400000020EF00F0FD\r\n");
    JobRun r({QStringLiteral("--no-check"), hex.path});
    ASSERT_TRUE(r.run());

    EXPECT_EQ(r.job->exitCode(), ExitCode::NoEndOfFile) << r.err.toStdString();
    EXPECT_TRUE(r.job->exitMessage().contains(QStringLiteral("OK to the last line")))
        << r.job->exitMessage().toStdString();
    EXPECT_EQ(r.afterProbe(), (QList<QByteArray>{"BOOT:020000040000FA\r\n", "BOOT:0400000020EF00F0FD\r\n"}));
    EXPECT_EQ(r.job->result().result, QStringLiteral("no end of file"));
}

TEST(FlashJob, AFileWithoutAnEndOfFileRecordIsRefusedBeforeThePortWhenChecked) {
    HexFixture hex(":020000040000FA\r\n:0400000020EF00F0FD\r\n");
    JobRun r({hex.path});
    ASSERT_TRUE(r.run());

    EXPECT_EQ(r.job->exitCode(), ExitCode::FileUnreadable) << r.err.toStdString();
    EXPECT_TRUE(r.taken().isEmpty());
}

}  // namespace
}  // namespace vantrel::testing
