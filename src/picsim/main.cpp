// vantrel-picsim: a PIC18F452 with the Vantrel bootloader, simulated by
// gpsim's library in this process in real time, its USART behind a
// pseudo-terminal (and the alias comN, as vantrel-boardsim makes it).

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

#include "boardsim/alias.h"
#include "boardsim/options.h"
#include "boardsim/pty.h"
#include "picsim/bridge.h"
#include "picsim/chip.h"
#include "picsim/hex_image.h"
#include "picsim/options.h"
#include "vantrel_version.h"

namespace {

using namespace vantrel::picsim;
namespace bs = vantrel::boardsim;

// How long the bootloader gets to answer one line of an --app download.
constexpr double kAppReplySeconds = 5.0;
// How often the --app download asks for the bootloader until it answers.
constexpr double kAppProbeSeconds = 0.1;

std::string programDir() {
    std::vector<char> buffer(PATH_MAX);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return ".";
    std::string path(buffer.data(), static_cast<std::size_t>(length));
    return path.substr(0, path.find_last_of('/'));
}

// The 115200 build beside the program: build/bin -> build/firmware in the
// build tree, /usr/bin -> /usr/share/vantrel-firmware when installed.
std::string defaultBootloader() {
    const std::string dir = programDir();
    for (const std::string& candidate :
         {dir + "/../firmware/bootloader-18f452.hex", dir + "/../share/vantrel-firmware/bootloader-18f452.hex"}) {
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return "/usr/share/vantrel-firmware/bootloader-18f452.hex";
}

// Downloads `path` through the bootloader, as a host would: "BOOTi" every
// 100 ms until the bootloader answers (it runs only after the power-up timer
// and its own start), then each line "BOOT" + record after the "OK" to the
// one before, until "DOWNLOAD".
bool downloadApp(Bridge& bridge, const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    const std::vector<std::string> lines =
        hexLines(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    if (lines.empty()) {
        error = path + ": no records";
        return false;
    }
    for (const std::string& line : lines) {
        if (line.front() != ':') {
            error = path + ": not an Intel HEX file";
            return false;
        }
    }
    bool probing = true;
    std::size_t next = 0;
    std::string reply;
    bool finished = false;
    double deadline = bridge.simulatedSeconds() + kAppReplySeconds;
    double probeAt = 0;
    auto sendNext = [&] {
        bridge.send("BOOT" + lines[next++] + "\r\n");
        deadline = bridge.simulatedSeconds() + kAppReplySeconds;
    };
    bridge.onReply([&](char c) {
        if (c != '\n') {
            if (c != '\r') reply.push_back(c);
            return;
        }
        if (probing) {
            if (reply.starts_with("VER=")) {
                probing = false;
                sendNext();
            }
        } else if (reply == "DOWNLOAD") {
            finished = true;
        } else if (reply == "OK" && next < lines.size()) {
            sendNext();
        } else if (error.empty()) {
            error = "line " + std::to_string(next) + " of " + path + " answered \"" + reply + "\"";
        }
        reply.clear();
    });
    bridge.run([&] {
        const double now = bridge.simulatedSeconds();
        if (probing && now >= probeAt) {
            bridge.send("BOOTi\r\n");
            probeAt = now + kAppProbeSeconds;
        }
        return finished || !error.empty() || now > deadline;
    });
    bridge.onReply({});
    if (!finished && error.empty()) error = bridge.signalled() ? "stopped" : "the bootloader did not answer in time";
    return finished;
}

// With --start-on-open: no slave of ours is open, so the master reads a
// hang-up until the host opens its end.
bool waitForHost(bs::Pty& pty) {
    close(pty.slave);
    pty.slave = -1;
    for (;;) {
        pollfd fds[2] = {{bs::signalPipeFd(), POLLIN, 0}, {pty.master, 0, 0}};
        const int ready = poll(fds, 2, 5);
        if (ready < 0 && errno != EINTR) return false;
        if (fds[0].revents & POLLIN) return false;
        if (!(fds[1].revents & POLLHUP)) break;
    }
    // Ours again, so a host closing its end later is no hang-up.
    pty.slave = open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_TIMERSLACK, 1000UL);
    std::string program = argc > 0 && argv[0] != nullptr ? argv[0] : "vantrel-picsim";
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
    auto fail = [&](const std::string& message) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str());
        return 3;
    };

