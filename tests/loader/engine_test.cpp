// The loader driven as a program drives it, without any widget: this binary
// links the engine and the simulated board only, on a core application. The
// timers are ticked by hand on a virtual clock.

#include <functional>
#include <memory>
#include <ostream>

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include "boardsim/simulated_port.h"
#include "loader/colors.h"
#include "loader/loader.h"
#include "transfer/hex_file.h"

namespace vantrel {
namespace {

using boardsim::Micros;

constexpr Micros kTick = 20 * 1000;  // the receive timer's interval
constexpr int kTicksPerProbe = 10;   // the probe timer's 200 ms

class Boxes final : public MsgBox {
  public:
    QStringList shown;
    void show(const QString& text, const QString&, Icon) override { shown << text; }
};

class ChosenFile final : public FileDialog {
  public:
    QString path;
    void setFilter(const QString&) override {}
    void showOpen() override {}
    QString fileName() const override { return path; }
    bool cancelled() const override { return path.isEmpty(); }
};

class ClockPause final : public Sleeper {
  public:
    explicit ClockPause(boardsim::VirtualClock& clock) : clock_(clock) {}
    void sleep(int milliseconds) override { clock_.advance(Micros{milliseconds} * 1000); }

  private:
    boardsim::VirtualClock& clock_;
};

class Engine : public ::testing::Test {
  protected:
    void start(std::string_view options) {
        const boardsim::ParseResult parsed = boardsim::parseOptionText(options);
        ASSERT_EQ(parsed.error, "") << options;
        auto port = std::make_unique<boardsim::SimulatedPort>(parsed.options, clock.reader());
        board = port.get();
        Platform p;
        p.port = std::move(port);
        auto boxes = std::make_unique<Boxes>();
        auto dialog = std::make_unique<ChosenFile>();
        shown = boxes.get();
        chosen = dialog.get();
        p.msgBox = std::move(boxes);
        p.fileDialog = std::move(dialog);
        p.sleeper = std::make_unique<ClockPause>(clock);
        loader = std::make_unique<Loader>(std::move(p));
        QObject::connect(loader.get(), &Loader::replyInterpreted,
                         [this](Loader::ReplyOutcome o) { outcomes.append(o); });
        QObject::connect(loader.get(), &Loader::controlChanged, [this](const Control& c, Control::Property what) {
            if (&c == loader->Label2 && what == Control::Property::Text) statusLines << c.text();
        });
    }

    // 20 ms: the receive tick, and the probe tick every 200 ms while it runs.
    void step() {
        clock.advance(kTick);
        if (loader->TMRComm->isActive()) loader->TMRComm_Timer();
        probeTicks_ = loader->Timer3->isActive() ? probeTicks_ + 1 : 0;
        if (probeTicks_ == kTicksPerProbe) {
            probeTicks_ = 0;
            loader->Timer3_Timer();
        }
    }
    bool runUntil(const std::function<bool()>& done, int limit = 20000) {
        for (int i = 0; i < limit; ++i) {
            if (done()) return true;
            step();
        }
        return done();
    }

    int commandsTaken(const char* prefix) const {
        int n = 0;
        for (const std::string& c : board->commands()) n += c.rfind(prefix, 0) == 0;
        return n;
    }

    static QString blink() { return QStringLiteral(VANTREL_EXAMPLES_DIR "/blink.hex"); }

    boardsim::VirtualClock clock;
    boardsim::SimulatedPort* board = nullptr;
    Boxes* shown = nullptr;
    ChosenFile* chosen = nullptr;
    std::unique_ptr<Loader> loader;
    QList<Loader::ReplyOutcome> outcomes;
    QStringList statusLines;

  private:
    int probeTicks_ = 0;
};

// A whole transfer: the probe finds the board, every line goes down and is
// verified, the bar ends on green "END".
struct TransferCase {
    const char* name;
    const char* board;
    bool modbus;
    const char* address;
    bool verifyOnly;
};
void PrintTo(const TransferCase& c, std::ostream* out) {
    *out << c.name;
}

class WholeTransfer : public Engine, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(WholeTransfer, EndsOnGreenWithEveryLineOncePerPass) {
    const TransferCase& c = GetParam();
    start(c.board);
    loader->Check1->setChecked(c.modbus);
    loader->Text1->setText(QString::fromLatin1(c.address));
    loader->invokeGuarded(&Loader::BTNOpenCom_Click);
    ASSERT_TRUE(runUntil([&] { return loader->Label2->text() == QStringLiteral("READY"); }));

    const int lines = static_cast<int>(readHexFile(blink(), Loader::kMaxLines).size());
    chosen->path = blink();
    loader->invokeGuarded(c.verifyOnly ? &Loader::Command2_Click : &Loader::Command3_Click);
    ASSERT_TRUE(runUntil([&] { return loader->vbalProgressBar1->text() == QStringLiteral("END"); }))
        << loader->vbalProgressBar1->text().toStdString();

