#include <cstdio>
#include <unistd.h>

#include <QCoreApplication>
#include <QLoggingCategory>

#include "connection/port_naming.h"
#include "connection/ports/port_list.h"
#include "flasher/dry_run.h"
#include "flasher/flash_run.h"
#include "flasher/options.h"
#include "flasher/plan.h"
#include "flasher/terminal/console.h"
#include "loader/loader.h"
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
    // The loader needs no display: a core application, with no platform.
    qInstallMessageHandler(routeMessage);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));

    const CommandLine command = parseCommandLine(QCoreApplication::arguments());
    switch (command.kind) {
        case CommandLine::Kind::Help:
            writeTo(stdout, command.text);
            return toInt(ExitCode::Success);
        case CommandLine::Kind::Version:
            writeTo(stdout, QStringLiteral("vantrel-flash %1\n").arg(QCoreApplication::applicationVersion()));
            return toInt(ExitCode::Success);
        case CommandLine::Kind::Error:
            writeTo(stderr, QStringLiteral("vantrel-flash: %1\nTry 'vantrel-flash --help'.\n").arg(command.text));
            return toInt(ExitCode::Usage);
        case CommandLine::Kind::Check: {
            // The same reading and the same words as a run's, with no port.
            QString why;
            const auto file = vantrel::readHexImage(command.options.file, vantrel::Loader::kMaxLines, &why);
            if (!file) {
                writeTo(stderr, QStringLiteral("vantrel-flash: %1\n").arg(why));
                return toInt(ExitCode::FileUnreadable);
            }
            if (!command.options.quiet) writeTo(stdout, vantrel::hexImageSummaryText(*file));
            return toInt(ExitCode::Success);
        }
        case CommandLine::Kind::Run:
            break;
    }
    const FlashOptions& options = command.options;

    if (options.action == Action::List) {
        writeTo(stdout,
                vantrel::formatPortList(vantrel::systemSerialPorts(), vantrel::portAliasDir(), QStringLiteral("/dev")));
        return toInt(ExitCode::Success);
    }

    // Progress is drawn in place on a terminal that can move the cursor, cut
    // to its width; anywhere else (a log, a pipe, TERM=dumb) it is plain lines.
    const bool terminal = drawsInPlace(::isatty(STDERR_FILENO) == 1, qgetenv("TERM"));
    const Console::Sink err = [](const QString& text) { writeTo(stderr, text); };
    const Console::Sink out = [](const QString& text) { writeTo(stdout, text); };
    if (options.trace) QLoggingCategory::setFilterRules(QStringLiteral("vantrel.link.debug=true"));

    FlashRun::Setup setup;
    setup.options = options;
    setup.style = terminal ? Console::Style::Terminal : Console::Style::Plain;
    if (terminal) setup.width = terminalColumns(STDERR_FILENO, qgetenv("COLUMNS"));
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
        setup.ports = serialPortFactory(vantrel::systemSerialPorts);
        setup.listPorts = vantrel::systemSerialPorts;
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
        QCoreApplication::exec();
        g_run = nullptr;
    }
    qInstallMessageHandler(nullptr);
    return code;
}
