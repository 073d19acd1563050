#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QTimer>

#include "boardsim/options.h"
#include "boardsim/port_lifecycle.h"
#include "boardsim/simulator.h"
#include "connection/serial_component.h"

namespace vantrel::boardsim {

// Microseconds on some clock; a port counts its time from its first reading.
using Clock = std::function<Micros()>;

// A clock that moves only when told, for tests that step time by hand.
class VirtualClock {
  public:
    Micros now() const { return now_; }
    void advance(Micros by) { now_ += by; }
    // Reads this clock, which must outlive the reader.
    Clock reader() {
        return [this] { return now_; };
    }

  private:
    Micros now_ = 0;
};

// The machine's monotonic clock.
Clock steadyClock();

// The simulated boards behind the window's serial port interface, in the
// same process: what boardsim does on a pty, with time read from a clock at
// each call instead of a poll loop, so a test on a VirtualClock runs the
// same every time and takes no real time.
//
// - Open succeeds unless the port is not there: with --com N only port N
//   exists; with --appear-after it exists only from that time on; after an
//   --unplug-after it is gone, until --replug-after brings it back with the
//   boards restarted. A missing port fails as "no such device".
// - Written bytes reach the boards at the time of the write; reply bytes are
//   waiting from the time they are due. Bytes waiting when the port opens
//   are dropped, as a real port's open does.
// - Once the record named by --unplug-after is answered and its reply read,
//   the port reads closed, and writes and polls fail as on a vanished device.
// - Like the QSerialPort adapter it has the receive event: while the port is
//   open, a timer on the event loop runs it once reply bytes are waiting,
//   at the time they are due on the port's clock.
// --log and --ports-dir have no meaning here; the log is kept in memory.
class SimulatedPort final : public vantrel::SerialComponent {
  public:
    SimulatedPort(Options options, Clock clock);
    SimulatedPort(SimConfig config, Clock clock);
    SimulatedPort(const SimulatedPort&) = delete;
    SimulatedPort& operator=(const SimulatedPort&) = delete;

    // --- The component --------------------------------------------------
    void setSettings(const QString& settings) override;
    void setCommPort(qint16 number) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void setOutput(const QByteArray& data) override;
    qint16 inBufferCount() override;
    QByteArray input() override;
    void setReceiveEvent(std::function<void()> onReceive) override;

    // --- What happened --------------------------------------------------
    const QString& settings() const { return settings_; }
    qint16 commPort() const { return commPort_; }
    int openAttempts() const { return openAttempts_; }
    // Every entry the executable would write to its log file, in order.
    const std::vector<LogEntry>& log() const { return log_; }
    // The commands the boards took (RX), as received.
    std::vector<std::string> commands() const;
    std::size_t boardCount() const { return sim_.boardCount(); }
    const Board& board(std::size_t index) const { return sim_.board(index); }
    // Microseconds since the port was made.
    Micros now() const;

  private:
    // Brings the port and the boards up to `t`: appearing, replugging,
    // inputs delivered and replies due moved into the input buffer.
    void catchUp(Micros t);
    void unplugWhenDrained(Micros t);
    // Sets the receive event's timer for the next reply bytes, if any.
    void announce();
    void onReceiveTimer();
    bool present(Micros t) const;
    void requireOpen() const;
    QString portName() const;

    Options options_;
    Clock clock_;
    Micros origin_ = 0;
    std::vector<LogEntry> log_;
    Simulator sim_;
    PortLifecycle lifecycle_;

    QString settings_;
    qint16 commPort_ = 0;
    int openAttempts_ = 0;
    bool open_ = false;
    QByteArray buffer_;
    std::function<void()> onReceive_;
    QTimer receiveTimer_;
};

}  // namespace vantrel::boardsim
