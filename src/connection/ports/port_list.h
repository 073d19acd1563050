#pragma once

#include <functional>
#include <optional>

#include <QList>
#include <QString>

namespace vantrel {

// One serial port as the system lists it.
struct SerialPortEntry {
    QString systemLocation;  // "/dev/ttyUSB0"
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
};

QList<SerialPortEntry> systemSerialPorts();

// Where a run learns the machine's serial ports: systemSerialPorts, or a
// fixed list in tests.
using PortLister = std::function<QList<SerialPortEntry>()>;

// The ports, each with the COMn names that reach it, then every alias comN
// in `aliasDir` with its target (dangling ones marked, pseudo-terminals
// included, which the system's list leaves out). The naming is the window's
// own (connection/port_naming.h), resolved against `aliasDir` and `devDir`.
QString formatPortList(const QList<SerialPortEntry>& ports, const QString& aliasDir, const QString& devDir);

}  // namespace vantrel
