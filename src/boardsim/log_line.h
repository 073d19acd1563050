#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::boardsim {

// Microseconds since the simulator started.
using Micros = std::int64_t;

// One line of the traffic log:
//   <ms> <dir> <addr> <hex> <text>
// dir  RX  command received by a board (bytes: the command with its CR LF)
//      TX  reply sent (bytes: the reply text, without Modbus framing)
//      IG  bytes no board took (hex: the bytes; text: why)
//      EV  event (hex "-"; text: what happened)
// addr the board's Modbus address in decimal, "-" in plain mode
// hex  upper-case hex of the bytes, "-" when there are none
// text the bytes with \r \n \\ and \xNN escapes (for IG and EV: a message)
// The simulator writes it with formatLogLine and the tests read it back with
// parseLogLine, so the two can never disagree on the format.
struct LogEntry {
    Micros at = 0;
    std::string direction;
    std::optional<int> address;
    std::string bytes;
    std::string text;  // empty for RX/TX: the escaped bytes are written

    bool operator==(const LogEntry&) const = default;
};

std::string formatLogLine(const LogEntry& entry);
// The entry a log line holds, its time in whole milliseconds; nullopt when
// it is no log line. RX and TX lines come back with an empty text: their
// text column only shows the bytes.
std::optional<LogEntry> parseLogLine(std::string_view line);
std::string toHex(std::string_view bytes);
std::string escapeText(std::string_view bytes);

}  // namespace vantrel::boardsim
