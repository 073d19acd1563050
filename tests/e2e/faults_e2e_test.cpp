#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <random>
#include <sys/file.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include "e2e_fixture.h"
#include "link/crc16.h"
#include "window/colors.h"
#include "window/lamp.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

// Processor time this process has used, user and system.
std::chrono::milliseconds cpuTime() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000LL + t.tv_usec / 1000; };
    return std::chrono::milliseconds(ms(u.ru_utime) + ms(u.ru_stime));
}

// Resident memory of this process in KiB.
long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

// Processor time used while the event loop runs for `wall`.
std::chrono::milliseconds cpuWhileIdle(std::chrono::milliseconds wall) {
    const auto before = cpuTime();
    QTest::qWait(static_cast<int>(wall.count()));
    return cpuTime() - before;
}

// The far end of a line that the test plays itself: a pseudo-terminal whose
// other side the tool reaches as COMn.
class ScriptedLine {
  public:
    bool open(const std::string& portsDir, int com) {
        return pty_.ok() && pty_.aliasAs(QString::fromStdString(portsDir), com);
    }
    ~ScriptedLine() { stopFlood(); }

    void write(const QByteArray& bytes) const { pty_.send(bytes); }

    // Random bytes as fast as the line takes them, from a thread of its own
    // so that the tool's event loop keeps running.
    void startFlood(unsigned seed) {
        flooding_ = true;
        flood_ = std::thread([this, seed] {
            std::mt19937 random(seed);
            char chunk[512];
            while (flooding_) {
                for (char& c : chunk) c = static_cast<char>(random() & 0xFF);
                if (::write(pty_.fd(), chunk, sizeof chunk) < 0) waitWritable();
                flooded_ += sizeof chunk;
            }
        });
    }
    void stopFlood() {
        flooding_ = false;
        if (flood_.joinable()) flood_.join();
    }
    long long flooded() const { return flooded_; }

    // What the tool wrote.
    QByteArray drain() const { return pty_.drain(); }

  private:
    void waitWritable() const {
        pollfd p{pty_.fd(), POLLOUT, 0};
        ::poll(&p, 1, 20);
    }

    PseudoTerminal pty_;
    std::thread flood_;
    std::atomic<bool> flooding_{false};
    std::atomic<long long> flooded_{0};
};

QByteArray modbusReply(char address, const QByteArray& text) {
    QByteArray frame = QByteArray(1, address) + 'B' + text;
    return frame + crc16ModbusBytes(frame);
}

bool transferOver(const RealWindow& f) {
    const QString t = f->vbalProgressBar1->text();
    return t == QStringLiteral("END") || t == QStringLiteral("ERROR");
}

class Faults : public EndToEnd {
  protected:
    // Opens the window on COM3 without probing ("0" in the address box), in
    // plain mode or in Modbus mode to address 1.
    RealWindow& openWithoutProbe(bool modbus = false) {
        RealWindow& f = window();
        f->Check1->setChecked(modbus);
        f->Text1->setText(QStringLiteral("0"));
        f->BTNOpenCom_Click();
        EXPECT_TRUE(f->MSComm1->portOpen()) << f.box->texts().join(u'\n').toStdString();
        // Frames go to address 1; a plain-mode box keeps "0", so that an Open
        // again later does not probe either.
        if (modbus) f->Text1->setText(QStringLiteral("1"));
        return f;
    }
    RealWindow& openPlain() { return openWithoutProbe(false); }
    void download(RealWindow& f, const char* file) {
        f.dialog->nextPath = example(file);
        f->Command3_Click();
    }
    // Starts a download and waits for it to end in green.
    void downloadToEnd(RealWindow& f, const char* file, std::chrono::milliseconds timeout = 2min) {
        download(f, file);
        ASSERT_TRUE(waitFor([&] { return transferOver(f); }, timeout)) << "stuck at line " << f->LineIndex;
        EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
    }
    static int records(const BoardSim::Log& log) {
        int n = 0;
        for (const auto& e : log)
            if (e.direction == "RX" && e.bytes.rfind("BOOT", 0) == 0 && e.bytes.size() > 4 &&
                (e.bytes[4] == ':' || e.bytes[4] == '#'))
                ++n;
        return n;
    }
};

