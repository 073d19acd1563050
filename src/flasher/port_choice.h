#pragma once

#include <QString>

#include "connection/port_naming.h"
#include "flasher/options.h"

namespace vantrel::flasher {

// How the loader of a run reaches the port the user named: what goes into
// its port box, and where that port box's number leads. A device path is
// port 1 of a resolver of the run's own, so nothing of the user's (aliases,
// environment) is read or changed, and several runs in one process each
// reach their own device.
struct PortChoice {
    QString portBoxText;
    PortResolver resolver;
};

PortChoice portChoiceFor(const FlashOptions& options);

}  // namespace vantrel::flasher
