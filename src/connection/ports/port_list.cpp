#include "connection/ports/port_list.h"

#include <set>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStringList>

#include "connection/port_naming.h"

namespace vantrel {
namespace {

// The window's port number is a 16-bit count.
constexpr int kLastPortNumber = 32767;

QString sameFile(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

// Alias numbers in the folder: exactly "com" and a number without leading
// zeros, since that is the only name the naming looks for.
std::set<int> aliasNumbers(const QString& aliasDir) {
    std::set<int> numbers;
    static const QRegularExpression name(QStringLiteral("^com([1-9][0-9]{0,4})$"));
    const QDir dir(aliasDir);
    for (const QFileInfo& entry : dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const auto match = name.match(entry.fileName());
        if (!match.hasMatch()) continue;
        const int n = match.captured(1).toInt();
        if (n <= kLastPortNumber) numbers.insert(n);
    }
    return numbers;
}

// The number a device name gets by the fallback: ttyUSB2, ttyACM2 or ttyS2 -> 3.
std::optional<int> fallbackNumber(const QString& device) {
    static const QRegularExpression name(QStringLiteral("^tty(USB|ACM|S)([0-9]{1,5})$"));
    const auto match = name.match(QFileInfo(device).fileName());
    if (!match.hasMatch()) return std::nullopt;
    const int n = match.captured(2).toInt() + 1;
    if (n > kLastPortNumber) return std::nullopt;
    return n;
}

QString hex4(quint16 value) {
    return QStringLiteral("%1").arg(value, 4, 16, QChar(u'0'));
}

}  // namespace

QList<SerialPortEntry> systemSerialPorts() {
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry e;
        e.systemLocation = info.systemLocation();
        e.description = info.description();
        e.manufacturer = info.manufacturer();
        e.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier()) e.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier()) e.productId = info.productIdentifier();
        ports.append(e);
    }
    return ports;
}

QString formatPortList(const QList<SerialPortEntry>& ports, const QString& aliasDir, const QString& devDir) {
    const std::set<int> aliases = aliasNumbers(aliasDir);
    QStringList out;

    out << QStringLiteral("Serial ports:");
    if (ports.isEmpty()) out << QStringLiteral("  (none found)");
    for (const SerialPortEntry& port : ports) {
        const QString target = sameFile(port.systemLocation);
        std::set<int> candidates = aliases;
        const std::optional<int> fallback = fallbackNumber(port.systemLocation);
        if (fallback) candidates.insert(*fallback);
        QStringList names;
        for (int n : candidates) {
            const QString device = deviceForPort(n, aliasDir, devDir);
            if (!device.isEmpty() && sameFile(device) == target) names << QStringLiteral("COM%1").arg(n);
        }
        QString reach;
        if (!names.isEmpty()) {
            reach = QStringLiteral("as ") + names.join(QStringLiteral(", "));
        } else if (fallback) {
            // Its number is taken: by an alias, or by a device of the same
            // number earlier in the order ttyUSB, ttyACM, ttyS.
            reach = QStringLiteral("not reached by a COMn name (COM%1 is %2); use --port %3 or an alias")
                        .arg(*fallback)
                        .arg(deviceForPort(*fallback, aliasDir, devDir), port.systemLocation);
        } else {
            reach = QStringLiteral("not reached by a COMn name; use --port %1 or an alias").arg(port.systemLocation);
        }
        out << QStringLiteral("  %1  %2").arg(port.systemLocation, reach);
        if (!port.description.isEmpty()) out << QStringLiteral("      description:   ") + port.description;
        if (!port.manufacturer.isEmpty()) out << QStringLiteral("      manufacturer:  ") + port.manufacturer;
        if (port.vendorId || port.productId) {
            out << QStringLiteral("      USB id:        %1:%2")
                       .arg(port.vendorId ? hex4(*port.vendorId) : QStringLiteral("????"),
                            port.productId ? hex4(*port.productId) : QStringLiteral("????"));
        }
        if (!port.serialNumber.isEmpty()) out << QStringLiteral("      serial number: ") + port.serialNumber;
    }

    out << QString() << QStringLiteral("Aliases in %1:").arg(aliasDir);
    if (aliases.empty()) out << QStringLiteral("  (none)");
    for (int n : aliases) {
        const QFileInfo alias(aliasDir + QStringLiteral("/com%1").arg(n));
        QString target = alias.isSymLink() ? alias.symLinkTarget() : alias.filePath();
        QString note;
        if (!alias.exists()) {
            note = QStringLiteral("  (dangling: the target does not exist)");
        } else {
            const QString resolved = sameFile(alias.filePath());
            if (resolved != target) target += QStringLiteral(" = ") + resolved;
            if (resolved.startsWith(QStringLiteral("/dev/pts/"))) note = QStringLiteral("  (pseudo-terminal)");
        }
        out << QStringLiteral("  COM%1  com%1 -> %2%3").arg(n).arg(target, note);
    }

#ifndef Q_OS_WIN
    out << QString()
        << QStringLiteral(
               "Without an alias, COMn is the first that exists of %1/ttyUSB{n-1}, %1/ttyACM{n-1} and "
               "%1/ttyS{n-1}.")
               .arg(devDir);
#endif
    return out.join(u'\n') + u'\n';
}

}  // namespace vantrel
