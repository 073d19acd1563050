#include <QTimer>

#include "loader/colors.h"
#include "loader/loader.h"

namespace vantrel {

void Loader::Com_Parser() {
    Text8->setText(QString::fromLatin1(RxLine));

    // The first reply word found decides; the order matters: a text with
    // "DOWNLOAD" and "OK" is a "DOWNLOAD", one with "ERROR" and "OK" an "ERROR".
    // The bootloader says "DOWNLOAD" when it has taken the end-of-file
    // record. Said while this pass has no such record awaiting its answer it
    // is a stale or doubled copy and counts for nothing: were it taken, a
    // pass would end early and "END" could stand for a file that was never
    // verified whole. The words after it still count, so an "OK" that came
    // in the same text moves the pass on.
    const bool download = RxLine.contains("DOWNLOAD");
    if (RxLine.contains("VER=")) {
        Timer3->stop();
        Label2->setText(QStringLiteral("READY"));
        if (TransferArmed == 1 && TransferActive == 1) Command5_Click();
        emit replyInterpreted(ReplyOutcome::Version);
    } else if (RxLine.contains("ERROR")) {
        vbalProgressBar1->setText(QStringLiteral("ERROR"));
        vbalProgressBar1->setBarColor(color::kRed);
        VerifyPhase = 0;
        emit replyInterpreted(ReplyOutcome::Error);
    } else if (download && EndOfFileOutstanding) {
        EndOfFileOutstanding = false;
        if (VerifyPhase != 1) {
            vbalProgressBar1->setText(QStringLiteral("VERIFY"));
            VerifyPhase = 1;
            LineIndex = 0;
            Command5_Click();
            emit replyInterpreted(ReplyOutcome::Verify);
        } else {
            vbalProgressBar1->setText(QStringLiteral("END"));
            vbalProgressBar1->setBarColor(color::kGreen);
            VerifyPhase = 0;
            TransferActive = 0;
            LineInFlight = 0;
            emit replyInterpreted(ReplyOutcome::End);
        }
    } else if (RxLine.contains("FORMAT")) {
        vbalProgressBar1->setText(QString());
        vbalProgressBar1->setValue(0);
        emit replyInterpreted(ReplyOutcome::Format);
    } else if (RxLine.contains("OK")) {
        // Only a running transfer goes on: a stray "OK" after "END" (or
        // before any start) must not send the file once more. Nor does one
        // while the end-of-file record awaits its answer: there is no line
        // after it, and wrapping to line 1 would put a record on the wire
        // after the end of the file.
        if (TransferActive == 1 && !EndOfFileOutstanding) Command5_Click();
        emit replyInterpreted(ReplyOutcome::Ok);
    } else if (download) {
        emit replyInterpreted(ReplyOutcome::StrayDownload);
    } else {
        emit replyInterpreted(ReplyOutcome::NoWord);
    }
}

}  // namespace vantrel