    EXPECT_EQ(loader->vbalProgressBar1->barColor(), color::kGreen);
    EXPECT_EQ(loader->vbalProgressBar1->max(), lines);
    EXPECT_EQ(commandsTaken("BOOT:"), c.verifyOnly ? 0 : lines);
    EXPECT_EQ(commandsTaken("BOOT#"), lines);
    EXPECT_EQ(outcomes.back(), Loader::ReplyOutcome::End);
    EXPECT_TRUE(shown->shown.isEmpty()) << shown->shown.join(u'|').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engine, WholeTransfer,
                         ::testing::Values(TransferCase{"Plain", "", false, "", false},
                                           TransferCase{"ModbusAddress5", "--modbus 5", true, "5", false},
                                           TransferCase{"VerifyOnly", "--flashed " VANTREL_EXAMPLES_DIR "/blink.hex",
                                                        false, "", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The probe: what the status line says on the way, and where it ends.
struct ProbeCase {
    const char* name;
    const char* board;
    bool modbus;
    const char* address;
    const char* lastStatus;
    const char* addressAfter;  // the address box once the probe ended
    bool boxShown;
};
void PrintTo(const ProbeCase& c, std::ostream* out) {
    *out << c.name;
}

class Probe : public Engine, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(Probe, EndsWhereTheBoardAnswersOrGivesUp) {
    const ProbeCase& c = GetParam();
    start(c.board);
    loader->Check1->setChecked(c.modbus);
    loader->Text1->setText(QString::fromLatin1(c.address));
    loader->invokeGuarded(&Loader::BTNOpenCom_Click);
    ASSERT_TRUE(runUntil([&] { return !loader->Timer3->isActive(); }, 40000));
    EXPECT_EQ(statusLines.last(), QString::fromLatin1(c.lastStatus));
    EXPECT_TRUE(statusLines.contains(QStringLiteral("WAIT Connect:  1")));
    EXPECT_EQ(loader->Text1->text(), QString::fromLatin1(c.addressAfter));
    EXPECT_EQ(!shown->shown.isEmpty(), c.boxShown);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Probe,
    ::testing::Values(ProbeCase{"PlainAnswers", "", false, "", "READY", "1", false},
                      ProbeCase{"ModbusSearchFindsAddress3", "--modbus 3", true, "", "READY", "3", false},
                      ProbeCase{"ModbusWrongAddressGivesUp", "--modbus 3", true, "9", "Not present board", "9", true}),
    [](const auto& info) { return std::string(info.param.name); });

// A program following the loader asks it which line a reply answered, even
// once the reply interpreter has sent the next one.
TEST_F(Engine, SaysWhichLineEachReplyAnswered) {
    start("");
    loader->Text1->setText(QStringLiteral("0"));  // no probe
    loader->invokeGuarded(&Loader::BTNOpenCom_Click);
    QList<int> answered;
    QList<int> inFlight;
    QObject::connect(loader.get(), &Loader::replyInterpreted, [&](Loader::ReplyOutcome o) {
        if (o != Loader::ReplyOutcome::Ok || !loader->LineAnswered || loader->LineAnswered->verify) return;
        answered << loader->LineAnswered->line;
        inFlight << loader->lineInFlight()->line;
    });
    chosen->path = blink();
    loader->invokeGuarded(&Loader::Command3_Click);
    ASSERT_TRUE(runUntil([&] { return loader->vbalProgressBar1->text() == QStringLiteral("END"); }));
    const int lines = static_cast<int>(readHexFile(blink(), Loader::kMaxLines).size());
    // Every download line but the end-of-file record is answered "OK", each
    // once, in order, and the line sent on it is the next one.
    ASSERT_EQ(answered.size(), lines - 1);
    for (int i = 0; i < answered.size(); ++i) {
        EXPECT_EQ(answered[i], i + 1);
        EXPECT_EQ(inFlight[i], i + 2);
    }
    // Close forgets the line in flight: it will never be answered.
    loader->invokeGuarded(&Loader::BTNCloseCom_Click);
    EXPECT_EQ(loader->LineInFlight, 0);
    EXPECT_FALSE(loader->lineInFlight().has_value());
}

// Faults: the board refuses a verify line, or goes away during the transfer.
TEST_F(Engine, AVerifyMismatchEndsOnRedErrorAndSendsNothingMore) {
    start("--error-at-verify 4");
    loader->Text1->setText(QStringLiteral("0"));  // no probe
    loader->invokeGuarded(&Loader::BTNOpenCom_Click);
    chosen->path = blink();
    loader->invokeGuarded(&Loader::Command3_Click);
    ASSERT_TRUE(runUntil([&] { return loader->vbalProgressBar1->text() == QStringLiteral("ERROR"); }));
    EXPECT_EQ(loader->vbalProgressBar1->barColor(), color::kRed);
    EXPECT_EQ(commandsTaken("BOOT#"), 4);
    const std::size_t taken = board->commands().size();
    for (int i = 0; i < 50; ++i) step();
    EXPECT_EQ(board->commands().size(), taken);
}

TEST_F(Engine, AnUnpluggedPortIsAnnouncedOnceAndLeftClosed) {
    start("--unplug-after 3");
    int lost = 0;
    QObject::connect(loader.get(), &Loader::portLost, [&lost] { ++lost; });
    loader->Text1->setText(QStringLiteral("0"));
    loader->invokeGuarded(&Loader::BTNOpenCom_Click);
    chosen->path = blink();
    loader->invokeGuarded(&Loader::Command3_Click);
    ASSERT_TRUE(runUntil([&] { return lost > 0; }));
    for (int i = 0; i < 20; ++i) step();
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(loader->MSComm1->portOpen());
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
    // No display, no widgets: a core application is all the loader needs.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
