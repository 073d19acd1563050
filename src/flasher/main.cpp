#include <cstdio>
#include <unistd.h>

#include <QApplication>
#include <QLoggingCategory>

#include "connection/port_naming.h"
#include "connection/qt_serial_component.h"
#include "flasher/console.h"
#include "flasher/flash_job.h"
#include "flasher/options.h"
#include "flasher/port_list.h"
#include "flasher/private_alias.h"
#include "vantrel_version.h"

using namespace vantrel::flasher;

namespace {

Console* g_console = nullptr;

void writeTo(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

// Qt's messages (the frame trace among them) share standard error with the
// progress bar.
void routeMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // A desktop session's runtime folder is of no use here, and a flasher
    // started from a service or over ssh usually has none.
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) return;
    const QString line = qFormatLogMessage(type, context, message);
    if (g_console != nullptr)
        g_console->passthrough(line);
    else
        writeTo(stderr, line + u'\n');
}

}  // namespace

int main(int argc, char* argv[]) {
    // No window is ever shown; without this Qt would look for a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(routeMessage);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantrel-flash"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));

    const CommandLine command = parseCommandLine(QApplication::arguments());
    switch (command.kind) {
        case CommandLine::Kind::Help:
            writeTo(stdout, command.text);
            return toInt(ExitCode::Success);
        case CommandLine::Kind::Version:
            writeTo(stdout, QStringLiteral("vantrel-flash %1\n").arg(QApplication::applicationVersion()));
            return toInt(ExitCode::Success);
        case CommandLine::Kind::Error:
            writeTo(stderr, QStringLiteral("vantrel-flash: %1\nTry 'vantrel-flash --help'.\n").arg(command.text));
            return toInt(ExitCode::Usage);
        case CommandLine::Kind::Run:
            break;
    }
    const FlashOptions& options = command.options;

    if (options.action == Action::List) {
        writeTo(stdout, formatPortList(systemSerialPorts(), vantrel::portAliasDir(), QStringLiteral("/dev")));
        return toInt(ExitCode::Success);
    }

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    Console console(
        terminal ? Console::Style::Terminal : Console::Style::Plain, options.quiet,
        [](const QString& text) { writeTo(stderr, text); }, [](const QString& text) { writeTo(stdout, text); });
    g_console = &console;
    if (options.trace) QLoggingCategory::setFilterRules(QStringLiteral("vantrel.link.debug=true"));

    std::unique_ptr<PrivatePortAlias> alias;
    QString portBox = options.port;
    if (options.portIsDevice) {
        alias = std::make_unique<PrivatePortAlias>(options.port);
        if (!alias->ok()) {
            console.error(QStringLiteral("vantrel-flash: cannot reach %1: %2").arg(options.port, alias->error()));
            return toInt(ExitCode::Internal);
        }
        portBox = alias->portBoxText();
    }

    FlashJob::Setup setup;
    setup.options = options;
    setup.portBoxText = portBox;
    setup.portLabel = options.port;
    setup.port = std::make_unique<vantrel::QtSerialComponent>();
    int code = toInt(ExitCode::Internal);
    {
        FlashJob job(std::move(setup), console);
        QObject::connect(&job, &FlashJob::finished, &app, [&code](int exitCode) {
            code = exitCode;
            QCoreApplication::exit(exitCode);
        });
        job.start();
        QApplication::exec();
    }
    qInstallMessageHandler(nullptr);
    g_console = nullptr;
    return code;
}
