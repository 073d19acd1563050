// What the window announces: every signal at the moment the thing happens,
// with what a tool following the window needs to know, and nothing when it
// does not happen.

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "connection/link_trace.h"
#include "fake_platform.h"
#include "link/crc16.h"

namespace vantrel::testing {
namespace {

// The window with every announcement written down, in order, as text.
struct Announced {
    FakeLoader f;
    QStringList said;

    Announced() {
        Loader* w = f.w.get();
        QObject::connect(w, &Loader::commandWritten, [this](const QByteArray& command, const QByteArray& frame) {
            said << QStringLiteral("written %1 as %2").arg(printableBytes(command), printableBytes(frame));
        });
        QObject::connect(w, &Loader::lineSent, [this](bool verify, int line, int count, const QByteArray& record) {
            said << QStringLiteral("line %1 %2/%3 %4")
                        .arg(verify ? QStringLiteral("verify") : QStringLiteral("download"))
                        .arg(line)
                        .arg(count)
                        .arg(QString::fromLatin1(record));
        });
        QObject::connect(w, &Loader::replyAccepted, [this](const QByteArray& reply, int address) {
            said << QStringLiteral("accepted %1 from %2").arg(printableBytes(reply)).arg(address);
        });
        QObject::connect(w, &Loader::replyInterpreted, [this](Loader::ReplyOutcome outcome) {
            said << QStringLiteral("interpreted %1").arg(static_cast<int>(outcome));
        });
        QObject::connect(w, &Loader::openFailed,
                         [this](int number, const QString&) { said << QStringLiteral("open failed %1").arg(number); });
        QObject::connect(w, &Loader::probeGaveUp, [this] { said << QStringLiteral("probe gave up"); });
        QObject::connect(w, &Loader::startFailed,
                         [this](int number, const QString&) { said << QStringLiteral("start failed %1").arg(number); });
        QObject::connect(w, &Loader::portLost, [this] { said << QStringLiteral("port lost"); });
        QObject::connect(w, &Loader::handlerFailed, [this](int number, const QString& description) {
            said << QStringLiteral("handler failed %1 %2").arg(number).arg(description);
        });
    }

    void load(std::initializer_list<const char*> lines) { f.transferUnderWay(lines); }
};

QString interpreted(Loader::ReplyOutcome outcome) {
    return QStringLiteral("interpreted %1").arg(static_cast<int>(outcome));
}

using Outcome = Loader::ReplyOutcome;

TEST(Announcements, ACommandIsAnnouncedWithItsFrameOnlyWhenItLeaves) {
    Announced a;
    a.f->Command4_Click();  // port closed: nothing leaves
    EXPECT_TRUE(a.said.isEmpty());

    a.f.port->setPortOpen(true);
    a.f->Command4_Click();
    a.f->Check1->setChecked(true);
    a.f->Text1->setText(QStringLiteral("1"));
    a.f->Command4_Click();
    a.f->Text1->setText(QStringLiteral("300"));  // no address character: nothing leaves
    a.f->Command4_Click();

    EXPECT_EQ(a.said, (QStringList{QStringLiteral("written BOOTi\\r\\n as BOOTi\\r\\n"),
                                   QStringLiteral("written BOOTi\\r\\n as \\x01BOOTi\\r\\n\\xFC\\x89")}));
}

TEST(Announcements, EachLineIsAnnouncedWithItsPassNumberAndRecordAfterItsCommand) {
    Announced a;
    a.f.port->setPortOpen(true);
    a.load({":L1", ":L2"});
    a.f->Command5_Click();
    a.f->VerifyPhase = 1;
    a.f->Command5_Click();
    a.f->Command5_Click();  // wraps to line 1

    EXPECT_EQ(
        a.said,
        (QStringList{QStringLiteral("written BOOT:L1\\r\\n as BOOT:L1\\r\\n"), QStringLiteral("line download 1/2 :L1"),
                     QStringLiteral("written BOOT#L2\\r\\n as BOOT#L2\\r\\n"), QStringLiteral("line verify 2/2 :L2"),
                     QStringLiteral("written BOOT#L1\\r\\n as BOOT#L1\\r\\n"), QStringLiteral("line verify 1/2 :L1")}));
}

// A reply is announced as accepted before the interpreter acts on it (so the
// line in flight is the one it answers), and what the interpreter made of
// it after (the next line included).
struct ReplyCase {
    const char* name;
    QByteArray reply;
    qint16 verifyPhase;
    QStringList said;
    qint16 inFlight = 2;  // the line the reply answers: the end-of-file record
};

class RepliesAnnounced : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(RepliesAnnounced, InTheOrderTheyHappen) {
    Announced a;
    a.f.port->setPortOpen(true);
    a.load({":L1", ":00000001FF"});
    a.f->LineInFlight = GetParam().inFlight;
    // Line 2 is the end-of-file record: written, it awaits its "DOWNLOAD".
    a.f->EndOfFileOutstanding = GetParam().inFlight == 2;
    a.f->VerifyPhase = GetParam().verifyPhase;
    a.f.port->feed(GetParam().reply);

