#pragma once

#include <QString>
#include <QStringList>

namespace vantrel::flasher {

enum class Action {
    DownloadVerify,  // the window's "Open File and  Download": download, then the verify pass
    VerifyOnly,      // the window's "Verify"
    InstallOnly,     // the window's "Install"
    QueryVersion,    // the window's "?"
    SetAddress,      // the window's "Set Addr" with the new address in its box
    List,            // the ports of this machine; no window at all
};

enum class Speed { B9600, B19200, B115200, Usb };

// Everything a run needs, checked: a run never starts on options that the
// window could not carry out.
struct FlashOptions {
    Action action = Action::DownloadVerify;
    QString port;               // as given: "COM3" or a device path
    bool portIsDevice = false;  // a path, reached through a private alias
    Speed speed = Speed::B115200;
    bool modbus = false;
    bool modbusSearch = false;  // the address box left empty: the probe searches 1..127
    int modbusAddress = 0;      // 1..247 when modbus && !modbusSearch
    QString file;
    bool installAfter = false;  // Install once the transfer ended with "END"
    int newAddress = 0;         // --set-address, 1..247
    int timeoutMs = 5000;       // reply bound, from the last write
    bool trace = false;
    bool quiet = false;
};

struct CommandLine {
    enum class Kind { Run, Help, Version, Error };
    Kind kind = Kind::Error;
    FlashOptions options;
    QString text;  // the help, the version line, or what is wrong
};

// `arguments` starts with the program name, as QCoreApplication::arguments().
CommandLine parseCommandLine(const QStringList& arguments);

// The bit rate the speed stands for (USB ports run at 115200 too).
int bitsPerSecond(Speed speed);
QString speedName(Speed speed);

}  // namespace vantrel::flasher