TEST_F(Faults, BoardVanishingMidDownload_LeavesAWindowThatClosesReopensAndDownloadsAgain) {
    BoardSim& board = startBoard({"--unplug-after", "20", "--replug-after", "2"});
    RealWindow& f = openPlain();
    download(f, "medium.hex");

    ASSERT_TRUE(waitForLine(board, "UNPLUGGED", 60s));
    ASSERT_TRUE(waitFor([&] { return !f->MSComm1->portOpen(); }, 10s)) << "the hang-up was not noticed";
    // The receive timer keeps ticking on a closed port; that must stay cheap.
    EXPECT_TRUE(f->TMRComm->isActive());
    EXPECT_LT(cpuWhileIdle(2s), 1000ms) << "busy loop after the unplug";
    // The board hangs up once the answer to record 20 has left it; whether a
    // receive tick took that answer (and sent line 21 into the closing line)
    // before the hang-up closed the port depends on the machine's load.
    EXPECT_TRUE(f->LineIndex == 20 || f->LineIndex == 21) << "line index " << f->LineIndex;

    f->BTNCloseCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Closed"));
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());

    ASSERT_TRUE(waitForLine(board, "REPLUGGED", 30s));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen()) << f.box->texts().join(u'\n').toStdString();
    downloadToEnd(f, "blink.hex");
    EXPECT_TRUE(f.box->shown.isEmpty());
}

TEST_F(Faults, PortHeldByAnotherProcess_ShowsNotAvailableAndChangesNothingElse) {
    BoardSim& board = startBoard({});
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("-x"), QString::fromStdString(board.ptyPath()),
                                           QStringLiteral("sleep"), QStringLiteral("60")});
    if (!holder.waitForStarted(10000)) GTEST_SKIP() << "flock(1) is not available";
    // flock prints nothing once it holds the lock: wait until a try of our
    // own fails, letting go at once of a lock we happen to get first.
    const auto heldElsewhere = [&] {
        const int fd = ::open(board.ptyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return false;
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        return held;
    };
    ASSERT_TRUE(waitFor(heldElsewhere, 10s));

    RealWindow& f = window();
    f->Text1->setText(QStringLiteral("0"));
    f->BTNOpenCom_Click();

    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_EQ(f.box->texts(),
              QStringList{QStringLiteral("COM3 Not available! Use Serial settings to setup your ports.")});
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_TRUE(f->txt[0]->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());
    EXPECT_FALSE(f->TMRComm->isActive());
    EXPECT_EQ(f->Pic->fillColor(), color::kYellow);
    EXPECT_NE(f->txt[0]->palette().color(QPalette::Base), toQColor(color::kGreen));
    holder.kill();
    holder.waitForFinished();
}

TEST_F(Faults, ReplyThatNeverComes_WaitsIdleAndANewStartRecovers) {
    BoardSim& board = startBoard({"--no-reply-record", "5"});
    RealWindow& f = openPlain();
    download(f, "blink.hex");

    ASSERT_TRUE(waitForLog(
        board, [](const auto& log) { return records(log) >= 5; }, 30s));
    EXPECT_LT(cpuWhileIdle(2s), 1000ms) << "waiting must not spin";
    EXPECT_EQ(f->LineIndex, 5);
    EXPECT_EQ(records(board.log()), 5);
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("DOWNLOAD"));

    // A new start reloads the file and goes through from line 1.
    downloadToEnd(f, "blink.hex");
}

TEST_F(Faults, ReplyThatNeverComes_CloseAndOpenRecover) {
    BoardSim& board = startBoard({"--no-reply-record", "3"});
    RealWindow& f = openPlain();
    download(f, "blink.hex");
    ASSERT_TRUE(waitForLog(
        board, [](const auto& log) { return records(log) >= 3; }, 30s));

    f->BTNCloseCom_Click();
    EXPECT_FALSE(f->MSComm1->portOpen());
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());
    downloadToEnd(f, "blink.hex");
}

