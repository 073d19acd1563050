#pragma once

namespace vantrel::flasher {

// What a production script can act on. The numbers are part of the
// program's interface (docs/flasher.md): never renumber, only add.
enum class ExitCode : int {
    Success = 0,            // "END", the version read, the address set
    Internal = 1,           // something the flasher did not expect
    Usage = 2,              // the command line cannot be carried out
    PortNotOpened = 3,      // the serial port could not be opened
    NoBoard = 4,            // the probe gave up: no bootloader answered
    FileUnreadable = 5,     // the HEX file could not be read
    BoardError = 6,         // the board answered "ERROR"
    BoardFormat = 7,        // the board answered "FORMAT": it refused a command as malformed
    NoReply = 8,            // no reply within --timeout of the last write
    ConnectionLost = 9,     // the port went away during the job (unplugged, powered off)
    ReportUnwritable = 10,  // --report names a file that cannot be written
    NoEndOfFile = 11,       // every line was sent and the board never said "DOWNLOAD" (--no-check)
};

inline int toInt(ExitCode code) {
    return static_cast<int>(code);
}

// Short stable name, as the documentation's table lists it.
const char* exitCodeName(ExitCode code);

inline constexpr ExitCode kAllExitCodes[] = {
    ExitCode::Success,        ExitCode::Internal,         ExitCode::Usage,
    ExitCode::PortNotOpened,  ExitCode::NoBoard,          ExitCode::FileUnreadable,
    ExitCode::BoardError,     ExitCode::BoardFormat,      ExitCode::NoReply,
    ExitCode::ConnectionLost, ExitCode::ReportUnwritable, ExitCode::NoEndOfFile,
};

}  // namespace vantrel::flasher
