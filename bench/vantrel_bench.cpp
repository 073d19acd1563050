// Speed, processor and memory figures of the tool, measured against its
// targets. The transfers run the real window on the real serial port with the
// simulated board on a pseudo-terminal, so they take real time: the receive
// tick, not the processor, sets the pace.
//
//   vantrel_bench                      every benchmark, then the verdicts
//   vantrel_bench --soak=600           ten minutes of transfers, memory and processor per round
//   VANTREL_BENCH_QUICK=1 vantrel_bench   shorter transfers

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include "board_sim.h"
#include "connection/qt_serial_component.h"
#include "fake_platform.h"
#include "flasher/flash_job.h"
#include "flasher/options.h"
#include "hex_generator.h"
#include "link/crc16.h"
#include "loader/loader.h"
#include "real_loader.h"
#include "transfer/hex_file.h"
#include "window/progress_bar.h"

namespace {

using vantrel::Loader;
using namespace std::chrono_literals;

constexpr double kTickMs = 20.0;

// --- Measurements of this process -----------------------------------------

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// Processor time another process has used, user and system, from /proc.
double processCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    long long ticks = 0;
    // After the name: state is field 3, user time field 14, system time 15.
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stoll(field);
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long statusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string k;
    while (status >> k) {
        if (k == key) {
            long v = 0;
            status >> v;
            return v;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}
long residentKiB() {
    return statusKiB("VmRSS:");
}

// --- Targets, checked after the run ----------------------------------------

struct Verdict {
    std::string what;
    double value;
    std::string unit;
    double limit;
    bool atLeast;  // true: value must reach limit; false: must stay below
    bool ok() const { return atLeast ? value >= limit : value < limit; }
};
std::vector<Verdict>& verdicts() {
    static std::vector<Verdict> v;
    return v;
}
// The benchmark library may run a benchmark several times while it settles
// the iteration count; the last run's figure stands.
void verdict(std::string what, double value, std::string unit, double limit, bool atLeast) {
    for (Verdict& v : verdicts())
        if (v.what == what) {
            v = {std::move(what), value, std::move(unit), limit, atLeast};
            return;
        }
    verdicts().push_back({std::move(what), value, std::move(unit), limit, atLeast});
}

// --- The tool on the simulated board ----------------------------------------

struct Workspace {
    QTemporaryDir dir;
    // The simulated boards' aliases live here; the windows reach them
    // through a resolver, the environment is left alone.
    vantrel::PortResolver ports() const { return vantrel::aliasFolderResolver(QString::fromStdString(portsDir())); }
    std::string portsDir() const { return (dir.path() + QStringLiteral("/vantrel/ports")).toStdString(); }
    QString write(const QString& name, const QByteArray& data) const {
        QFile f(dir.path() + u'/' + name);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return f.fileName();
    }
};

Workspace& workspace() {
    static Workspace w;
    return w;
}

// The tests' real window, with the real pause, and what a benchmark does with it.
struct LiveWindow : vantrel::testing::RealLoader {
    LiveWindow();

    // No probe, at the given speed; Modbus frames go to address 1.
    bool open(int baud, bool modbus = false) {
        (baud == 9600 ? w->Option1 : baud == 19200 ? w->Option2 : w->Option3)->setChecked(true);
        w->Check1->setChecked(modbus);
        w->Text1->setText(QStringLiteral("0"));
        w->BTNOpenCom_Click();
        w->Text1->setText(QStringLiteral("1"));
        return w->MSComm1->portOpen();
    }

    bool over() const {
        const QString t = w->vbalProgressBar1->text();
        return t == QStringLiteral("END") || t == QStringLiteral("ERROR");
    }
};

LiveWindow::LiveWindow() : RealLoader(Pause::Real, workspace().ports()) {}

std::unique_ptr<vantrel::testing::BoardSim> startBoard(int paceBaud, bool modbus = false, int noisePercent = 0) {
    std::vector<std::string> options;
    if (paceBaud > 0) options = {"--baud", std::to_string(paceBaud)};
    if (modbus) options.insert(options.end(), {"--modbus", "1"});
    if (noisePercent > 0) options.insert(options.end(), {"--noise", std::to_string(noisePercent)});
    auto sim = std::make_unique<vantrel::testing::BoardSim>(options);
    sim->setAlias(workspace().portsDir(), 3);
    if (!sim->start()) return nullptr;
    return sim;
}

// The simulated board behind COM3 and the window open on it, without the
// probe. The window goes before the board.
struct Rig {
    std::unique_ptr<vantrel::testing::BoardSim> board;
    std::unique_ptr<LiveWindow> live;
    std::string error;

    bool start(int paceBaud = 0, bool modbus = false) {
        board = startBoard(paceBaud, modbus);
        if (!board) {
            error = "no pseudo-terminal for the simulated board";
            return false;
        }
        live = std::make_unique<LiveWindow>();
        if (!live->open(paceBaud > 0 ? paceBaud : 115200, modbus)) {
            error = "the port did not open";
            return false;
        }
        return true;
    }
};

// Milliseconds from a command to the tick that sees its whole reply: the
// command and the reply cross the wire (10 bits a byte) and the first receive
// tick comes one interval after the write, then every interval.
double tickAlignedMs(qsizetype commandBytes, qsizetype replyBytes, int paceBaud) {
    if (paceBaud <= 0) return kTickMs;
    const double wire = (commandBytes + replyBytes) * 10.0 * 1000.0 / paceBaud;
    return std::max(1.0, std::ceil(wire / kTickMs)) * kTickMs;
}

// The fastest a download and verify of these lines can go. A Modbus frame
// adds the address and the CRC to a command, and the address, "B" and the
// CRC to a reply.
double ceilingMs(const QList<QByteArray>& lines, int paceBaud, bool modbus) {
    double total = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (const QByteArray& line : lines) {
            const bool last = &line == &lines.back();
            const qsizetype command = 4 + line.size() + 2 + (modbus ? 3 : 0);
            const qsizetype reply = (last ? 10 : 4) + (modbus ? 4 : 0);  // "DOWNLOAD\r\n" or "OK\r\n"
            total += tickAlignedMs(command, reply, paceBaud);
        }
    return total;
}

int transferLines() {
    return qEnvironmentVariableIsSet("VANTREL_BENCH_QUICK") ? 200 : 600;
}

// The file the transfer benchmarks send, written once into the workspace.
struct TransferFile {
    QString path;
    QList<QByteArray> lines;
};

TransferFile transferFile() {
    const int n = transferLines();
    const QByteArray file = vantrel::bench::makeHexFile(n);
    return {workspace().write(QStringLiteral("transfer-%1.hex").arg(n), file), vantrel::splitHexFields(file)};
}

// --- Benchmarks -----------------------------------------------------------

void BM_LoadHexFile(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    const QString path =
        workspace().write(QStringLiteral("load-%1.hex").arg(lines), vantrel::bench::makeHexFile(lines));
    vantrel::testing::FakeLoader f;  // port closed: the load is timed, nothing is sent
    f.dialog->nextPath = path;
    QElapsedTimer wall;
    wall.start();
    for (auto _ : state) {
        f->Command3_Click();
        if (f->LineCount != lines) state.SkipWithError("the file did not load whole");
    }
    const double ms = wall.nsecsElapsed() / 1e6 / std::max<benchmark::IterationCount>(1, state.iterations());
    state.counters["lines"] = lines;
    verdict("loading a " + std::to_string(lines) + "-line file", ms, "ms", 50.0, false);
}
BENCHMARK(BM_LoadHexFile)->Arg(9000)->Unit(benchmark::kMillisecond);

void BM_Crc16OfALine(benchmark::State& state) {
    const QByteArray frame =
        "\x01"
        "BOOT:10000000A0E1B2C3D4E5F60718293A4B5C6D7E8F90D5\r\n";
    for (auto _ : state) benchmark::DoNotOptimize(vantrel::crc16Modbus(frame));
    state.SetBytesProcessed(state.iterations() * frame.size());
}
BENCHMARK(BM_Crc16OfALine);

void BM_ReceiveTickWithoutData(benchmark::State& state) {
    vantrel::testing::FakeLoader f;
    f.port->setPortOpen(true);
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("1"));
    for (auto _ : state) f->TMRComm_Timer();
}
BENCHMARK(BM_ReceiveTickWithoutData);

// A whole download and verify through the pseudo-terminal. Arguments: the
// board's wire speed in baud (0 for an instant line), and Modbus (1) or
// plain (0). On the slow wires replies straddle the receive tick in both
// modes; each is taken on the tick that completes it.
void BM_Transfer(benchmark::State& state) {
    const int pace = static_cast<int>(state.range(0));
    const bool modbus = state.range(1) != 0;
    const int retries = static_cast<int>(state.range(2));
    const int noise = static_cast<int>(state.range(3));
    const TransferFile file = transferFile();
    const QString& path = file.path;
    const QList<QByteArray>& lines = file.lines;

    for (auto _ : state) {
        Rig rig;
        if (!rig.start(pace, modbus)) {
            state.SkipWithError(rig.error.c_str());
            return;
        }
        LiveWindow& live = *rig.live;
        live.dialog->nextPath = path;
        QElapsedTimer wall;
        const double cpu0 = cpuSeconds();
        wall.start();
        live.w->Command3_Click();
        const bool done = QTest::qWaitFor([&] { return live.over(); }, 30 * 60 * 1000);
        const double seconds = wall.nsecsElapsed() / 1e9;
        const double cpu = cpuSeconds() - cpu0;
        state.SetIterationTime(seconds);
        if (!done || live.w->vbalProgressBar1->text() != QStringLiteral("END")) {
            state.SkipWithError("the transfer did not end");
            return;
        }
        const double rate = 2.0 * lines.size() / seconds;
        const double ceiling = 2.0 * lines.size() / (ceilingMs(lines, pace, modbus) / 1000.0);
        state.counters["lines_per_s"] = rate;
        state.counters["ceiling_per_s"] = ceiling;
        state.counters["ratio"] = rate / ceiling;
        state.counters["cpu_percent"] = 100.0 * cpu / seconds;
        const std::string speed = (pace > 0 ? std::to_string(pace) + " baud" : std::string("instant line")) +
                                  (modbus ? ", Modbus" : ", plain");
        verdict("transfer rate / tick-aligned ceiling, " + speed, rate / ceiling, "", 0.95, true);
        verdict("processor during a transfer, " + speed, 100.0 * cpu / seconds, "% of a core", 5.0, false);
    }
}
BENCHMARK(BM_Transfer)
    ->ArgNames({"baud", "modbus"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({115200, 0})
    ->Args({115200, 1})
    ->Args({19200, 0})
    ->Args({19200, 1})
    ->Args({9600, 0})
    ->Args({9600, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// One simulated board (the vantrel-boardsim program) answering a download
// and verify of a 408-line file at 115200 baud at the window's pace: its
// own processor time per wall second, so that many boards on one machine
// measure the loader, not the simulators.
void BM_SimulatedBoardProcessor(benchmark::State& state) {
    constexpr int kBaud = 115200;
    const bool modbus = state.range(0) != 0;
    const QString path = workspace().write(QStringLiteral("board-408.hex"), vantrel::bench::makeHexFile(408));
    for (auto _ : state) {
        Rig rig;
        if (!rig.start(kBaud, modbus)) {
            state.SkipWithError(rig.error.c_str());
            return;
        }
        LiveWindow& live = *rig.live;
        live.dialog->nextPath = path;
        const pid_t board = rig.board->pid();
        QElapsedTimer wall;
        const double cpu0 = processCpuSeconds(board);
        wall.start();
        live.w->Command3_Click();
        const bool done = QTest::qWaitFor([&] { return live.over(); }, 30 * 60 * 1000);
        const double seconds = wall.nsecsElapsed() / 1e9;
        const double cpu = processCpuSeconds(board) - cpu0;
        state.SetIterationTime(seconds);
        if (!done || live.w->vbalProgressBar1->text() != QStringLiteral("END") || cpu0 < 0) {
            state.SkipWithError("the transfer did not end");
            return;
        }
        const double percent = 100.0 * cpu / seconds;
        state.counters["board_cpu_percent"] = percent;
        const std::string speed = std::string("115200 baud") + (modbus ? ", Modbus" : ", plain");
        std::printf("simulated board at %s: %.3f s of processor in %.1f s: %.2f %% of a core\n", speed.c_str(), cpu,
                    seconds, percent);
        verdict("simulated board's processor, 408 lines, " + speed, percent, "% of a core", 2.0, false);
    }
}
BENCHMARK(BM_SimulatedBoardProcessor)
    ->ArgNames({"modbus"})
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// The time the commands of a download and verify and their replies take on
// the wire itself, 10 bits a byte, line by line: what no tool can beat.
double wireLimitMs(const QList<QByteArray>& lines, int baud, bool modbus) {
    double bytes = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (const QByteArray& line : lines) {
            const bool last = &line == &lines.back();
            bytes += 4 + line.size() + 2 + (modbus ? 3 : 0);  // "BOOT", the line, CR LF; address and CRC
            bytes += (last ? 10 : 4) + (modbus ? 4 : 0);      // "DOWNLOAD" or "OK", CR LF; address, "B", CRC
        }
    return bytes * 10.0 * 1000.0 / baud;
}

// vantrel-flash's job with --fast, in this process, against the simulated
// board paced at the wire's speed: from the first line written to the end
// of the verify pass, against the wire limit.
void BM_FastTransfer(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const bool modbus = state.range(1) != 0;
    const int retries = static_cast<int>(state.range(2));
    const int noise = static_cast<int>(state.range(3));
    const TransferFile file = transferFile();
    const QString& path = file.path;
    const QList<QByteArray>& lines = file.lines;

    for (auto _ : state) {
        std::unique_ptr<vantrel::testing::BoardSim> board = startBoard(baud, modbus, noise);
        if (!board) {
            state.SkipWithError("no pseudo-terminal for the simulated board");
            return;
        }
        QStringList args{QStringLiteral("vantrel-flash"), QStringLiteral("--port"),
                         QStringLiteral("COM3"),          QStringLiteral("--speed"),
                         QString::number(baud),           QStringLiteral("--fast"),
                         QStringLiteral("--quiet"),       path};
        if (modbus) args << QStringLiteral("--modbus") << QStringLiteral("1");
        if (retries > 0) args << QStringLiteral("--retries") << QString::number(retries);
        if (noise > 0) args << QStringLiteral("--timeout") << QStringLiteral("0.5");
        const vantrel::flasher::CommandLine command = vantrel::flasher::parseCommandLine(args);
        vantrel::flasher::Console console(
            vantrel::flasher::Console::Style::Plain, true, [](const QString&) {}, [](const QString&) {});
        vantrel::flasher::FlashJob::Setup setup;
        setup.options = command.options;
        setup.portBoxText = QStringLiteral("COM3");
        setup.portLabel = QStringLiteral("COM3");
        setup.resolver = workspace().ports();
        setup.port = std::make_unique<vantrel::QtSerialComponent>(setup.resolver);
        vantrel::flasher::FlashJob job(std::move(setup), console);

        QElapsedTimer wall;
        double firstLineMs = -1;
        double endMs = -1;
        double cpu0 = 0;
        double boardCpu0 = 0;
        QObject::connect(&job.loader(), &Loader::lineSent, [&](bool, int line, int, const QByteArray&) {
            if (firstLineMs < 0 && line == 1) {
                firstLineMs = wall.nsecsElapsed() / 1e6;
                cpu0 = cpuSeconds();
                boardCpu0 = processCpuSeconds(board->pid());
            }
        });
        QObject::connect(&job.loader(), &Loader::replyInterpreted, [&](Loader::ReplyOutcome o) {
            if (o == Loader::ReplyOutcome::End) endMs = wall.nsecsElapsed() / 1e6;
        });
        // A real event loop, as vantrel-flash runs: a waiting loop that sleeps
        // between its turns would set the pace instead of the wire.
        QEventLoop loop;
        QObject::connect(&job, &vantrel::flasher::FlashJob::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30 * 60 * 1000, &loop, &QEventLoop::quit);
        wall.start();
        job.start();
        loop.exec();
        if (!job.isFinished()) {
            state.SkipWithError("the job never finished");
            return;
        }
        const double cpu = cpuSeconds() - cpu0;
        const double boardCpu = processCpuSeconds(board->pid()) - boardCpu0;
        if (job.exitCode() != vantrel::flasher::ExitCode::Success || firstLineMs < 0 || endMs < 0) {
            state.SkipWithError(("the transfer did not end: " + job.exitMessage().toStdString()).c_str());
            return;
        }
        const double took = endMs - firstLineMs;
        state.SetIterationTime(took / 1000.0);
        const double limit = wireLimitMs(lines, baud, modbus);
        const double ratio = limit / took;
        state.counters["lines_per_s"] = 2.0 * lines.size() / (took / 1000.0);
        state.counters["wire_limit_per_s"] = 2.0 * lines.size() / (limit / 1000.0);
        state.counters["ratio"] = ratio;
        state.counters["cpu_percent"] = 100.0 * cpu / (took / 1000.0);
        state.counters["board_cpu_percent"] = 100.0 * boardCpu / (took / 1000.0);
        const std::string speed = std::to_string(baud) + " baud" + (modbus ? ", Modbus" : ", plain") +
                                  (retries > 0 ? ", --retries " + std::to_string(retries) : "") +
                                  (noise > 0 ? ", " + std::to_string(noise) + " % noise" : "");
        std::printf("--fast at %s: %d lines twice in %.3f s, the wire takes %.3f s: %.3f of the wire's speed\n",
                    speed.c_str(), static_cast<int>(lines.size()), took / 1000.0, limit / 1000.0, ratio);
        if (noise == 0) {
            verdict("--fast rate / wire limit, " + speed, ratio, "", 0.9, true);
            continue;
        }
        // A noisy line: what each write again of a damaged reply costs over
        // the clean wire's time.
        const int again = job.retries();
        state.counters["retries"] = again;
        const double perRetry = again > 0 ? (took - limit) / 1000.0 / again : 0.0;
        std::printf("  %d lines written again, %.3f s each over the wire's time\n", again, perRetry);
        verdict("seconds per write again of a damaged reply, " + speed, perRetry, " s", 0.5, false);
    }
}
BENCHMARK(BM_FastTransfer)
    ->ArgNames({"baud", "modbus", "retries", "noise"})
    ->Args({115200, 0, 0, 0})
    ->Args({115200, 1, 0, 0})
    ->Args({19200, 0, 0, 0})
    ->Args({19200, 1, 0, 0})
    ->Args({9600, 0, 0, 0})
    ->Args({9600, 1, 0, 0})
    // Retries that are never needed must cost nothing.
    ->Args({115200, 0, 3, 0})
    ->Args({115200, 1, 3, 0})
    // A line where 1 % of the reply bytes have a random byte in front: each
    // damaged reply is written again once the line is quiet.
    ->Args({115200, 0, 5, 1})
    ->Args({115200, 1, 5, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// The port open and nothing happening: the receive tick polls every 20 ms.
void BM_IdleOpenPort(benchmark::State& state) {
    for (auto _ : state) {
        Rig rig;
        if (!rig.start()) {
            state.SkipWithError(rig.error.c_str());
            return;
        }
        // A real event loop, as the window runs: QTest::qWait wakes every
        // 10 ms to sleep again, which would cost more than the receive tick.
        const auto idle = [](int ms) {
            QEventLoop loop;
            QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
            loop.exec();
        };
        idle(500);
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        idle(10'000);
        const double seconds = wall.nsecsElapsed() / 1e9;
        const double percent = 100.0 * (cpuSeconds() - cpu0) / seconds;
        state.SetIterationTime(seconds);
        state.counters["cpu_percent"] = percent;
        verdict("processor with the port open and idle", percent, "% of a core", 0.5, false);
    }
}
BENCHMARK(BM_IdleOpenPort)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Memory while the largest file the tool takes goes through.
void BM_Transfer9000LinesMemory(benchmark::State& state) {
    const int n = qEnvironmentVariableIsSet("VANTREL_BENCH_QUICK") ? 1000 : 9000;
    const QByteArray file = vantrel::bench::makeHexFile(n);
    const QString path = workspace().write(QStringLiteral("memory-%1.hex").arg(n), file);
    for (auto _ : state) {
        Rig rig;
        if (!rig.start()) {
            state.SkipWithError(rig.error.c_str());
            return;
        }
        LiveWindow& live = *rig.live;
        live.dialog->nextPath = path;
        const long before = residentKiB();
        long peak = before;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, residentKiB()); });
        sampler.start(250);
        QElapsedTimer wall;
        wall.start();
        live.w->Command3_Click();
        const bool done = QTest::qWaitFor([&] { return live.over(); }, 60 * 60 * 1000);
        sampler.stop();
        state.SetIterationTime(wall.nsecsElapsed() / 1e9);
        if (!done) {
            state.SkipWithError("the transfer did not end");
            return;
        }
        const long after = residentKiB();
        state.counters["lines"] = n;
        state.counters["rss_before_MiB"] = before / 1024.0;
        state.counters["rss_peak_MiB"] = peak / 1024.0;
        state.counters["rss_after_MiB"] = after / 1024.0;
        verdict("memory growth during a " + std::to_string(n) + "-line transfer", (peak - before) / 1024.0, "MiB", 16.0,
                false);
    }
}
BENCHMARK(BM_Transfer9000LinesMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// --- Soak -----------------------------------------------------------------

// Transfers back to back for `seconds`; memory and processor per round. The
// resident memory after the last round must stay within a few MiB of the
// memory after the first.
int soak(int seconds) {
    const QString path = QStringLiteral(VANTREL_EXAMPLES_DIR "/medium.hex");
    Rig rig;
    if (!rig.start()) {
        std::fprintf(stderr, "soak: %s\n", rig.error.c_str());
        return 2;
    }
    LiveWindow& live = *rig.live;
    live.dialog->nextPath = path;
    QElapsedTimer total;
    total.start();
    long firstRss = -1;
    long lastRss = -1;
    int round = 0;
    std::printf("%6s %10s %10s %12s %10s\n", "round", "seconds", "result", "rss_KiB", "cpu_%");
    while (total.elapsed() < seconds * 1000LL) {
        ++round;
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        live.w->Command3_Click();
        const bool done = QTest::qWaitFor([&] { return live.over(); }, 30 * 60 * 1000);
        const double s = wall.nsecsElapsed() / 1e9;
        lastRss = residentKiB();
        if (firstRss < 0) firstRss = lastRss;
        std::printf("%6d %10.1f %10s %12ld %10.2f\n", round, s,
                    done ? live.w->vbalProgressBar1->text().toLatin1().constData() : "stuck", lastRss,
                    100.0 * (cpuSeconds() - cpu0) / s);
        std::fflush(stdout);
        if (!done || live.w->vbalProgressBar1->text() != QStringLiteral("END")) return 1;
    }
    const long growth = lastRss - firstRss;
    std::printf(
        "soak: %d rounds in %lld s, resident memory %ld KiB after the first round, %ld KiB after the last "
        "(%+ld KiB)\n",
        round, total.elapsed() / 1000, firstRss, lastRss, growth);
    const bool ok = growth < 4 * 1024;
    std::printf("soak: %s\n", ok ? "PASS: no growth" : "FAIL: memory grows");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    workspace();

    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg.startsWith("--soak")) return soak(arg.contains('=') ? arg.mid(arg.indexOf('=') + 1).toInt() : 600);
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    bool allOk = true;
    std::printf("\nTargets\n");
    for (const Verdict& v : verdicts()) {
        std::printf("  %-4s %-58s %10.3f %-12s (%s %g)\n", v.ok() ? "ok" : "MISS", v.what.c_str(), v.value,
                    v.unit.c_str(), v.atLeast ? "at least" : "under", v.limit);
        allOk = allOk && v.ok();
    }
    return allOk ? 0 : 1;
}