TEST_F(Faults, DribbledRepliesInModbusMode_AreGatheredAndTheTransferEnds) {
    startBoard({"--modbus", "1", "--dribble", "30"});
    // Opened without the probe, so that only the transfer's own replies are
    // on the line: each comes a byte every 30 ms, over several ticks.
    RealWindow& f = openWithoutProbe(true);
    ASSERT_TRUE(f->MSComm1->portOpen());
    downloadToEnd(f, "blink.hex", 3min);
}

// A byte every 10 ms cuts every reply into pieces across the 20 ms ticks; a
// byte every 30 ms also leaves quiet ticks inside a reply. Each is still
// taken whole once its line end arrives.
class DribbledPlain : public Faults, public ::testing::WithParamInterface<const char*> {};

TEST_P(DribbledPlain, RepliesAreAssembledAndTheTransferEnds) {
    BoardSim& board = startBoard({"--dribble", GetParam()});
    RealWindow& f = openPlain();
    downloadToEnd(f, "blink.hex", 3min);
    EXPECT_EQ(records(board.log()), 2 * 12);
}

INSTANTIATE_TEST_SUITE_P(Faults, DribbledPlain, ::testing::Values("10", "30"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string("ByteEvery") + info.param + "ms";
                         });

// The end-of-file record's "DOWNLOAD" comes twice, the second copy cut
// across a tick. Without a probe, reply 12 answers the last of blink.hex's
// twelve records.
TEST_F(Faults, DoubledEndOfFileReplyCutAcrossATick_EveryLineIsVerifiedBeforeEnd) {
    BoardSim& board = startBoard({"--double-reply", "12", "--split-reply", "12:14:25"});
    RealWindow& f = openPlain();
    downloadToEnd(f, "blink.hex");
    const auto log = board.log();
    int verified = 0;
    for (const auto& e : log) verified += e.direction == "RX" && e.bytes.rfind("BOOT#", 0) == 0;
    EXPECT_EQ(verified, 12) << "the verify pass sent every line";
    EXPECT_EQ(records(log), 2 * 12);
}

TEST_F(Faults, SplitRepliesInPlainMode_AreAssembledAndTheTransferEnds) {
    // Every reply leaves as its first three bytes, then the rest 12 ms later:
    // "DOW" and "NLOAD" CR LF often land on two ticks.
    BoardSim& board = startBoard({"--split-reply", "all:3:12"});
    RealWindow& f = openPlain();
    downloadToEnd(f, "blink.hex");
    EXPECT_EQ(records(board.log()), 2 * 12);
}

TEST_F(Faults, NoiseBeforeAReplyAndADamagedFirstProbeReplyInModbusMode_TheTransferEnds) {
    // Reply 1 answers the first version query with a broken CRC; reply 6
    // (the fifth record's) comes behind five noise bytes.
    BoardSim& board = startBoard({"--modbus", "1", "--bad-crc-reply", "1", "--noise-before-reply", "6:5"});
    RealWindow& f = window();
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("1"));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(waitFor([&] { return f->Label2->text() == QStringLiteral("READY"); }, 30s))
        << "the probe must be answered by a later ask; status " << f->Label2->text().toStdString();
    downloadToEnd(f, "blink.hex");
    const auto log = board.log();
    EXPECT_EQ(records(log), 2 * 12);
    bool noised = false;
    for (const auto& e : log) noised = noised || e.text.find("noise-before-reply 6") != std::string::npos;
    EXPECT_TRUE(noised) << "the board put the noise on the line";
}

