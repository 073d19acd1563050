#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "boardsim/log_line.h"
#include "child_process.h"

namespace vantrel::testing {

// Runs the boardsim program as a child process for a test. The destructor stops it
// (SIGTERM by pid, then waits; SIGKILL if it does not go) and removes the
// temporary folder holding the log.
//
//   vantrel::testing::BoardSim sim({"--modbus", "3"});
//   sim.setAlias(portsDir, 3);          // optional: <portsDir>/com3
//   ASSERT_TRUE(sim.start()) << sim.error();
//   ... open sim.ptyPath() or COM3 ...
//   sim.waitForLog([](const auto& log) { return !log.empty(); }, std::chrono::seconds(10));
class BoardSim {
  public:
    // The simulator's log, read with its own reader (see docs/boardsim.md).
    using Log = std::vector<boardsim::LogEntry>;

    // `arguments` are boardsim options, e.g. {"--modbus", "1,2", "--reply-delay", "50"}.
    // Unless they name a --log, the log goes to a temporary file.
    explicit BoardSim(std::vector<std::string> arguments = {});
    ~BoardSim();
    BoardSim(const BoardSim&) = delete;
    BoardSim& operator=(const BoardSim&) = delete;

    // Before start(): have the simulator make the alias comN in `portsDir`.
    void setAlias(std::string portsDir, int comNumber);

    // Starts the simulator and waits for its READY line.
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // SIGTERM, wait up to `timeout`, then SIGKILL. Returns the exit status as
    // waitpid reports it, or -1 when it was not running.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool running() const { return child_.running(); }

    pid_t pid() const { return child_.pid(); }
    // The pty of the READY line, or of the latest REPLUGGED line seen.
    const std::string& ptyPath() const { return ptyPath_; }
    // <portsDir>/comN, or empty without setAlias().
    const std::string& aliasPath() const { return aliasPath_; }
    const std::string& logPath() const { return logPath_; }
    // Why start() failed.
    const std::string& error() const { return error_; }

    // Waits for the next stdout line starting with `prefix` ("APPEARED",
    // "UNPLUGGED", "REPLUGGED") and returns it whole.
    std::optional<std::string> waitForLine(std::string_view prefix, std::chrono::milliseconds timeout);

    Log log() const;
    // Re-reads the log until `done` holds for it or `timeout` passes.
    bool waitForLog(const std::function<bool(const Log&)>& done, std::chrono::milliseconds timeout) const;

    // Path of the boardsim executable this build made.
    static std::string executable();

  private:
    std::vector<std::string> arguments_;
    std::string tempDir_;
    std::string logPath_;
    std::string ptyPath_;
    std::string aliasPath_;
    std::string error_;
    ChildProcess child_;
};

}  // namespace vantrel::testing
