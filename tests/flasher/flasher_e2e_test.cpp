#include <algorithm>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include "e2e_fixture.h"
#include "flasher/exit_codes.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

using flasher::ExitCode;

// vantrel-flash as a child process, run to its end with the event loop
// turning (a window in this process may be working at the same time).
class FlashProcess {
  public:
    // `configHome`: the configuration folder the fixture made, where the
    // boards' aliases are; the child finds COMn there.
    void start(const QStringList& arguments, const QString& configHome) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process_.setProcessEnvironment(env);
        process_.start(QStringLiteral(VANTREL_FLASH_PATH), arguments);
    }
    bool finish(std::chrono::milliseconds timeout) {
        const bool ended = waitFor([this] { return process_.state() == QProcess::NotRunning; }, timeout);
        out_ += QString::fromLocal8Bit(process_.readAllStandardOutput());
        err_ += QString::fromLocal8Bit(process_.readAllStandardError());
        return ended;
    }
    int code() const { return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1; }
    const QString& out() const { return out_; }
    const QString& err() const { return err_; }

    ~FlashProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

  private:
    QProcess process_;
    QString out_;
    QString err_;
};

// A command as it reached a board: its Modbus address (none in plain mode)
// and its bytes. With no Modbus address byte and a CRC that checked (a frame
// that failed either is not an RX entry), these are the bytes on the wire.
using Taken = std::pair<int, QByteArray>;

std::vector<Taken> taken(const BoardSim::Log& log) {
    std::vector<Taken> out;
    for (const auto& e : log)
        if (e.direction == "RX") out.emplace_back(e.address.value_or(-1), QByteArray::fromStdString(e.bytes));
    return out;
}

// How many version queries the probe needs depends on when the first reply
// is read, which the machine's load decides; both sides run the same probe.
// The run of them at the start counts as one.
std::vector<Taken> probeOnce(std::vector<Taken> commands) {
    std::size_t asks = 0;
    while (asks < commands.size() && commands[asks].second == "BOOTi\r\n") ++asks;
    if (asks > 1) commands.erase(commands.begin() + 1, commands.begin() + static_cast<std::ptrdiff_t>(asks));
    return commands;
}

class FlasherEndToEnd : public EndToEnd {
  protected:
    // Runs vantrel-flash to its end.
    FlashProcess& run(const QStringList& arguments, std::chrono::milliseconds timeout = 2min) {
        flash_.start(arguments, configHome());
        EXPECT_TRUE(flash_.finish(timeout)) << "vantrel-flash did not end; it printed:\n" << flash_.err().toStdString();
        return flash_;
    }

    FlashProcess flash_;
};

struct SameCase {
    const char* name;
    const char* file;
    bool modbus;
};

void PrintTo(const SameCase& c, std::ostream* os) {
    *os << c.name;
}

class SameBytesAsTheWindow : public FlasherEndToEnd, public ::testing::WithParamInterface<SameCase> {};

TEST_P(SameBytesAsTheWindow, DownloadAndVerifyPutTheWindowsCommandsOnTheLine) {
    const SameCase& c = GetParam();
    const std::vector<std::string> boardOptions =
        c.modbus ? std::vector<std::string>{"--modbus", "5"} : std::vector<std::string>{};
    BoardSim& flashed = startBoard(boardOptions, 3);
    BoardSim& clicked = startBoard(boardOptions, 4);
    const QString file = example(c.file);

    // The flasher on COM3 and the window on COM4, side by side.
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--quiet")};
    if (c.modbus) arguments << QStringLiteral("--modbus") << QStringLiteral("5");
    flash_.start(arguments << file, configHome());

    RealLoader& f = loader();
    f->txt[0]->setText(QStringLiteral("COM4"));
    f->Check1->setChecked(c.modbus);
    if (c.modbus) f->Text1->setText(QStringLiteral("5"));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());
    ASSERT_TRUE(waitFor([&] { return f->Label2->text() == QStringLiteral("READY"); }, 30s));
    f.dialog->nextPath = file;
    f->Command3_Click();
    ASSERT_TRUE(waitFor(
        [&] {
            const QString t = f->vbalProgressBar1->text();
            return t == QStringLiteral("END") || t == QStringLiteral("ERROR");
        },
        10min));
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));

    ASSERT_TRUE(flash_.finish(10min)) << flash_.err().toStdString();
    EXPECT_EQ(flash_.code(), 0) << flash_.err().toStdString();

    const auto byFlasher = flashed.log();
    const auto byWindow = clicked.log();
    const std::vector<Taken> sentByFlasher = probeOnce(taken(byFlasher));
    const std::vector<Taken> sentByWindow = probeOnce(taken(byWindow));
    ASSERT_EQ(sentByFlasher.size(), 1 + 2 * hexFileLines(file).size());
    ASSERT_EQ(sentByFlasher.size(), sentByWindow.size());
    for (std::size_t i = 0; i < sentByWindow.size(); ++i) {
        ASSERT_EQ(sentByFlasher[i].first, sentByWindow[i].first) << "address of command " << i;
        ASSERT_EQ(sentByFlasher[i].second, sentByWindow[i].second) << "command " << i;
    }
    EXPECT_EQ(entries(byFlasher, "IG"), 0);
    EXPECT_EQ(entries(byWindow, "IG"), 0);
}

