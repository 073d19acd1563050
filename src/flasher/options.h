#pragma once

#include <QString>
#include <QStringList>

namespace vantrel::flasher {

enum class Action {
    DownloadVerify,  // the window's "Open File and  Download": download, then the verify pass
    Search,          // the probe's address search with "Next" to its end: which boards answer
    VerifyOnly,      // the window's "Verify"
    InstallOnly,     // the window's "Install"
    QueryVersion,    // the window's "?"
    SetAddress,      // the window's "Set Addr" with the new address in its box
    List,            // the ports of this machine; no window at all
};

enum class Speed { B9600, B19200, B115200, Usb };

// A port as the user named it.
struct PortName {
    QString text;           // "COM3", a device path, or "usb:VID:PID[:SERIAL]"
    bool isDevice = false;  // a path, reached as port 1 of the run's own resolver
    bool isUsb = false;     // a USB identity, found among the ports at each open as port 1 of its own resolver
    bool operator==(const PortName&) const = default;
    // Reached as port 1 of a resolver of its own rather than by its COMn number.
    bool isPortOne() const { return isDevice || isUsb; }
};

// Everything a run needs, checked: a run never starts on options that the
// loader could not carry out. The first port and address are those of a job
// run on its own; a run turns them into a plan (flasher/plan.h) whose
// targets it walks.
struct FlashOptions {
    Action action = Action::DownloadVerify;
    QString port;                  // as given: "COM3" or a device path
    bool portIsDevice = false;     // a path, reached as port 1 of the run's own resolver
    QList<PortName> ports;         // every --port, in the order given (flashed at the same time)
    Speed speed = Speed::B115200;  // with autoSpeed: the first speed the probe tries
    bool autoSpeed = false;        // --speed auto: the probe tries kAutoSpeeds in turn
    bool modbus = false;
    bool modbusSearch = false;   // the address box left empty: the probe searches 1..127
    int modbusAddress = 0;       // 1..247 when modbus && !modbusSearch
    QList<int> modbusAddresses;  // a bus: these boards one after the other (--modbus 3,7,9)
    bool modbusAll = false;      // a bus: first search 1..127, then every board that answered
    QString file;
    bool checkFile = true;      // check the file's records before any port is opened (--no-check: not)
    bool installAfter = false;  // Install once the transfer ended with "END"
    int newAddress = 0;         // --set-address, 1..247
    int timeoutMs = 5000;       // reply bound, from the last write
    int retries = 0;            // a file line unanswered within timeoutMs is written again up to this often
    bool trace = false;
    bool quiet = false;
    bool fast = false;    // take replies as soon as they arrive, not only at the 20 ms tick
    QString reportPath;   // --report: a JSON record of every board
    bool dryRun = false;  // simulated boards instead of ports
    QString dryRunBoard;  // their configuration, in the simulated board's own options

    // How many boards the run flashes (before a search finds them).
    bool severalBoards() const { return ports.size() > 1 || modbusAddresses.size() > 1 || modbusAll; }
};

struct CommandLine {
    // Check: only check options.file and print what it holds, no port at all.
    enum class Kind { Run, Help, Version, Check, Error };
    Kind kind = Kind::Error;
    FlashOptions options;
    QString text;  // the help, the version line, or what is wrong
};

// `arguments` starts with the program name, as QCoreApplication::arguments().
CommandLine parseCommandLine(const QStringList& arguments);

// What --speed auto tries, in this order.
inline constexpr Speed kAutoSpeeds[] = {Speed::B115200, Speed::B19200, Speed::B9600};
// The probe's asks at each speed of --speed auto before the next is tried
// (one every 200 ms); an address search asks its 127 addresses instead.
inline constexpr int kAutoSpeedAsks = 10;
// The most --retries allows.
inline constexpr int kMaxRetries = 100;

// The bit rate the speed stands for (USB ports run at 115200 too).
int bitsPerSecond(Speed speed);
QString speedName(Speed speed);

}  // namespace vantrel::flasher
