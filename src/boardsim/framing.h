#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::boardsim {

// [address][payload][CRC lo][CRC hi]
std::string buildFrame(std::uint8_t address, std::string_view payload);

// A piece cut out of the incoming byte stream.
struct Piece {
    enum class Kind {
        Command,   // plain: one line; Modbus: a frame whose CRC holds
        Garbage,   // Modbus: bytes that form no frame (bad CRC, noise)
        Overflow,  // plain: a line too long for the receive buffer
    };
    Kind kind = Kind::Command;
    std::string bytes;  // as received, line ending and framing included
};

// Plain mode: commands end at CR LF. A bootloader has a small receive buffer,
// so a line that grows past `limit` bytes without an ending is thrown away.
class LineSplitter {
  public:
    explicit LineSplitter(std::size_t limit = 1024) : limit_(limit) {}

    std::vector<Piece> push(char byte);
    void clear() { buffer_.clear(); }

  private:
    std::size_t limit_;
    std::string buffer_;
};

// Modbus RTU: frames arrive whole in one write, but the pty may hand them over
// split or run together. A frame ends at the first point where the bytes so
// far end in CR LF plus two bytes and the CRC over all of them checks (the
// CRC over a frame including its own CRC is zero). Bytes that never make
// such a frame are settled when the line has been quiet for the frame gap:
// the whole rest is one frame if its CRC checks (a command without CR LF),
// otherwise any frame found further in is kept and the rest is garbage.
class FrameAssembler {
  public:
    explicit FrameAssembler(std::size_t limit = 4096) : limit_(limit) {}

    std::vector<Piece> push(char byte);
    // Called once the line has been quiet for the frame gap.
    std::vector<Piece> settle();
    bool empty() const { return buffer_.empty(); }
    void clear();

  private:
    std::size_t limit_;
    std::string buffer_;
    std::uint16_t runningCrc_ = 0xFFFF;
};

// The command inside a good frame: without address, CRC and trailing CR LF.
std::string_view framePayload(std::string_view frame);
std::string_view stripLineEnd(std::string_view text);

}  // namespace vantrel::boardsim
