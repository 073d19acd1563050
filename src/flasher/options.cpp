#include "flasher/options.h"

#include <cmath>
#include <optional>

#include <QCommandLineParser>

#include "common/failure.h"
#include "connection/port_naming.h"
#include "connection/ports/usb_port.h"
#include "link/numeric_text.h"

namespace vantrel::flasher {
namespace {

// Modbus slave addresses; 0 is broadcast (no board answers it) and 248..255
// are reserved.
constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 247;
constexpr double kMaxTimeoutSeconds = 3600.0;

std::optional<int> modbusAddressOf(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < kFirstAddress || value > kLastAddress) return std::nullopt;
    return value;
}

// Whether the port box would give a port number for this text: the window
// reads the number from the fourth character on.
bool namesPortNumber(const QString& text) {
    try {
        return portNumberOf(text) >= 1;
    } catch (const Failure&) {
        return false;
    }
}

bool looksLikePath(const QString& text) {
#ifdef Q_OS_WIN
    Q_UNUSED(text);
    return false;
#else
    return text.contains(u'/');
#endif
}

CommandLine error(const QString& why) {
    CommandLine c;
    c.kind = CommandLine::Kind::Error;
    c.text = why;
    return c;
}

}  // namespace

int bitsPerSecond(Speed speed) {
    switch (speed) {
        case Speed::B9600:
            return 9600;
        case Speed::B19200:
            return 19200;
        case Speed::B115200:
        case Speed::Usb:
            return 115200;
    }
    return 115200;
}

