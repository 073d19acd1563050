// boardsim: PIC boards with a resident serial bootloader behind a
// pseudo-terminal, for the loader's end-to-end tests and for trying it by hand.
// All protocol logic lives in the library vantrel_boardsim, and so do the
// pty, the alias and the port's lifecycle; this file is the poll loop.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

#include "boardsim/alias.h"
#include "boardsim/options.h"
#include "boardsim/port_lifecycle.h"
#include "boardsim/pty.h"
#include "boardsim/simulator.h"
#include "vantrel_version.h"

namespace {

using namespace vantrel::boardsim;

constexpr Micros kMicrosPerSecond = 1'000'000;
// While an unplug waits for its reply to be read, look this often.
constexpr Micros kUnplugDrainCheck = 5'000;
// Reply bytes that follow one another on the wire gather for up to this long
// and go out in one write, as a UART's receive FIFO or a USB adapter hands
// them over: a reply still ends when its last byte is due, and the process
// wakes once per reply instead of once per byte.
constexpr Micros kGatherReply = 1'000;

}  // namespace

int main(int argc, char** argv) {
    // Wake-ups as exact as the kernel gives them: the default slack of 50 us
    // is more than half a byte time at 115200 baud.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    // Built as boardsim, installed as vantrel-boardsim: it speaks with the name it was started as.
    std::string program = argc > 0 && argv[0] != nullptr ? argv[0] : "boardsim";
    program.erase(0, program.find_last_of('/') + 1);
    const ParseResult parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), parsed.error.c_str(), usage(program).c_str());
        return 2;
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::fputs(usage(program).c_str(), stdout);
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
    if (!installSignalPipe()) {
        std::fprintf(stderr, "boardsim: cannot set up signal handling\n");
        return 3;
    }

    const auto start = std::chrono::steady_clock::now();
    auto now = [start] {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    };

    Simulator sim(options.sim, [log](const LogEntry& entry) {
        if (log == nullptr) return;
        std::fputs((formatLogLine(entry) + "\n").c_str(), log);
        std::fflush(log);
    });

    std::optional<Pty> pty = openPty();
    if (!pty) {
        std::fprintf(stderr, "boardsim: no pseudo-terminal: %s\n", std::strerror(errno));
        return 3;
    }

    AliasLinks links;
    PortLifecycle lifecycle(options.appearAfter, options.replugAfter);
    if (options.com) {
        const std::string dir = options.portsDir.empty()
                                    ? defaultPortsDir(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))
                                    : options.portsDir;
        if (!makeDirs(dir)) {
            std::fprintf(stderr, "boardsim: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
            return 3;
        }
        links = AliasLinks::forPort(dir, *options.com, options.appearTarget);
        if (options.appearAfter) {
            links.placeDangling();
        } else if (!links.place(pty->path)) {
            std::fprintf(stderr, "boardsim: cannot make %s: %s\n", links.alias.c_str(), std::strerror(errno));
            return 3;
        }
    }

    const std::string where = pty->path + (links.alias.empty() ? "" : " " + links.alias);
    sim.note(now(), "ready " + where);
    say("READY " + where);

    std::string pending;  // reply bytes the pty did not take yet
    PtyDrainWatch drain;
    Micros lastWriteAt = 0;
    bool stopping = false;

    while (!stopping) {
        Micros t = now();
        if (lifecycle.takeAppear(t)) {
            if (pty && links.place(pty->path)) {
                sim.note(t, "appeared " + links.alias);
                say("APPEARED " + links.alias);
            } else {
                std::fprintf(stderr, "boardsim: cannot make %s: %s\n", links.alias.c_str(), std::strerror(errno));
            }
        }
        if (lifecycle.takeReplug(t)) {
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
            if (sim.unplugRequested() && !sim.outputPending() && pending.empty() &&
                lifecycle.unplugDue(t, drain.replyRead(t, unreadByHost(*pty), lastWriteAt))) {
                links.remove(pty->path);
                closePty(*pty);
                pty.reset();
                drain.reset();
                sim.note(t, "unplugged");
                say("UNPLUGGED");
                lifecycle.unplugged(t);
            }
        }

        std::optional<Micros> wake;
        auto consider = [&wake](std::optional<Micros> at) {
            if (at) wake = wake ? std::min(*wake, *at) : *at;
        };
        if (pty) consider(sim.nextDeadline(kGatherReply));
        consider(lifecycle.appearAt());
        consider(lifecycle.replugAt());
        if (lifecycle.draining()) consider(t + kUnplugDrainCheck);
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

        pollfd fds[2] = {{signalPipeFd(), POLLIN, 0}, {-1, 0, 0}};
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

    links.remove(pty ? pty->path : std::string());
    if (pty) closePty(*pty);
    sim.note(now(), "stopped");
    if (log != nullptr) std::fclose(log);
    return 0;
}
