#include "common/failure.h"
#include "loader/colors.h"
#include "loader/loader.h"
#include "loader/texts.h"

namespace vantrel {

void Loader::Command3_Click() {
    startTransfer(false);
}

void Loader::Command2_Click() {
    startTransfer(true);
}

void Loader::startTransfer(bool verify) {
    try {
        CommonDialog1->setFilter(QStringLiteral("HEX files (*.hex)|*.hex"));
        CommonDialog1->showOpen();
        const QString path = CommonDialog1->fileName();
        if (path.isEmpty() || CommonDialog1->cancelled()) {
            messageBox().show(QStringLiteral("Cancel"), QString::fromUtf8(text::kAppTitle), MsgBox::Icon::None);
            return;
        }
        armPass(verify);
        runPass(verify, fileReader().readLines(path, kMaxLines));
    } catch (const Failure& f) {
        refuseStart(f);
    }
}

void Loader::startPass(bool verify, const QList<QByteArray>& lines) {
    try {
        armPass(verify);
        if (lines.size() > kMaxLines)
            throw Failure(failure::kSubscriptOutOfRange,
                          QStringLiteral("Subscript out of range: more than %1 lines").arg(kMaxLines));
        runPass(verify, lines);
    } catch (const Failure& f) {
        refuseStart(f);
    }
}

void Loader::armPass(bool verify) {
    // Only a chosen file changes the transfer: a cancelled choice leaves a
    // running one as it was, so a download never turns into a verify pass
    // that nobody asked for.
    VerifyPhase = verify ? 1 : 0;
    TransferArmed = 1;
    LineAnswered.reset();
    LineIndex = 0;
    // The table is about to change: no line of it is waiting for its answer.
    LineInFlight = 0;
    EndOfFileOutstanding = false;
    linesHeld_ = false;
    lineDue_ = false;
    vbalProgressBar1->setText(QStringLiteral("NO FILE"));
    // Until the whole file has been read nothing counts as loaded, so a
    // file that fails half-way never leaves a mix of two files to send.
    LineCount = 0;
}

void Loader::runPass(bool verify, const QList<QByteArray>& lines) {
    for (const QByteArray& line : lines) {
        HexLineBuffer = line;
        LineIndex += 1;
        HexLines[LineIndex] = HexLineBuffer;
    }
    LineCount = LineIndex;
    vbalProgressBar1->setMax(LineCount);
    vbalProgressBar1->setText(QStringLiteral("READY"));
    LineIndex = 0;
    Command5->setEnabled(true);
    TransferActive = 1;
    if (verify) {
        vbalProgressBar1->setText(QStringLiteral("VERIFY"));
        VerifyPhase = 1;
        LineIndex = 0;
    }
    Command5_Click();
}

void Loader::refuseStart(const Failure& f) {
    emit startFailed(f.number(), f.description());
    messageBox().show(f.description(), QStringLiteral("Error#%1").arg(f.number()), MsgBox::Icon::Stop);
}

}  // namespace vantrel
