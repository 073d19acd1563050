#include "boardsim/pty.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vantrel::boardsim {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

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

int unreadByHost(const Pty& pty) {
    int unread = 0;
    ioctl(pty.slave, FIONREAD, &unread);
    return unread;
}

bool installSignalPipe() {
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
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

int signalPipeFd() {
    return signalPipe[0];
}

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace vantrel::boardsim
