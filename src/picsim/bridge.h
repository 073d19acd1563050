#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "boardsim/log_line.h"
#include "boardsim/pty.h"
#include "picsim/chip.h"
#include "picsim/uart_wire.h"

namespace vantrel::picsim {

// Joins the chip's USART to a host: characters from the host go onto RC7
// with the bit timing of the line (whether or not the chip is ready for
// them: a character the chip misses is lost, as on a real one), levels on
// RC6 are read back into characters. From a cycle break every tick it keeps
// gpsim in step with the wall clock, sleeping in ppoll on the pty and the
// signal pipe, so the pty is polled on gpsim's own thread.
class Bridge {
  public:
    struct Settings {
        long baud = 115200;
        std::optional<int> resetAfterRecord;
        FILE* log = nullptr;
    };

    Bridge(Chip& chip, Settings settings);

    // The host's side: the pty, once there is one to serve.
    void attach(boardsim::Pty* pty) { pty_ = pty; }

    // Runs the chip in real time until a signal comes or `done` (checked
    // each tick) holds. Characters the chip sends go to the pty, or, while
    // `replies` is set, to it instead.
    void run(const std::function<bool()>& done = {});
    bool signalled() const { return signalled_; }

    // Host bytes, as from the pty.
    void send(const std::string& bytes);
    void onReply(std::function<void(char)> replies) { replies_ = std::move(replies); }

    void resetChip(const std::string& why);
    void note(const std::string& text);

    // Processor time used and simulated time passed, for the bench.
    double simulatedSeconds() const;
    // How far gpsim has fallen behind the wall clock in all (seconds).
    double lagSeconds() const { return lag_; }

  private:
    void transmitStep();
    void tick();
    void paceAndPoll();
    void readHost();
    void deliver(const std::string& bytes);
    void logged(const char* direction, std::string& pending, char c);
    boardsim::Micros micros() const;

    Chip& chip_;
    Settings settings_;
    Cycles bitCycles_;
    Cycles tickCycles_;
    UartTransmitter transmitter_;
    UartReceiver receiver_;
    boardsim::Pty* pty_ = nullptr;
    std::function<void(char)> replies_;
    std::function<bool()> done_;
    bool transmitting_ = false;
    bool signalled_ = false;
    std::string pendingOut_;  // reply bytes the pty did not take yet

    std::string lineSent_;  // the host line going onto the wire
    int recordsSent_ = 0;
    bool resetDone_ = false;

    std::string logRx_, logTx_;

    Cycles simBase_ = 0;
    std::chrono::steady_clock::time_point wallBase_;
    double lag_ = 0;
};

}  // namespace vantrel::picsim