INSTANTIATE_TEST_SUITE_P(Flasher, SameBytesAsTheWindow,
                         ::testing::Values(SameCase{"PlainBlink", "blink.hex", false},
                                           SameCase{"ModbusBlink", "blink.hex", true},
                                           SameCase{"PlainMedium", "medium.hex", false},
                                           SameCase{"ModbusMedium", "medium.hex", true}),
                         [](const ::testing::TestParamInfo<SameCase>& info) { return std::string(info.param.name); });

// Plain mode on a slow line: the board's replies straddle the receive tick,
// and the end-of-file record's "DOWNLOAD" almost always does at 9600 baud.
class FlasherOnASlowLine : public FlasherEndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(FlasherOnASlowLine, PlainDownloadAndVerifyEndWithSuccess) {
    const std::string baud = GetParam();
    BoardSim& board = startBoard({"--baud", baud}, 3);
    const QString file = example("blink.hex");

    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--speed"),
                           QString::fromStdString(baud), file});

    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("END: blink.hex downloaded and verified"))) << p.err().toStdString();
    std::vector<Taken> expected{{-1, "BOOTi\r\n"}};
    for (const QByteArray& line : hexFileLines(file)) expected.emplace_back(-1, "BOOT" + line + "\r\n");
    for (QByteArray line : hexFileLines(file)) expected.emplace_back(-1, "BOOT" + line.replace(':', '#') + "\r\n");
    EXPECT_EQ(probeOnce(taken(board.log())), expected);
}

INSTANTIATE_TEST_SUITE_P(Flasher, FlasherOnASlowLine, ::testing::Values("9600", "19200"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string("Plain") + info.param;
                         });

TEST_F(FlasherEndToEnd, NoisyModbusLineStillEndsWithSuccess) {
    // The first probe reply arrives damaged, another reply behind noise, and
    // every reply split in two: each is still taken when it is whole.
    startBoard({"--modbus", "1", "--bad-crc-reply", "1", "--noise-before-reply", "6:5", "--split-reply", "all:4:30"},
               3);
    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--modbus"),
                           QStringLiteral("1"), example("blink.hex")});
    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("END: blink.hex downloaded and verified"))) << p.err().toStdString();
}

// Replies a byte every 30 ms: quiet ticks inside every reply, plain and Modbus.
class FlasherDribbled : public FlasherEndToEnd, public ::testing::WithParamInterface<bool> {};

TEST_P(FlasherDribbled, DownloadAndVerifyEndWithSuccess) {
    const bool modbus = GetParam();
    std::vector<std::string> board{"--dribble", "30"};
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM3")};
    if (modbus) {
        board.insert(board.end(), {"--modbus", "1"});
        arguments << QStringLiteral("--modbus") << QStringLiteral("1");
    }
    BoardSim& sim = startBoard(board, 3);
    const QString file = example("blink.hex");

    FlashProcess& p = run(arguments + QStringList{file}, 3min);

    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_EQ(probeOnce(taken(sim.log())).size(), 1 + 2 * hexFileLines(file).size());
}

INSTANTIATE_TEST_SUITE_P(Flasher, FlasherDribbled, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "Modbus" : "Plain");
});

// A board slower than the probe's 200 ms ask answers every ask; the transfer
// starts only after the last of those answers: every line goes once per
// pass, in order, and only after the board answered the one before.
struct SlowCase {
    const char* name;
    bool modbus;
    const char* delayMs;
};

void PrintTo(const SlowCase& c, std::ostream* os) {
    *os << c.name;
}

class FlasherOnASlowBoard : public FlasherEndToEnd, public ::testing::WithParamInterface<SlowCase> {};

