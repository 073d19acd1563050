#pragma once

#include <QString>

namespace vantrel {

// Folder of the port aliases: links named comN in vantrel/ports under
// $XDG_CONFIG_HOME (default ~/.config).
QString portAliasDir();

// Where port number n is reached, resolved anew at every call:
//  - Windows: "COMn".
//  - elsewhere: the alias comN when one exists (even if what it points at does
//    not exist yet), otherwise the first existing of ttyUSB{n-1}, ttyACM{n-1}
//    and ttyS{n-1} in devDir, otherwise ttyS{n-1} (whose open then fails).
// Empty for a number below 1, which names no port.
QString deviceForPort(int n, const QString& aliasDir = portAliasDir(), const QString& devDir = QStringLiteral("/dev"));

// How port n is reached, for messages: "COM3 -> /dev/ttyUSB2".
QString describePort(int n);

}  // namespace vantrel
