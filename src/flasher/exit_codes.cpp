#include "flasher/exit_codes.h"

namespace vantrel::flasher {

const char* exitCodeName(ExitCode code) {
    switch (code) {
        case ExitCode::Success:
            return "success";
        case ExitCode::Internal:
            return "internal";
        case ExitCode::Usage:
            return "usage";
        case ExitCode::PortNotOpened:
            return "port-not-opened";
        case ExitCode::NoBoard:
            return "no-board";
        case ExitCode::FileUnreadable:
            return "file-unreadable";
        case ExitCode::BoardError:
            return "board-error";
        case ExitCode::BoardFormat:
            return "board-format";
        case ExitCode::NoReply:
            return "no-reply";
        case ExitCode::ConnectionLost:
            return "connection-lost";
        case ExitCode::ReportUnwritable:
            return "report-unwritable";
        case ExitCode::NoEndOfFile:
            return "no-end-of-file";
    }
    return "unknown";
}

}  // namespace vantrel::flasher