TEST_P(FlasherOnASlowBoard, OneLineInFlightAndEveryLineOncePerPass) {
    const SlowCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("small.hex"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(":020000040000FA\r\n:0400000020EF00F0FD\r\n:020008001100E5\r\n:00000001FF\r\n");
    out.close();
    std::vector<std::string> board{"--reply-delay", c.delayMs};
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM3")};
    const int address = c.modbus ? 6 : -1;
    if (c.modbus) {
        board.insert(board.end(), {"--modbus", "6"});
        arguments << QStringLiteral("--modbus") << QStringLiteral("6");
    }
    BoardSim& sim = startBoard(board, 3);

    FlashProcess& p = run(arguments + QStringList{file});

    ASSERT_EQ(p.code(), 0) << p.err().toStdString();
    const BoardSim::Log log = sim.log();
    std::vector<Taken> expected{{address, "BOOTi\r\n"}};
    for (const QByteArray& line : hexFileLines(file)) expected.emplace_back(address, "BOOT" + line + "\r\n");
    for (QByteArray line : hexFileLines(file)) expected.emplace_back(address, "BOOT" + line.replace(':', '#') + "\r\n");
    EXPECT_EQ(probeOnce(taken(log)), expected);

    // Each record command only once the one before was answered.
    std::string order;
    for (const auto& e : log) {
        if (e.direction == "TX") order += 'T';
        if (e.direction == "RX") order += e.bytes == "BOOTi\r\n" ? 'a' : 'R';
    }
    const std::size_t first = order.find('R');
    ASSERT_NE(first, std::string::npos);
    const std::string probe = order.substr(0, first);
    EXPECT_GE(std::count(probe.begin(), probe.end(), 'a'), 2) << order;
    EXPECT_EQ(std::count(probe.begin(), probe.end(), 'a'), std::count(probe.begin(), probe.end(), 'T'))
        << "every ask answered before the first line: " << order;
    std::string alternating;
    for (std::size_t i = 0; i < expected.size() - 1; ++i) alternating += "RT";
    EXPECT_EQ(order.substr(first), alternating);
}

INSTANTIATE_TEST_SUITE_P(Flasher, FlasherOnASlowBoard,
                         ::testing::Values(SlowCase{"Plain250ms", false, "250"}, SlowCase{"Plain450ms", false, "450"},
                                           SlowCase{"Modbus250ms", true, "250"}, SlowCase{"Modbus450ms", true, "450"}),
                         [](const ::testing::TestParamInfo<SlowCase>& info) { return std::string(info.param.name); });

// The end-of-file record's reply doubled and its second copy cut across a
// tick: every verify line still goes out before "END". Reply 1 answers the
// probe, reply 13 the last of blink.hex's twelve records.
TEST_F(FlasherEndToEnd, DoubledEndOfFileReplyStillVerifiesEveryLine) {
    BoardSim& sim = startBoard({"--double-reply", "13", "--split-reply", "13:14:25"}, 3);
    const QString file = example("blink.hex");
    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), file});
    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_EQ(probeOnce(taken(sim.log())).size(), 1 + 2 * hexFileLines(file).size());
}

// --fast takes replies as soon as they arrive; the commands on the line are
// byte for byte those of the normal mode.
class FastMode : public FlasherEndToEnd, public ::testing::WithParamInterface<bool> {};

TEST_P(FastMode, PutsTheSameCommandsOnTheLineAsTheNormalMode) {
    const bool modbus = GetParam();
    std::vector<std::string> board{"--baud", "115200"};
    if (modbus) board.insert(board.end(), {"--modbus", "5"});
    BoardSim& normal = startBoard(board, 3);
    BoardSim& fast = startBoard(board, 4);
    const QString file = example("blink.hex");
    QStringList common{QStringLiteral("--quiet")};
    if (modbus) common << QStringLiteral("--modbus") << QStringLiteral("5");

    FlashProcess byTick;
    FlashProcess byArrival;
    byTick.start(QStringList{QStringLiteral("--port"), QStringLiteral("COM3")} + common + QStringList{file},
                 configHome());
    byArrival.start(QStringList{QStringLiteral("--port"), QStringLiteral("COM4"), QStringLiteral("--fast")} + common +
                        QStringList{file},
                    configHome());
    ASSERT_TRUE(byTick.finish(2min)) << byTick.err().toStdString();
    ASSERT_TRUE(byArrival.finish(2min)) << byArrival.err().toStdString();
    EXPECT_EQ(byTick.code(), 0) << byTick.err().toStdString();
    EXPECT_EQ(byArrival.code(), 0) << byArrival.err().toStdString();

    const std::vector<Taken> sentByTick = probeOnce(taken(normal.log()));
    const std::vector<Taken> sentByArrival = probeOnce(taken(fast.log()));
    ASSERT_EQ(sentByTick.size(), 1 + 2 * hexFileLines(file).size());
    EXPECT_EQ(sentByArrival, sentByTick);
}

