#pragma once

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "board_sim.h"
#include "connection/qt_serial_component.h"
#include "fake_platform.h"
#include "window/frm_serial.h"

namespace vantrel::testing {

using namespace std::chrono_literals;

// True when this machine can hand out a pseudo-terminal.
inline bool ptyAvailable(std::string& why) {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) {
        why = "no pseudo-terminal available: posix_openpt failed";
        return false;
    }
    ::close(fd);
    return true;
}

// The real window on the real serial port and real timers, with the boxes
// and the file dialog recorded instead of shown.
struct RealWindow : RecordingWindow {
    QtSerialComponent* port = nullptr;
    RealWindow()
        : RecordingWindow(std::make_unique<QtSerialComponent>(), makeThreadSleeper()),
          port(static_cast<QtSerialComponent*>(w->MSComm1)) {}
};

// Runs the event loop until the condition holds or the time is up.
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

// The board's log and its stdout lines, read while the window's event loop
// keeps running (the simulator helper's own waits would block it).
inline bool waitForLog(const test::BoardSim& board, const std::function<bool(const test::BoardSim::Log&)>& done,
                       std::chrono::milliseconds timeout) {
    return waitFor([&] { return done(board.log()); }, timeout);
}
inline bool waitForLine(test::BoardSim& board, const char* prefix, std::chrono::milliseconds timeout) {
    return waitFor([&] { return board.waitForLine(prefix, std::chrono::milliseconds(5)).has_value(); }, timeout);
}

// A simulated board behind COMn in a configuration folder of the test's own.
class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!ptyAvailable(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(config_.isValid());
        savedXdg_ = qgetenv("XDG_CONFIG_HOME");
        hadXdg_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    }

    void TearDown() override {
        window_.reset();
        boards_.clear();
        if (hadXdg_)
            qputenv("XDG_CONFIG_HOME", savedXdg_);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }

    std::string portsDir() const { return (config_.path() + QStringLiteral("/vantrel/ports")).toStdString(); }

    // Starts a board (or a bus of boards) reachable as COM<com>.
    test::BoardSim& startBoard(std::vector<std::string> options, int com = 3) {
        auto sim = std::make_unique<test::BoardSim>(std::move(options));
        sim->setAlias(portsDir(), com);
        const bool started = sim->start();
        EXPECT_TRUE(started) << sim->error();
        boards_.push_back(std::move(sim));
        return *boards_.back();
    }

    RealWindow& window() {
        if (!window_) window_ = std::make_unique<RealWindow>();
        return *window_;
    }

    static QString example(const char* name) { return QStringLiteral(VANTREL_EXAMPLES_DIR "/") + QLatin1String(name); }

    // The lines of a HEX file as the loader reads them.
    static QList<QByteArray> linesOf(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return {};
        QList<QByteArray> lines;
        for (QByteArray line : f.readAll().split('\n')) {
            if (line.endsWith('\r')) line.chop(1);
            lines.append(line);
        }
        if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
        return lines;
    }

    // The commands a board took, in order.
    static std::vector<QByteArray> commands(const test::BoardSim::Log& log) {
        std::vector<QByteArray> out;
        for (const auto& e : log)
            if (e.direction == "RX") out.emplace_back(QByteArray::fromStdString(e.bytes));
        return out;
    }
    static int entries(const test::BoardSim::Log& log, const char* direction) {
        int n = 0;
        for (const auto& e : log) n += e.direction == direction;
        return n;
    }

  private:
    QTemporaryDir config_;
    QByteArray savedXdg_;
    bool hadXdg_ = false;
    std::vector<std::unique_ptr<test::BoardSim>> boards_;
    std::unique_ptr<RealWindow> window_;
};

}  // namespace vantrel::testing
