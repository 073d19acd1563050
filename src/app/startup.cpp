#include "app/startup.h"

#include <QCommandLineParser>

namespace vantrel::app {

CommandLine parseCommandLine(const QStringList& arguments, bool strict) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Loads firmware into a PIC bootloader over a serial line: the window.\n"
                       "Without a display use vantrel-flash: the same loader, from the command line."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the program's version."));
    parser.addOptions({help, version});

    const bool parsed = parser.parse(arguments);
    CommandLine result;
    if (parser.isSet(help)) {
        result.kind = CommandLine::Kind::Help;
        result.text = parser.helpText();
    } else if (parser.isSet(version)) {
        result.kind = CommandLine::Kind::Version;
    } else if (strict) {
        // Every choice is made in the window, a file too: the rest is named
        // and passed over.
        QStringList ignored;
        for (const QString& name : parser.unknownOptionNames())
            ignored << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        ignored << parser.positionalArguments();
        if (!ignored.isEmpty())
            result.text = QStringLiteral("ignoring %1: every choice is made in the window")
                              .arg(ignored.join(QStringLiteral(" ")));
        else if (!parsed)
            result.text = QStringLiteral("ignoring the arguments: %1").arg(parser.errorText());
    }
    return result;
}

QString requestedPlatform(const QStringList& arguments, const QString& qpaPlatformVariable) {
    // Qt reads "-platform name" and "--platform name"; the last one counts.
    QString platform = qpaPlatformVariable;
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("-platform") || arguments[i] == QLatin1String("--platform"))
            platform = arguments[i + 1];
    }
    return platform;
}

QString missingDisplay(const QString& platform, const QString& display, const QString& waylandDisplay) {
    const bool x11 = !display.isEmpty();
    const bool wayland = !waylandDisplay.isEmpty();
    // A list such as "wayland;xcb" is tried in turn; "xcb:option=value" carries plugin options.
    QStringList names;
    for (const QString& entry : platform.split(u';', Qt::SkipEmptyParts)) {
        const QString name = entry.section(u':', 0, 0).trimmed();
        if (!name.isEmpty()) names << name;
    }
    if (names.isEmpty())
        return x11 || wayland ? QString() : QStringLiteral("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    QStringList unset;
    for (const QString& name : names) {
        if (name == QLatin1String("xcb")) {
            if (x11) return {};
            if (!unset.contains(QStringLiteral("DISPLAY"))) unset << QStringLiteral("DISPLAY");
        } else if (name.startsWith(QLatin1String("wayland"))) {
            if (wayland) return {};
            if (!unset.contains(QStringLiteral("WAYLAND_DISPLAY"))) unset << QStringLiteral("WAYLAND_DISPLAY");
        } else {
            return {};
        }
    }
    return QStringLiteral("no display for the platform %1 (%2 not set)")
        .arg(names.join(u';'),
             unset.join(QStringLiteral(" and ")) + (unset.size() > 1 ? QStringLiteral(" are") : QStringLiteral(" is")));
}

QString noDisplayLine(const QString& why) {
    return QStringLiteral("vantrel: cannot show the window: %1; vantrel-flash works without a display").arg(why);
}

}  // namespace vantrel::app
