// A whole run in process: several ports at once, a bus board after board,
// the exit code of the first failure, and the report, on simulated boards
// (one simulator per port, as a dry run has them) and the window's real
// timers.

#include "flasher/flash_run.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "boardsim/simulated_port.h"
#include "common/failure.h"
#include "connection/ports/usb_port.h"
#include "fake_platform.h"
#include "flasher/dry_run.h"
#include "hex_commands.h"

namespace vantrel::testing {
namespace {

using flasher::ExitCode;
using flasher::FlashRun;
using flasher::SimulatedBoards;

QString blinkPath() {
    return QStringLiteral(VANTREL_EXAMPLES_DIR "/blink.hex");
}

// What a board must have taken for a download and verify of blink.hex.
std::vector<std::string> everyLineInBothForms() {
    std::vector<std::string> out;
    for (const QByteArray& command : downloadAndVerifyCommands(hexFileLines(blinkPath())))
        out.push_back(command.toStdString());
    return out;
}

// The commands a simulator's boards took, without the probe's questions,
// for one address (or all of them).
std::vector<std::string> taken(const boardsim::SimulatedPort& port, std::optional<int> address = std::nullopt) {
    std::vector<std::string> out;
    for (const auto& e : port.log())
        if (e.direction == "RX" && e.bytes != "BOOTi\r\n" && (!address || e.address == address)) out.push_back(e.bytes);
    return out;
}

// A port that shows what it received to its receive event alone: the
// window's 20 ms tick always finds it empty. A run over it goes on only as
// long as every reply is taken through the event, whatever the clock says.
class EventOnlyPort final : public SerialComponent {
  public:
    explicit EventOnlyPort(std::unique_ptr<SerialComponent> inner) : inner_(std::move(inner)) {}
    void setSettings(const QString& settings) override { inner_->setSettings(settings); }
    void setCommPort(qint16 number) override { inner_->setCommPort(number); }
    void setPortOpen(bool open) override { inner_->setPortOpen(open); }
    bool portOpen() const override { return inner_->portOpen(); }
    void setOutput(const QByteArray& data) override { inner_->setOutput(data); }
    qint16 inBufferCount() override { return inEvent_ ? inner_->inBufferCount() : qint16(0); }
    QByteArray input() override { return inEvent_ ? inner_->input() : QByteArray(); }
    void setReceiveEvent(std::function<void()> onReceive) override {
        if (!onReceive) return inner_->setReceiveEvent({});
        inner_->setReceiveEvent([this, onReceive = std::move(onReceive)] {
            inEvent_ = true;
            onReceive();
            inEvent_ = false;
        });
    }

  private:
    std::unique_ptr<SerialComponent> inner_;
    bool inEvent_ = false;
};

enum class Reading { AnyTime, ReceiveEventOnly };

// One run on simulated boards, with what it printed.
struct RunOnSimulatedBoards {
    QString err;
    QString out;
    std::shared_ptr<SimulatedBoards> boards;
    std::unique_ptr<FlashRun> run;

    // `arguments` follow "vantrel-flash"; "@blink" stands for the example
    // file. `boardsPerPort`: the simulated boards' options per port (the
    // dry run's own for the others).
    RunOnSimulatedBoards(std::vector<QString> arguments, const std::map<QString, QString>& boardsPerPort = {},
                         Reading reading = Reading::AnyTime, const std::function<void(FlashRun::Setup&)>& adjust = {}) {
        QStringList args{QStringLiteral("vantrel-flash")};
        for (QString& a : arguments) args << (a == u"@blink" ? blinkPath() : a);
        const flasher::CommandLine command = flasher::parseCommandLine(args);
        EXPECT_EQ(command.kind, flasher::CommandLine::Kind::Run) << command.text.toStdString();
        QString why;
        boards = SimulatedBoards::make(flasher::dryRunBoardOptions(command.options), &why);
        EXPECT_TRUE(boards) << why.toStdString();
        for (const auto& [port, options] : boardsPerPort)
            EXPECT_TRUE(boards->configure(port, options, &why)) << why.toStdString();

        FlashRun::Setup setup;
        setup.options = command.options;
        setup.ports = boards->factory();
        if (reading == Reading::ReceiveEventOnly)
            setup.ports = [ports = setup.ports](const flasher::PortName& name) {
                flasher::PortAccess access = ports(name);
                access.port = std::make_unique<EventOnlyPort>(std::move(access.port));
                return access;
            };
        setup.err = [this](const QString& t) { err += t; };
        setup.out = [this](const QString& t) { out += t; };
        setup.sleeper = [] { return std::make_unique<FakeSleeper>(); };
        if (adjust) adjust(setup);
        run = std::make_unique<FlashRun>(std::move(setup));
    }

