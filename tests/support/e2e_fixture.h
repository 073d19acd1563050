#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "board_sim.h"
#include "hex_commands.h"
#include "pseudo_terminal.h"
#include "real_loader.h"

namespace vantrel::testing {

using namespace std::chrono_literals;

// Runs the event loop until the condition holds or the time is up.
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

// The board's log and its stdout lines, read while the window's event loop
// keeps running (the simulator helper's own waits would block it).
inline bool waitForLog(const BoardSim& board, const std::function<bool(const BoardSim::Log&)>& done,
                       std::chrono::milliseconds timeout) {
    return waitFor([&] { return done(board.log()); }, timeout);
}
inline bool waitForLine(BoardSim& board, const char* prefix, std::chrono::milliseconds timeout) {
    return waitFor([&] { return board.waitForLine(prefix, std::chrono::milliseconds(5)).has_value(); }, timeout);
}

// A simulated board behind COMn in a configuration folder of the test's own.
class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!ptyAvailable(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(config_.isValid());
    }

    void TearDown() override {
        loader_.reset();
        boards_.clear();
    }

    // The configuration folder of the test's own: its ports folder holds the
    // boards' aliases. The window reaches them through a resolver; a program
    // started by the test is given it as its XDG_CONFIG_HOME.
    QString configHome() const { return config_.path(); }
    std::string portsDir() const { return (config_.path() + QStringLiteral("/vantrel/ports")).toStdString(); }
    PortResolver ports() const { return aliasFolderResolver(QString::fromStdString(portsDir())); }

    // Starts a board (or a bus of boards) reachable as COM<com>.
    BoardSim& startBoard(std::vector<std::string> options, int com = 3) {
        auto sim = std::make_unique<BoardSim>(std::move(options));
        sim->setAlias(portsDir(), com);
        const bool started = sim->start();
        EXPECT_TRUE(started) << sim->error();
        boards_.push_back(std::move(sim));
        return *boards_.back();
    }

    // The window with its real pause too: everything as the operator has it.
    RealLoader& loader() {
        if (!loader_) loader_ = std::make_unique<RealLoader>(RealLoader::Pause::Real, ports());
        return *loader_;
    }

    static QString example(const char* name) { return QStringLiteral(VANTREL_EXAMPLES_DIR "/") + QLatin1String(name); }

    // The commands a board took, in order.
    static std::vector<QByteArray> commands(const BoardSim::Log& log) {
        std::vector<QByteArray> out;
        for (const auto& e : log)
            if (e.direction == "RX") out.emplace_back(QByteArray::fromStdString(e.bytes));
        return out;
    }
    static int entries(const BoardSim::Log& log, const char* direction) {
        int n = 0;
        for (const auto& e : log) n += e.direction == direction;
        return n;
    }

  private:
    QTemporaryDir config_;
    std::vector<std::unique_ptr<BoardSim>> boards_;
    std::unique_ptr<RealLoader> loader_;
};

}  // namespace vantrel::testing