INSTANTIATE_TEST_SUITE_P(Flasher, FastMode, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "Modbus" : "Plain");
});

// Three boards on one line: each gets every line and then its verify form.
struct BusCase {
    const char* name;
    const char* addresses;  // what --modbus is given
};

void PrintTo(const BusCase& c, std::ostream* os) {
    *os << c.name;
}

class WholeBus : public FlasherEndToEnd, public ::testing::WithParamInterface<BusCase> {};

TEST_P(WholeBus, EveryBoardTakesEveryLineAndThenItsVerifyForm) {
    BoardSim& bus = startBoard({"--modbus", "3,7,9"}, 3);
    const QString file = example("blink.hex");
    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--modbus"),
                           QLatin1String(GetParam().addresses), QStringLiteral("--fast"), file},
                          3min);

    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    static const QRegularExpression summary(QStringLiteral("summary: 3 boards: 3 END in \\d+\\.\\d s\n"));
    EXPECT_TRUE(summary.match(p.err()).hasMatch()) << p.err().toStdString();
    std::vector<QByteArray> expected;
    for (const QByteArray& line : hexFileLines(file)) expected.push_back("BOOT" + line + "\r\n");
    for (QByteArray line : hexFileLines(file)) expected.push_back("BOOT" + line.replace(':', '#') + "\r\n");
    const std::vector<Taken> commands = taken(bus.log());
    for (int address : {3, 7, 9}) {
        std::vector<QByteArray> got;
        for (const Taken& t : commands)
            if (t.first == address && t.second != "BOOTi\r\n") got.push_back(t.second);
        EXPECT_EQ(got, expected) << "board " << address;
    }
}

INSTANTIATE_TEST_SUITE_P(Flasher, WholeBus, ::testing::Values(BusCase{"List", "3,7,9"}, BusCase{"All", "all"}),
                         [](const ::testing::TestParamInfo<BusCase>& info) { return std::string(info.param.name); });

// Two ports at the same time, in one process; a board that fails does not
// stop the other, and the report records both.
struct TwoPortsCase {
    const char* name;
    std::vector<std::string> secondBoard;  // options of the board on COM4
    int code;
    const char* secondResult;
};

void PrintTo(const TwoPortsCase& c, std::ostream* os) {
    *os << c.name;
}

class TwoPorts : public FlasherEndToEnd, public ::testing::WithParamInterface<TwoPortsCase> {};

