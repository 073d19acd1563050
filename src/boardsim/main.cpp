// boardsim: PIC boards with a resident serial bootloader behind a
// pseudo-terminal, for the loader's end-to-end tests and for trying it by hand.
// All protocol logic lives in the library vantrel_boardsim; this file does the I/O.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "boardsim/options.h"
#include "boardsim/simulator.h"
#include "vantrel_version.h"

namespace {

// The speed the host set its end of the pty to: the two ends share one
// set of line settings.
long hostSpeed(int master) {
    termios tio{};
    if (tcgetattr(master, &tio) != 0) return 0;
    switch (cfgetospeed(&tio)) {
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        default:
            return 0;
    }
}

using vantrel::boardsim::Micros;

constexpr Micros kMicrosPerMilli = 1000;
constexpr Micros kMicrosPerSecond = 1'000'000;
// After the unplug record is answered, give the loader up to this long to read
// the reply before the port goes, and look this often whether it has. Bytes
// written to the master reach the slave's queue a moment later (the kernel
// moves them in a work item), so an empty queue counts only once the reply
// was seen waiting there, or once the settle time has passed.
constexpr Micros kUnplugDrainLimit = 2 * kMicrosPerSecond;
constexpr Micros kUnplugDrainCheck = 5 * kMicrosPerMilli;
constexpr Micros kUnplugSettle = 250 * kMicrosPerMilli;
// Reply bytes that follow one another on the wire gather for up to this long
// and go out in one write, as a UART's receive FIFO or a USB adapter hands
// them over: a reply still ends when its last byte is due, and the process
// wakes once per reply instead of once per byte.
constexpr Micros kGatherReply = kMicrosPerMilli;

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignals() {
    if (pipe(signalPipe) != 0) return false;
    for (int fd : signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a reader of stdout that went away must not kill us
    return true;
}

struct Pty {
    int master = -1;
    int slave = -1;  // kept open so the master never sees a hang-up between loader sessions
    std::string path;
};

std::optional<Pty> openPty() {
    Pty pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0) return std::nullopt;
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 || ptsname(pty.master) == nullptr) {
        close(pty.master);
        return std::nullopt;
    }
    pty.path = ptsname(pty.master);
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    pty.slave = open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0) {
        close(pty.master);
        return std::nullopt;
    }
    // Raw: no CR/LF mapping, no echo, no signals, 8 data bits.
    termios tio{};
    tcgetattr(pty.slave, &tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(pty.slave, TCSANOW, &tio);
    return pty;
}

void closePty(Pty& pty) {
    if (pty.master >= 0) close(pty.master);
    if (pty.slave >= 0) close(pty.slave);
    pty = Pty{};
}

