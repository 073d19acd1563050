#include "connection/ports/usb_port.h"

#include <QRegularExpression>
#include <QStringList>

#include "common/failure.h"

namespace vantrel {
namespace {

const QString kPrefix = QStringLiteral("usb:");

QString hex4(quint16 value) {
    return QStringLiteral("%1").arg(value, 4, 16, QChar(u'0'));
}

QString idText(const UsbPortId& id) {
    QString text = QStringLiteral("USB id %1:%2").arg(hex4(id.vendorId), hex4(id.productId));
    if (id.serialNumber) text += QStringLiteral(" and serial number ") + *id.serialNumber;
    return text;
}

std::optional<quint16> hexField(const QString& text) {
    static const QRegularExpression fourHexDigits(QStringLiteral("^[0-9A-Fa-f]{4}$"));
    if (!fourHexDigits.match(text).hasMatch()) return std::nullopt;
    return static_cast<quint16>(text.toUInt(nullptr, 16));
}

QString noPortText(const QString& label, const UsbPortId& id) {
    return QStringLiteral("%1: no serial port with %2 is connected").arg(label, idText(id));
}

QString severalPortsText(const QString& label, const QList<SerialPortEntry>& matches) {
    return QStringLiteral(
               "%1 matches %2 serial ports; name one by its serial number (usb:VID:PID:SERIAL) or its "
               "device path:\n%3")
        .arg(label)
        .arg(matches.size())
        .arg(describePorts(matches, QStringLiteral("    ")));
}

}  // namespace

bool namesUsbPort(const QString& text) {
    return text.startsWith(kPrefix, Qt::CaseInsensitive);
}

std::optional<UsbPortId> parseUsbPortId(const QString& text, QString* why) {
    const auto fail = [&](const QString& reason) -> std::optional<UsbPortId> {
        if (why != nullptr)
            *why = QStringLiteral(
                       "\"%1\": %2; give usb:VID:PID or usb:VID:PID:SERIAL as --list shows them "
                       "(usb:0403:6001:A10K1XYZ)")
                       .arg(text, reason);
        return std::nullopt;
    };
    if (!namesUsbPort(text)) return fail(QStringLiteral("not a USB id"));
    const QString rest = text.mid(kPrefix.size());
    // The serial number is the rest after the product id, colons and all.
    const QStringList parts = rest.split(u':');
    if (parts.size() < 2) return fail(QStringLiteral("the vendor and the product id are both needed"));
    UsbPortId id;
    const auto vendor = hexField(parts[0]);
    if (!vendor) return fail(QStringLiteral("the vendor id \"%1\" is not four hex digits").arg(parts[0]));
    const auto product = hexField(parts[1]);
    if (!product) return fail(QStringLiteral("the product id \"%1\" is not four hex digits").arg(parts[1]));
    id.vendorId = *vendor;
    id.productId = *product;
    if (parts.size() > 2) {
        const QString serial = rest.section(u':', 2);
        if (serial.isEmpty()) return fail(QStringLiteral("the serial number after the last ':' is empty"));
        id.serialNumber = serial;
    }
    return id;
}

QList<SerialPortEntry> usbMatches(const UsbPortId& id, const QList<SerialPortEntry>& ports) {
    QList<SerialPortEntry> matches;
    for (const SerialPortEntry& p : ports) {
        if (p.vendorId != id.vendorId || p.productId != id.productId) continue;
        if (id.serialNumber && p.serialNumber != *id.serialNumber) continue;
        matches.append(p);
    }
    return matches;
}

QString describePorts(const QList<SerialPortEntry>& ports, const QString& indent) {
    if (ports.isEmpty()) return indent + QStringLiteral("(no serial ports found)");
    QStringList lines;
    for (const SerialPortEntry& p : ports) {
        QString line = indent + p.systemLocation;
        if (p.vendorId || p.productId)
            line += QStringLiteral("  USB id %1:%2")
                        .arg(p.vendorId ? hex4(*p.vendorId) : QStringLiteral("????"),
                             p.productId ? hex4(*p.productId) : QStringLiteral("????"));
        if (!p.serialNumber.isEmpty())
            line += QStringLiteral("  serial number ") + p.serialNumber;
        else if (p.vendorId || p.productId)
            line += QStringLiteral("  (no serial number)");
        lines << line;
    }
    return lines.join(u'\n');
}

std::optional<UsbPortProblem> usbPortProblem(const QString& label, const UsbPortId& id,
                                             const QList<SerialPortEntry>& ports, bool waitsForPort) {
    const QList<SerialPortEntry> matches = usbMatches(id, ports);
    if (matches.size() > 1) return UsbPortProblem{UsbPortProblem::Kind::Several, severalPortsText(label, matches)};
    if (matches.isEmpty() && !waitsForPort)
        return UsbPortProblem{UsbPortProblem::Kind::None,
                              QStringLiteral("cannot open %1\n  the serial ports there are (vantrel-flash --list):\n%2")
                                  .arg(noPortText(label, id), describePorts(ports, QStringLiteral("    ")))};
    return std::nullopt;
}

PortResolver usbPortResolver(const UsbPortId& id, const QString& label, PortLister list) {
    return [id, label, list = std::move(list)](int number) {
        if (number != 1) return PortLocation{};
        const QList<SerialPortEntry> matches = usbMatches(id, list ? list() : QList<SerialPortEntry>{});
        if (matches.isEmpty()) throw Failure(failure::kPortInvalid, noPortText(label, id));
        if (matches.size() > 1) throw Failure(failure::kPortInvalid, severalPortsText(label, matches));
        return PortLocation{matches.front().systemLocation, label};
    };
}

}  // namespace vantrel
