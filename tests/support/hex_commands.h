#pragma once

// What the tool must put on the line for a HEX file, worked out apart from
// the loader's code: the one oracle of the transfer tests, the flasher's
// tests and the simulator's tests.

#include <QByteArray>
#include <QList>
#include <QString>

namespace vantrel::testing {

// The lines of a HEX file as the loader reads them: each ends at CR LF, LF,
// CR or ','; a line end after the last line adds no empty one. Empty when the
// file cannot be read.
QList<QByteArray> hexFileLines(const QString& path);

// A line in the download pass: "BOOT", the line, CR LF.
QByteArray downloadCommand(const QByteArray& line);
// A line in the verify pass: the same with every ':' as '#'.
QByteArray verifyCommand(const QByteArray& line);
// A whole transfer: every line in the download form, then every line in the
// verify form.
QList<QByteArray> downloadAndVerifyCommands(const QList<QByteArray>& lines);

}  // namespace vantrel::testing
