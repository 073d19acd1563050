#include <QTimer>

#include "common/failure.h"
#include "loader/colors.h"
#include "loader/loader.h"
#include "loader/texts.h"

namespace vantrel {
namespace {

constexpr qint16 kLastAsk = 127;    // asks 1..127, then the serial probe gives up
constexpr qint16 kUsbGiveUp = 200;  // the USB scan gives up when its count reaches this

// A count as the status line shows it: one position reserved for the sign.
QString waitText(qint16 count) {
    return QStringLiteral("WAIT Connect: ") + (count >= 0 ? QStringLiteral(" ") : QString()) + QString::number(count);
}

}  // namespace

void Loader::Timer3_Timer() {
    if (UsbScan == 0) {
        Label2->setText(waitText(ProbeCount));
        if (ProbeCount > kLastAsk) {
            Timer3->stop();
            showConnectionMessage(QString::fromUtf8(text::kNotConnect));
            Label2->setText(QStringLiteral("Not present board"));
            ProbeCount = 1;
            emit probeGaveUp();
            return;
        }
        // In an address search each ask goes to the next trial address; the
        // frame writer takes the address from the address box.
        if (AddressSearch == 1) Text1->setText(QString::number(ProbeCount));
        writeCommand(QByteArrayLiteral("BOOTi\r\n"));
        ProbeCount = checkedInt16(ProbeCount + 1);
        return;
    }

    ProbeCount = checkedInt16(ProbeCount + 1);
    Label2->setText(waitText(ProbeCount));
    if (ProbeCount >= kUsbGiveUp) {
        Timer3->stop();
        closeScanPort();
        showConnectionMessage(QString::fromUtf8(text::kNotAvailable));
        Label2->setText(QStringLiteral("Not present board"));
        emit probeGaveUp();
        return;
    }
    if (MSComm1->portOpen()) {
        // The port opened on an earlier tick: take it over.
        ProbeCount = 1;
        Label2->setText(QStringLiteral("Ready"));
        Timer3->stop();
        vbalProgressBar1->setValue(0);
        vbalProgressBar1->setBarColor(color::kDarkBlue);
        SwitchTags();
        TMRComm->start();
        // A freshly enumerated USB port needs a moment before it takes data.
        sleeper().sleep(100);
        writeCommand(QByteArrayLiteral("BOOTi\r\n"));
        TransferArmed = 0;
        TransferActive = 0;
        return;
    }
    OPEN_PORT();
}

}  // namespace vantrel
