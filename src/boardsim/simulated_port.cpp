#include "boardsim/simulated_port.h"

#include <algorithm>
#include <chrono>

#include "common/failure.h"

namespace vantrel::boardsim {
namespace {

// The component hands out a 16-bit count, as the real adapter does.
constexpr qsizetype kMaxBatch = 32767;

Options optionsWith(SimConfig config) {
    Options options;
    options.sim = std::move(config);
    return options;
}

}  // namespace

Clock steadyClock() {
    return [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
}

SimulatedPort::SimulatedPort(Options options, Clock clock)
    : options_(std::move(options)),
      clock_(std::move(clock)),
      origin_(clock_()),
      sim_(options_.sim, [this](const LogEntry& entry) { log_.push_back(entry); }),
      lifecycle_(options_.appearAfter, options_.replugAfter) {
    sim_.note(0, ("ready in-process " + portName()).trimmed().toStdString());
    receiveTimer_.setSingleShot(true);
    receiveTimer_.setTimerType(Qt::PreciseTimer);
    receiveTimer_.callOnTimeout([this] { onReceiveTimer(); });
}

SimulatedPort::SimulatedPort(SimConfig config, Clock clock)
    : SimulatedPort(optionsWith(std::move(config)), std::move(clock)) {}

Micros SimulatedPort::now() const {
    return clock_() - origin_;
}

QString SimulatedPort::portName() const {
    return options_.com ? QStringLiteral("COM%1").arg(*options_.com) : QString();
}

void SimulatedPort::setSettings(const QString& settings) {
    settings_ = settings;
    // "115200,N,8,1": the speed is the part before the first comma.
    sim_.setHostSpeed(now(), settings.section(u',', 0, 0).toLong());
}

void SimulatedPort::setCommPort(qint16 number) {
    commPort_ = number;
}

bool SimulatedPort::present(Micros t) const {
    if (!lifecycle_.present(t)) return false;
    return !options_.com || *options_.com == commPort_;
}

void SimulatedPort::setPortOpen(bool open) {
    const Micros t = now();
    catchUp(t);
    if (!open) {
        open_ = false;
        return;
    }
    if (open_)
        throw vantrel::Failure(vantrel::failure::kPortAlreadyOpen,
                               QStringLiteral("COM%1: port already open").arg(commPort_));
    ++openAttempts_;
    if (!present(t))
        throw vantrel::Failure(vantrel::failure::kPortInvalid, QStringLiteral("COM%1: no such device").arg(commPort_));
    open_ = true;
    // Opening a port discards what was waiting in it.
    buffer_.clear();
    announce();
}

bool SimulatedPort::portOpen() const {
    return open_;
}

void SimulatedPort::requireOpen() const {
    if (!open_) throw vantrel::Failure(vantrel::failure::kPortNotOpen, QStringLiteral("The port is not open"));
}

void SimulatedPort::setOutput(const QByteArray& data) {
    const Micros t = now();
    catchUp(t);
    requireOpen();
    sim_.receive(t, std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    unplugWhenDrained(t);
    announce();
}

qint16 SimulatedPort::inBufferCount() {
    catchUp(now());
    requireOpen();
    return static_cast<qint16>(std::min(buffer_.size(), kMaxBatch));
}

QByteArray SimulatedPort::input() {
    const Micros t = now();
    catchUp(t);
    requireOpen();
    QByteArray batch = buffer_.left(kMaxBatch);
    buffer_.remove(0, batch.size());
    // The unplug reply has been read: the device goes now.
    unplugWhenDrained(t);
    return batch;
}

void SimulatedPort::catchUp(Micros t) {
    if (const auto appeared = lifecycle_.takeAppear(t))
        sim_.note(*appeared, ("appeared " + portName()).trimmed().toStdString());
    if (const auto replugged = lifecycle_.takeReplug(t)) {
        sim_.reconnect(*replugged);
        sim_.note(*replugged, ("replugged in-process " + portName()).trimmed().toStdString());
    }
    if (lifecycle_.gone()) return;
    // Step through every moment the boards had something to do, so each
    // reply is logged at the time it left, not at the time it was read.
    while (const auto next = sim_.nextDeadline()) {
        if (*next > t) break;
        sim_.advance(*next);
        const std::string due = sim_.takeDue(*next);
        buffer_.append(due.data(), static_cast<qsizetype>(due.size()));
        if (sim_.nextDeadline() == next) break;  // nothing left to do at that moment
    }
    sim_.advance(t);
    const std::string due = sim_.takeDue(t);
    buffer_.append(due.data(), static_cast<qsizetype>(due.size()));
    unplugWhenDrained(t);
}

void SimulatedPort::unplugWhenDrained(Micros t) {
    if (lifecycle_.gone() || !sim_.unplugRequested() || sim_.outputPending()) return;
    // Bytes left in a closed port are never read; an open one is given time.
    const bool read = buffer_.isEmpty() || !open_;
    if (!lifecycle_.unplugDue(t, read)) return;
    open_ = false;
    buffer_.clear();
    sim_.note(t, "unplugged");
    lifecycle_.unplugged(t);
}

void SimulatedPort::setReceiveEvent(std::function<void()> onReceive) {
    onReceive_ = std::move(onReceive);
    announce();
}

void SimulatedPort::announce() {
    if (!onReceive_ || !open_ || lifecycle_.gone()) {
        receiveTimer_.stop();
        return;
    }
    if (!buffer_.isEmpty()) {
        receiveTimer_.start(0);
        return;
    }
    const std::optional<Micros> next = sim_.nextDeadline();
    if (!next) {
        receiveTimer_.stop();
        return;
    }
    // Whole milliseconds, rounded up: the event never comes before the bytes.
    const Micros wait = std::max<Micros>(0, *next - now());
    receiveTimer_.start(static_cast<int>((wait + 999) / 1000));
}

void SimulatedPort::onReceiveTimer() {
    catchUp(now());
    if (open_ && !buffer_.isEmpty() && onReceive_) {
        // The event may close the port, or set another event: run a copy.
        const std::function<void()> onReceive = onReceive_;
        onReceive();
    }
    if (!receiveTimer_.isActive()) announce();
}

std::vector<std::string> SimulatedPort::commands() const {
    std::vector<std::string> out;
    for (const LogEntry& entry : log_) {
        if (entry.direction == "RX") out.push_back(entry.bytes);
    }
    return out;
}

}  // namespace vantrel::boardsim
