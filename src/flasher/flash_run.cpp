#include "flasher/flash_run.h"

#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QSaveFile>
#include <QTimer>

#include "common/failure.h"
#include "connection/qt_serial_component.h"
#include "flasher/flash_job.h"
#include "flasher/port_choice.h"
#include "loader/loader.h"

namespace vantrel::flasher {

PortFactory serialPortFactory() {
    return [](const PortName& name) {
        FlashOptions o;
        o.port = name.text;
        o.portIsDevice = name.isDevice;
        PortChoice choice = portChoiceFor(o);
        PortAccess access;
        access.portBoxText = choice.portBoxText;
        access.resolver = choice.resolver;
        access.port = std::make_unique<QtSerialComponent>(std::move(choice.resolver));
        return access;
    };
}

// One port of the run: its boards one after the other, after a search when
// the run was asked for every board on the bus.
struct FlashRun::PortRun {
    PortName port;
    QList<Target> boards;  // one after the other
    int next = 0;
    bool searching = false;
    std::unique_ptr<FlashJob> job;
    std::vector<std::unique_ptr<Console>> consoles;  // outlive the jobs that print through them
    QList<BoardResult> results;
    bool done = false;
};

FlashRun::FlashRun(Setup setup, QObject* parent)
    : QObject(parent),
      setup_(std::move(setup)),
      options_(setup_.options),
      plan_(planOf(setup_.options)),
      runConsole_(Console::Style::Plain, setup_.options.quiet, setup_.err, setup_.out, setup_.clock) {}

FlashRun::~FlashRun() = default;

void FlashRun::start() {
    several_ = options_.severalBoards();
    if (several_ && setup_.style == Console::Style::Terminal) {
        lanes_ = std::make_unique<Lanes>(setup_.err);
        lanes_->setWidth(setup_.width);
    }

    for (const PortPlan& planned : plan_.ports) {
        auto p = std::make_unique<PortRun>();
        p->port = planned.port;
        p->boards = planned.boards;
        // Before the search, the bus stands for its one unknown board.
        if (planned.searchFirst) p->boards = {Target{planned.port, Target::Kind::Search, 0}};
        ports_.push_back(std::move(p));
    }

    // The record is promised before any board is touched: a file that cannot
    // be written is found now, not after the last board.
    if (!options_.reportPath.isEmpty()) {
        QFile report(options_.reportPath);
        if (!report.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            runConsole_.error(QStringLiteral("vantrel-flash: cannot write the report %1: %2")
                                  .arg(options_.reportPath, report.errorString()));
            code_ = ExitCode::ReportUnwritable;
            finished_ = true;
            QMetaObject::invokeMethod(
                this, [this] { emit finished(toInt(code_)); }, Qt::QueuedConnection);
            return;
        }
    }

    if (plan_.needsFile()) {
        // Read and checked once for every board, before any port is opened;
        // every board's loader is handed these very lines.
        QString why;
        plan_.file = readPlannedFile(options_.file, &why, options_.checkFile ? FileCheck::Records : FileCheck::None);
        if (!plan_.file) {
            runConsole_.error(QStringLiteral("vantrel-flash: ") + why);
            for (auto& p : ports_) {
                for (const Target& t : p->boards) p->results.append(unreached(t, ExitCode::FileUnreadable, why));
                p->done = true;
            }
            QTimer::singleShot(0, this, &FlashRun::finishRun);
            return;
        }
    }
    for (auto& p : ports_) startPort(*p);
}

void FlashRun::startPort(PortRun& p) {
    if (!options_.modbusAll) {
        nextBoard(p);
        return;
    }
    p.searching = true;
    p.job = makeJob(p, Target{p.port, Target::Kind::Search, 0}, Action::Search,
                    boardLabel(p.port.text, std::nullopt) + QStringLiteral(" search"));
    FlashJob* job = p.job.get();
    connect(job, &FlashJob::finished, this, [this, &p] { searchDone(p); });
    job->start();
}

void FlashRun::searchDone(PortRun& p) {
    FlashJob* search = p.job.release();
    search->deleteLater();
    p.searching = false;
    p.boards.clear();
    if (search->exitCode() != ExitCode::Success) {
        BoardResult r = search->result();
        r.file = options_.file;
        r.sha256 = sha256();
        r.lines = fileLines();
        p.results.append(r);
        p.done = true;
        if (several_) p.consoles.back()->settle(r.result);
        finishRun();
        return;
    }
    if (several_) p.consoles.back()->settle(QStringLiteral("found %1").arg(search->found().size()));
    for (int a : search->found()) p.boards.append(Target{p.port, Target::Kind::Address, a});
    nextBoard(p);
}

std::unique_ptr<FlashJob> FlashRun::makeJob(PortRun& p, const Target& target, Action action, const QString& label) {
    std::unique_ptr<Console> console;
    if (several_)
        console = std::make_unique<Console>(setup_.style, options_.quiet, label, lanes_.get(), setup_.err, setup_.out,
                                            setup_.clock);
    else
        console = std::make_unique<Console>(setup_.style, options_.quiet, setup_.err, setup_.out, setup_.clock);
    console->setWidth(setup_.width);

    PortAccess access = setup_.ports(p.port);
    FlashJob::Setup job;
    job.options = options_;
    job.target = target;
    job.action = action;
    job.file = plan_.file;
    job.portBoxText = access.portBoxText;
    job.portLabel = p.port.text;
    job.resolver = access.resolver;
    job.port = std::move(access.port);
    if (setup_.sleeper) job.sleeper = setup_.sleeper();
    auto made = std::make_unique<FlashJob>(std::move(job), *console);
    p.consoles.push_back(std::move(console));
    return made;
}

void FlashRun::nextBoard(PortRun& p) {
    if (p.next >= p.boards.size()) {
        p.done = true;
        finishRun();
        return;
    }
    const Target target = p.boards[p.next++];
    const std::optional<int> address =
        target.kind == Target::Kind::Address ? std::optional<int>(target.address) : std::nullopt;
    p.job = makeJob(p, target, options_.action, boardLabel(p.port.text, address));
    connect(p.job.get(), &FlashJob::finished, this, [this, &p] { boardDone(p); });
    p.job->start();
}

void FlashRun::boardDone(PortRun& p) {
    FlashJob* job = p.job.release();
    // Its loader has closed the port; it goes once this signal has returned.
    job->deleteLater();
    BoardResult r = job->result();
    r.sha256 = sha256();
    r.lines = fileLines();
    p.results.append(r);
    if (several_) {
        QString detail = r.result;
        if (!r.version.isEmpty()) detail += QStringLiteral("  ") + r.version;
        detail += QStringLiteral("  %1 s").arg(r.seconds, 0, 'f', 1);
        p.consoles.back()->settle(detail);
    }
    nextBoard(p);
}

void FlashRun::passthrough(const QString& text) {
    if (lanes_) {
        lanes_->print(text);
        return;
    }
    for (const auto& p : ports_)
        if (!p->consoles.empty()) {
            p->consoles.back()->passthrough(text);
            return;
        }
    runConsole_.passthrough(text);
}

QList<BoardResult> FlashRun::results() const {
    QList<BoardResult> all;
    for (const auto& p : ports_) all += p->results;
    return all;
}

BoardResult FlashRun::unreached(const Target& target, ExitCode code, const QString& message) const {
    BoardResult r;
    r.port = target.port.text;
    if (target.kind == Target::Kind::Address) r.address = target.address;
    r.file = options_.file;
    r.sha256 = sha256();
    r.lines = fileLines();
    r.result = resultName(code, options_.action);
    r.code = code;
    r.message = message;
    r.started = QDateTime::currentDateTimeUtc();
    return r;
}

void FlashRun::finishRun() {
    if (finished_) return;
    for (const auto& p : ports_)
        if (!p->done) return;
    finished_ = true;
    if (lanes_) lanes_->finish();
    const QList<BoardResult> all = results();
    if (several_) printSummary();
    code_ = runExitCode(all);
    if (!options_.reportPath.isEmpty()) {
        QSaveFile report(options_.reportPath);
        const bool written = report.open(QIODevice::WriteOnly) && report.write(reportJson(all)) >= 0 && report.commit();
        if (!written) {
            runConsole_.error(QStringLiteral("vantrel-flash: cannot write the report %1: %2")
                                  .arg(options_.reportPath, report.errorString()));
            if (code_ == ExitCode::Success) code_ = ExitCode::ReportUnwritable;
        }
    }
    QMetaObject::invokeMethod(
        this, [this] { emit finished(toInt(code_)); }, Qt::QueuedConnection);
}

void FlashRun::printSummary() {
    const QList<BoardResult> all = results();
    QMap<QString, int> counts;
    QStringList order;
    for (const BoardResult& r : all) {
        if (!counts.contains(r.result)) order << r.result;
        ++counts[r.result];
    }
    QStringList tally;
    for (const QString& result : order) tally << QStringLiteral("%1 %2").arg(counts[result]).arg(result);
    runConsole_.info(QStringLiteral("summary: %1 board%2: %3")
                         .arg(all.size())
                         .arg(all.size() == 1 ? QString() : QStringLiteral("s"))
                         .arg(tally.join(QStringLiteral(", "))));
    for (const BoardResult& r : all) {
        QString line = QStringLiteral("  %1  %2").arg(boardLabel(r.port, r.address), r.result);
        if (!r.version.isEmpty()) line += QStringLiteral("  ") + r.version;
        if (r.lines > 0) line += QStringLiteral("  %1 lines").arg(r.lines);
        line += QStringLiteral("  %1 s").arg(r.seconds, 0, 'f', 1);
        if (r.code != ExitCode::Success)
            runConsole_.error(line + QStringLiteral("  (") + r.message + u')');
        else
            runConsole_.info(line);
    }
}

}  // namespace vantrel::flasher
