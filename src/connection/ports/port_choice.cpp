#include "connection/ports/port_choice.h"

#include <optional>

#include <QFileInfo>

#include "connection/ports/usb_port.h"

namespace vantrel {

PortChoice portChoiceFor(const QString& text, PortForm form, PortLister list) {
    switch (form) {
        case PortForm::ComN:
            return {text, systemPortResolver()};
        case PortForm::Device:
            // The device keeps the name it was given (a /dev/serial/by-id name
            // stays one in every message); a relative path is taken from the
            // current folder.
            return {QStringLiteral("COM1"), singleDeviceResolver(1, QFileInfo(text).absoluteFilePath(), text)};
        case PortForm::Usb:
            break;
    }
    PortChoice choice{QStringLiteral("COM1"), {}};
    if (const std::optional<UsbPortId> id = parseUsbPortId(text, nullptr))
        choice.resolver = usbPortResolver(*id, text, std::move(list));
    return choice;
}

}  // namespace vantrel
