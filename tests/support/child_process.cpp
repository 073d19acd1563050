#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::testing {
namespace {

using Clock = std::chrono::steady_clock;

int millisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ChildProcess::~ChildProcess() {
    stop(std::chrono::seconds(10));
}

bool ChildProcess::start(const std::string& program, std::vector<std::string> arguments) {
    error_.clear();
    // Everything exec needs is built before fork: only async-signal-safe
    // calls may follow it in a process that may have threads.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error_ = "pipe: " + std::string(std::strerror(errno));
        return false;
    }
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t child = fork();
    if (child < 0) {
        error_ = "fork: " + std::string(std::strerror(errno));
        close(out[0]);
        close(out[1]);
        if (devNull >= 0) close(devNull);
        return false;
    }
    if (child == 0) {
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    if (devNull >= 0) close(devNull);
    pid_ = child;
    stdout_ = out[0];
    stdoutBuffer_.clear();
    return true;
}

bool ChildProcess::readLine(Clock::time_point deadline, std::string& line) {
    for (;;) {
        const std::size_t newline = stdoutBuffer_.find('\n');
        if (newline != std::string::npos) {
            line = stdoutBuffer_.substr(0, newline);
            stdoutBuffer_.erase(0, newline + 1);
            return true;
        }
        if (stdout_ < 0) return false;
        pollfd fd{stdout_, POLLIN, 0};
        const int ready = poll(&fd, 1, millisLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[512];
        const ssize_t got = read(stdout_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            close(stdout_);
            stdout_ = -1;
            continue;  // hand out what is left, then report the end
        }
        stdoutBuffer_.append(buffer, static_cast<std::size_t>(got));
    }
}

std::optional<std::string> ChildProcess::waitForLine(std::string_view prefix, Clock::time_point deadline) {
    std::string line;
    while (readLine(deadline, line)) {
        if (line.starts_with(prefix)) return line;
    }
    return std::nullopt;
}

int ChildProcess::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    // The child's stdout closes when it exits; wait for that rather than spin.
    const auto deadline = Clock::now() + timeout;
    while (stdout_ >= 0 && Clock::now() < deadline) {
        pollfd fd{stdout_, POLLIN, 0};
        if (poll(&fd, 1, millisLeft(deadline)) <= 0) continue;
        char buffer[512];
        const ssize_t got = read(stdout_, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EINTR)) {
            close(stdout_);
            stdout_ = -1;
        }
    }
    if (stdout_ >= 0) kill(pid_, SIGKILL);  // still there after the timeout
    int status = 0;
    pid_t reaped;
    do {
        reaped = waitpid(pid_, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    if (stdout_ >= 0) {
        close(stdout_);
        stdout_ = -1;
    }
    pid_ = -1;
    return reaped > 0 ? status : -1;
}

std::string ptyOfLine(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return {};
    const std::string_view rest = line.substr(space + 1);
    return std::string(rest.substr(0, rest.find(' ')));
}

std::string makeTempDir(const std::string& stem) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + stem + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

std::optional<std::string> optionValue(const std::vector<std::string>& arguments, std::string_view name) {
    const std::string joined = std::string(name) + "=";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == name && i + 1 < arguments.size()) return arguments[i + 1];
        if (arguments[i].starts_with(joined)) return arguments[i].substr(joined.size());
    }
    return std::nullopt;
}

std::vector<boardsim::LogEntry> readLogFile(const std::string& path) {
    std::vector<boardsim::LogEntry> entries;
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    for (std::size_t newline = text.find('\n'); newline != std::string::npos; newline = text.find('\n', start)) {
        if (auto entry = boardsim::parseLogLine(std::string_view(text).substr(start, newline - start))) {
            entries.push_back(std::move(*entry));
        }
        start = newline + 1;
    }
    return entries;
}

}  // namespace vantrel::testing
