#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/lamp.h"
#include "window/progress_bar.h"
#include "window_snapshot.h"

namespace vantrel::testing {
namespace {

const QString kNotAvailable = QStringLiteral(" Not available! Use Serial settings to setup your ports.");
const QColor kGreenBackground(0, 255, 0);  // 65280

QColor portBoxBackground(const frmSerial& w) {
    return w.txt[0]->palette().color(QPalette::Base);
}

QColor systemBackground() {
    return QLineEdit().palette().color(QPalette::Base);
}

// ---------------------------------------------------------------------------
// Open in serial mode.

struct SpeedCase {
    const char* name;
    QRadioButton* frmSerial::*button;
    const char* settings;
};

class SerialOpenSpeed : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(SerialOpenSpeed, SetsTheSettingsOfTheSelectedButtonBeforeOpening) {
    FakeWindow f;
    (f.w.get()->*GetParam().button)->setChecked(true);
    f->BTNOpenCom_Click();
    EXPECT_EQ(f.port->settings, QString::fromLatin1(GetParam().settings));
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_EQ(f->UsbScan, 0);
}

INSTANTIATE_TEST_SUITE_P(Buttons, SerialOpenSpeed,
                         ::testing::Values(SpeedCase{"Speed9600", &frmSerial::Option1, "9600,n,8,1"},
                                           SpeedCase{"Speed19200", &frmSerial::Option2, "19200,n,8,1"},
                                           SpeedCase{"Speed115200", &frmSerial::Option3, "115200,n,8,1"}),
                         [](const ::testing::TestParamInfo<SpeedCase>& info) { return std::string(info.param.name); });

TEST(SerialOpen, OpensThePortAndSetsUpEveryControl) {
    FakeWindow f;
    // Leave traces of an earlier session that Open has to reset.
    f->Pic->setVisible(false);
    f->vbalProgressBar1->setValue(7);
    f->vbalProgressBar1->setMax(40);
    f->vbalProgressBar1->setBarColor(255);
    f->vbalProgressBar1->setText(QStringLiteral("END"));
    f->Command1->setText(QStringLiteral("Next"));
    f->Text1->setText(QStringLiteral("5"));
    f->Text8->setText(QStringLiteral("VER=4.01"));
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->VerifyPhase = 1;
    f->ProbeCount = 50;
    f->UsbScan = 1;
    f->AddressSearch = 1;
    const WindowState before = snapshot(*f.w);

    f->BTNOpenCom_Click();

    EXPECT_EQ(f.port->commPort, 3);
    EXPECT_EQ(f.port->openAttempts, 1);
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_EQ(f->PortNumber, 3);
    EXPECT_FALSE(f->Pic->isHidden());
    EXPECT_EQ(portBoxBackground(*f.w), kGreenBackground);
    EXPECT_EQ(f->TransferArmed, 0);
    EXPECT_EQ(f->ProbeCount, 1);
    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_EQ(f->Command1->text(), QStringLiteral("Set Addr"));
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
    EXPECT_EQ(f->vbalProgressBar1->value(), 0);
    EXPECT_EQ(f->vbalProgressBar1->barColor(), 8388608u);
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->txt[0]->isEnabled());
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
    EXPECT_TRUE(f->TMRComm->isActive());
    EXPECT_EQ(f->UsbScan, 0);
    EXPECT_EQ(f->AddressSearch, 0);
    EXPECT_TRUE(f.box->shown.isEmpty());

