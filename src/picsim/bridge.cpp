#include "picsim/bridge.h"

#include <cerrno>
#include <cmath>
#include <poll.h>
#include <unistd.h>

namespace vantrel::picsim {
namespace {

// gpsim gets back to us this often (simulated time): the pty's latency and
// the grain of the pacing.
constexpr double kTickSeconds = 250e-6;
// Behind the wall clock by more than this (the process was not scheduled),
// gpsim does not race to catch up, which would put characters on the wire
// faster than the line carries them: the lag is written off.
constexpr double kMaxLagSeconds = 0.001;
constexpr int kTimerTransmit = 0;
constexpr int kTimerTick = 1;
constexpr int kTimerReceived = 2;

}  // namespace

Bridge::Bridge(Chip& chip, Settings settings)
    : chip_(chip),
      settings_(settings),
      bitCycles_(static_cast<Cycles>(std::llround(chip.cyclesPerSecond() / static_cast<double>(settings.baud)))),
      tickCycles_(static_cast<Cycles>(chip.cyclesPerSecond() * kTickSeconds)),
      transmitter_(bitCycles_),
      receiver_(bitCycles_) {
    // A character from the chip goes to the host when its stop bit is over
    // on the wall clock too, not at the next tick.
    chip_.onTx([this](Cycles at, bool level) {
        receiver_.edge(at, level);
        if (const auto due = receiver_.due()) {
            chip_.at(kTimerReceived, *due, [this] {
                paceAndPoll();
                deliver(receiver_.take(chip_.now()));
            });
        }
    });
}

boardsim::Micros Bridge::micros() const {
    return static_cast<boardsim::Micros>(static_cast<double>(chip_.now()) / chip_.cyclesPerSecond() * 1e6);
}

double Bridge::simulatedSeconds() const {
    return static_cast<double>(chip_.now()) / chip_.cyclesPerSecond();
}

void Bridge::note(const std::string& text) {
    if (settings_.log == nullptr) return;
    boardsim::LogEntry entry{micros(), "EV", std::nullopt, {}, text};
    std::fputs((boardsim::formatLogLine(entry) + "\n").c_str(), settings_.log);
    std::fflush(settings_.log);
}

void Bridge::logged(const char* direction, std::string& pending, char c) {
    pending.push_back(c);
    if (c != '\n' && pending.size() < 600) return;
    if (settings_.log != nullptr) {
        boardsim::LogEntry entry{micros(), direction, std::nullopt, pending, {}};
        std::fputs((boardsim::formatLogLine(entry) + "\n").c_str(), settings_.log);
        std::fflush(settings_.log);
    }
    pending.clear();
}

void Bridge::send(const std::string& bytes) {
    transmitter_.queue(bytes);
    if (!transmitting_) {
        transmitting_ = true;
        chip_.at(kTimerTransmit, chip_.now() + 1, [this] { transmitStep(); });
    }
}

void Bridge::transmitStep() {
    const UartTransmitter::Step step = transmitter_.step(chip_.now());
    chip_.driveRx(step.level);
    if (step.sent) {
        const char c = *step.sent;
        logged("RX", logRx_, c);
        lineSent_.push_back(c);
        if (c == '\n') {
            // The whole line, LF included, has reached the chip's pin.
            if (lineSent_.starts_with("BOOT:")) ++recordsSent_;
            lineSent_.clear();
            if (settings_.resetAfterRecord && !resetDone_ && recordsSent_ >= *settings_.resetAfterRecord) {
                resetDone_ = true;
                resetChip("reset after record " + std::to_string(recordsSent_));
            }
        }
    }
    if (step.next) {
        chip_.at(kTimerTransmit, *step.next, [this] { transmitStep(); });
    } else {
        transmitting_ = false;
    }
}

void Bridge::resetChip(const std::string& why) {
    note(why);
    chip_.resetMclr();
}

void Bridge::deliver(const std::string& bytes) {
    for (const char c : bytes) {
        logged("TX", logTx_, c);
        if (replies_)
            replies_(c);
        else if (pty_ != nullptr)
            pendingOut_.push_back(c);
    }
    while (pty_ != nullptr && !pendingOut_.empty()) {
        const ssize_t written = write(pty_->master, pendingOut_.data(), pendingOut_.size());
        if (written > 0) {
            pendingOut_.erase(0, static_cast<std::size_t>(written));
        } else {
            // A full pty drops what does not fit, as a port nobody reads.
            if (written < 0 && errno != EAGAIN && errno != EINTR) pendingOut_.clear();
            if (pendingOut_.size() > 65536) pendingOut_.clear();
            break;
        }
    }
}

void Bridge::readHost() {
    if (pty_ == nullptr) return;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(pty_->master, buffer, sizeof buffer);
        if (got <= 0) break;
        send(std::string(buffer, static_cast<std::size_t>(got)));
    }
}

void Bridge::paceAndPoll() {
    using Clock = std::chrono::steady_clock;
    const double simulated = static_cast<double>(chip_.now() - simBase_) / chip_.cyclesPerSecond();
    for (;;) {
        const double wall = std::chrono::duration<double>(Clock::now() - wallBase_).count();
        const double ahead = simulated - wall;
        if (ahead < -kMaxLagSeconds) {
            lag_ += -ahead;
            simBase_ = chip_.now();
            wallBase_ = Clock::now();
        }
        timespec timeout{};
        if (ahead > 0) {
            timeout.tv_sec = static_cast<time_t>(ahead);
            timeout.tv_nsec = static_cast<long>((ahead - std::floor(ahead)) * 1e9);
        }
        pollfd fds[2] = {{boardsim::signalPipeFd(), POLLIN, 0}, {-1, POLLIN, 0}};
        if (pty_ != nullptr) fds[1].fd = pty_->master;
        const int ready = ppoll(fds, 2, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) {
            signalled_ = true;
            return;
        }
        if (fds[1].revents & POLLIN) readHost();
        if (ahead <= 0 || ready == 0) return;
    }
}

void Bridge::tick() {
    chip_.settlePins();
    paceAndPoll();
    deliver(receiver_.take(chip_.now()));
    if (signalled_ || (done_ && done_())) {
        chip_.stop();
        return;
    }
    chip_.at(kTimerTick, chip_.now() + tickCycles_, [this] { tick(); });
}

void Bridge::run(const std::function<bool()>& done) {
    done_ = done;
    simBase_ = chip_.now();
    wallBase_ = std::chrono::steady_clock::now();
    chip_.at(kTimerTick, chip_.now() + tickCycles_, [this] { tick(); });
    chip_.run();
    done_ = {};
}

}  // namespace vantrel::picsim
