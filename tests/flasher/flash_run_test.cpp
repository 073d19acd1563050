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
                         Reading reading = Reading::AnyTime) {
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
    EXPECT_TRUE(r.err.contains(QStringLiteral("summary: 3 boards"))) << r.err.toStdString();
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