TEST_P(TwoPorts, AreFlashedAtOnceAndReported) {
    BoardSim& first = startBoard({}, 3);
    BoardSim& second = startBoard(GetParam().secondBoard, 4);
    const QString file = example("blink.hex");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString report = dir.filePath(QStringLiteral("run.json"));

    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--port"),
                           QStringLiteral("COM4"), QStringLiteral("--report"), report, file});

    EXPECT_EQ(p.code(), GetParam().code) << p.err().toStdString();
    EXPECT_EQ(probeOnce(taken(first.log())).size(), 1 + 2 * hexFileLines(file).size())
        << "the good board got everything";
    QFile json(report);
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonArray boards = QJsonDocument::fromJson(json.readAll()).array();
    ASSERT_EQ(boards.size(), 2);
    QFile hex(file);
    ASSERT_TRUE(hex.open(QIODevice::ReadOnly));
    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(hex.readAll(), QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(boards[0].toObject().value(QStringLiteral("port")).toString(), QStringLiteral("COM3"));
    EXPECT_EQ(boards[0].toObject().value(QStringLiteral("result")).toString(), QStringLiteral("END"));
    EXPECT_EQ(boards[1].toObject().value(QStringLiteral("port")).toString(), QStringLiteral("COM4"));
    EXPECT_EQ(boards[1].toObject().value(QStringLiteral("result")).toString(), QLatin1String(GetParam().secondResult));
    EXPECT_EQ(boards[1].toObject().value(QStringLiteral("exit_code")).toInt(), GetParam().code);
    for (const QJsonValue& b : boards) {
        EXPECT_EQ(b.toObject().value(QStringLiteral("sha256")).toString(), sha);
        EXPECT_EQ(b.toObject().value(QStringLiteral("device")).toString(),
                  QFileInfo(b.toObject().value(QStringLiteral("port")).toString() == u"COM3"
                                ? QString::fromStdString(first.aliasPath())
                                : QString::fromStdString(second.aliasPath()))
                      .canonicalFilePath());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flasher, TwoPorts,
    ::testing::Values(TwoPortsCase{"BothSucceed", {}, 0, "END"},
                      TwoPortsCase{"OneFailsTheOtherGoesOn", {"--error-at-verify", "2"}, 6, "ERROR"}),
    [](const ::testing::TestParamInfo<TwoPortsCase>& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    std::optional<std::vector<std::string>> board;  // nullopt: no board at all
    std::vector<const char*> arguments;             // "@blink" stands for the example file
    ExitCode code;
    std::vector<const char*> stderrHas;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class FailureExit : public FlasherEndToEnd, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureExit, EndsWithTheCodeForTheCause) {
    const FailureCase& c = GetParam();
    BoardSim* board = c.board ? &startBoard(*c.board, 3) : nullptr;
    // "@bad": blink.hex with one checksum spoilt on its fifth line.
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.hex"));
    {
        QFile in(example("blink.hex"));
        QFile out(bad);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        out.write(in.readAll().replace(":10004000720ED36E0F0EC16E8A6A93908A7001D8B9",
                                       ":10004000720ED36E0F0EC16E8A6A93908A7001D8B8"));
    }
    QStringList arguments;
    for (const char* a : c.arguments) {
        if (QLatin1String(a) == QLatin1String("@blink"))
            arguments << example("blink.hex");
        else if (QLatin1String(a) == QLatin1String("@bad"))
            arguments << bad;
        else
            arguments << QString::fromUtf8(a);
    }

    FlashProcess& p = run(arguments);
    EXPECT_EQ(p.code(), flasher::toInt(c.code)) << p.err().toStdString();
    for (const char* part : c.stderrHas)
        EXPECT_TRUE(p.err().contains(QLatin1String(part))) << "missing \"" << part << "\" in:\n"
                                                           << p.err().toStdString();
    if (board != nullptr && c.code == ExitCode::FileUnreadable) {
        EXPECT_EQ(entries(board->log(), "RX"), 0) << "the board was asked although the file was unreadable";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flasher, FailureExit,
    ::testing::Values(
        FailureCase{"ErrorReply",
                    std::vector<std::string>{"--error-at-verify", "2"},
                    {"--port", "COM3", "@blink"},
                    ExitCode::BoardError,
                    {"the board answered ERROR to verify line 2 of 12"}},
        FailureCase{"SilentBoard",
                    std::vector<std::string>{"--no-reply-record", "5"},
                    {"--port", "COM3", "--timeout", "2", "@blink"},
                    ExitCode::NoReply,
                    {"no reply within 2 s to download line 5 of 12", "last answered: download line 4"}},
        FailureCase{"NoBoardAtThatAddress",
                    std::vector<std::string>{"--modbus", "7"},
                    {"--port", "COM3", "--modbus", "5", "@blink"},
                    ExitCode::NoBoard,
                    {"COM3 Not connect !", "no board answered on COM3 at Modbus address 5"}},
        FailureCase{"PortNamesNoDevice",
                    std::nullopt,
                    {"--port", "/nonexistent/ttyUSB0", "@blink"},
                    ExitCode::PortNotOpened,
                    {"cannot open /nonexistent/ttyUSB0", "does not exist", "vantrel-flash --list"}},
        FailureCase{
            "BadPortText", std::nullopt, {"--port", "COMx", "@blink"}, ExitCode::Usage, {"\"COMx\" names no port"}},
        FailureCase{"UnreadableFile",
                    std::vector<std::string>{},
                    {"--port", "COM3", "/nonexistent/firmware.hex"},
                    ExitCode::FileUnreadable,
                    {"cannot read /nonexistent/firmware.hex: no such file"}},
        FailureCase{"FileIsAFolder",
                    std::vector<std::string>{},
                    {"--port", "COM3", VANTREL_EXAMPLES_DIR},
                    ExitCode::FileUnreadable,
                    {"cannot read " VANTREL_EXAMPLES_DIR ": it is a folder"}},
        FailureCase{"BadRecordInTheFile",
                    std::vector<std::string>{},
                    {"--port", "COM3", "@bad"},
                    ExitCode::FileUnreadable,
                    {"bad.hex is not a sound HEX file: line 5 \":10004000720ED36E0F0EC16E8A6A93908A7001D8B8\": "
                     "checksum is 0xB8, the record's bytes need 0xB9"}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(FlasherEndToEnd, NoBoardBehindADanglingAlias) {
    const QString ports = QString::fromStdString(portsDir());
    ASSERT_TRUE(QDir().mkpath(ports));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/ttyACM77"), ports + QStringLiteral("/com3")));
    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), example("blink.hex")});
    EXPECT_EQ(p.code(), flasher::toInt(ExitCode::PortNotOpened)) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("COM3 Not available!"))) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("/dev/ttyACM77 does not exist"))) << p.err().toStdString();
}

