#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace vantrel::flasher {

// The window's port box only takes COMn, and COMn is found through the alias
// folder under $XDG_CONFIG_HOME. A device path given on the command line is
// reached through an alias com1 in a folder of this process's own, so the
// user's aliases are neither read nor changed. For as long as the object
// lives, XDG_CONFIG_HOME of this process points at that folder.
class PrivatePortAlias {
  public:
    explicit PrivatePortAlias(const QString& devicePath);
    ~PrivatePortAlias();
    PrivatePortAlias(const PrivatePortAlias&) = delete;
    PrivatePortAlias& operator=(const PrivatePortAlias&) = delete;

    bool ok() const { return error_.isEmpty(); }
    const QString& error() const { return error_; }
    // What goes into the port box.
    QString portBoxText() const { return QStringLiteral("COM1"); }
    QString aliasPath() const;

  private:
    QTemporaryDir dir_;
    QString error_;
    bool hadXdg_ = false;
    QByteArray savedXdg_;
    bool switched_ = false;
};

}  // namespace vantrel::flasher