TEST_F(Faults, DamagedCrcOnAReply_IsIgnoredSilentlyAndTheNextGoodReplyIsTaken) {
    // Reply 1 answers the probe, reply 3 the second record.
    BoardSim& board = startBoard({"--modbus", "1", "--bad-crc-reply", "3"});
    RealWindow& f = window();
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("1"));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(waitFor([&] { return f->Label2->text() == QStringLiteral("READY"); }, 30s));
    download(f, "blink.hex");
    ASSERT_TRUE(waitForLog(
        board, [](const auto& log) { return entries(log, "TX") >= 3; }, 30s));
    QTest::qWait(1000);

    // The damaged reply was the only answer to line 2: the transfer waits,
    // with no error text, and the damaged characters are gone with the
    // silence after them.
    EXPECT_EQ(f->LineIndex, 2);
    EXPECT_EQ(records(board.log()), 2);
    EXPECT_EQ(f->Text8->text(), QStringLiteral("OK\r\n")) << "no error text for a bad CRC";
    EXPECT_TRUE(f->RxFrame.isEmpty());

    // The operator sends the next line by hand; its reply is taken at once
    // and the transfer runs to its end.
    f->Command5_Click();
    ASSERT_TRUE(waitFor([&] { return transferOver(f); }, 2min)) << "stuck at line " << f->LineIndex;
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
}

TEST_F(Faults, ReplyForAnotherAddress_IsRejectedWithTheAddressErrorTextAndTheNextGoodReplyIsTaken) {
    ScriptedLine line;
    ASSERT_TRUE(line.open(portsDir(), 3));
    RealWindow& f = openWithoutProbe(true);
    ASSERT_TRUE(f->MSComm1->portOpen());

    const QByteArray foreign = modbusReply(2, "OK\r\n");
    line.write(foreign);
    ASSERT_TRUE(waitFor([&] { return f->Text8->text().startsWith(QStringLiteral("Error ADDR")); }, 10s));
    EXPECT_EQ(f->Text8->text(), QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(foreign));

    // Right behind it, and again after a pause: the good reply is taken.
    line.write(modbusReply(1, "OK\r\n"));
    ASSERT_TRUE(waitFor([&] { return f->Text8->text() == QStringLiteral("OK\r\n"); }, 10s));
    line.write(foreign);
    ASSERT_TRUE(waitFor([&] { return f->Text8->text().startsWith(QStringLiteral("Error ADDR")); }, 10s));
    QTest::qWait(300);
    EXPECT_TRUE(f->RxFrame.isEmpty()) << "the silence ends the foreign frame";
    line.write(modbusReply(1, "VER=4.01\r\n"));
    ASSERT_TRUE(waitFor([&] { return f->Text8->text() == QStringLiteral("VER=4.01\r\n"); }, 10s));
}

TEST_F(Faults, FloodOfRandomBytesInModbusMode_KeepsMemoryBoundedAndTheWindowWorking) {
    const int seconds =
        qEnvironmentVariableIsSet("VANTREL_FLOOD_SECONDS") ? qEnvironmentVariableIntValue("VANTREL_FLOOD_SECONDS") : 60;
    ScriptedLine line;
    ASSERT_TRUE(line.open(portsDir(), 3));
    RealWindow& f = openWithoutProbe(true);
    ASSERT_TRUE(f->MSComm1->portOpen());

    QTest::qWait(200);
    const long before = residentKiB();
    long peak = before;
    qsizetype longestFrame = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        peak = std::max(peak, residentKiB());
        longestFrame = std::max(longestFrame, f->RxFrame.size());
    });
    sampler.start(100);

    line.startFlood(20261210);
    QTest::qWait(seconds * 1000);
    line.stopFlood();
    sampler.stop();
    line.drain();

    EXPECT_GT(line.flooded(), 1'000'000) << "the flood must actually reach the tool";
    EXPECT_LE(longestFrame, 256);
    EXPECT_LT(peak - before, 32 * 1024) << "resident memory grew by " << (peak - before) << " KiB";
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_TRUE(f->TMRComm->isActive());

    // Still working: once the last noise has been read and the line has
    // fallen silent, nothing of it is left, and a good reply is taken.
    ASSERT_TRUE(waitFor([&] { return f->RxFrame.isEmpty(); }, 30s));
    line.write(modbusReply(1, "OK\r\n"));
    ASSERT_TRUE(waitFor([&] { return f->Text8->text() == QStringLiteral("OK\r\n"); }, 10s));
}

}  // namespace
}  // namespace vantrel::testing
