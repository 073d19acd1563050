#include <QTimer>

#include "common/failure.h"
#include "connection/port_naming.h"
#include "loader/colors.h"
#include "loader/loader.h"
#include "loader/texts.h"

namespace vantrel {

void Loader::BTNOpenCom_Click() {
    if (Option4->isChecked()) {
        // USB: the board's port exists only once it is powered, so Open only
        // starts (or stops) the scan; the probe opens the port itself.
        UsbScan = 0;
        MSComm1->setSettings(QStringLiteral("115200,n,8,1"));
        Check1->setChecked(false);
        Text1->setText(QStringLiteral("16"));
        if (ProbeCount <= 1) {
            TransferArmed = 0;
            Label2->setText(QStringLiteral("WAIT Connect: "));
            ProbeCount = 1;
            Timer3->start();
            TransferActive = 0;
            UsbScan = 1;
            AddressSearch = 0;
        } else {
            ProbeCount = 1;
            Label2->setText(QStringLiteral("No info: "));
            Timer3->stop();
            closeScanPort();
        }
        return;
    }

    // A USB scan may have opened its port and not taken it over yet: that
    // port is closed first, as the scan's stop does, or this Open would find
    // it busy and leave it open behind the closed-port controls.
    if (UsbScan == 1) closeScanPort();
    UsbScan = 0;
    if (Option1->isChecked())
        MSComm1->setSettings(QStringLiteral("9600,n,8,1"));
    else if (Option2->isChecked())
        MSComm1->setSettings(QStringLiteral("19200,n,8,1"));
    else
        MSComm1->setSettings(QStringLiteral("115200,n,8,1"));
    AddressSearch = 0;
    if (Text1->text().isEmpty()) AddressSearch = 1;

    try {
        openPortNamedInBox();
        TransferArmed = 0;
        ProbeCount = 1;
        if (Text1->text() != QStringLiteral("0")) Timer3->start();
        Command1->setText(AddressSearch == 1 ? QStringLiteral("Next") : QStringLiteral("Set Addr"));
        TransferActive = 0;
        Label2->setText(QStringLiteral("Ready"));
        vbalProgressBar1->setValue(0);
        vbalProgressBar1->setBarColor(color::kDarkBlue);
        SwitchTags();
        TMRComm->start();
    } catch (const Failure& f) {
        emit openFailed(f.number(), f.description());
        showConnectionMessage(QString::fromUtf8(text::kNotAvailable));
        Label2->setText(QStringLiteral("Not present board"));
        Timer3->stop();
    }
}

void Loader::OPEN_PORT() {
    // Quiet: a port that is not there yet is the normal case during a USB
    // scan; the probe reads PortOpen on its next tick.
    try {
        openPortNamedInBox();
    } catch (const Failure& f) {
        emit openFailed(f.number(), f.description());
    }
}

void Loader::openPortNamedInBox() {
    PortNumber = portNumberOf(txt[0]->text());
    MSComm1->setCommPort(PortNumber);
    MSComm1->setPortOpen(true);
    PortLostSaid = false;
    Pic->setVisible(true);
    setPortBoxColor(true);
}

void Loader::closeScanPort() {
    // The port controls are in their closed arrangement while the scan runs:
    // a port it opened but did not take over would stay open behind them,
    // and no later Open could use it.
    if (!MSComm1->portOpen()) return;
    MSComm1->setPortOpen(false);
    setPortBoxColor(false);
    Pic->setVisible(false);
}

void Loader::BTNCloseCom_Click() {
    Timer3->stop();
    TMRComm->stop();
    vbalProgressBar1->setText(QStringLiteral("NO FILE"));
    Label2->setText(QStringLiteral("Closed"));
    Text8->clear();
    VerifyPhase = 0;
    TransferActive = 0;
    // A reply cut short by closing the port will never be completed, and no
    // line is waiting for its answer any more.
    RxHeld.clear();
    RxEndedInCr = false;
    RxDamaged.clear();
    LineInFlight = 0;
    EndOfFileOutstanding = false;
    LineAnswered.reset();
    linesHeld_ = false;
    lineDue_ = false;
    MSComm1->setPortOpen(false);
    setPortBoxColor(false);
    Pic->setVisible(false);
    SwitchTags();
    // The HEX file is read whole and closed while loading; no file is left open.
}

void Loader::Form_Unload(qint16& Cancel) {
    Q_UNUSED(Cancel);
    if (MSComm1->portOpen()) MSComm1->setPortOpen(false);
}

}  // namespace vantrel
