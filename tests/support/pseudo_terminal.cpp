#include "pseudo_terminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace vantrel::testing {
namespace {

// Generous: the machine is shared. Only an outcome that never comes waits
// this long.
constexpr int kDeadlineMs = 10000;

QString errnoText(const char* what) {
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace

bool ptyAvailable(std::string& why) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        why = std::string("no pseudo-terminal here: posix_openpt: ") + std::strerror(errno);
        return false;
    }
    const bool usable = ::grantpt(master) == 0 && ::unlockpt(master) == 0;
    if (!usable) why = std::string("no pseudo-terminal here: grantpt/unlockpt: ") + std::strerror(errno);
    ::close(master);
    return usable;
}

// --- PseudoTerminal ---------------------------------------------------------

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error_ = errnoText("posix_openpt");
        return;
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error_ = errnoText("grantpt/unlockpt");
        closeMaster();
        return;
    }
    const char* name = ::ptsname(master_);
    if (!name) {
        error_ = QStringLiteral("ptsname failed");
        closeMaster();
        return;
    }
    slave_ = QString::fromLocal8Bit(name);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() {
    closeMaster();
}

bool PseudoTerminal::aliasAs(const QString& portsDir, int com) const {
    if (!ok() || !QDir().mkpath(portsDir)) return false;
    const QString link = portsDir + QStringLiteral("/com%1").arg(com);
    QFile::remove(link);
    return QFile::link(slave_, link);
}

bool PseudoTerminal::send(const QByteArray& bytes) const {
    qsizetype done = 0;
    QElapsedTimer idle;
    idle.start();
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            idle.restart();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (idle.elapsed() > kDeadlineMs) return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
    return true;
}

QByteArray PseudoTerminal::receive(qsizetype count) const {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        got += drain();
        if (got.size() >= count || clock.elapsed() > kDeadlineMs) return got;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ::poll(nullptr, 0, 1);  // yield the processor between looks
    }
}

QByteArray PseudoTerminal::drain() const {
    QByteArray all;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(master_, buffer, sizeof buffer)) > 0) all.append(buffer, n);
    return all;
}

bool PseudoTerminal::lineSettings(termios& tio) const {
    return ::tcgetattr(master_, &tio) == 0;
}

void PseudoTerminal::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

// --- PtyClient --------------------------------------------------------------

bool PtyClient::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
    return true;
}

void PtyClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool PtyClient::send(std::string_view bytes) {
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

std::string PtyClient::readUntil(const std::function<bool(const std::string&)>& done,
                                 std::chrono::milliseconds timeout) {
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

std::string PtyClient::readLine(std::chrono::milliseconds timeout) {
    return readUntil([](const std::string& s) { return s.ends_with("\r\n"); }, timeout);
}

bool PtyClient::waitForHangup(std::chrono::milliseconds timeout) {
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

}  // namespace vantrel::testing
