// The real window against the simulated boards in process: the timers are
// ticked by hand on a virtual clock, so whole transfers take no real time
// and run the same every time.

#include <functional>
#include <memory>
#include <ostream>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "boardsim/simulated_port.h"
#include "fake_platform.h"
#include "hex_commands.h"
#include "loader/loader.h"
#include "window/colors.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

using boardsim::Micros;

constexpr Micros kMs = 1000;
constexpr Micros kTick = 20 * kMs;  // the receive timer's interval
constexpr int kTicksPerProbe = 10;  // the probe timer's 200 ms

class InProcessWindow : public ::testing::Test {
  protected:
    // The window on a simulated port made from boardsim options; the
    // window's pauses move the virtual clock.
    void start(std::string_view options) {
        const boardsim::ParseResult parsed = boardsim::parseOptionText(options);
        ASSERT_EQ(parsed.error, "") << options;
        auto port = std::make_unique<boardsim::SimulatedPort>(parsed.options, clock.reader());
        auto sleeper = std::make_unique<FakeSleeper>();
        sleeper->onSleep = [this](int milliseconds) { clock.advance(milliseconds * kMs); };
        board = port.get();
        pauses = sleeper.get();
        window = std::make_unique<RecordingLoader>(std::move(port), std::move(sleeper));
    }

    Loader* w() const { return window->w.get(); }

    // 20 ms of the window's life: the receive timer ticks, and the probe
    // timer once it has run for 200 ms since it was started or last ticked.
    void step() {
        clock.advance(kTick);
        if (w()->TMRComm->isActive()) w()->TMRComm_Timer();
        probeTicks_ = w()->Timer3->isActive() ? probeTicks_ + 1 : 0;
        if (probeTicks_ == kTicksPerProbe) {
            probeTicks_ = 0;
            w()->Timer3_Timer();
        }
    }

    // Steps until `done` holds; false if it still does not after `limit` steps.
    bool runUntil(const std::function<bool()>& done, int limit = 5000) {
        for (int i = 0; i < limit; ++i) {
            if (done()) return true;
            step();
        }
        return done();
    }
    void run(int steps) {
        for (int i = 0; i < steps; ++i) step();
    }

    bool probeAnswered() const { return w()->Label2->text() == QStringLiteral("READY") && !w()->Timer3->isActive(); }
    bool transferOver() const {
        const QString t = w()->vbalProgressBar1->text();
        return t == QStringLiteral("END") || t == QStringLiteral("ERROR");
    }

    std::vector<QByteArray> commands() const {
        std::vector<QByteArray> out;
        for (const std::string& c : board->commands()) out.push_back(QByteArray::fromStdString(c));
        return out;
    }
    int entries(const char* direction) const {
        int n = 0;
        for (const auto& e : board->log()) n += e.direction == direction;
        return n;
    }
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const auto& e : board->log()) {
            if (e.direction == "EV") out.push_back(e.text);
        }
        return out;
    }

    static QString blink() { return QStringLiteral(VANTREL_EXAMPLES_DIR "/blink.hex"); }

    boardsim::VirtualClock clock;
    boardsim::SimulatedPort* board = nullptr;
    FakeSleeper* pauses = nullptr;
    std::unique_ptr<RecordingLoader> window;

  private:
    int probeTicks_ = 0;
};

struct TransferCase {
    const char* name;
    const char* options;
    bool modbus;
    const char* address;  // the address box
};

void PrintTo(const TransferCase& c, std::ostream* out) {
    *out << c.name;
}

class WholeTransfer : public InProcessWindow, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(WholeTransfer, ProbeThenDownloadAndVerifyEndGreen) {
    const TransferCase& c = GetParam();
    start(c.options);
    w()->Check1->setChecked(c.modbus);
    w()->Text1->setText(QString::fromLatin1(c.address));
    w()->BTNOpenCom_Click();
    ASSERT_TRUE(w()->MSComm1->portOpen()) << window->box->texts().join(u'\n').toStdString();
    EXPECT_EQ(board->settings(), QStringLiteral("115200,n,8,1"));
    EXPECT_EQ(board->commPort(), 3);
    ASSERT_TRUE(runUntil([&] { return probeAnswered(); })) << w()->Label2->text().toStdString();

