#pragma once

#include <QString>

#include "connection/port_naming.h"
#include "connection/ports/port_list.h"

namespace vantrel {

// How a port was named: COMn as in the window's port box, a device path, or
// a USB adapter by its identity ("usb:VID:PID[:SERIAL]").
enum class PortForm { ComN, Device, Usb };

// How a loader reaches the port the user named: what goes into its port
// box, and where that port box's number leads. A device path is port 1 of a
// resolver of its own, so nothing of the user's (aliases, environment) is
// read or changed, and several loaders in one process each reach their own
// device; a USB identity is port 1 too, looked for in `list()` at every open
// (a USB board's port appears only once it is powered).
struct PortChoice {
    QString portBoxText;
    PortResolver resolver;  // none for a USB identity that does not parse
};

PortChoice portChoiceFor(const QString& text, PortForm form, PortLister list = systemSerialPorts);

}  // namespace vantrel