bool makeDirs(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

// Replaces `link` in one step, so the loader never sees it half made.
bool placeLink(const std::string& link, const std::string& target) {
    const std::string temp = link + ".new" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0) return false;
    if (rename(temp.c_str(), link.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

// Removes `link` only while it still points where we put it.
void removeLink(const std::string& link, const std::string& target) {
    if (link.empty()) return;
    std::vector<char> buffer(4096);
    const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
    if (length >= 0 && std::string(buffer.data(), static_cast<std::size_t>(length)) == target) unlink(link.c_str());
}

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The alias and, with --appear-target, the hidden link it points through.
struct Links {
    std::string alias;
    std::string target;  // empty unless --appear-target
    bool aliasPlaced = false;
    bool targetPlaced = false;

    std::string aliasDestination(const std::string& ptyPath) const { return target.empty() ? ptyPath : target; }

    bool place(const std::string& ptyPath) {
        if (!target.empty()) {
            if (!placeLink(target, ptyPath)) return false;
            targetPlaced = true;
        }
        if (!placeLink(alias, aliasDestination(ptyPath))) return false;
        aliasPlaced = true;
        return true;
    }

    void remove(const std::string& ptyPath) {
        if (aliasPlaced) removeLink(alias, aliasDestination(ptyPath));
        if (targetPlaced) removeLink(target, ptyPath);
        aliasPlaced = targetPlaced = false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    // Wake-ups as exact as the kernel gives them: the default slack of 50 us
    // is more than half a byte time at 115200 baud.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    // Built as boardsim, installed as vantrel-boardsim: it speaks with the name it was started as.
    std::string program = argc > 0 && argv[0] != nullptr ? argv[0] : "boardsim";
    program.erase(0, program.find_last_of('/') + 1);
    const vantrel::boardsim::ParseResult parsed =
        vantrel::boardsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), parsed.error.c_str(),
                     vantrel::boardsim::usage(program).c_str());
        return 2;
    }
    const vantrel::boardsim::Options& options = parsed.options;
    if (options.help) {
        std::fputs(vantrel::boardsim::usage(program).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", program.c_str(), VANTREL_VERSION);
        return 0;
    }

    FILE* log = nullptr;
    if (!options.logPath.empty()) {
        log = std::fopen(options.logPath.c_str(), "w");
        if (log == nullptr) {
            std::fprintf(stderr, "boardsim: cannot write %s: %s\n", options.logPath.c_str(), std::strerror(errno));
            return 3;
        }
    }
    if (!installSignals()) {
        std::fprintf(stderr, "boardsim: cannot set up signal handling\n");
        return 3;
    }

    const auto start = std::chrono::steady_clock::now();
    auto now = [start] {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    };

    vantrel::boardsim::Simulator sim(options.sim, [log](const vantrel::boardsim::LogEntry& entry) {
        if (log == nullptr) return;
        std::fputs((vantrel::boardsim::formatLogLine(entry) + "\n").c_str(), log);
        std::fflush(log);
    });

    std::optional<Pty> pty = openPty();
    if (!pty) {
        std::fprintf(stderr, "boardsim: no pseudo-terminal: %s\n", std::strerror(errno));
        return 3;
    }

    Links links;
    std::optional<Micros> appearAt;
    if (options.com) {
        const std::string dir = options.portsDir.empty() ? vantrel::boardsim::defaultPortsDir(
                                                               std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))
                                                         : options.portsDir;
        if (!makeDirs(dir)) {
            std::fprintf(stderr, "boardsim: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
            return 3;
        }
        links.alias = dir + "/com" + std::to_string(*options.com);
        if (options.appearTarget) links.target = dir + "/.com" + std::to_string(*options.com) + ".target";
        if (options.appearAfter) {
            appearAt = static_cast<Micros>(*options.appearAfter * kMicrosPerSecond);
            // Only the target is late: the alias already dangles.
            if (options.appearTarget && placeLink(links.alias, links.target)) links.aliasPlaced = true;
        } else if (!links.place(pty->path)) {
            std::fprintf(stderr, "boardsim: cannot make %s: %s\n", links.alias.c_str(), std::strerror(errno));
            return 3;
        }
    }

    const std::string where = pty->path + (links.alias.empty() ? "" : " " + links.alias);
    sim.note(now(), "ready " + where);
    say("READY " + where);

    std::string pending;     // reply bytes the pty did not take yet
    Micros drainSince = -1;  // when the unplug began waiting for the loader to read; -1: not waiting
    bool replySeenWaiting = false;
    Micros lastWriteAt = 0;
    std::optional<Micros> replugAt;
    bool stopping = false;

    while (!stopping) {
        Micros t = now();
        if (appearAt && t >= *appearAt) {
            appearAt.reset();
            if (pty && links.place(pty->path)) {
                sim.note(t, "appeared " + links.alias);
                say("APPEARED " + links.alias);
            } else {
                std::fprintf(stderr, "boardsim: cannot make %s: %s\n", links.alias.c_str(), std::strerror(errno));
            }
        }
        if (replugAt && t >= *replugAt) {
            replugAt.reset();
            pty = openPty();
            if (!pty) {
                std::fprintf(stderr, "boardsim: no pseudo-terminal for the replug: %s\n", std::strerror(errno));
                break;
            }
            if (!links.alias.empty()) links.place(pty->path);
            sim.reconnect(t);
            const std::string again = pty->path + (links.alias.empty() ? "" : " " + links.alias);
            sim.note(t, "replugged " + again);
            say("REPLUGGED " + again);
        }

        if (pty) {
            sim.advance(t);
            pending += sim.takeDue(t);
            while (!pending.empty()) {
                const ssize_t written = write(pty->master, pending.data(), pending.size());
                if (written > 0) {
                    pending.erase(0, static_cast<std::size_t>(written));
                    lastWriteAt = t;
                } else {
                    if (written < 0 && errno != EAGAIN && errno != EINTR) pending.clear();
                    break;
                }
            }
            if (sim.unplugRequested() && !sim.outputPending() && pending.empty()) {
                if (drainSince < 0) drainSince = t;
                int unread = 0;
                ioctl(pty->slave, FIONREAD, &unread);
                replySeenWaiting = replySeenWaiting || unread > 0;
                const bool read = unread == 0 && (replySeenWaiting || t - lastWriteAt >= kUnplugSettle);
                if (read || t - drainSince >= kUnplugDrainLimit) {
                    links.remove(pty->path);
                    closePty(*pty);
                    pty.reset();
                    drainSince = -1;
                    replySeenWaiting = false;
                    sim.note(t, "unplugged");
                    say("UNPLUGGED");
                    if (options.replugAfter)
                        replugAt = t + static_cast<Micros>(*options.replugAfter * kMicrosPerSecond);
                }
            }
        }

        std::optional<Micros> wake;
        auto consider = [&wake](std::optional<Micros> at) {
            if (at) wake = wake ? std::min(*wake, *at) : *at;
        };
        if (pty) consider(sim.nextDeadline(kGatherReply));
        consider(appearAt);
        consider(replugAt);
        if (drainSince >= 0) consider(t + kUnplugDrainCheck);
        // Waits to the microsecond: at 115200 baud a byte takes 87 us, and a
        // poll rounded up to whole milliseconds would pace the wire several
        // times slower than it runs.
        timespec timeout{};
        timespec* until = nullptr;
        if (wake) {
            const Micros left = std::max<Micros>(0, *wake - now());
            timeout.tv_sec = static_cast<time_t>(left / kMicrosPerSecond);
            timeout.tv_nsec = static_cast<long>((left % kMicrosPerSecond) * 1000);
            until = &timeout;
        }

        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {-1, 0, 0}};
        if (pty) {
            fds[1].fd = pty->master;
            if (!sim.unplugRequested()) fds[1].events |= POLLIN;
            if (!pending.empty()) fds[1].events |= POLLOUT;
        }
        if (ppoll(fds, 2, until, nullptr) < 0 && errno != EINTR) {
            std::fprintf(stderr, "boardsim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) stopping = true;
        if (pty && (fds[1].revents & (POLLERR | POLLNVAL)) && !(fds[1].revents & POLLIN)) {
            // Should not happen while we hold the slave open; stop rather than spin.
            std::fprintf(stderr, "boardsim: the pty failed\n");
            break;
        }
        if (pty && (fds[1].revents & POLLIN)) {
            char buffer[4096];
            for (;;) {
                const ssize_t got = read(pty->master, buffer, sizeof buffer);
                if (got <= 0) break;
                sim.setHostSpeed(now(), hostSpeed(pty->master));
                sim.receive(now(), std::string_view(buffer, static_cast<std::size_t>(got)));
            }
        }
    }

    if (pty) {
        links.remove(pty->path);
        closePty(*pty);
    } else {
        links.remove(std::string());
    }
    sim.note(now(), "stopped");
    if (log != nullptr) std::fclose(log);
    return 0;
}