    const QList<QByteArray> lines = hexFileLines(blink());
    ASSERT_EQ(lines.size(), 12);
    window->dialog->nextPath = blink();
    w()->Command3_Click();
    ASSERT_TRUE(runUntil([&] { return transferOver(); }))
        << "stuck at line " << w()->LineIndex << " with " << w()->vbalProgressBar1->text().toStdString();
    EXPECT_EQ(w()->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(w()->vbalProgressBar1->barColor(), color::kGreen);
    EXPECT_EQ(w()->vbalProgressBar1->value(), lines.size());
    EXPECT_EQ(w()->TransferActive, 0);
    EXPECT_TRUE(window->box->shown.isEmpty()) << window->box->texts().join(u'\n').toStdString();

    // The probe's one question, every line, then every line's verify form.
    std::vector<QByteArray> expected{QByteArrayLiteral("BOOTi\r\n")};
    for (const QByteArray& command : downloadAndVerifyCommands(lines)) expected.push_back(command);
    EXPECT_EQ(commands(), expected);
    EXPECT_EQ(entries("TX"), static_cast<int>(expected.size()));
    EXPECT_EQ(entries("IG"), 0);
    // The window never sends more than one line per reply: the board took
    // the last verify line and nothing since.
    run(50);
    EXPECT_EQ(commands().size(), expected.size());
}

INSTANTIATE_TEST_SUITE_P(InProcess, WholeTransfer,
                         ::testing::Values(TransferCase{"Plain", "", false, ""},
                                           TransferCase{"ModbusAddress5", "--modbus 5", true, "5"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A board slower than the probe answers two of its version queries; the
// operator starts the download at the first "READY", so the second "VER="
// sends a line too and two lines are in flight to the end of the file. The
// answer to the line before the end-of-file record then sends nothing, the
// board's "DOWNLOAD" to the record starts the verify pass, and "END"
// follows a verify pass of every line: no line goes twice. So for a board
// that answers the end-of-file record "OK" and then "DOWNLOAD".
struct EndOfFileCase {
    const char* name;
    const char* options;
    bool modbus;
    int versionQueries;  // the probe's, in front of the transfer
};

void PrintTo(const EndOfFileCase& c, std::ostream* out) {
    *out << c.name;
}

class EndOfFileAnswer : public InProcessWindow, public ::testing::WithParamInterface<EndOfFileCase> {};

TEST_P(EndOfFileAnswer, StartsTheVerifyPassAndEndsAfterEveryLine) {
    const EndOfFileCase& c = GetParam();
    start(c.options);
    w()->Check1->setChecked(c.modbus);
    w()->Text1->setText(c.modbus ? QStringLiteral("5") : QString());
    w()->BTNOpenCom_Click();
    ASSERT_TRUE(runUntil([&] { return probeAnswered(); })) << w()->Label2->text().toStdString();

    const QList<QByteArray> lines = hexFileLines(blink());
    window->dialog->nextPath = blink();
    w()->Command3_Click();
    ASSERT_TRUE(runUntil([&] { return transferOver(); }))
        << "stuck at line " << w()->LineIndex << " with " << w()->vbalProgressBar1->text().toStdString();
    run(50);

    EXPECT_EQ(w()->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(w()->vbalProgressBar1->barColor(), color::kGreen);
    std::vector<QByteArray> expected(c.versionQueries, QByteArrayLiteral("BOOTi\r\n"));
    for (const QByteArray& command : downloadAndVerifyCommands(lines)) expected.push_back(command);
    EXPECT_EQ(commands(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    InProcess, EndOfFileAnswer,
    ::testing::Values(EndOfFileCase{"TwoLinesInFlightPlain", "--reply-delay 300", false, 2},
                      EndOfFileCase{"TwoLinesInFlightModbus", "--modbus 5 --reply-delay 300", true, 2},
                      EndOfFileCase{"OkThenDownloadPlain", "--ok-before-download 60", false, 1},
                      EndOfFileCase{"OkThenDownloadModbus", "--modbus 5 --ok-before-download 60", true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InProcessWindow, VerifyMismatchTurnsTheBarRedAndSendsNothingMore) {
    start("--error-at-verify 4");
    w()->Text1->setText(QStringLiteral("0"));  // no probe
    w()->BTNOpenCom_Click();
    ASSERT_TRUE(w()->MSComm1->portOpen());
    const QList<QByteArray> lines = hexFileLines(blink());
    window->dialog->nextPath = blink();
    w()->Command3_Click();

    ASSERT_TRUE(runUntil([&] { return transferOver(); }));
    EXPECT_EQ(w()->vbalProgressBar1->text(), QStringLiteral("ERROR"));
    EXPECT_EQ(w()->vbalProgressBar1->barColor(), color::kRed);
    EXPECT_EQ(w()->VerifyPhase, 0);

    run(50);  // a second later, still nothing more
    const std::vector<QByteArray> taken = commands();
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(lines.size() + 4));
    EXPECT_EQ(taken.back(), verifyCommand(lines[3]));
    EXPECT_EQ(events(), (std::vector<std::string>{"ready in-process", "fault error-at-verify 4"}));
}

class UsbScan : public InProcessWindow, public ::testing::WithParamInterface<const char*> {};

TEST_P(UsbScan, PortAppearingAfterOpenIsTakenOverAndAskedForItsVersion) {
    start(GetParam());
    w()->Option4->setChecked(true);
    w()->Check1->setChecked(true);  // USB mode clears it: the question goes unframed
    w()->BTNOpenCom_Click();
    EXPECT_EQ(w()->UsbScan, 1);
    EXPECT_FALSE(w()->MSComm1->portOpen());

    ASSERT_TRUE(runUntil([&] { return probeAnswered(); }, 500)) << w()->Label2->text().toStdString();
    EXPECT_TRUE(w()->MSComm1->portOpen());
    EXPECT_TRUE(w()->TMRComm->isActive());
    EXPECT_FALSE(w()->BTNOpenCom->isEnabled());
    EXPECT_TRUE(w()->BTNCloseCom->isEnabled());
    EXPECT_EQ(w()->ProbeCount, 1);
    EXPECT_FALSE(w()->Check1->isChecked());
    EXPECT_EQ(board->settings(), QStringLiteral("115200,n,8,1"));
    // Quiet opens at 200, 400, 600 and 800 ms fail; the one at 1 s finds the
    // port, the next tick takes it over after its 100 ms pause.
    EXPECT_EQ(board->openAttempts(), 5);
    EXPECT_EQ(pauses->pauses, QList<int>{100});
    EXPECT_EQ(commands(), std::vector<QByteArray>{QByteArrayLiteral("BOOTi\r\n")});
    EXPECT_EQ(board->log().back().at, 1300 * kMs) << "the answer left with the question";
    EXPECT_TRUE(window->box->shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(InProcess, UsbScan,
                         ::testing::Values("--com 3 --appear-after 1", "--com 3 --appear-after 1 --appear-target"),
                         [](const auto& info) { return info.index == 0 ? "AliasLate" : "TargetLate"; });

TEST_F(InProcessWindow, UnplugLeavesThePortClosedAndTheBarWhereItWas) {
    start("--unplug-after 3");
    w()->Text1->setText(QStringLiteral("0"));
    w()->BTNOpenCom_Click();
    const QList<QByteArray> lines = hexFileLines(blink());
    window->dialog->nextPath = blink();
    w()->Command3_Click();

    run(100);
    EXPECT_FALSE(w()->MSComm1->portOpen());
    EXPECT_EQ(w()->vbalProgressBar1->text(), QStringLiteral("DOWNLOAD"));
    EXPECT_EQ(commands(), (std::vector<QByteArray>{downloadCommand(lines[0]), downloadCommand(lines[1]),
                                                   downloadCommand(lines[2])}));
    EXPECT_TRUE(window->box->shown.isEmpty()) << "the receive tick fails silently";
    EXPECT_EQ(events(), (std::vector<std::string>{"ready in-process", "fault unplug-after 3", "unplugged"}));

    // Without a replug the port stays away.
    w()->BTNCloseCom_Click();
    run(500);
    w()->BTNOpenCom_Click();
    EXPECT_FALSE(w()->MSComm1->portOpen());
    EXPECT_EQ(window->box->texts(),
              QStringList{QStringLiteral("COM3 Not available! Use Serial settings to setup your ports.")});
}

TEST_F(InProcessWindow, AfterAReplugTheBoardVerifiesWhatItTookBeforeTheUnplug) {
    start("--unplug-after 3 --replug-after 2");
    w()->Text1->setText(QStringLiteral("0"));
    w()->BTNOpenCom_Click();
    window->dialog->nextPath = blink();
    w()->Command3_Click();
    run(10);
    ASSERT_FALSE(w()->MSComm1->portOpen());

    w()->BTNCloseCom_Click();
    run(100);                                  // two seconds
    w()->Text1->setText(QStringLiteral("5"));  // probe again
    w()->BTNOpenCom_Click();
    ASSERT_TRUE(w()->MSComm1->portOpen()) << window->box->texts().join(u'\n').toStdString();
    ASSERT_TRUE(runUntil([&] { return probeAnswered(); }));

    // Lines 1 to 3 reached the flash; line 4 did not.
    w()->Command2_Click();
    ASSERT_TRUE(runUntil([&] { return transferOver(); }));
    EXPECT_EQ(w()->vbalProgressBar1->text(), QStringLiteral("ERROR"));
    const std::vector<QByteArray> taken = commands();
    ASSERT_EQ(taken.size(), 3U + 1U + 4U);
    EXPECT_EQ(taken[3], QByteArrayLiteral("BOOTi\r\n"));
    EXPECT_EQ(events().back(), "replugged in-process");
}

}  // namespace
}  // namespace vantrel::testing
