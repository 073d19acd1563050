#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include "connection/port_naming.h"
#include "connection/ports/port_list.h"
#include "connection/serial_component.h"
#include "flasher/board_result.h"
#include "flasher/options.h"
#include "flasher/plan.h"
#include "flasher/run_time_left.h"
#include "flasher/terminal/console.h"
#include "loader/platform.h"

namespace vantrel::flasher {

class FlashJob;

// What a job needs to reach one port: the loader's port text, where its
// number leads, and a port component of its own.
struct PortAccess {
    QString portBoxText;
    PortResolver resolver;
    std::unique_ptr<SerialComponent> port;
};
using PortFactory = std::function<PortAccess(const PortName&)>;

// The real serial ports: COMn as the window names them, a device path as
// port 1 of a resolver of the job's own, and a USB identity as port 1 of a
// resolver that looks for it among `list()` at every open.
PortFactory serialPortFactory(PortLister list = systemSerialPorts);

// Everything of a run: every board on every port given, each with a job
// of its own. The ports are worked at the same time, each with a loader
// of its own, all on the one event loop; the boards of a bus one after the
// other. It prints the progress, a summary when there is more than one
// board, writes the report, and ends with the run's exit code.
class FlashRun : public QObject {
    Q_OBJECT
  public:
    struct Setup {
        FlashOptions options;
        PortFactory ports;
        Console::Style style = Console::Style::Plain;
        // The terminal's width: progress lines are cut to it (0: not cut).
        int width = 0;
        Console::Sink err;
        Console::Sink out;
        Console::Clock clock = Console::monotonicClock();
        // The machine's serial ports, for ports named by USB identity: looked
        // at once before any board is touched (none there, or several, end the
        // run early). Not given: not looked at (a dry run).
        PortLister listPorts;
        // The pause the loaders take; the thread's own when not given.
        std::function<std::unique_ptr<Sleeper>()> sleeper;
    };

    explicit FlashRun(Setup setup, QObject* parent = nullptr);
    ~FlashRun() override;

    // Starts the run; finished() follows from the event loop.
    void start();

    bool isFinished() const { return finished_; }
    ExitCode exitCode() const { return code_; }
    // Every board, in the order given (ports as given, then addresses).
    QList<BoardResult> results() const;
    // A line that is not ours (the frame trace, Qt's warnings), shown
    // without breaking the progress.
    void passthrough(const QString& text);

  signals:
    void finished(int exitCode);

  private:
    struct PortRun;

    void startPort(PortRun& p);
    void nextBoard(PortRun& p);
    void boardDone(PortRun& p);
    void searchDone(PortRun& p);
    std::unique_ptr<FlashJob> makeJob(PortRun& p, const Target& target, Action action, const QString& label);
    void finishRun();
    void printSummary();
    // A remark of the run's own, above the lanes when they are drawn.
    void remark(const QString& text);
    // Whether every port named by USB identity can be used; false when the
    // run ended at once (a usage error).
    bool checkUsbPorts();
    // The run's time left (-1: unknown) and its line under the boards' lines.
    qint64 secondsLeft();
    void showTimeLeft();
    BoardResult unreached(const Target& target, ExitCode code, const QString& message) const;

    Setup setup_;
    const FlashOptions& options_;
    FlashPlan plan_;
    bool several_ = false;
    std::unique_ptr<Lanes> lanes_;
    Console runConsole_;  // the run's own remarks and summary
    int fileLines() const { return plan_.file ? plan_.file->lineCount() : 0; }
    QString sha256() const { return plan_.file ? plan_.file->sha256 : QString(); }
    // Lines a board is sent: every line once per pass.
    qint64 linesPerBoard() const {
        if (!plan_.needsFile()) return 0;
        return static_cast<qint64>(fileLines()) * (plan_.action == Action::VerifyOnly ? 1 : 2);
    }
    std::vector<std::unique_ptr<PortRun>> ports_;
    qint64 startedMs_ = 0;
    QTimer timeLeftTimer_;
    bool finished_ = false;
    ExitCode code_ = ExitCode::Internal;
};

}  // namespace vantrel::flasher