    // gpsim talks on stdout; our stdout carries only READY, so gpsim's
    // words go to stderr.
    const int ourStdout = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    FILE* say = ourStdout >= 0 ? fdopen(ourStdout, "w") : nullptr;
    if (say == nullptr) return fail("cannot keep stdout");
    dup2(STDERR_FILENO, STDOUT_FILENO);
    if (!bs::installSignalPipe()) return fail("cannot set up signal handling");

    FILE* log = nullptr;
    if (!options.logPath.empty()) {
        log = std::fopen(options.logPath.c_str(), "w");
        if (log == nullptr) return fail("cannot write " + options.logPath + ": " + std::strerror(errno));
    }

    std::string error;
    const std::string bootloaderPath = options.bootloader.empty() ? defaultBootloader() : options.bootloader;
    const auto bootloader = readIntelHex(bootloaderPath, error);
    if (!bootloader) return fail(error);
    std::optional<MemoryImage> kept;
    if (!options.flashIn.empty()) {
        kept = readIntelHex(options.flashIn, error);
        if (!kept) return fail(error);
    }

    const double clockHz = options.clockHz > 0 ? options.clockHz : VANTREL_PICSIM_CLOCK_HZ;
    auto chip = Chip::create(clockHz, error);
    if (!chip) return fail(error);
    if (!chip->load(*bootloader, error)) return fail(bootloaderPath + ": " + error);
    if (kept && !chip->load(*kept, error)) return fail(options.flashIn + ": " + error);

    Bridge bridge(*chip, {options.baud, options.resetAfterRecord, log});
    bridge.note("bootloader " + bootloaderPath + ", clock " + std::to_string(static_cast<long>(clockHz)) + " Hz, " +
                std::to_string(options.baud) + " bit/s");

    std::optional<bs::Pty> pty = bs::openPty();
    if (!pty) return fail(std::string("no pseudo-terminal: ") + std::strerror(errno));
    bs::AliasLinks links;
    if (options.com) {
        const std::string dir = options.portsDir.empty()
                                    ? bs::defaultPortsDir(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))
                                    : options.portsDir;
        if (!bs::makeDirs(dir)) return fail("cannot create " + dir + ": " + std::strerror(errno));
        links = bs::AliasLinks::forPort(dir, *options.com, false);
    }

    int status = 0;
    bool stopped = false;
    if (!options.app.empty()) {
        if (!downloadApp(bridge, options.app, error)) {
            stopped = bridge.signalled();
            if (!stopped) {
                std::fprintf(stderr, "%s: --app: %s\n", program.c_str(), error.c_str());
                status = 4;
            }
        } else {
            // The board as it comes from programming: powered up afresh.
            bridge.resetChip("app downloaded, reset");
        }
    }
    if (status == 0 && !stopped) {
        if (!links.alias.empty() && !links.place(pty->path)) {
            status = fail("cannot make " + links.alias + ": " + std::strerror(errno));
        } else {
            const std::string where = pty->path + (links.alias.empty() ? "" : " " + links.alias);
            bridge.note("ready " + where);
            std::fprintf(say, "READY %s\n", where.c_str());
            std::fflush(say);
            bool run = true;
            if (options.startOnOpen) {
                run = waitForHost(*pty);
                if (run) bridge.note("host opened the port, chip out of reset");
            }
            bridge.attach(&*pty);
            if (run) bridge.run();
        }
    }

    links.remove(pty->path);
    bs::closePty(*pty);
    if (!options.flashOut.empty()) {
        std::ofstream out(options.flashOut, std::ios::binary | std::ios::trunc);
        out << formatIntelHex(chip->dump());
        if (!out) {
            std::fprintf(stderr, "%s: cannot write %s\n", program.c_str(), options.flashOut.c_str());
            if (status == 0) status = 3;
        }
    }
    bridge.note("stopped");
    if (log != nullptr) std::fclose(log);
    std::fclose(say);
    // gpsim's globals are not made to be torn down: leave without their destructors.
    std::fflush(nullptr);
    _exit(status);
}
