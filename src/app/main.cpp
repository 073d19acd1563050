#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QCoreApplication>
#include <QStyleFactory>

#include "app/startup.h"
#include "vantrel_version.h"
#include "window/frm_serial.h"

using namespace vantrel::app;

namespace {

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

QStringList argumentsOf(int argc, char* argv[]) {
    QStringList list;
    for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
    return list;
}

// While QApplication connects to the display, Qt's platform messages are
// held back: when the connection fails Qt ends with a fatal message (an
// abort and a core dump), which is turned into one line and a plain exit.
QtMessageHandler g_previousHandler = nullptr;
QString g_platformReason;

struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
QList<HeldMessage> g_heldMessages;

void forward(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_previousHandler != nullptr)
        g_previousHandler(type, context, message);
    else
        print(stderr, qFormatLogMessage(type, context, message) + u'\n');
}

void guardPlatformStart(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        const QString why = g_platformReason.isEmpty() ? QStringLiteral("no usable display") : g_platformReason;
        print(stderr, noDisplayLine(why) + u'\n');
        std::_Exit(kExitNoDisplay);
    }
    if (context.category == nullptr || qstrncmp(context.category, "qt.qpa", 6) != 0) {
        forward(type, context, message);
        return;
    }
    if ((type == QtWarningMsg || type == QtCriticalMsg) && g_platformReason.isEmpty())
        g_platformReason = message.trimmed();
    g_heldMessages.append({type, QByteArray(context.category), message});
}

int runWindow(int& argc, char* argv[]) {
    g_previousHandler = qInstallMessageHandler(guardPlatformStart);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_previousHandler);
    // The display came up: what Qt said on the way is ordinary diagnostics.
    for (const HeldMessage& held : std::as_const(g_heldMessages)) {
        const QMessageLogContext context(nullptr, 0, nullptr, held.category.constData());
        forward(held.type, context, held.text);
    }
    g_heldMessages.clear();

    // QApplication has taken its own options (-platform, -style, ...) out.
    const CommandLine command = parseCommandLine(QApplication::arguments(), true);
    if (!command.text.isEmpty()) print(stderr, QStringLiteral("vantrel: %1\n").arg(command.text));

    // The classic look the window was drawn for; its controls are sized for it.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows"))) QApplication::setStyle(style);

    vantrel::frmSerial window(vantrel::makeDesktopPlatform());
    window.show();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    // The desktop entry's name: lets a Wayland compositor match the window to it.
    QGuiApplication::setDesktopFileName(QStringLiteral(VANTREL_APP_ID));

    const QStringList arguments = argumentsOf(argc, argv);
    if (parseCommandLine(arguments, false).kind != CommandLine::Kind::Run) {
        // --help and --version need no display: a core application is enough.
        QCoreApplication core(argc, argv);
        const CommandLine command = parseCommandLine(QCoreApplication::arguments(), false);
        if (command.kind == CommandLine::Kind::Help)
            print(stdout, command.text);
        else
            print(stdout, QStringLiteral("vantrel %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }

    const QString why = missingDisplay(requestedPlatform(arguments, qEnvironmentVariable("QT_QPA_PLATFORM")),
                                       qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"));
    if (!why.isEmpty()) {
        print(stderr, noDisplayLine(why) + u'\n');
        return kExitNoDisplay;
    }
    return runWindow(argc, argv);
}