    // Nothing beyond the steps of Open: the bar keeps its text and maximum,
    // the lamp its colour, the reply box its text, the transfer its pass.
    const std::set<std::string> expected = {
        "Pic.hidden",          "txt(0).background",      "txt(0).enabled",
        "BTNOpenCom.enabled",  "BTNCloseCom.enabled",    "Label2.text",
        "Command1.text",       "vbalProgressBar1.value", "vbalProgressBar1.barColor",
        "Timer3.active",       "TMRComm.active",         "MSComm1.portOpen",
        "field.PortNumber",    "field.UsbScan",          "field.ProbeCount",
        "field.AddressSearch", "field.TransferArmed",    "field.TransferActive"};
    EXPECT_EQ(changes(before, snapshot(*f.w)), expected);
    EXPECT_TRUE(f.port->writes.isEmpty()) << "Open itself sends nothing; the probe asks on its first tick";
}

struct AddressBoxCase {
    const char* name;
    const char* text1;
    int addressSearch;
    const char* command1;
    bool probe;
};

class SerialOpenAddressBox : public ::testing::TestWithParam<AddressBoxCase> {};

TEST_P(SerialOpenAddressBox, DecidesSearchCaptionAndProbe) {
    const AddressBoxCase& c = GetParam();
    FakeWindow f;
    f->Text1->setText(QString::fromLatin1(c.text1));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());
    EXPECT_EQ(f->AddressSearch, c.addressSearch);
    EXPECT_EQ(f->Command1->text(), QString::fromLatin1(c.command1));
    EXPECT_EQ(f->Timer3->isActive(), c.probe);
    // With or without a probe the port is ready and the receiver runs.
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
    EXPECT_TRUE(f->TMRComm->isActive());
    EXPECT_EQ(f->ProbeCount, 1);
    // Open reads the box; it does not rewrite it.
    EXPECT_EQ(f->Text1->text(), QString::fromLatin1(c.text1));
}

INSTANTIATE_TEST_SUITE_P(Texts, SerialOpenAddressBox,
                         ::testing::Values(AddressBoxCase{"Empty_SearchesWithNext", "", 1, "Next", true},
                                           AddressBoxCase{"Zero_NoProbe", "0", 0, "Set Addr", false},
                                           AddressBoxCase{"BlankZero_Probes", " 0", 0, "Set Addr", true},
                                           AddressBoxCase{"DoubleZero_Probes", "00", 0, "Set Addr", true},
                                           AddressBoxCase{"ZeroBlank_Probes", "0 ", 0, "Set Addr", true},
                                           AddressBoxCase{"Blank_IsNotEmpty", " ", 0, "Set Addr", true},
                                           AddressBoxCase{"Address_Probes", "5", 0, "Set Addr", true}),
                         [](const ::testing::TestParamInfo<AddressBoxCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SerialOpen, AfterCloseLightsTheLampAndColoursThePortBoxAgain) {
    FakeWindow f;
    f->BTNOpenCom_Click();
    f->BTNCloseCom_Click();
    ASSERT_TRUE(f->Pic->isHidden());
    f->BTNOpenCom_Click();
    EXPECT_FALSE(f->Pic->isHidden());
    EXPECT_EQ(portBoxBackground(*f.w), kGreenBackground);
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
}

// ---------------------------------------------------------------------------
// Open failure path.

struct OpenFailureCase {
    const char* name;
    const char* portText;
    bool portRefuses;
    bool converts;  // the port number could be read from the text
    qint16 portNumber;
};

class SerialOpenFailure : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(SerialOpenFailure, ShowsMessageAndLeavesControlsAsTheyWere) {
    const OpenFailureCase& c = GetParam();
    FakeWindow f;
    f->txt[0]->setText(QString::fromLatin1(c.portText));
    f.port->refuseOpen = c.portRefuses;
    f.port->settings = QStringLiteral("untouched");
    // A state in which each of the failure path's own steps shows.
    f->Timer3->start();
    f->TMRComm->start();
    f->PortNumber = 42;
    f->UsbScan = 1;
    f->ProbeCount = 9;
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->Pic->setVisible(false);
    const WindowState before = snapshot(*f.w);

    // What the operator sees while the box is open: nothing has changed yet.
    QString statusWhileShown;
    bool probeRunningWhileShown = false;
    f.box->onShow = [&](const ShownMessage&) {
        statusWhileShown = f->Label2->text();
        probeRunningWhileShown = f->Timer3->isActive();
    };

    EXPECT_NO_THROW(f->BTNOpenCom_Click());

    ASSERT_EQ(f.box->shown.size(), 1);
    EXPECT_EQ(f.box->shown[0].text, QString::fromLatin1(c.portText) + kNotAvailable);
    EXPECT_EQ(f.box->shown[0].icon, MsgBox::Icon::None);
    EXPECT_EQ(statusWhileShown, QStringLiteral("No info"));
    EXPECT_TRUE(probeRunningWhileShown);

    EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_EQ(f.port->settings, QStringLiteral("115200,n,8,1"));
    EXPECT_EQ(f.port->openAttempts, c.converts ? 1 : 0);
    if (c.converts) {
        EXPECT_EQ(f.port->commPort, c.portNumber);
    }
    EXPECT_EQ(f->PortNumber, c.converts ? c.portNumber : 42);

    std::set<std::string> expected = {"Label2.text", "Timer3.active", "field.UsbScan", "field.AddressSearch"};
    if (c.converts) expected.insert("field.PortNumber");
    EXPECT_EQ(changes(before, snapshot(*f.w)), expected);
    EXPECT_EQ(f->AddressSearch, 1);  // Text1 was empty
    EXPECT_TRUE(f->TMRComm->isActive());
    f->TMRComm->stop();
}

INSTANTIATE_TEST_SUITE_P(Causes, SerialOpenFailure,
                         ::testing::Values(OpenFailureCase{"PortMissing", "COM9", true, true, 9},
                                           OpenFailureCase{"NoNumber", "COM", false, false, 0},
                                           OpenFailureCase{"TrailingLetter", "COM3a", false, false, 0},
                                           OpenFailureCase{"Overflow", "COM99999", false, false, 0}),
                         [](const ::testing::TestParamInfo<OpenFailureCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SerialOpen, FailedOpenDoesNotSwitchTagsSoTheNextOpenStillAlternates) {
    FakeWindow f;
    f.port->refuseOpen = true;
    f->BTNOpenCom_Click();
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());
    f.port->refuseOpen = false;
    f->BTNOpenCom_Click();
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
    f->BTNCloseCom_Click();
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());
}