    a.f->TMRComm_Timer();

    EXPECT_EQ(a.said, GetParam().said);
}

INSTANTIATE_TEST_SUITE_P(
    Words, RepliesAnnounced,
    ::testing::Values(
        ReplyCase{
            "Ok",
            "OK\r\n",
            0,
            {QStringLiteral("accepted OK\\r\\n from -1"), QStringLiteral("written BOOT:L1\\r\\n as BOOT:L1\\r\\n"),
             QStringLiteral("line download 1/2 :L1"), interpreted(Outcome::Ok)},
            1},
        ReplyCase{"Version",
                  "VER=4.01\r\n",
                  0,
                  {QStringLiteral("accepted VER=4.01\\r\\n from -1"),
                   QStringLiteral("written BOOT:L1\\r\\n as BOOT:L1\\r\\n"), QStringLiteral("line download 1/2 :L1"),
                   interpreted(Outcome::Version)}},
        ReplyCase{
            "Error", "ERROR\r\n", 1, {QStringLiteral("accepted ERROR\\r\\n from -1"), interpreted(Outcome::Error)}},
        ReplyCase{"DownloadStartsTheVerifyPass",
                  "DOWNLOAD\r\n",
                  0,
                  {QStringLiteral("accepted DOWNLOAD\\r\\n from -1"),
                   QStringLiteral("written BOOT#L1\\r\\n as BOOT#L1\\r\\n"), QStringLiteral("line verify 1/2 :L1"),
                   interpreted(Outcome::Verify)}},
        ReplyCase{"DownloadEnds",
                  "DOWNLOAD\r\n",
                  1,
                  {QStringLiteral("accepted DOWNLOAD\\r\\n from -1"), interpreted(Outcome::End)}},
        ReplyCase{"DownloadToADataRecordIsStray",
                  "DOWNLOAD\r\n",
                  1,
                  {QStringLiteral("accepted DOWNLOAD\\r\\n from -1"), interpreted(Outcome::StrayDownload)},
                  1},
        ReplyCase{
            "Format", "FORMAT\r\n", 0, {QStringLiteral("accepted FORMAT\\r\\n from -1"), interpreted(Outcome::Format)}},
        ReplyCase{
            "NoWord", "ADR=0A\r\n", 0, {QStringLiteral("accepted ADR=0A\\r\\n from -1"), interpreted(Outcome::NoWord)}},
        ReplyCase{"CutReplyIsAnnouncedOnceWhole", "DOWN", 0, {}}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST(Announcements, AModbusReplyNamesTheAddressItCameFrom) {
    Announced a;
    a.f.port->setPortOpen(true);
    a.f->Check1->setChecked(true);
    a.f->Text1->setText(QStringLiteral("17"));
    QByteArray frame = QByteArray(1, char(17)) + "BVER=4.01\r\n";
    frame += crc16ModbusBytes(frame);
    a.f.port->feed(frame);

    a.f->TMRComm_Timer();

    EXPECT_EQ(a.said, (QStringList{QStringLiteral("accepted VER=4.01\\r\\n from 17"), interpreted(Outcome::Version)}));
}

TEST(Announcements, EveryFailedOpenIsAnnouncedTheScansQuietOnesToo) {
    Announced a;
    a.f.port->refuseOpen = true;
    a.f->BTNOpenCom_Click();
    a.f->Option4->setChecked(true);
    a.f->BTNOpenCom_Click();
    a.f->Timer3_Timer();
    a.f->Timer3_Timer();

    EXPECT_EQ(a.said, (QStringList{QStringLiteral("open failed %1").arg(failure::kPortInvalid),
                                   QStringLiteral("open failed %1").arg(failure::kPortInvalid),
                                   QStringLiteral("open failed %1").arg(failure::kPortInvalid)}));
}

TEST(Announcements, TheProbeGivingUpIsAnnouncedAfterItsMessage) {
    for (bool usb : {false, true}) {
        Announced a;
        if (usb) {
            a.f->Option4->setChecked(true);
            a.f.port->refuseOpen = true;
        }
        a.f.box->onShow = [&a](const ShownMessage&) { a.said << QStringLiteral("box"); };
        a.f->BTNOpenCom_Click();
        if (!usb) {
            ASSERT_TRUE(a.f->MSComm1->portOpen());
        }
        for (int tick = 0; tick < 200 && a.f->Timer3->isActive(); ++tick) a.f->Timer3_Timer();

        a.said.removeAll(QStringLiteral("open failed %1").arg(failure::kPortInvalid));
        a.said.removeIf([](const QString& s) { return s.startsWith(QStringLiteral("written")); });
        EXPECT_EQ(a.said, (QStringList{QStringLiteral("box"), QStringLiteral("probe gave up")}))
            << (usb ? "USB" : "serial");
    }
}

TEST(Announcements, AFailedStartIsAnnouncedWithItsNumber) {
    Announced a;
    a.f.dialog->nextPath = QStringLiteral("/nonexistent/firmware.hex");
    a.f->Command3_Click();
    ASSERT_EQ(a.said.size(), 1);
    EXPECT_TRUE(a.said[0].startsWith(QStringLiteral("start failed"))) << a.said[0].toStdString();

    a.said.clear();
    a.f.dialog->nextCancelled = true;  // a cancel is no failure
    a.f->Command3_Click();
    EXPECT_TRUE(a.said.isEmpty());
}

TEST(Announcements, ALostPortIsAnnouncedOnceUntilItOpensAgain) {
    Announced a;
    a.f->Text1->setText(QStringLiteral("0"));
    a.f->BTNOpenCom_Click();
    a.f->TMRComm_Timer();
    a.f.port->vanish();
    a.f->TMRComm_Timer();
    a.f->TMRComm_Timer();
    EXPECT_EQ(a.said, QStringList{QStringLiteral("port lost")});

    a.f->BTNCloseCom_Click();
    a.f->BTNOpenCom_Click();
    a.f->TMRComm_Timer();
    a.f.port->vanish();
    a.f->TMRComm_Timer();
    EXPECT_EQ(a.said, (QStringList{QStringLiteral("port lost"), QStringLiteral("port lost")}));
}

TEST(Announcements, AnUnguardedFailureIsAnnouncedAndShownInAnErrorBox) {
    Announced a;
    // A scan whose count can go no higher: the tick's own arithmetic fails.
    a.f->UsbScan = 1;
    a.f->ProbeCount = 32767;

    a.f->invokeGuarded(&Loader::Timer3_Timer);

    EXPECT_EQ(a.said, QStringList{QStringLiteral("handler failed %1 Overflow").arg(failure::kOverflow)});
    ASSERT_EQ(a.f.box->shown.size(), 1);
    EXPECT_EQ(a.f.box->shown[0].title, QStringLiteral("Error#%1").arg(failure::kOverflow));
    EXPECT_EQ(a.f.box->shown[0].icon, MsgBox::Icon::Stop);
}

}  // namespace
}  // namespace vantrel::testing
