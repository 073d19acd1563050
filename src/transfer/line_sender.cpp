#include <algorithm>

#include "window/frm_serial.h"
#include "window/progress_bar.h"

namespace vantrel {

void frmSerial::Command5_Click() {
    // With no line loaded there is nothing to send; the table is never read
    // past the lines of the file that was loaded.
    if (LineCount < 1) return;
    // A count beyond the table (no load sets one) still wraps at its last entry.
    const qint16 lastLine = std::min<qint16>(LineCount, kMaxLines);
    if (LineIndex < 0 || LineIndex >= lastLine) LineIndex = 0;

    QByteArray command = QByteArrayLiteral("BOOT");
    if (VerifyPhase != 1) {
        vbalProgressBar1->setText(QStringLiteral("DOWNLOAD"));
        LineIndex += 1;
        command += HexLines[LineIndex];
    } else {
        LineIndex += 1;
        // The verify form: every ':' travels as '#'; the table keeps the line.
        QByteArray line = HexLines[LineIndex];
        command += line.replace(':', '#');
    }
    command += "\r\n";
    WriteCOM32(command);
    LineInFlight = LineIndex;
    emit lineSent(VerifyPhase == 1, LineIndex, LineCount, HexLines[LineIndex]);
    vbalProgressBar1->setValue(LineIndex);
    if (LineIndex == LineCount) LineIndex = 0;
}

}  // namespace vantrel