// ---------------------------------------------------------------------------
// Close.

TEST(Close, UndoesOpenAndEndsAnInterruptedTransfer) {
    FakeWindow f;
    f->Option2->setChecked(true);
    f->BTNOpenCom_Click();  // Text1 empty: an address search
    ASSERT_TRUE(f->MSComm1->portOpen());
    // A verify pass under way when the operator closes.
    f->VerifyPhase = 1;
    f->TransferActive = 1;
    f->TransferArmed = 1;
    f->ProbeCount = 4;
    f->vbalProgressBar1->setText(QStringLiteral("VERIFY"));
    f->vbalProgressBar1->setMax(40);
    f->vbalProgressBar1->setValue(12);
    f->vbalProgressBar1->setBarColor(65280);
    f->Text8->setText(QStringLiteral("OK"));
    f->Pic->setFillColor(49152);
    const WindowState before = snapshot(*f.w);

    f->BTNCloseCom_Click();

    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_FALSE(f->TMRComm->isActive());
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("NO FILE"));
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Closed"));
    EXPECT_TRUE(f->Text8->text().isEmpty());
    EXPECT_EQ(f->VerifyPhase, 0);
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_EQ(f.port->closes, 1);
    EXPECT_EQ(portBoxBackground(*f.w), systemBackground());
    EXPECT_TRUE(f->Pic->isHidden());
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_TRUE(f->txt[0]->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());

    // Kept as they were: the probe count, the search, the armed flag, the
    // port number, the caption of "Next", the bar's value, maximum and colour,
    // the lamp colour.
    const std::set<std::string> expected = {
        "Timer3.active",      "TMRComm.active",       "vbalProgressBar1.text", "Label2.text",       "Text8.text",
        "field.VerifyPhase",  "field.TransferActive", "MSComm1.portOpen",      "txt(0).background", "Pic.hidden",
        "BTNOpenCom.enabled", "txt(0).enabled",       "BTNCloseCom.enabled"};
    EXPECT_EQ(changes(before, snapshot(*f.w)), expected);
    EXPECT_EQ(f->ProbeCount, 4);
    EXPECT_EQ(f->AddressSearch, 1);
    EXPECT_EQ(f->TransferArmed, 1);
    EXPECT_EQ(f->Command1->text(), QStringLiteral("Next"));
    EXPECT_EQ(f->vbalProgressBar1->value(), 12);
    EXPECT_EQ(f->vbalProgressBar1->barColor(), 65280u);
    EXPECT_EQ(f.port->settings, QStringLiteral("19200,n,8,1"));
    EXPECT_EQ(f.port->commPort, 3);
    EXPECT_TRUE(f.box->shown.isEmpty());
}

