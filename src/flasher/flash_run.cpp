#include "flasher/flash_run.h"

#include <cmath>

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include "common/failure.h"
#include "connection/ports/port_choice.h"
#include "connection/ports/usb_port.h"
#include "connection/qt_serial_component.h"
#include "flasher/flash_job.h"

namespace vantrel::flasher {

namespace {

// The boards' lines are redrawn by their own progress; the run's time left
// often enough to count down.
constexpr int kTimeLeftRedrawMs = 500;

}  // namespace

PortFactory serialPortFactory(PortLister list) {
    return [list](const PortName& name) {
        const PortForm form = name.isUsb ? PortForm::Usb : name.isDevice ? PortForm::Device : PortForm::ComN;
        PortChoice choice = portChoiceFor(name.text, form, list);
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
    // With --speed auto, the speed the search found the boards at: they are
    // flashed at it without trying again.
    std::optional<Speed> foundSpeed;
    std::unique_ptr<FlashJob> job;
    std::vector<std::unique_ptr<Console>> consoles;  // outlive the jobs that print through them
    QList<BoardResult> results;
    bool done = false;
    QString cannotOpen;           // why the port cannot be used at all (a USB identity found nowhere)
    double linesPerSecond = 0.0;  // the rate its boards have shown so far
};

FlashRun::FlashRun(Setup setup, QObject* parent)
    : QObject(parent),
      setup_(std::move(setup)),
      options_(setup_.options),
      plan_(planOf(setup_.options)),
      runConsole_(Console::Style::Plain, setup_.options.quiet, setup_.err, setup_.out, setup_.clock) {}

FlashRun::~FlashRun() = default;

void FlashRun::start() {
    startedMs_ = setup_.clock();
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
    if (!checkUsbPorts()) return;

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
        plan_.file = readHexImage(options_.file, Loader::kMaxLines, &why,
                                  options_.checkFile ? HexImageCheck::Records : HexImageCheck::None);
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
    if (lanes_ && plan_.needsFile()) {
        timeLeftTimer_.setTimerType(Qt::PreciseTimer);
        timeLeftTimer_.setInterval(kTimeLeftRedrawMs);
        connect(&timeLeftTimer_, &QTimer::timeout, this, &FlashRun::showTimeLeft);
        timeLeftTimer_.start();
    }
    for (auto& p : ports_) startPort(*p);
}

bool FlashRun::checkUsbPorts() {
    if (!setup_.listPorts) return true;
    std::optional<QList<SerialPortEntry>> listed;
    for (auto& p : ports_) {
        if (!p->port.isUsb) continue;
        const std::optional<UsbPortId> id = parseUsbPortId(p->port.text, nullptr);
        if (!id) continue;
        if (!listed) listed = setup_.listPorts();
        // With --speed usb the board's port appears once it is powered: none
        // yet is what the scan waits for.
        const std::optional<UsbPortProblem> problem =
            usbPortProblem(p->port.text, *id, *listed, options_.speed == Speed::Usb);
        if (!problem) continue;
        if (problem->kind == UsbPortProblem::Kind::Several) {
            remark(QStringLiteral("vantrel-flash: ") + problem->message);
            code_ = ExitCode::Usage;
            finished_ = true;
            QMetaObject::invokeMethod(
                this, [this] { emit finished(toInt(code_)); }, Qt::QueuedConnection);
            return false;
        }
        p->cannotOpen = problem->message;
    }
    return true;
}

void FlashRun::startPort(PortRun& p) {
    if (!p.cannotOpen.isEmpty()) {
        remark(QStringLiteral("vantrel-flash: ") + p.cannotOpen);
        for (const Target& t : p.boards) p.results.append(unreached(t, ExitCode::PortNotOpened, p.cannotOpen));
        p.done = true;
        finishRun();
        return;
    }
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
    if (options_.autoSpeed) p.foundSpeed = search->speed();
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
    if (several_ && !lanes_ && plan_.needsFile()) console->setRunTimeLeft([this] { return secondsLeft(); });

    PortAccess access = setup_.ports(p.port);
    FlashJob::Setup job;
    job.options = options_;
    if (p.foundSpeed && action != Action::Search) {
        job.options.speed = *p.foundSpeed;
        job.options.autoSpeed = false;
    }
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
    if (const auto figures = p.consoles.back()->transferFigures(); figures && figures->rate > 0.0)
        p.linesPerSecond = figures->rate;
    if (several_) {
        QString detail = r.result;
        if (!r.version.isEmpty()) detail += QStringLiteral("  ") + r.version;
        detail += QStringLiteral("  %1 s").arg(r.seconds, 0, 'f', 1);
        p.consoles.back()->settle(detail);
        showTimeLeft();
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

void FlashRun::remark(const QString& text) {
    if (lanes_)
        lanes_->print(text);
    else
        runConsole_.error(text);
}

qint64 FlashRun::secondsLeft() {
    QList<PortTimeLeft> times;
    for (const auto& p : ports_) {
        PortTimeLeft t;
        t.searching = p->searching;
        if (p->job && !p->searching) {
            t.running = true;
            const std::optional<Console::Figures> figures = p->consoles.back()->transferFigures();
            if (figures && figures->rate > 0.0) p->linesPerSecond = figures->rate;
            if (figures && figures->secondsLeft >= 0)
                t.runningSecondsLeft = figures->secondsLeft;
            else if (p->linesPerSecond > 0.0)
                // Opening or probing: the whole board at the rate its port has shown.
                t.runningSecondsLeft = static_cast<qint64>(std::ceil(linesPerBoard() / p->linesPerSecond));
            else
                t.runningSecondsLeft = -1;
        }
        t.queuedBoards = p->done ? 0 : static_cast<int>(p->boards.size()) - p->next;
        t.linesPerSecond = p->linesPerSecond;
        times.append(t);
    }
    return runSecondsLeft(times, linesPerBoard());
}

void FlashRun::showTimeLeft() {
    if (!lanes_ || finished_) return;
    int done = 0;
    int known = 0;
    for (const auto& p : ports_) {
        done += static_cast<int>(p->results.size());
        known += p->searching ? 0 : static_cast<int>(p->boards.size());
    }
    lanes_->setFooter(
        QStringLiteral("run: %1 of %2 boards done, %3 left").arg(done).arg(known).arg(formatDuration(secondsLeft())));
}

void FlashRun::finishRun() {
    if (finished_) return;
    for (const auto& p : ports_)
        if (!p->done) return;
    finished_ = true;
    timeLeftTimer_.stop();
    if (lanes_) {
        lanes_->setFooter(QString());
        lanes_->finish();
    }
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
    runConsole_.info(summaryHeadline(all, static_cast<double>(setup_.clock() - startedMs_) / 1000.0));
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
