#include <QTimer>

#include "common/failure.h"
#include "link/crc16.h"
#include "link/numeric_text.h"
#include "loader/colors.h"
#include "loader/loader.h"

namespace vantrel {

char Loader::deviceAddressChar() const {
    // The address box is read anew at every use; only 0..255 fit one character.
    const double address = roundHalfEven(numericValue(Text1->text()));
    if (!(address >= 0.0 && address <= 255.0))
        throw Failure(failure::kInvalidCall, QStringLiteral("Device address out of range: ") + Text1->text());
    return static_cast<char>(static_cast<quint8>(address));
}

QByteArray Loader::CRC16(const QByteArray& sString) const {
    // The length is a 16-bit count: longer texts are refused.
    if (sString.size() > 32767) throw Failure(failure::kOverflow, QStringLiteral("Overflow"));
    return crc16ModbusBytes(sString);
}

qint16 Loader::WriteCOM32(QByteArray& COMString) {
    qint16 written = 0;
    try {
        if (!MSComm1->portOpen()) return 0;
        Pic->setFillColor(color::kDarkGreen);
        // Restarting the receive timer makes its next look for the answer come
        // one full interval after the command; a stopped timer stays stopped.
        if (TMRComm->isActive()) {
            TMRComm->stop();
            TMRComm->start();
        }
        const QByteArray command = COMString;
        if (Check1->isChecked()) {
            // RTU frame: address, payload, then the CRC of both, low byte first.
            COMString.prepend(deviceAddressChar());
            COMString.append(CRC16(COMString));
        }
        MSComm1->setOutput(COMString);
        written = checkedInt16(COMString.size());
        emit commandWritten(command, COMString);
    } catch (const Failure&) {
        // Nothing is reported: the caller sees 0 and the probe or the board's
        // next reply decides what happens next.
    }
    return written;
}

}  // namespace vantrel
