#include "flasher/private_alias.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vantrel::flasher {

PrivatePortAlias::PrivatePortAlias(const QString& devicePath) : dir_(QDir::tempPath() + "/vantrel-flash-XXXXXX") {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("cannot make a temporary folder: ") + dir_.errorString();
        return;
    }
    const QString ports = dir_.path() + QStringLiteral("/vantrel/ports");
    if (!QDir().mkpath(ports)) {
        error_ = QStringLiteral("cannot make ") + ports;
        return;
    }
    // The link keeps the path as given (a /dev/serial/by-id name stays one);
    // the port component follows it when it opens.
    const QString target = QFileInfo(devicePath).absoluteFilePath();
    if (!QFile::link(target, aliasPath())) {
        error_ = QStringLiteral("cannot link %1 to %2").arg(aliasPath(), target);
        return;
    }
    hadXdg_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    savedXdg_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
    switched_ = true;
}

PrivatePortAlias::~PrivatePortAlias() {
    if (!switched_) return;
    if (hadXdg_)
        qputenv("XDG_CONFIG_HOME", savedXdg_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString PrivatePortAlias::aliasPath() const {
    return dir_.path() + QStringLiteral("/vantrel/ports/com1");
}

}  // namespace vantrel::flasher
