#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "flasher/exit_codes.h"
#include "flasher/options.h"
#include "loader/platform.h"
#include "transfer/hex_check.h"

namespace vantrel::flasher {

// The file of a run, read once before anything else happens: the bytes, the
// lines the loader sends, their count and the bytes' SHA-256. Every board's
// loader is handed these lines (plannedFileReader), so the file hashed and
// the file sent are the same bytes.
struct PlannedFile {
    QString path;
    QByteArray bytes;
    QList<QByteArray> lines;
    QString sha256;
    std::optional<HexSummary> summary;  // what its records hold, when it was checked
    int lineCount() const { return static_cast<int>(lines.size()); }
};

// Whether a planned file's records are checked (--no-check skips it).
enum class FileCheck { Records, None };

// Reads `path` for a plan: a file the loader could not load, one without
// lines or (unless `check` is None) one that is not a sound Intel HEX file
// gives the reason instead, naming the file, and for a bad record its line,
// the record quoted and why.
std::shared_ptr<const PlannedFile> readPlannedFile(const QString& path, QString* why,
                                                   FileCheck check = FileCheck::Records);

// The summary `vantrel-flash --check` prints of a checked file: the file,
// lines, records, data bytes, address ranges and SHA-256.
QString fileSummaryText(const PlannedFile& file);

// The loader's file reader for a plan: the planned lines for the planned
// path; any other path fails as a missing file does.
std::unique_ptr<FileReader> plannedFileReader(std::shared_ptr<const PlannedFile> file);

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
    std::shared_ptr<const PlannedFile> file;  // for a download or a verify
    QList<PortPlan> ports;
    TimeLimits limits;
    FlashOptions options;

    bool needsFile() const { return action == Action::DownloadVerify || action == Action::VerifyOnly; }
};

// The plan of `options` without its file (readPlannedFile reads it).
FlashPlan planOf(const FlashOptions& options);

// The one board `options` names on its first port (a job run on its own).
Target firstTarget(const FlashOptions& options);

}  // namespace vantrel::flasher
