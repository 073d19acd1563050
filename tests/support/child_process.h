#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "boardsim/log_line.h"

namespace vantrel::testing {

// A simulator program run as a child process for a test: its stdout read
// line by line, stopped by pid. Shared by BoardSim and PicSim, whose
// programs speak alike (a READY line, SIGTERM for a clean end).
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `arguments`, stdin from /dev/null, stdout to us.
    bool start(const std::string& program, std::vector<std::string> arguments);
    // Waits for the next stdout line starting with `prefix` and returns it
    // whole; nullopt at the deadline or when the program ended.
    std::optional<std::string> waitForLine(std::string_view prefix, std::chrono::steady_clock::time_point deadline);
    // SIGTERM, wait up to `timeout`, then SIGKILL. Returns the exit status
    // as waitpid reports it, or -1 when it was not running.
    int stop(std::chrono::milliseconds timeout);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& error() const { return error_; }

  private:
    bool readLine(std::chrono::steady_clock::time_point deadline, std::string& line);

    std::string error_;
    std::string stdoutBuffer_;
    pid_t pid_ = -1;
    int stdout_ = -1;
};

// The path after "READY " (or "REPLUGGED "): the pty, before any alias.
std::string ptyOfLine(std::string_view line);

// Makes a fresh folder under $TMPDIR (or /tmp) named after `stem`; empty on failure.
std::string makeTempDir(const std::string& stem);

// Whether `arguments` name option `name` ("--log"), and its value.
std::optional<std::string> optionValue(const std::vector<std::string>& arguments, std::string_view name);

// A simulator's traffic log, read with the simulators' own reader; only
// whole lines (the last one may still be being written).
std::vector<boardsim::LogEntry> readLogFile(const std::string& path);

}  // namespace vantrel::testing