TEST(Close, AfterAUsbScanStoppedKeepsTheScanFlag) {
    FakeWindow f;
    f->Option4->setChecked(true);
    f->BTNOpenCom_Click();
    f->Timer3_Timer();  // opens the port
    f->Timer3_Timer();  // takes it over
    ASSERT_TRUE(f->BTNCloseCom->isEnabled());
    f->BTNCloseCom_Click();
    EXPECT_EQ(f->UsbScan, 1);
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());
}

// ---------------------------------------------------------------------------
// The window closing.

TEST(FormUnload, ClosesAnOpenPortAndLeavesCancelAlone) {
    FakeWindow f;
    f->BTNOpenCom_Click();
    const WindowState before = snapshot(*f.w);
    qint16 cancel = 0;
    f->Form_Unload(cancel);
    EXPECT_EQ(cancel, 0);
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_EQ(f.port->closes, 1);
    // Nothing but the port.
    EXPECT_EQ(changes(before, snapshot(*f.w)), std::set<std::string>{"MSComm1.portOpen"});
}

TEST(FormUnload, WithThePortClosedDoesNothing) {
    FakeWindow f;
    const WindowState before = snapshot(*f.w);
    qint16 cancel = 0;
    f->Form_Unload(cancel);
    EXPECT_EQ(cancel, 0);
    EXPECT_EQ(f.port->closes, 0);
    EXPECT_EQ(f.port->openAttempts, 0);
    EXPECT_EQ(snapshot(*f.w), before);
}

TEST(FormUnload, RunsWhenTheWindowIsClosed) {
    FakeWindow f;
    f->show();
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());
    EXPECT_TRUE(f->close());
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_EQ(f.port->closes, 1);
}

// ---------------------------------------------------------------------------
// Open in USB mode: a toggle that starts and stops the scan.

class UsbOpen : public ::testing::Test {
  protected:
    void SetUp() override { f->Option4->setChecked(true); }
    FakeWindow f;
};

TEST_F(UsbOpen, FirstPressStartsAScanWithoutOpeningThePort) {
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("5"));
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->AddressSearch = 1;
    f->Command1->setText(QStringLiteral("Next"));
    f.port->settings = QStringLiteral("9600,n,8,1");
    const WindowState before = snapshot(*f.w);

    f->BTNOpenCom_Click();

    EXPECT_EQ(f.port->settings, QStringLiteral("115200,n,8,1"));
    EXPECT_FALSE(f->Check1->isChecked());
    EXPECT_EQ(f->Text1->text(), QStringLiteral("16"));
    EXPECT_EQ(f->TransferArmed, 0);
    EXPECT_EQ(f->Label2->text(), QStringLiteral("WAIT Connect: "));
    EXPECT_EQ(f->ProbeCount, 1);
    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_EQ(f->UsbScan, 1);
    EXPECT_EQ(f->AddressSearch, 0);
    EXPECT_EQ(f.port->openAttempts, 0);

    // Neither the port, the lamp, the port box, Command1, the bar, the port
    // controls nor the receiver.
    const std::set<std::string> expected = {"Check1.checked",      "Text1.text",          "Label2.text",
                                            "Timer3.active",       "field.UsbScan",       "field.ProbeCount",
                                            "field.AddressSearch", "field.TransferArmed", "field.TransferActive"};
    EXPECT_EQ(changes(before, snapshot(*f.w)), expected);
    EXPECT_TRUE(f->BTNOpenCom->isEnabled()) << "Open must stay usable to stop the scan";
    EXPECT_TRUE(f.box->shown.isEmpty());
}

