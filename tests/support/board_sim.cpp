#include "board_sim.h"

#include <cstdio>
#include <thread>
#include <unistd.h>

namespace vantrel::testing {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

BoardSim::BoardSim(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

BoardSim::~BoardSim() {
    stop();
    if (!tempDir_.empty()) {
        std::remove(logPath_.c_str());
        rmdir(tempDir_.c_str());
    }
}

std::string BoardSim::executable() {
    return VANTREL_BOARDSIM_PATH;
}

void BoardSim::setAlias(std::string portsDir, int comNumber) {
    aliasPath_ = portsDir + "/com" + std::to_string(comNumber);
    arguments_.push_back("--ports-dir");
    arguments_.push_back(std::move(portsDir));
    arguments_.push_back("--com");
    arguments_.push_back(std::to_string(comNumber));
}

bool BoardSim::start(std::chrono::milliseconds timeout) {
    if (running()) return true;
    error_.clear();
    std::vector<std::string> arguments = arguments_;
    if (const auto named = optionValue(arguments, "--log")) {
        logPath_ = *named;
    } else {
        if (tempDir_.empty()) tempDir_ = makeTempDir("boardsim");
        if (tempDir_.empty()) {
            error_ = "cannot make a temporary folder";
            return false;
        }
        logPath_ = tempDir_ + "/boardsim.log";
        arguments.push_back("--log");
        arguments.push_back(logPath_);
    }

    const std::string program = executable();
    if (!child_.start(program, std::move(arguments))) {
        error_ = child_.error();
        return false;
    }
    const auto deadline = Clock::now() + timeout;
    if (const auto line = child_.waitForLine("READY ", deadline)) {
        ptyPath_ = ptyOfLine(*line);
        return true;
    }
    error_ = "no READY line from " + program + (Clock::now() >= deadline ? " in time" : " (it exited)");
    stop();
    return false;
}

std::optional<std::string> BoardSim::waitForLine(std::string_view prefix, std::chrono::milliseconds timeout) {
    auto line = child_.waitForLine(prefix, Clock::now() + timeout);
    if (line && line->starts_with("REPLUGGED ")) ptyPath_ = ptyOfLine(*line);
    return line;
}

int BoardSim::stop(std::chrono::milliseconds timeout) {
    return child_.stop(timeout);
}

BoardSim::Log BoardSim::log() const {
    return readLogFile(logPath_);
}

bool BoardSim::waitForLog(const std::function<bool(const Log&)>& done, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (done(log())) return true;
        if (Clock::now() >= deadline) return false;
        // The log has no change notification; re-read it a little later.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace vantrel::testing
