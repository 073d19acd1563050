#include "flasher/port_choice.h"

#include <QFileInfo>

namespace vantrel::flasher {

PortChoice portChoiceFor(const FlashOptions& options) {
    if (!options.portIsDevice) return {options.port, systemPortResolver()};
    // The device keeps the name it was given (a /dev/serial/by-id name stays
    // one in every message); a relative path is taken from the current folder.
    return {QStringLiteral("COM1"), singleDeviceResolver(1, QFileInfo(options.port).absoluteFilePath(), options.port)};
}

}  // namespace vantrel::flasher
