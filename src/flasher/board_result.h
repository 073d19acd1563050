#pragma once

#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include "flasher/exit_codes.h"
#include "flasher/options.h"

namespace vantrel::flasher {

// What happened to one board of a run: a line of the summary, an object of
// the report.
struct BoardResult {
    QString port;                        // as the user gave it
    QString device;                      // the device it was reached at
    std::optional<int> address;          // Modbus address; none in plain mode
    QString file;                        // as given; empty when the run loads none
    QString sha256;                      // of the file, lower-case hex
    int lines = 0;                       // lines of the file
    QString version;                     // the bootloader's answer to the version query
    QString result;                      // "END", "ERROR", "FORMAT", "no board", "no reply", ...
    ExitCode code = ExitCode::Internal;  // what a run of this board alone would have ended with
    QString message;                     // the flasher's last word on it
    QDateTime started;                   // UTC
    double seconds = 0.0;
    int retries = 0;  // file lines written again for want of a reply
    QString speed;    // the line's speed the board was reached at ("19200", "usb"); empty when none answered
};

// The word for an outcome, as the summary and the report give it.
QString resultName(ExitCode code, Action action);

// "COM3 @7", "/dev/ttyUSB0", "COM3 @search".
QString boardLabel(const QString& port, std::optional<int> address);

// The report: a JSON array with one object per board, in the order given,
// each with the keys port, device, address (null in plain mode), file,
// sha256, lines, version, result, exit_code, message, started (ISO 8601, UTC),
// seconds, retries and speed (null when no speed answered).
QByteArray reportJson(const QList<BoardResult>& boards);

// The summary's first line: the boards, how many ended how (in the order the
// outcomes first appear) and the run's whole time:
// "summary: 6 boards: 5 END, 1 ERROR in 12.4 s".
QString summaryHeadline(const QList<BoardResult>& boards, double seconds);

// The run's exit code: 0 when every board succeeded, otherwise the code of
// the first board that failed, in the order given.
ExitCode runExitCode(const QList<BoardResult>& boards);

}  // namespace vantrel::flasher
