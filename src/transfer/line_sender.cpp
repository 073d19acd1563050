#include <algorithm>

#include "loader/colors.h"
#include "loader/loader.h"
#include "transfer/hex_file.h"

namespace vantrel {

void Loader::Command5_Click() {
    // With no line loaded there is nothing to send; the table is never read
    // past the lines of the file that was loaded.
    if (LineCount < 1) return;
    if (linesHeld_) {
        // Whatever asked for it, the line in flight has had its answer.
        lineDue_ = true;
        LineInFlight = 0;
        return;
    }
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
    if (isEndOfFileRecord(HexLines[LineIndex])) EndOfFileOutstanding = true;
    sentLast_ = SentLine{VerifyPhase == 1, LineIndex, LineCount, HexLines[LineIndex]};
    emit lineSent(VerifyPhase == 1, LineIndex, LineCount, HexLines[LineIndex]);
    vbalProgressBar1->setValue(LineIndex);
    if (LineIndex == LineCount) LineIndex = 0;
}

void Loader::resendLineInFlight() {
    if (LineInFlight < 1 || LineInFlight > std::min<qint16>(LineCount, kMaxLines)) return;
    LineIndex = static_cast<qint16>(LineInFlight - 1);
    const bool held = linesHeld_;
    linesHeld_ = false;
    Command5_Click();
    linesHeld_ = held;
}

void Loader::holdLines() {
    linesHeld_ = true;
}

void Loader::releaseHeldLine() {
    linesHeld_ = false;
    const bool due = lineDue_;
    lineDue_ = false;
    // A transfer that ended or was stopped meanwhile sends nothing.
    if (due && TransferActive == 1) Command5_Click();
}

}  // namespace vantrel
