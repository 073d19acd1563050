#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "boardsim/board.h"
#include "boardsim/framing.h"
#include "boardsim/log_line.h"

namespace vantrel::boardsim {

// A reply that leaves in two parts: its first `after` bytes on the wire
// (Modbus framing included), then the rest `pause` later.
struct ReplySplit {
    std::size_t after = 0;
    Micros pause = 0;

    bool operator==(const ReplySplit&) const = default;
};

// Misbehaviour switched on for a test. Record commands (BOOT: and BOOT#, well
// formed or not) are counted from 1 over the whole run and over all boards,
// counting only commands a board took (right address, good CRC). Verify
// commands (BOOT#) are counted the same way on their own; replies are counted
// from 1 in the order they are sent, the answers to "BOOTi" included (a reply
// that is lost is not sent and so not counted).
struct Faults {
    std::set<long> silentRecords;                 // record commands whose reply is lost
    std::set<long> errorVerifies;                 // verify commands answered "ERROR" whatever they hold
    std::set<long> damagedReplies;                // replies sent with a broken CRC (Modbus)
    std::map<long, int> noiseBeforeReplies;       // reply -> random bytes sent right in front of it
    std::map<long, ReplySplit> splitReplies;      // reply -> where it is cut and how long it pauses
    std::optional<ReplySplit> splitEveryReply;    // for replies without their own entry
    std::set<long> doubledReplies;                // replies that go out twice, back to back
    std::set<long> droppedReplies;                // replies never sent (they still count)
    std::map<long, std::string> replacedReplies;  // reply -> the text sent instead (without CR LF)
    Micros dribbleGap = 0;                        // send replies one byte at a time, this far apart
    Micros replyDelay = 0;                        // wait this long before answering
    // reply -> how much later it leaves; the replies after it do not wait
    // for it, so a late one can come after the answer to a later command.
    std::map<long, Micros> lateReplies;
    double noisePercent = 0;  // chance of a random byte before each byte sent
    std::uint32_t noiseSeed = 1;
    long unplugAfterRecord = 0;  // port vanishes once this record is answered; 0: never
    // > 0: every end-of-file record is answered "OK" at once and "DOWNLOAD"
    // as a reply of its own this long after.
    Micros okBeforeDownload = 0;
};

struct SimConfig {
    bool modbus = false;
    std::vector<int> addresses{1};  // Modbus: one board per address
    BoardIdentity identity;
    Faults faults;
    long baud = 0;  // 0: no pacing; else 10 bits per byte each way
    // 0: the boards understand the host at any speed; else only when the
    // host's port is set to this many bits per second, as a board whose UART
    // is fixed at one speed would.
    long lineSpeed = 0;
    Micros frameGap = 50'000;
    std::size_t lineLimit = 1024;
    // Records every board holds in flash from the start, as if downloaded.
    std::vector<std::string> flashedRecords;
};

// The boards behind one port, with everything that is not I/O: cutting the
// byte stream into commands, routing them, faults, and when each reply byte
// goes out. Time is passed in, so it runs the same under test as for real.
class Simulator {
  public:
    using LogSink = std::function<void(const LogEntry&)>;

    explicit Simulator(SimConfig config, LogSink log = {});

    // Bytes read from the port at `now`. With a baud rate they reach the
    // boards one by one at wire speed: a command is taken at the time its
    // last byte arrives, as later calls to advance() come due.
    void receive(Micros now, std::string_view bytes);
    // The speed the host's port is set to (bits per second; 0: unknown).
    // With a line speed of its own, bytes sent at any other speed reach
    // the boards as nothing they can read.
    void setHostSpeed(Micros now, long bitsPerSecond);
    // Hands the boards the commands that have come due and settles quiet
    // Modbus lines.
    void advance(Micros now);
    // Reply bytes due to be written by `now`.
    std::string takeDue(Micros now);
    // When advance() or takeDue() next has something to do. With `gather`,
    // reply bytes that follow one another on the wire are let gather for up
    // to that long, so that they can be written together: the deadline is
    // the time the last of them is due.
    std::optional<Micros> nextDeadline(Micros gather = 0) const;

    bool outputPending() const { return !output_.empty(); }
    // The record named by unplugAfterRecord was answered: the port is to go.
    bool unplugRequested() const { return unplugRequested_; }
    // A new port after an unplug: the boards restart, flash kept.
    void reconnect(Micros now);
    // Writes an EV line.
    void note(Micros now, std::string message, std::optional<int> address = std::nullopt);

    std::size_t boardCount() const { return boards_.size(); }
    const Board& board(std::size_t index) const { return boards_.at(index); }
    long recordsSeen() const { return records_; }

  private:
    struct OutByte {
        Micros at;
        char byte;
        std::optional<LogEntry> log;  // logged when this, the first byte of a reply, goes out
    };

    void deliver(Micros at, char byte);
    void settle(Micros at);
    void handlePiece(Micros at, const Piece& piece);
    void command(Micros at, Board& board, std::string_view received);
    void queueReply(Micros at, int address, const std::string& text);
    void writeLog(LogEntry entry);
    std::optional<int> logAddress(int address) const;
    Micros byteTime() const;
    Micros frameGap() const;

    SimConfig config_;
    LogSink log_;
    std::vector<Board> boards_;
    LineSplitter lines_;
    FrameAssembler frames_;
    std::deque<std::pair<Micros, Piece>> pieces_;  // cut from the input, handled at their time
    std::deque<OutByte> output_;
    std::mt19937 noise_;
    Micros lineFreeIn_ = 0;
    Micros lineFreeOut_ = 0;
    Micros lastByteAt_ = 0;
    long hostSpeed_ = 0;
    long records_ = 0;
    long verifies_ = 0;
    long replies_ = 0;
    bool unplugRequested_ = false;
};

}  // namespace vantrel::boardsim
