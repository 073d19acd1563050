#include "connection/port_naming.h"

#include <QDir>
#include <QFileInfo>

#include "link/numeric_text.h"

namespace vantrel {

qint16 portNumberOf(const QString& portText) {
    return toInt16Strict(QStringView(portText).mid(3));
}

QString portAliasDir() {
    return portAliasDirFor(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
}

QString portAliasDirFor(const QString& xdgConfigHome, const QString& home) {
    const QString base = xdgConfigHome.isEmpty() ? home + QStringLiteral("/.config") : xdgConfigHome;
    return base + QStringLiteral("/vantrel/ports");
}

QString deviceForPort(int n, const QString& aliasDir, const QString& devDir) {
    if (n < 1) return {};
#ifdef Q_OS_WIN
    Q_UNUSED(aliasDir);
    Q_UNUSED(devDir);
    return QStringLiteral("COM%1").arg(n);
#else
    const QFileInfo alias(aliasDir + QStringLiteral("/com%1").arg(n));
    // A dangling alias still wins: the board's device appears only once it is
    // powered, and the open must fail until then.
    if (alias.isSymLink() || alias.exists()) return alias.filePath();
    for (const char* stem : {"ttyUSB", "ttyACM", "ttyS"}) {
        const QString candidate = devDir + u'/' + QLatin1String(stem) + QString::number(n - 1);
        if (QFileInfo::exists(candidate)) return candidate;
    }
    return devDir + QStringLiteral("/ttyS") + QString::number(n - 1);
#endif
}

PortResolver systemPortResolver() {
    return [](int n) { return PortLocation{deviceForPort(n), QStringLiteral("COM%1").arg(n)}; };
}

PortResolver aliasFolderResolver(const QString& aliasDir, const QString& devDir) {
    return [aliasDir, devDir](int n) {
        return PortLocation{deviceForPort(n, aliasDir, devDir), QStringLiteral("COM%1").arg(n)};
    };
}

PortResolver singleDeviceResolver(int number, const QString& device, const QString& name) {
    return [number, device, name](int n) { return n == number ? PortLocation{device, name} : PortLocation{}; };
}

QString describeLocation(const PortLocation& location) {
    if (location.device.isEmpty()) return location.name + QStringLiteral(" (no such port)");
    QString text = location.name;
    if (location.device != location.name) text += QStringLiteral(" -> ") + location.device;
    const QFileInfo info(location.device);
    if (info.isSymLink()) text += QStringLiteral(" -> ") + info.symLinkTarget();
    return text;
}

QString describePort(int n) {
    const QString device = deviceForPort(n);
    if (device.isEmpty()) return QStringLiteral("COM%1 (no such port)").arg(n);
    const QFileInfo info(device);
    if (info.isSymLink()) return QStringLiteral("COM%1 -> %2 -> %3").arg(n).arg(device, info.symLinkTarget());
    return QStringLiteral("COM%1 -> %2").arg(n).arg(device);
}

}  // namespace vantrel