    bool go() {
        bool ended = false;
        QObject::connect(run.get(), &FlashRun::finished, [&ended] { ended = true; });
        run->start();
        return QTest::qWaitFor([&] { return ended; }, 120000);
    }

    QStringList results() const {
        QStringList r;
        for (const auto& b : run->results())
            r << QStringLiteral("%1 %2").arg(flasher::boardLabel(b.port, b.address), b.result);
        return r;
    }
};

TEST(FlashRun, TwoPortsAtOnceEachBoardTakesEveryLineInBothForms) {
    RunOnSimulatedBoards r({"--port", "COM3", "--port", "COM4", "@blink"});
    ASSERT_TRUE(r.go()) << r.err.toStdString();

    EXPECT_EQ(r.run->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_EQ(r.results(), (QStringList{QStringLiteral("COM3 END"), QStringLiteral("COM4 END")}));
    for (const char* port : {"COM3", "COM4"}) {
        const boardsim::SimulatedPort* sim = r.boards->port(QLatin1String(port));
        ASSERT_NE(sim, nullptr) << port;
        EXPECT_EQ(taken(*sim), everyLineInBothForms()) << port;
    }
    // Both at the same time: each port's first line went out before the
    // other port's last.
    const auto& a = r.boards->port(QStringLiteral("COM3"))->log();
    const auto& b = r.boards->port(QStringLiteral("COM4"))->log();
    EXPECT_LT(a.front().at, b.back().at);
    EXPECT_LT(b.front().at, a.back().at);
}

struct OrderCase {
    const char* name;
    std::vector<QString> ports;
    ExitCode code;  // of the first board in the order given that failed
};

class FirstFailureInOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(FirstFailureInOrder, DecidesTheRunsCodeAndNoBoardStopsAnother) {
    std::vector<QString> args{QStringLiteral("--timeout"), QStringLiteral("0.5")};
    for (const QString& p : GetParam().ports) args.insert(args.end(), {QStringLiteral("--port"), p});
    args.push_back(QStringLiteral("@blink"));
    RunOnSimulatedBoards r(args, {{QStringLiteral("COM3"), QStringLiteral("--error-at-verify 2")},
                                  {QStringLiteral("COM5"), QStringLiteral("--no-reply-record 3")}});
    ASSERT_TRUE(r.go()) << r.err.toStdString();

    EXPECT_EQ(r.run->exitCode(), GetParam().code);
    const std::map<QString, QString> expected{{QStringLiteral("COM3"), QStringLiteral("ERROR")},
                                              {QStringLiteral("COM4"), QStringLiteral("END")},
                                              {QStringLiteral("COM5"), QStringLiteral("no reply")}};
    QStringList want;
    for (const QString& p : GetParam().ports) want << p + u' ' + expected.at(p);
    EXPECT_EQ(r.results(), want);
    // The good board got everything although its neighbours failed.
    EXPECT_EQ(taken(*r.boards->port(QStringLiteral("COM4"))), everyLineInBothForms());
    // The outcomes in the order they first appear, then the run's whole time.
    QStringList tally;
    for (const QString& p : GetParam().ports) tally << QStringLiteral("1 ") + expected.at(p);
    const QRegularExpression summary(QStringLiteral("summary: 3 boards: %1 in \\d+\\.\\d s\n")
                                         .arg(QRegularExpression::escape(tally.join(QStringLiteral(", ")))));
    EXPECT_TRUE(summary.match(r.err).hasMatch()) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(FlashRun, FirstFailureInOrder,
                         ::testing::Values(OrderCase{"ErrorFirst", {"COM3", "COM4", "COM5"}, ExitCode::BoardError},
                                           OrderCase{"NoReplyFirst", {"COM4", "COM5", "COM3"}, ExitCode::NoReply}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FlashRun, ABusIsFlashedBoardAfterBoard) {
    RunOnSimulatedBoards r({"--port", "COM3", "--modbus", "9,3,7", "--fast", "@blink"});
    ASSERT_TRUE(r.go()) << r.err.toStdString();

    EXPECT_EQ(r.run->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_EQ(r.results(), (QStringList{QStringLiteral("COM3 @9 END"), QStringLiteral("COM3 @3 END"),
                                        QStringLiteral("COM3 @7 END")}));
    const boardsim::SimulatedPort& sim = *r.boards->port(QStringLiteral("COM3"));
    for (int address : {3, 7, 9}) EXPECT_EQ(taken(sim, address), everyLineInBothForms()) << "address " << address;
    // One after the other: the order given, none overlapping the next.
    std::vector<int> order;
    for (const auto& e : sim.log())
        if (e.direction == "RX" && e.address && (order.empty() || order.back() != *e.address))
            order.push_back(*e.address);
    EXPECT_EQ(order, (std::vector<int>{9, 3, 7}));
    EXPECT_TRUE(r.err.contains(QStringLiteral("COM3 @3: END: blink.hex downloaded and verified")))
        << r.err.toStdString();
}

// On a terminal the run's time left stands under the boards' lines while
// they run, and the summary gives the run's whole time.
TEST(FlashRun, OnATerminalTheRunsTimeLeftFollowsTheBoardsOfTheBus) {
    RunOnSimulatedBoards r({"--port", "COM3", "--modbus", "3,7,9", "--fast", "@blink"}, {}, Reading::AnyTime,
                           [](FlashRun::Setup& setup) { setup.style = flasher::Console::Style::Terminal; });
    ASSERT_TRUE(r.go()) << r.err.toStdString();

    EXPECT_EQ(r.run->exitCode(), ExitCode::Success) << r.err.toStdString();
    // Once a board is done the rate is known: the two queued boards have a time.
    const QRegularExpression afterFirst(QStringLiteral("run: 1 of 3 boards done, \\d+:\\d\\d left"));
    EXPECT_TRUE(afterFirst.match(r.err).hasMatch()) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("run: 2 of 3 boards done"))) << r.err.toStdString();
    const QRegularExpression summary(QStringLiteral("summary: 3 boards: 3 END in \\d+\\.\\d s\n"));
    EXPECT_TRUE(summary.match(r.err).hasMatch()) << r.err.toStdString();
}

// --fast applies to a dry run: the simulated port announces arriving bytes
// as the real one does, so no reply waits for the window's tick. Over ports
// that hide their bytes from the tick, a whole bus still ends with success.
TEST(FlashRun, AFastDryRunTakesEveryReplyAsItArrives) {
    RunOnSimulatedBoards r({"--port", "COM3", "--modbus", "3,7,9", "--fast", "--timeout", "5", "@blink"}, {},
                           Reading::ReceiveEventOnly);
    ASSERT_TRUE(r.go()) << r.err.toStdString();

    EXPECT_EQ(r.run->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_EQ(r.results(), (QStringList{QStringLiteral("COM3 @3 END"), QStringLiteral("COM3 @7 END"),
                                        QStringLiteral("COM3 @9 END")}));
    const boardsim::SimulatedPort& sim = *r.boards->port(QStringLiteral("COM3"));
    for (int address : {3, 7, 9}) EXPECT_EQ(taken(sim, address), everyLineInBothForms()) << "address " << address;
}

// A port component that opens only what its resolver finds at that moment,
// as the real one does, in front of a simulated board.
class ResolvingPort final : public SerialComponent {
  public:
    ResolvingPort(PortResolver resolver, std::unique_ptr<SerialComponent> inner)
        : resolver_(std::move(resolver)), inner_(std::move(inner)) {}
    void setSettings(const QString& settings) override { inner_->setSettings(settings); }
    void setCommPort(qint16 number) override {
        number_ = number;
        inner_->setCommPort(number);
    }
    void setPortOpen(bool open) override {
        if (open && resolver_(number_).device.isEmpty())
            throw Failure(failure::kPortInvalid, QStringLiteral("no such port"));
        inner_->setPortOpen(open);
    }
    bool portOpen() const override { return inner_->portOpen(); }
    void setOutput(const QByteArray& data) override { inner_->setOutput(data); }
    qint16 inBufferCount() override { return inner_->inBufferCount(); }
    QByteArray input() override { return inner_->input(); }
    void setReceiveEvent(std::function<void()> onReceive) override { inner_->setReceiveEvent(std::move(onReceive)); }

  private:
    PortResolver resolver_;
    std::unique_ptr<SerialComponent> inner_;
    qint16 number_ = 0;
};

SerialPortEntry usbAdapter(const char* device, quint16 vendor, quint16 product, const char* serial) {
    SerialPortEntry e;
    e.systemLocation = QString::fromLatin1(device);
    e.vendorId = vendor;
    e.productId = product;
    e.serialNumber = QString::fromLatin1(serial);
    return e;
}

// The machine's ports come from `machine`, asked anew at every call; ports
// named by USB identity open what their resolver finds there.
std::function<void(FlashRun::Setup&)> onMachine(std::function<QList<SerialPortEntry>()> machine) {
    return [machine = std::move(machine)](FlashRun::Setup& setup) {
        setup.listPorts = machine;
        setup.ports = [ports = setup.ports, machine](const flasher::PortName& name) {
            flasher::PortAccess access = ports(name);
            if (!name.isUsb) return access;
            access.resolver = usbPortResolver(*parseUsbPortId(name.text, nullptr), name.text, machine);
            access.port = std::make_unique<ResolvingPort>(access.resolver, std::move(access.port));
            return access;
        };
    };
}

QList<SerialPortEntry> twoFtdiAdapters() {
    return {usbAdapter("/dev/ttyUSB0", 0x0403, 0x6001, "A10K1XYZ"),
            usbAdapter("/dev/ttyUSB1", 0x0403, 0x6001, "A10K2ABC")};
}

TEST(FlashRun, AUsbIdentityReachesItsOneDeviceAndNamesBoth) {
    RunOnSimulatedBoards r({"--port", "usb:0403:6001:A10K2ABC", "--port", "COM4", "@blink"}, {}, Reading::AnyTime,
                           onMachine(twoFtdiAdapters));
    ASSERT_TRUE(r.go()) << r.err.toStdString();

    EXPECT_EQ(r.run->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_EQ(r.results(), (QStringList{QStringLiteral("usb:0403:6001:A10K2ABC END"), QStringLiteral("COM4 END")}));
    EXPECT_EQ(r.run->results().front().device, QStringLiteral("/dev/ttyUSB1"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("opening usb:0403:6001:A10K2ABC -> /dev/ttyUSB1")))
        << r.err.toStdString();
    EXPECT_EQ(taken(*r.boards->port(QStringLiteral("usb:0403:6001:A10K2ABC"))), everyLineInBothForms());
}

struct UsbAtStart {
    const char* name;
    std::vector<QString> arguments;
    ExitCode code;
    QStringList results;
    QStringList said;  // parts of standard error
};

void PrintTo(const UsbAtStart& c, std::ostream* os) {
    *os << c.name;
}

class UsbIdentityAtTheStart : public ::testing::TestWithParam<UsbAtStart> {};

TEST_P(UsbIdentityAtTheStart, EndsItsPortBeforeAnythingOpens) {
    std::vector<QString> args = GetParam().arguments;
    args.push_back(QStringLiteral("@blink"));
    RunOnSimulatedBoards r(args, {}, Reading::AnyTime, onMachine(twoFtdiAdapters));
    ASSERT_TRUE(r.go()) << r.err.toStdString();

    EXPECT_EQ(r.run->exitCode(), GetParam().code) << r.err.toStdString();
    EXPECT_EQ(r.results(), GetParam().results);
    for (const QString& part : GetParam().said)
        EXPECT_TRUE(r.err.contains(part)) << part.toStdString() << " in\n" << r.err.toStdString();
    for (const QString& port : {QStringLiteral("usb:04d8:000a"), QStringLiteral("usb:0403:6001")})
        EXPECT_EQ(r.boards->port(port), nullptr) << "nothing was opened on " << port.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    FlashRun, UsbIdentityAtTheStart,
    ::testing::Values(UsbAtStart{"NoneIsAPortNotOpenedWithTheCandidates",
                                 {"--port", "usb:04d8:000a"},
                                 ExitCode::PortNotOpened,
                                 {"usb:04d8:000a port not opened"},
                                 {"cannot open usb:04d8:000a: no serial port with USB id 04d8:000a",
                                  "/dev/ttyUSB0  USB id 0403:6001  serial number A10K1XYZ",
                                  "/dev/ttyUSB1  USB id 0403:6001  serial number A10K2ABC"}},
                      UsbAtStart{"NoneOnABusLeavesTheOtherPortsRunning",
                                 {"--port", "usb:04d8:000a", "--port", "COM4", "--modbus", "3,7", "--fast"},
                                 ExitCode::PortNotOpened,
                                 {"usb:04d8:000a @3 port not opened", "usb:04d8:000a @7 port not opened", "COM4 @3 END",
                                  "COM4 @7 END"},
                                 {"summary: 4 boards: 2 port not opened, 2 END in "}},
                      UsbAtStart{"SeveralIsAUsageErrorListingThem",
                                 {"--port", "usb:0403:6001", "--port", "COM4"},
                                 ExitCode::Usage,
                                 {},
                                 {"usb:0403:6001 matches 2 serial ports",
                                  "/dev/ttyUSB0  USB id 0403:6001  serial number A10K1XYZ",
                                  "/dev/ttyUSB1  USB id 0403:6001  serial number A10K2ABC"}},
                      UsbAtStart{"SeveralIsAUsageErrorWithTheUsbScanToo",
                                 {"--port", "usb:0403:6001", "--speed", "usb"},
                                 ExitCode::Usage,
                                 {},
                                 {"usb:0403:6001 matches 2 serial ports"}}),
    [](const auto& info) { return std::string(info.param.name); });

// With --speed usb the board's port appears once it is powered: the
// identity is looked for at every attempt of the scan, not once.
TEST(FlashRun, TheUsbScanFindsTheIdentityOnceItsPortAppears) {
    int calls = 0;
    constexpr int kAbsent = 4;
    RunOnSimulatedBoards r({"--port", "usb:0403:6001:A10K1XYZ", "--speed", "usb", "--fast", "@blink"}, {},
                           Reading::AnyTime, onMachine([&calls] {
                               ++calls;
                               return calls <= kAbsent ? QList<SerialPortEntry>{} : twoFtdiAdapters();
                           }));
    ASSERT_TRUE(r.go()) << r.err.toStdString();

    EXPECT_EQ(r.run->exitCode(), ExitCode::Success) << r.err.toStdString();
    EXPECT_GT(calls, kAbsent + 1) << "asked at the start, then at each attempt until it appeared";
    EXPECT_TRUE(r.err.contains(QStringLiteral("waiting for the board's USB port to appear"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("board found on usb:0403:6001:A10K1XYZ -> /dev/ttyUSB0: VER=4.01")))
        << r.err.toStdString();
    ASSERT_EQ(r.run->results().size(), 1);
    EXPECT_EQ(r.run->results().front().port, QStringLiteral("usb:0403:6001:A10K1XYZ"));
    EXPECT_EQ(r.run->results().front().device, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(taken(*r.boards->port(QStringLiteral("usb:0403:6001:A10K1XYZ"))), everyLineInBothForms());
}

// The report's keys and their types, as docs/flasher.md documents them.
std::map<QString, QString> documentedReportKeys() {
    QFile doc(QStringLiteral(VANTREL_DOCS_DIR "/flasher.md"));
    if (!doc.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    const QString text = QString::fromUtf8(doc.readAll());
    const qsizetype from = text.indexOf(QStringLiteral("## The report"));
    const qsizetype to = text.indexOf(QStringLiteral("\n## "), from + 1);
    static const QRegularExpression row(QStringLiteral("^\\| `([a-z_0-9]+)` \\| ([a-z ]+) \\|"),
                                        QRegularExpression::MultilineOption);
    std::map<QString, QString> keys;
    for (auto it = row.globalMatch(text.mid(from, to - from)); it.hasNext();) {
        const auto m = it.next();
        keys[m.captured(1)] = m.captured(2).trimmed();
    }
    return keys;
}

bool hasType(const QJsonValue& v, const QString& type) {
    if (type == u"string") return v.isString();
    if (type == u"number") return v.isDouble();
    if (type == u"number or null") return v.isDouble() || v.isNull();
    if (type == u"string or null") return v.isString() || v.isNull();
    return false;
}

TEST(FlashRun, TheReportHasOneObjectPerBoardInItsDocumentedShape) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString report = dir.filePath(QStringLiteral("run.json"));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    RunOnSimulatedBoards r({"--port", "COM3", "--port", "/dev/ttyFAKE1", "--report", report, "@blink"},
                           {{QStringLiteral("/dev/ttyFAKE1"), QStringLiteral("--error-at-verify 1")}});
    ASSERT_TRUE(r.go()) << r.err.toStdString();
    ASSERT_EQ(r.run->exitCode(), ExitCode::BoardError);

    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(file.readAll(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_TRUE(json.isArray());
    const QJsonArray boards = json.array();
    ASSERT_EQ(boards.size(), 2);

    const std::map<QString, QString> keys = documentedReportKeys();
    ASSERT_GE(keys.size(), 11u) << "the documented table was not found";
    QFile hex(blinkPath());
    ASSERT_TRUE(hex.open(QIODevice::ReadOnly));
    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(hex.readAll(), QCryptographicHash::Sha256).toHex());
    for (const QJsonValue& value : boards) {
        ASSERT_TRUE(value.isObject());
        const QJsonObject o = value.toObject();
        QStringList present = o.keys();
        QStringList documented;
        for (const auto& [key, type] : keys) {
            documented << key;
            EXPECT_TRUE(hasType(o.value(key), type)) << key.toStdString() << " is not a " << type.toStdString();
        }
        present.sort();
        documented.sort();
        EXPECT_EQ(present, documented);
        EXPECT_EQ(o.value(QStringLiteral("sha256")).toString(), sha);
        EXPECT_TRUE(o.value(QStringLiteral("address")).isNull()) << "plain mode";
        EXPECT_EQ(o.value(QStringLiteral("lines")).toInt(), 12);
        EXPECT_EQ(o.value(QStringLiteral("version")).toString(), QStringLiteral("VER=4.01"));
        const QDateTime started =
            QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
        EXPECT_TRUE(started.isValid());
        EXPECT_GE(started, before);
        EXPECT_GT(o.value(QStringLiteral("seconds")).toDouble(), 0.0);
    }
    EXPECT_EQ(boards[0].toObject().value(QStringLiteral("port")).toString(), QStringLiteral("COM3"));
    EXPECT_EQ(boards[0].toObject().value(QStringLiteral("result")).toString(), QStringLiteral("END"));
    EXPECT_EQ(boards[0].toObject().value(QStringLiteral("exit_code")).toInt(), 0);
    EXPECT_EQ(boards[1].toObject().value(QStringLiteral("port")).toString(), QStringLiteral("/dev/ttyFAKE1"));
    EXPECT_EQ(boards[1].toObject().value(QStringLiteral("result")).toString(), QStringLiteral("ERROR"));
    EXPECT_EQ(boards[1].toObject().value(QStringLiteral("exit_code")).toInt(), 6);
}

TEST(FlashRun, AnUnreadableFileEndsTheRunBeforeAnyPortIsOpened) {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("run.json"));
    RunOnSimulatedBoards r({"--port", "COM3", "--modbus", "3,7", "--report", report, "/nonexistent/firmware.hex"});
    ASSERT_TRUE(r.go());

    EXPECT_EQ(r.run->exitCode(), ExitCode::FileUnreadable);
    EXPECT_EQ(r.results(),
              (QStringList{QStringLiteral("COM3 @3 file unreadable"), QStringLiteral("COM3 @7 file unreadable")}));
    EXPECT_EQ(r.boards->port(QStringLiteral("COM3")), nullptr) << "no port was touched";
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).array().size(), 2);
}

// blink.hex with the checksum of its fifth line spoilt.
QString writeBadBlink(const QTemporaryDir& dir) {
    QFile in(blinkPath());
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    const QString path = dir.filePath(QStringLiteral("bad.hex"));
    QFile out(path);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(in.readAll().replace(":10004000720ED36E0F0EC16E8A6A93908A7001D8B9",
                                   ":10004000720ED36E0F0EC16E8A6A93908A7001D8B8"));
    return path;
}

TEST(FlashRun, AFileWithABadRecordEndsTheRunBeforeAnyByteReachesAPort) {
    QTemporaryDir dir;
    const QString bad = writeBadBlink(dir);
    RunOnSimulatedBoards r({"--port", "COM3", "--port", "COM4", "--modbus", "3,7", bad});
    ASSERT_TRUE(r.go());

    EXPECT_EQ(r.run->exitCode(), ExitCode::FileUnreadable);
    EXPECT_EQ(r.results(),
              (QStringList{QStringLiteral("COM3 @3 file unreadable"), QStringLiteral("COM3 @7 file unreadable"),
                           QStringLiteral("COM4 @3 file unreadable"), QStringLiteral("COM4 @7 file unreadable")}));
    EXPECT_EQ(r.boards->port(QStringLiteral("COM3")), nullptr) << "no port was touched";
    EXPECT_EQ(r.boards->port(QStringLiteral("COM4")), nullptr) << "no port was touched";
    EXPECT_TRUE(r.err.contains(QStringLiteral("vantrel-flash: %1 is not a sound HEX file: line 5 "
                                              "\":10004000720ED36E0F0EC16E8A6A93908A7001D8B8\": checksum is 0xB8, "
                                              "the record's bytes need 0xB9")
                                   .arg(bad)))
        << r.err.toStdString();
}

TEST(FlashRun, WithoutTheCheckTheFileIsSentAsItIs) {
    QTemporaryDir dir;
    const QString bad = writeBadBlink(dir);
    RunOnSimulatedBoards r({"--port", "COM3", "--no-check", bad});
    ASSERT_TRUE(r.go());

    EXPECT_NE(r.run->exitCode(), ExitCode::FileUnreadable) << r.err.toStdString();
    const boardsim::SimulatedPort* port = r.boards->port(QStringLiteral("COM3"));
    ASSERT_NE(port, nullptr);
    const std::vector<std::string> sent = taken(*port);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "BOOT:10004000720ED36E0F0EC16E8A6A93908A7001D8B8\r\n"), sent.end())
        << "the bad line reached the board";
}

TEST(FlashRun, AReportThatCannotBeWrittenEndsTheRunAtOnce) {
    RunOnSimulatedBoards r({"--port", "COM3", "--report", "/nonexistent/folder/run.json", "@blink"});
    ASSERT_TRUE(r.go());

    EXPECT_EQ(r.run->exitCode(), ExitCode::ReportUnwritable);
    EXPECT_EQ(r.boards->port(QStringLiteral("COM3")), nullptr) << "no port was touched";
    EXPECT_TRUE(r.err.contains(QStringLiteral("cannot write the report /nonexistent/folder/run.json")))
        << r.err.toStdString();
}

}  // namespace
}  // namespace vantrel::testing
