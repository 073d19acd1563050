#pragma once

#include <QString>

#include "flasher/flash_run.h"
#include "flasher/options.h"

namespace vantrel::flasher {

// The simulated board's options a dry run uses: those given with
// --dry-run-with, or boards that match the command line (plain mode, or one
// board at each Modbus address asked for; a search finds one at address 1).
QString dryRunBoardOptions(const FlashOptions& options);

// Ports with simulated boards behind them, on the machine's clock, each port
// with boards of its own: what vantrel-boardsim plays on a pseudo-terminal,
// in this process. Empty, with `error` set, when the board options are not
// the simulated board's.
PortFactory simulatedPortFactory(const FlashOptions& options, QString* error);

}  // namespace vantrel::flasher