TEST_F(FlasherEndToEnd, BusyPortIsReportedWithItsRemedy) {
    startBoard({}, 3);
    // This process holds COM3 as the window would.
    QtSerialComponent holder(ports());
    holder.setCommPort(3);
    holder.setPortOpen(true);
    ASSERT_TRUE(holder.portOpen());
    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), example("blink.hex")});
    EXPECT_EQ(p.code(), flasher::toInt(ExitCode::PortNotOpened)) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("in use by another program"))) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("fuser -v"))) << p.err().toStdString();
}

TEST_F(FlasherEndToEnd, ListShowsTheAliasOfASimulatedBoard) {
    BoardSim& board = startBoard({}, 3);
    FlashProcess& p = run({QStringLiteral("--list")});
    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    const QString line =
        QStringLiteral("COM3  com3 -> %1  (pseudo-terminal)").arg(QString::fromStdString(board.ptyPath()));
    EXPECT_TRUE(p.out().contains(line)) << p.out().toStdString();
    EXPECT_TRUE(p.out().contains(QStringLiteral("Aliases in ") + QString::fromStdString(portsDir())));
}

TEST_F(FlasherEndToEnd, TraceLogsEveryFrameBothWaysWithHex) {
    startBoard({"--modbus", "5"}, 3);
    FlashProcess& p =
        run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--modbus"), QStringLiteral("5"),
             QStringLiteral("--trace"), QStringLiteral("--quiet"), example("blink.hex")});
    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    // 05 "BOOTi" CR LF and its CRC out; 05 'B' "VER=4.01" CR LF and CRC back.
    static const QRegularExpression tx(
        QStringLiteral(
            "^vantrel\\.link: \\d\\d:\\d\\d:\\d\\d\\.\\d{3} TX COM3 \\(10\\) 05 42 4F 4F 54 69 0D 0A [0-9A-F]{2} "
            "[0-9A-F]{2} \\| \\\\x05BOOTi\\\\r\\\\n"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression rx(
        QStringLiteral("^vantrel\\.link: \\d\\d:\\d\\d:\\d\\d\\.\\d{3} RX COM3 \\(\\d+\\) 05 42 56 45 52 3D"),
        QRegularExpression::MultilineOption);
    EXPECT_TRUE(tx.match(p.err()).hasMatch()) << p.err().toStdString();
    EXPECT_TRUE(rx.match(p.err()).hasMatch()) << p.err().toStdString();
    // Every write is logged: the version query and the 24 lines.
    EXPECT_EQ(p.err().count(QStringLiteral(" TX COM3 ")), 25);
}

TEST_F(FlasherEndToEnd, WithoutTraceNoFrameIsLogged) {
    startBoard({}, 3);
    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), example("blink.hex")});
    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_FALSE(p.err().contains(QStringLiteral("vantrel.link"))) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("END: blink.hex downloaded and verified"))) << p.err().toStdString();
}

TEST_F(FlasherEndToEnd, DevicePathIsReachedWithoutTheUsersAliases) {
    BoardSim& board = startBoard({}, 3);
    const QString ports = QString::fromStdString(portsDir());
    FlashProcess& p = run({QStringLiteral("--port"), QString::fromStdString(board.ptyPath()), example("blink.hex")});
    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_EQ(entries(board.log(), "RX"), 25);
    // The simulator's alias is all there is in the user's folder.
    EXPECT_EQ(QDir(ports).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("com3")});
}

TEST_F(FlasherEndToEnd, InstallFollowsASuccessfulTransfer) {
    BoardSim& board = startBoard({}, 3);
    FlashProcess& p =
        run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--install"), example("blink.hex")});
    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("installed; the application answers VER=APP 1.0")))
        << p.err().toStdString();
    const std::vector<QByteArray> sent = commands(board.log());
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], QByteArray("BOOTg\r\n"));
    EXPECT_EQ(sent.back(), QByteArray("VER\r\n"));
}

