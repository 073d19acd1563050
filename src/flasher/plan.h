#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "flasher/exit_codes.h"
#include "flasher/options.h"
#include "transfer/hex_image.h"

namespace vantrel::flasher {

// One board to reach: on a port, the one board of a plain line, the board at
// a Modbus address, or whichever answers an address search.
struct Target {
    enum class Kind { Plain, Address, Search };
    PortName port;
    Kind kind = Kind::Plain;
    int address = 0;  // Kind::Address: 1..247
    bool operator==(const Target&) const = default;
};

// A port of a run: its boards one after the other; with `searchFirst` they
// are the ones a search of the bus finds.
struct PortPlan {
    PortName port;
    bool searchFirst = false;
    QList<Target> boards;  // empty until the search when searchFirst
};

// How long the run waits.
struct TimeLimits {
    int replyMs = 5000;  // for a reply, from the last write
};

// The command line, checked, before anything runs: what to do, the file,
// every target, the time limits, and the rest of the options as given.
struct FlashPlan {
    Action action = Action::DownloadVerify;
    std::shared_ptr<const HexImage> file;  // for a download or a verify
    QList<PortPlan> ports;
    TimeLimits limits;
    FlashOptions options;

    bool needsFile() const { return action == Action::DownloadVerify || action == Action::VerifyOnly; }
};

// The plan of `options` without its file (readHexImage reads it).
FlashPlan planOf(const FlashOptions& options);

// The one board `options` names on its first port (a job run on its own).
Target firstTarget(const FlashOptions& options);

}  // namespace vantrel::flasher
