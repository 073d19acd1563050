#include <QTimer>

#include "loader/colors.h"
#include "loader/loader.h"

namespace vantrel {

void Loader::Com_Parser() {
    Text8->setText(QString::fromLatin1(RxLine));

    // The first reply word found decides; the order matters: a text with
    // "DOWNLOAD" and "OK" is a "DOWNLOAD", one with "ERROR" and "OK" an "ERROR".
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
    } else if (RxLine.contains("DOWNLOAD")) {
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
            emit replyInterpreted(ReplyOutcome::End);
        }
    } else if (RxLine.contains("FORMAT")) {
        vbalProgressBar1->setText(QString());
        vbalProgressBar1->setValue(0);
        emit replyInterpreted(ReplyOutcome::Format);
    } else if (RxLine.contains("OK")) {
        // Only a running transfer goes on: a stray "OK" after "END" (or
        // before any start) must not send the file once more.
        if (TransferActive == 1) Command5_Click();
        emit replyInterpreted(ReplyOutcome::Ok);
    } else {
        emit replyInterpreted(ReplyOutcome::NoWord);
    }
}

}  // namespace vantrel