TEST_F(FlasherEndToEnd, NewAddressTakesEffect) {
    startBoard({"--modbus", "5"}, 3);
    FlashProcess& set = run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--modbus"),
                             QStringLiteral("5"), QStringLiteral("--set-address"), QStringLiteral("9")});
    EXPECT_EQ(set.code(), 0) << set.err().toStdString();

    FlashProcess again;
    again.start({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--modbus"), QStringLiteral("9"),
                 QStringLiteral("--query-version"), QStringLiteral("--quiet")},
                configHome());
    ASSERT_TRUE(again.finish(2min));
    EXPECT_EQ(again.code(), 0) << again.err().toStdString();
    EXPECT_EQ(again.out(), QStringLiteral("VER=4.01\n"));
}

TEST_F(FlasherEndToEnd, UsbBoardPoweredAfterTheStart) {
    // The board's port appears a second after the flasher starts waiting.
    startBoard({"--appear-after", "1"}, 3);
    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--speed"),
                           QStringLiteral("usb"), example("blink.hex")});
    EXPECT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("power the board now"))) << p.err().toStdString();
}

// A production line's two wishes over a real pseudo-terminal: a lost reply
// written again, and a board found at its own speed. The report says how.
struct LineCase {
    const char* name;
    std::vector<std::string> board;
    std::vector<const char*> arguments;  // besides --port COM3, --report and the file
    int code;
    int retries;
    QJsonValue speed;
    std::vector<const char*> stderrHas;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class RetriesAndSpeeds : public FlasherEndToEnd, public ::testing::WithParamInterface<LineCase> {};

TEST_P(RetriesAndSpeeds, EndAsTheLineAllowsAndReportHow) {
    const LineCase& c = GetParam();
    BoardSim& board = startBoard(c.board, 3);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString report = dir.filePath(QStringLiteral("run.json"));
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--report"), report};
    for (const char* a : c.arguments) arguments << QString::fromUtf8(a);
    const QString file = example("blink.hex");
    arguments << file;

    FlashProcess& p = run(arguments);

    EXPECT_EQ(p.code(), c.code) << p.err().toStdString();
    for (const char* part : c.stderrHas)
        EXPECT_TRUE(p.err().contains(QLatin1String(part))) << "missing \"" << part << "\" in:\n"
                                                           << p.err().toStdString();
    QFile json(report);
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonArray boards = QJsonDocument::fromJson(json.readAll()).array();
    ASSERT_EQ(boards.size(), 1);
    EXPECT_EQ(boards[0].toObject().value(QStringLiteral("retries")).toInt(-1), c.retries);
    EXPECT_EQ(boards[0].toObject().value(QStringLiteral("speed")), c.speed);
    if (c.code == 0) {
        // Every line reached the board in both passes; written again, one
        // line came twice in a row.
        const QList<QByteArray> lines = hexFileLines(file);
        std::vector<QByteArray> commands;
        for (const Taken& t : taken(board.log()))
            if (t.second != "BOOTi\r\n" && (commands.empty() || commands.back() != t.second))
                commands.push_back(t.second);
        const QList<QByteArray> expected = downloadAndVerifyCommands(lines);
        EXPECT_EQ(commands, std::vector<QByteArray>(expected.begin(), expected.end()));
    }
}

// A noisy line through the program: every reply the noise damaged is
// written again once, at once, and both passes go through whole.
class NoisyLine : public FlasherEndToEnd, public ::testing::WithParamInterface<bool> {};

TEST_P(NoisyLine, EachDamagedReplyIsWrittenAgainOnce) {
    const bool modbus = GetParam();
    std::vector<std::string> boardOptions{"--noise", "3", "--noise-seed", "11"};
    QStringList arguments{QStringLiteral("--port"),    QStringLiteral("COM3"), QStringLiteral("--fast"),
                          QStringLiteral("--timeout"), QStringLiteral("5"),    QStringLiteral("--retries"),
                          QStringLiteral("5")};
    if (modbus) {
        boardOptions.insert(boardOptions.end(), {"--modbus", "5"});
        arguments << QStringLiteral("--modbus") << QStringLiteral("5");
    }
    BoardSim& board = startBoard(boardOptions, 3);
    const QString file = example("blink.hex");
    arguments << file;

    FlashProcess& p = run(arguments);

    ASSERT_EQ(p.code(), 0) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QLatin1String("END"))) << p.err().toStdString();
    EXPECT_FALSE(p.err().contains(QLatin1String("no reply within"))) << "no damaged reply waited for the bound";
    const int damaged = static_cast<int>(p.err().count(QStringLiteral("arrived damaged")));
    // Written again: the same line twice in a row; every line of both passes
    // otherwise once, in order.
    const QList<QByteArray> lines = hexFileLines(file);
    std::vector<QByteArray> commands;
    int again = 0;
    int noisyReplies = 0;
    for (const auto& e : board.log()) noisyReplies += e.text.rfind("fault noise ", 0) == 0;
    for (const Taken& t : taken(board.log())) {
        if (t.second == "BOOTi\r\n") continue;
        if (!commands.empty() && commands.back() == t.second)
            ++again;
        else
            commands.push_back(t.second);
    }
    const QList<QByteArray> expected = downloadAndVerifyCommands(lines);
    EXPECT_EQ(commands, std::vector<QByteArray>(expected.begin(), expected.end()));
    EXPECT_GT(damaged, 0) << "this seed damages replies";
    EXPECT_EQ(again, damaged) << p.err().toStdString();
    EXPECT_LE(damaged, noisyReplies) << "only a reply the noise struck counts as damaged";
}

