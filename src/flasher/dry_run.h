#pragma once

#include <map>
#include <memory>

#include <QString>

#include "flasher/flash_run.h"
#include "flasher/options.h"

namespace vantrel::boardsim {
class SimulatedPort;
}

namespace vantrel::flasher {

// The simulated board's options a dry run uses: those given with
// --dry-run-with, or boards that match the command line (plain mode, or one
// board at each Modbus address asked for; a search finds one at address 1;
// for --verify-only they hold the file already).
QString dryRunBoardOptions(const FlashOptions& options);

// The simulated boards of a dry run: what vantrel-boardsim plays on a
// pseudo-terminal, in this process, on the machine's clock. Each port has
// its own simulator, kept for the whole run, so the bus a search found is
// the bus that is flashed, board after board.
class SimulatedBoards : public std::enable_shared_from_this<SimulatedBoards> {
  public:
    // Every port with boards of `boardOptions` (the simulated board's own
    // options); null, with `error` set, when they are not its options.
    static std::shared_ptr<SimulatedBoards> make(const QString& boardOptions, QString* error);

    // Gives port `port` boards of its own options instead.
    bool configure(const QString& port, const QString& boardOptions, QString* error);

    // Ports for the run's jobs: each job gets its own port component, in
    // front of the port's one simulator.
    PortFactory factory();

    // The simulator behind a port, once a job has used it.
    const boardsim::SimulatedPort* port(const QString& name) const;

  private:
    SimulatedBoards() = default;
    boardsim::SimulatedPort& simulatorFor(const QString& name);

    QString defaultOptions_;
    std::map<QString, QString> portOptions_;
    std::map<QString, std::shared_ptr<boardsim::SimulatedPort>> ports_;
};

}  // namespace vantrel::flasher
