#pragma once

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <string_view>
#include <termios.h>
#include <unistd.h>

// The loader's end of a boardsim pty, for tests: raw, non-blocking, and every
// read bounded by a deadline.
class PtyClient {
  public:
    using Clock = std::chrono::steady_clock;

    PtyClient() = default;
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;
    ~PtyClient() { close(); }

    bool open(const std::string& path) {
        close();
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return false;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
        return true;
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 1000);
                continue;
            }
            if (written <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    }

    // Reads until `done` holds for everything read so far, or the timeout.
    std::string readUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        std::string got;
        while (!done(got)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
            if (n <= 0 && errno != EAGAIN && errno != EINTR) break;
        }
        return got;
    }

    // One plain-mode reply: everything up to and including CR LF.
    std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return readUntil([](const std::string& s) { return s.ends_with("\r\n"); }, timeout);
    }

    // True once the other side has gone: a hang-up, or a read that fails.
    bool waitForHangup(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            if (p.revents & (POLLHUP | POLLERR)) return true;
            char buffer[64];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
        }
        return false;
    }

    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

// Whether this process can have a pseudo-terminal at all; `why` says why not.
inline bool ptyAvailable(std::string& why) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        why = std::string("no pseudo-terminal here: posix_openpt: ") + std::strerror(errno);
        return false;
    }
    const bool usable = grantpt(master) == 0 && unlockpt(master) == 0;
    if (!usable) why = std::string("no pseudo-terminal here: grantpt/unlockpt: ") + std::strerror(errno);
    ::close(master);
    return usable;
}