INSTANTIATE_TEST_SUITE_P(Flasher, NoisyLine, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "Modbus" : "Plain");
});

INSTANTIATE_TEST_SUITE_P(
    Flasher, RetriesAndSpeeds,
    ::testing::Values(LineCase{"LostReplyWrittenAgain",
                               {"--drop-reply", "6"},
                               {"--timeout", "0.5", "--retries", "2"},
                               0,
                               1,
                               QStringLiteral("115200"),
                               {"retry 1 of 2: no reply within 0.5 s to download line 5 of 12", "END"}},
                      LineCase{"DamagedModbusReplyWrittenAgain",
                               {"--modbus", "5", "--bad-crc-reply", "6"},
                               {"--modbus", "5", "--timeout", "0.5", "--retries", "1"},
                               0,
                               1,
                               QStringLiteral("115200"),
                               {"retry 1 of 1", "END"}},
                      LineCase{"NeverAnswered",
                               {"--no-reply-record", "5", "--no-reply-record", "6"},
                               {"--timeout", "0.5", "--retries", "1"},
                               8,
                               1,
                               QStringLiteral("115200"),
                               {"download line 5 of 12", "written 2 times"}},
                      LineCase{"BoardAt19200",
                               {"--line-speed", "19200"},
                               {"--speed", "auto", "--fast"},
                               0,
                               0,
                               QStringLiteral("19200"),
                               {"no answer at 115200 bit/s; trying 19200 bit/s", "the board answers at 19200 bit/s"}},
                      LineCase{"ModbusBoardAt9600",
                               {"--modbus", "5", "--line-speed", "9600"},
                               {"--modbus", "5", "--speed", "auto", "--fast"},
                               0,
                               0,
                               QStringLiteral("9600"),
                               {"trying 9600 bit/s", "the board answers at 9600 bit/s"}},
                      LineCase{"BoardAtNoSpeed",
                               {"--line-speed", "38400"},
                               {"--speed", "auto"},
                               4,
                               0,
                               QJsonValue(QJsonValue::Null),
                               {"at any speed (115200, 19200, 9600 bit/s)"}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST_F(FlasherEndToEnd, UncheckedFileWithoutAnEndOfFileRecordEndsAfterOnePass) {
    BoardSim& board = startBoard({}, 3);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("no-end.hex"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(":020000040000FA\n:0400000020EF00F0FD\n");
    file.close();

    FlashProcess& p = run({QStringLiteral("--port"), QStringLiteral("COM3"), QStringLiteral("--no-check"), path});

    EXPECT_EQ(p.code(), flasher::toInt(ExitCode::NoEndOfFile)) << p.err().toStdString();
    EXPECT_TRUE(p.err().contains(QStringLiteral("not DOWNLOAD"))) << p.err().toStdString();
    const std::vector<Taken> commands = probeOnce(taken(board.log()));
    ASSERT_EQ(commands.size(), 3U) << "the probe and the two lines, once";
    EXPECT_EQ(commands[1].second, QByteArray("BOOT:020000040000FA\r\n"));
    EXPECT_EQ(commands[2].second, QByteArray("BOOT:0400000020EF00F0FD\r\n"));
}

}  // namespace
}  // namespace vantrel::testing