QString speedName(Speed speed) {
    return speed == Speed::Usb ? QStringLiteral("usb") : QString::number(bitsPerSecond(speed));
}

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Loads an Intel HEX file into a PIC bootloader over a serial line, without a window.\n"
                       "Default: download, then verify. Exit codes: see the manual page vantrel-flash(1)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the program's version."));
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("The port: COMn as in the window's port box, a device path "
                                                 "such as /dev/ttyUSB0, or usb:VID:PID[:SERIAL] as --list shows "
                                                 "them. Give it again for more ports: their boards are flashed at "
                                                 "the same time."),
                                  QStringLiteral("port"));
    const QCommandLineOption speed({QStringLiteral("s"), QStringLiteral("speed")},
                                   QStringLiteral("9600, 19200, 115200 (default), auto (try 115200, 19200, then "
                                                  "9600) or usb (wait for the board's USB port to appear; power "
                                                  "the board after starting)."),
                                   QStringLiteral("speed"), QStringLiteral("115200"));
    const QCommandLineOption modbus({QStringLiteral("m"), QStringLiteral("modbus")},
                                    QStringLiteral("Modbus RTU to the board at this address (1..247); a list "
                                                   "(3,7,9) flashes those boards one after the other; 'all' first "
                                                   "searches addresses 1..127 and flashes every board that answers; "
                                                   "'search' takes the first address that answers."),
                                    QStringLiteral("address|list|all|search"));
    const QCommandLineOption verifyOnly(QStringLiteral("verify-only"),
                                        QStringLiteral("Only compare the board's flash with the file."));
    const QCommandLineOption install(QStringLiteral("install"),
                                     QStringLiteral("Install the loaded image (after a successful transfer, or on "
                                                    "its own without a file)."));
    const QCommandLineOption queryVersion(QStringLiteral("query-version"),
                                          QStringLiteral("Ask the bootloader for its version and print the answer."));
    const QCommandLineOption setAddress(QStringLiteral("set-address"),
                                        QStringLiteral("Give the board a new Modbus address (1..247); needs "
                                                       "--modbus with its present address."),
                                        QStringLiteral("n"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")},
                                     QStringLiteral("Give up when no reply comes this many seconds after the last "
                                                    "command (default 5)."),
                                     QStringLiteral("seconds"), QStringLiteral("5"));
    const QCommandLineOption retries(QStringLiteral("retries"),
                                     QStringLiteral("Write a file line again when no reply came within --timeout, up "
                                                    "to this many times per line (default 0)."),
                                     QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Log every frame written and read on standard error."));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("List the serial ports and the COMn names that reach them."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Print only failures (and the answer of --query-version)."));
    const QCommandLineOption fast(QStringLiteral("fast"),
                                  QStringLiteral("Take each reply as soon as it arrives instead of at the next 20 ms "
                                                 "poll: the same commands, at the speed of the wire."));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Write a JSON record of every board (port, address, file, SHA-256, "
                                                   "result, exit code, times) to this file."),
                                    QStringLiteral("file"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Simulated boards instead of the ports: rehearse a script without "
                                                   "hardware."));
    const QCommandLineOption dryRunWith(QStringLiteral("dry-run-with"),
                                        QStringLiteral("A dry run whose simulated boards take these vantrel-boardsim "
                                                       "options (e.g. \"--modbus 3,7 --error-at-verify 2\")."),
                                        QStringLiteral("options"));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Only check the file (every record, the end-of-file record) and "
                                                  "print what it holds; no port."));
    const QCommandLineOption noCheck(QStringLiteral("no-check"),
                                     QStringLiteral("Send the file without checking its records first (it must "
                                                    "still be readable)."));
    parser.addOptions({help,    version, port, speed, modbus, verifyOnly, install, queryVersion, setAddress, timeout,
                       retries, trace,   list, quiet, fast,   report,     dryRun,  dryRunWith,   check,      noCheck});
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The Intel HEX file to load."),
                                 QStringLiteral("[file]"));

    if (!parser.parse(arguments)) return error(parser.errorText());

    CommandLine result;
    if (parser.isSet(help)) {
        result.kind = CommandLine::Kind::Help;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.kind = CommandLine::Kind::Version;
        return result;
    }

    FlashOptions& o = result.options;
    o.trace = parser.isSet(trace);
    o.quiet = parser.isSet(quiet);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) return error(QStringLiteral("one file at a time, not %1").arg(files.size()));
    if (!files.isEmpty()) o.file = files.first();
    o.checkFile = !parser.isSet(noCheck);

    if (parser.isSet(check)) {
        // A check of a file on the desk: nothing of a run goes with it but
        // --quiet, which keeps only the verdict.
        for (const QCommandLineOption* other :
             {&port, &speed, &modbus, &verifyOnly, &install, &queryVersion, &setAddress, &timeout, &retries, &trace,
              &list, &fast, &report, &dryRun, &dryRunWith, &noCheck}) {
            if (parser.isSet(*other))
                return error(QStringLiteral("--check takes only the file (and --quiet); --%1 does not go with it")
                                 .arg(other->names().last()));
        }
        if (o.file.isEmpty()) return error(QStringLiteral("--check needs the file to check"));
        result.kind = CommandLine::Kind::Check;
        return result;
    }

    if (parser.isSet(list)) {
        for (const QCommandLineOption* other :
             {&port, &speed, &modbus, &verifyOnly, &install, &queryVersion, &setAddress, &timeout, &retries, &fast,
              &report, &dryRun, &dryRunWith, &noCheck}) {
            if (parser.isSet(*other))
                return error(
                    QStringLiteral("--list stands alone; --%1 does not go with it").arg(other->names().last()));
        }
        if (!o.file.isEmpty()) return error(QStringLiteral("--list stands alone; no file goes with it"));
        o.action = Action::List;
        result.kind = CommandLine::Kind::Run;
        return result;
    }

    if (!parser.isSet(port))
        return error(QStringLiteral("which port? give --port COMn, --port /dev/... or --port usb:VID:PID"));
    QList<UsbPortId> usbIds;
    for (const QString& given : parser.values(port)) {
        PortName name{given.trimmed(), false};
        if (namesUsbPort(name.text)) {
            QString why;
            const std::optional<UsbPortId> id = parseUsbPortId(name.text, &why);
            if (!id) return error(why);
            // The same adapter however its digits are written.
            if (usbIds.contains(*id)) return error(QStringLiteral("port %1 is given twice").arg(name.text));
            usbIds.append(*id);
            name.isUsb = true;
        } else if (looksLikePath(name.text)) {
            name.isDevice = true;
        } else if (!namesPortNumber(name.text)) {
            return error(QStringLiteral("\"%1\" names no port: give COMn (n from 1) or a device path such as "
                                        "/dev/ttyUSB0")
                             .arg(given));
        }
        if (o.ports.contains(name)) return error(QStringLiteral("port %1 is given twice").arg(name.text));
        o.ports.append(name);
    }
    o.port = o.ports.first().text;
    o.portIsDevice = o.ports.first().isDevice;
    o.fast = parser.isSet(fast);
    o.reportPath = parser.value(report);
    if (parser.isSet(report) && o.reportPath.trimmed().isEmpty())
        return error(QStringLiteral("--report needs a file name"));
    o.dryRun = parser.isSet(dryRun) || parser.isSet(dryRunWith);
    o.dryRunBoard = parser.value(dryRunWith);

    const QString speedText = parser.value(speed).trimmed().toLower();
    if (speedText == u"9600")
        o.speed = Speed::B9600;
    else if (speedText == u"19200")
        o.speed = Speed::B19200;
    else if (speedText == u"115200")
        o.speed = Speed::B115200;
    else if (speedText == u"usb")
        o.speed = Speed::Usb;
    else if (speedText == u"auto")
        o.autoSpeed = true;
    else
        return error(QStringLiteral("speed \"%1\": use 9600, 19200, 115200, auto or usb").arg(parser.value(speed)));

    if (parser.isSet(modbus)) {
        // A USB port carries the bootloader's plain protocol only: the window
        // turns Modbus off for it.
        if (o.speed == Speed::Usb) return error(QStringLiteral("--modbus does not go with --speed usb"));
        o.modbus = true;
        const QString value = parser.value(modbus).trimmed();
        if (value.compare(u"search", Qt::CaseInsensitive) == 0) {
            o.modbusSearch = true;
        } else if (value.compare(u"all", Qt::CaseInsensitive) == 0) {
            o.modbusAll = true;
        } else {
            for (const QString& part : value.split(u',')) {
                const auto address = modbusAddressOf(part.trimmed());
                if (!address)
                    return error(
                        QStringLiteral("Modbus address \"%1\": use 1..247, a list such as 3,7,9, all or search")
                            .arg(part.trimmed()));
                if (o.modbusAddresses.contains(*address))
                    return error(QStringLiteral("Modbus address %1 is given twice").arg(*address));
                o.modbusAddresses.append(*address);
            }
            o.modbusAddress = o.modbusAddresses.first();
        }
    }

    bool ok = false;
    const double seconds = parser.value(timeout).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0.0 || seconds > kMaxTimeoutSeconds)
        return error(QStringLiteral("timeout \"%1\": give seconds above 0, at most 3600").arg(parser.value(timeout)));
    o.timeoutMs = std::max(1, static_cast<int>(std::lround(seconds * 1000.0)));

    const QString retriesText = parser.value(retries).trimmed();
    const int retryCount = retriesText.toInt(&ok);
    if (!ok || retryCount < 0 || retryCount > kMaxRetries || retriesText.startsWith(u'+'))
        return error(QStringLiteral("retries \"%1\": give 0..%2").arg(parser.value(retries)).arg(kMaxRetries));
    o.retries = retryCount;

    const bool wantsVerify = parser.isSet(verifyOnly);
    const bool wantsVersion = parser.isSet(queryVersion);
    const bool wantsAddress = parser.isSet(setAddress);
    o.installAfter = parser.isSet(install);

    if (wantsVersion) {
        if (wantsVerify || wantsAddress || o.installAfter || !o.file.isEmpty())
            return error(
                QStringLiteral("--query-version stands alone: no file, --verify-only, --install or "
                               "--set-address with it"));
        o.action = Action::QueryVersion;
    } else if (wantsAddress) {
        if (wantsVerify || o.installAfter || !o.file.isEmpty())
            return error(QStringLiteral("--set-address stands alone: no file, --verify-only or --install with it"));
        // "Set Addr" speaks to the board's present address; during an address
        // search the same button means "Next".
        if (!o.modbus || o.modbusSearch || o.modbusAll || o.modbusAddresses.size() != 1)
            return error(QStringLiteral("--set-address needs --modbus with the board's present address"));
        if (o.ports.size() > 1) return error(QStringLiteral("--set-address speaks to one board on one port"));
        const auto address = modbusAddressOf(parser.value(setAddress).trimmed());
        if (!address) return error(QStringLiteral("new address \"%1\": use 1..247").arg(parser.value(setAddress)));
        o.newAddress = *address;
        o.action = Action::SetAddress;
    } else if (o.file.isEmpty()) {
        if (wantsVerify) return error(QStringLiteral("--verify-only needs the file to compare with"));
        if (!o.installAfter) return error(QStringLiteral("which file? (or --install, --query-version, --set-address)"));
        o.action = Action::InstallOnly;
        o.installAfter = false;
    } else {
        o.action = wantsVerify ? Action::VerifyOnly : Action::DownloadVerify;
    }
    if (!o.checkFile && o.file.isEmpty()) return error(QStringLiteral("--no-check goes only with a file to send"));

    result.kind = CommandLine::Kind::Run;
    return result;
}

}  // namespace vantrel::flasher