TEST_F(UsbOpen, SecondPressAfterATickStopsTheScanAndThirdStartsAgain) {
    f->BTNOpenCom_Click();
    f->Timer3_Timer();
    ASSERT_EQ(f->ProbeCount, 2);

    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("No info: "));
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f->ProbeCount, 1);
    EXPECT_EQ(f->UsbScan, 0);

    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("WAIT Connect: "));
    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_EQ(f->ProbeCount, 1);
    EXPECT_EQ(f->UsbScan, 1);
}

TEST_F(UsbOpen, SecondPressBeforeAnyTickStartsTheScanAfresh) {
    // The count is still 1, so nothing tells this press from a first one.
    f->BTNOpenCom_Click();
    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("WAIT Connect: "));
    EXPECT_TRUE(f->Timer3->isActive());
    EXPECT_EQ(f->UsbScan, 1);
}

TEST_F(UsbOpen, AfterAScanRanOutTheNextPressOnlyResets) {
    f.port->refuseOpen = true;
    f->BTNOpenCom_Click();
    for (int tick = 0; tick < 199 && f->Timer3->isActive(); ++tick) f->Timer3_Timer();
    ASSERT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
    ASSERT_EQ(f->ProbeCount, 200);

    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("No info: "));
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f->ProbeCount, 1);

    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("WAIT Connect: "));
    EXPECT_TRUE(f->Timer3->isActive());
}

TEST_F(UsbOpen, AfterAnAnsweredSerialProbeTheFirstPressOnlyResets) {
    f->Option3->setChecked(true);
    f->BTNOpenCom_Click();
    f->Timer3_Timer();
    f.port->feed("VER=4.01\r\n");
    f->TMRComm_Timer();
    ASSERT_FALSE(f->Timer3->isActive());
    ASSERT_EQ(f->ProbeCount, 2);
    f->BTNCloseCom_Click();

    f->Option4->setChecked(true);
    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("No info: "));
    EXPECT_FALSE(f->Timer3->isActive());
    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("WAIT Connect: "));
    EXPECT_TRUE(f->Timer3->isActive());
}

TEST_F(UsbOpen, StoppingAfterThePortOpenedButBeforeTakeOverClosesIt) {
    f->BTNOpenCom_Click();
    f->Timer3_Timer();  // this tick opens the port
    ASSERT_TRUE(f->MSComm1->portOpen());

    f->BTNOpenCom_Click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("No info: "));
    EXPECT_FALSE(f->Timer3->isActive());
    // No open port may hide behind the closed-port arrangement of the controls.
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_TRUE(f->Pic->isHidden());
    EXPECT_EQ(portBoxBackground(*f.w), systemBackground());
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());
    EXPECT_FALSE(f->TMRComm->isActive());

    // The port is free again: a new scan opens and takes it over.
    f->BTNOpenCom_Click();
    f->Timer3_Timer();
    f->Timer3_Timer();
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
}

// The operator switches to a serial speed and presses Open while the scan
// has opened the board's port but not taken it over yet: the scan's port is
// closed first, and the Open then works as ever, probe included.
TEST_F(UsbOpen, SerialOpenDuringTheScansWindowClosesTheScansPortAndOpens) {
    f->BTNOpenCom_Click();
    f->Timer3_Timer();  // this tick opens the port
    ASSERT_TRUE(f->MSComm1->portOpen());
    ASSERT_EQ(f.port->closes, 0);

    f->Option3->setChecked(true);
    f->BTNOpenCom_Click();

    EXPECT_EQ(f.port->closes, 1) << "the scan's port was closed first";
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_EQ(f.port->settings, QStringLiteral("115200,n,8,1"));
    EXPECT_TRUE(f.box->shown.isEmpty()) << "no \"Not available!\"";
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
    EXPECT_EQ(f->UsbScan, 0);
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
    EXPECT_TRUE(f->TMRComm->isActive());
    EXPECT_TRUE(f->Timer3->isActive()) << "the serial probe runs";

    // Its next tick is the serial probe's ask, not the scan's take-over.
    f->Timer3_Timer();
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOTi\r\n"});

    f->BTNCloseCom_Click();
    EXPECT_FALSE(f->MSComm1->portOpen());
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
}

}  // namespace
}  // namespace vantrel::testing
