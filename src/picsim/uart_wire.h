#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace vantrel::picsim {

// Time on the simulated chip, in instruction cycles.
using Cycles = std::uint64_t;

// The host's side of an 8N1 line, in instruction cycles: characters to the
// chip become levels with real bit timing; levels from the chip become
// characters. Nothing here waits for the chip: a character goes out whether
// or not the chip is ready to take it, as a real host's UART sends.
class UartTransmitter {
  public:
    explicit UartTransmitter(Cycles bitCycles) : bitCycles_(bitCycles) {}

    void setBitCycles(Cycles bitCycles) { bitCycles_ = bitCycles; }
    void queue(const std::string& bytes) { waiting_.insert(waiting_.end(), bytes.begin(), bytes.end()); }
    bool idle() const { return !busy_ && waiting_.empty(); }
    std::size_t waiting() const { return waiting_.size(); }
    // Drops what was not sent yet (a host closing its port).
    void clearWaiting() { waiting_.clear(); }

    // The level the line has at `now`, and when it next changes (nullopt:
    // idle). Call at or after each time it returned; `sent` gets the
    // character whose stop bit has just ended.
    struct Step {
        bool level = true;
        std::optional<Cycles> next;
        std::optional<char> sent;
    };
    Step step(Cycles now);

  private:
    Cycles bitCycles_;
    std::deque<char> waiting_;
    bool busy_ = false;
    unsigned char current_ = 0;
    int bit_ = 0;  // 0 start, 1..8 data, 9 stop
    Cycles bitStart_ = 0;
};

class UartReceiver {
  public:
    explicit UartReceiver(Cycles bitCycles) : bitCycles_(bitCycles) {}

    void setBitCycles(Cycles bitCycles) { bitCycles_ = bitCycles; }
    // The line changed to `level` at `at` (times never go back).
    void edge(Cycles at, bool level);
    // Completes a character whose stop bit is due by `now`; characters that
    // ended are handed out in order.
    std::string take(Cycles now);
    // When the character on the line, if any, is complete.
    std::optional<Cycles> due() const;
    // Characters whose stop bit was low (a break, or a speed mismatch).
    unsigned framingErrors() const { return framingErrors_; }

  private:
    bool levelAt(Cycles at) const;
    void finish();

    Cycles bitCycles_;
    bool level_ = true;
    std::optional<Cycles> start_;
    // Edges inside the character being received.
    std::deque<std::pair<Cycles, bool>> edges_;
    std::string out_;
    unsigned framingErrors_ = 0;
};

}  // namespace vantrel::picsim
