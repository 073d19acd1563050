#pragma once

#include <optional>

#include <QList>
#include <QString>

#include "connection/port_naming.h"
#include "connection/ports/port_list.h"

namespace vantrel {

// A port named by the identity of its USB adapter: "usb:VID:PID[:SERIAL]",
// the values `--list` shows. Device paths of USB adapters change with the
// order they are plugged in; the identity does not.
struct UsbPortId {
    quint16 vendorId = 0;
    quint16 productId = 0;
    std::optional<QString> serialNumber;  // none: any serial number
    bool operator==(const UsbPortId&) const = default;
};

// Whether a port text is meant as a USB identity: it starts with "usb:" (in
// either case).
bool namesUsbPort(const QString& text);

// "usb:0403:6001:A10K1XYZ" -> its parts: VID and PID as four hex digits each
// (either case), then optionally ':' and the serial number as `--list` shows
// it (the rest of the text, not empty). Anything else gives the reason.
std::optional<UsbPortId> parseUsbPortId(const QString& text, QString* why);

// The ports of `ports` that carry this identity, in their order.
QList<SerialPortEntry> usbMatches(const UsbPortId& id, const QList<SerialPortEntry>& ports);

// "/dev/ttyUSB0  USB id 0403:6001  serial number A10K1XYZ", one line a port,
// each indented by `indent`; "(no serial ports found)" for none.
QString describePorts(const QList<SerialPortEntry>& ports, const QString& indent);

// What stands in the way of a run on a USB-named port, before anything
// opens: several matching ports (the identity names no one port), or none,
// unless the run waits for the board's USB port to appear (`waitsForPort`).
// The message names the port as given (`label`) and lists the candidates.
struct UsbPortProblem {
    enum class Kind { Several, None };
    Kind kind = Kind::Several;
    QString message;
};
std::optional<UsbPortProblem> usbPortProblem(const QString& label, const UsbPortId& id,
                                             const QList<SerialPortEntry>& ports, bool waitsForPort);

// A resolver whose port 1 is the one port carrying `id`, looked up in
// `list()` at every call (every open attempt: a USB board's port appears
// only once it is powered). None or several raise a vantrel::Failure that
// says which; the port is named `label` in messages and the trace.
PortResolver usbPortResolver(const UsbPortId& id, const QString& label, PortLister list);

}  // namespace vantrel
