#include <cstdio>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QLoggingCategory>

#include "connection/port_naming.h"
#include "flasher/console.h"
#include "flasher/dry_run.h"
#include "flasher/flash_run.h"
#include "flasher/options.h"
#include "flasher/port_list.h"
#include "vantrel_version.h"

using namespace vantrel::flasher;

namespace {

FlashRun* g_run = nullptr;

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
    if (g_run != nullptr)
        g_run->passthrough(line);
    else
        writeTo(stderr, line + u'\n');
}

}  // namespace

int main(int argc, char* argv[]) {
    // No window is ever shown; without a platform of its own Qt would look
    // for a display. Given as an argument, so the environment is left alone.
    std::vector<char*> arguments(argv, argv + argc);
    char platformOption[] = "-platform";
    char offscreen[] = "offscreen";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        arguments.insert(arguments.begin() + 1, {platformOption, offscreen});
    }
    int qtArgc = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    qInstallMessageHandler(routeMessage);
    QApplication app(qtArgc, arguments.data());
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
    const Console::Sink err = [](const QString& text) { writeTo(stderr, text); };
    const Console::Sink out = [](const QString& text) { writeTo(stdout, text); };
    if (options.trace) QLoggingCategory::setFilterRules(QStringLiteral("vantrel.link.debug=true"));

    FlashRun::Setup setup;
    setup.options = options;
    setup.style = terminal ? Console::Style::Terminal : Console::Style::Plain;
    setup.err = err;
    setup.out = out;
    if (options.dryRun) {
        QString why;
        const std::shared_ptr<SimulatedBoards> boards = SimulatedBoards::make(dryRunBoardOptions(options), &why);
        if (boards) setup.ports = boards->factory();
        if (!boards) {
            writeTo(stderr,
                    QStringLiteral("vantrel-flash: --dry-run-with: %1\nTry 'vantrel-flash --help'.\n").arg(why));
            return toInt(ExitCode::Usage);
        }
    } else {
        setup.ports = serialPortFactory();
    }
    int code = toInt(ExitCode::Internal);
    {
        FlashRun run(std::move(setup));
        g_run = &run;
        QObject::connect(&run, &FlashRun::finished, &app, [&code](int exitCode) {
            code = exitCode;
            QCoreApplication::exit(exitCode);
        });
        run.start();
        QApplication::exec();
        g_run = nullptr;
    }
    qInstallMessageHandler(nullptr);
    return code;
}
