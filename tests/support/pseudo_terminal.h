#pragma once

// Pseudo-terminals for the tests: the board's end of a line that the test
// plays itself (PseudoTerminal), and the loader's end of a line that someone
// else made, such as the simulator (PtyClient).

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <termios.h>

#include <QByteArray>
#include <QString>

namespace vantrel::testing {

// Whether this process can have a pseudo-terminal at all; `why` says why not.
bool ptyAvailable(std::string& why);

// The master end of a new pseudo-terminal: what the board would send and see.
// The tool opens the slave end, by its path or through a comN alias. The
// master is non-blocking; every wait is bounded.
class PseudoTerminal {
  public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ok() const { return master_ >= 0; }
    // Why the pseudo-terminal could not be had.
    const QString& error() const { return error_; }
    const QString& slavePath() const { return slave_; }
    int fd() const { return master_; }

    // Makes <portsDir>/com<com> point at the slave end (the folder is made
    // when missing), so that the tool reaches it as COM<com>.
    bool aliasAs(const QString& portsDir, int com) const;

    // Writes all of `bytes`, waiting for room; false on an error or when the
    // line takes nothing for 10 s.
    bool send(const QByteArray& bytes) const;
    // Collects what the slave side has written, turning the Qt event loop,
    // until `count` bytes are there or 10 s have passed.
    QByteArray receive(qsizetype count) const;
    // Whatever the slave side has written so far, without waiting.
    QByteArray drain() const;

    // The line settings the slave end was given (a pseudo-terminal's master
    // reports its slave's).
    bool lineSettings(termios& tio) const;

    // The board goes away.
    void closeMaster();

  private:
    int master_ = -1;
    QString slave_;
    QString error_;
};

// The loader's end of a pseudo-terminal by its path (the simulator's pty or
// its alias): raw, non-blocking, and every read bounded by a deadline.
class PtyClient {
  public:
    using Clock = std::chrono::steady_clock;

    PtyClient() = default;
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;
    ~PtyClient() { close(); }

    bool open(const std::string& path);
    void close();
    bool send(std::string_view bytes);

    // Reads until `done` holds for everything read so far, or the timeout.
    std::string readUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout);

    // One plain-mode reply: everything up to and including CR LF.
    std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // True once the other side has gone: a hang-up, or a read that fails.
    bool waitForHangup(std::chrono::milliseconds timeout);

    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

}  // namespace vantrel::testing
