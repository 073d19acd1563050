#pragma once

#include <functional>

#include <QString>

namespace vantrel {

// Where a port number leads: the device to open, and the name the port goes
// by in messages and in the frame trace.
struct PortLocation {
    QString device;  // empty: the number names no port
    QString name;
};

// Port numbers to devices. The port component is given one, so that nothing
// in the process decides for all ports at once: each component (a window, or
// each of several in one flasher) resolves its own.
using PortResolver = std::function<PortLocation(int number)>;

// The port number a port text names: the text from its fourth character on
// ("COM12" -> 12); the first three characters are not looked at. A text
// that is no 16-bit number raises vantrel::Failure.
qint16 portNumberOf(const QString& portText);

// Folder of the port aliases: links named comN in vantrel/ports under
// $XDG_CONFIG_HOME (default ~/.config).
QString portAliasDir();
// The same for a given XDG_CONFIG_HOME (empty: unset) and home folder.
QString portAliasDirFor(const QString& xdgConfigHome, const QString& home);

// Where port number n is reached, resolved anew at every call:
//  - Windows: "COMn".
//  - elsewhere: the alias comN when one exists (even if what it points at does
//    not exist yet), otherwise the first existing of ttyUSB{n-1}, ttyACM{n-1}
//    and ttyS{n-1} in devDir, otherwise ttyS{n-1} (whose open then fails).
// Empty for a number below 1, which names no port.
QString deviceForPort(int n, const QString& aliasDir = portAliasDir(), const QString& devDir = QStringLiteral("/dev"));

// How port n is reached, for messages: "COM3 -> /dev/ttyUSB2".
QString describePort(int n);

// The same for a resolved port: "COM3 -> /dev/ttyUSB2", with the target of
// an alias after it; just the name when the name is the device.
QString describeLocation(const PortLocation& location);

// The window's rule: port n is "COMn", reached as deviceForPort() finds it in
// the user's alias folder and /dev at the moment of each open.
PortResolver systemPortResolver();

// The window's rule with the aliases in `aliasDir` (and devices in `devDir`)
// instead of the user's: for tests and tools that keep aliases of their own.
PortResolver aliasFolderResolver(const QString& aliasDir, const QString& devDir = QStringLiteral("/dev"));

// One device, known by the name it was given, as port `number`; every other
// number names no port.
PortResolver singleDeviceResolver(int number, const QString& device, const QString& name);

}  // namespace vantrel
