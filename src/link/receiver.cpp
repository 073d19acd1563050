#include <QCheckBox>
#include <QLineEdit>

#include "common/failure.h"
#include "window/frm_serial.h"
#include "window/lamp.h"

namespace vantrel {
namespace {

// Address, "B", at least a two-character reply, and the CRC.
constexpr qsizetype kMinReply = 6;

// An RTU frame is at most 256 characters long. Characters that a rejected
// frame leaves at the head of the gathered text stay there, so a noisy line
// would otherwise grow it without end; only the newest characters are kept.
constexpr qsizetype kMaxFrame = 256;

}  // namespace

void frmSerial::TMRComm_Timer() {
    RxLine.clear();
    CalcCrc.clear();
    RxCrc.clear();
    try {
        BlinkTicks = checkedInt16(BlinkTicks + 1);
        if (BlinkTicks >= 10) {
            BlinkTicks = 0;
            Pic->setFillColor(Pic->fillColor() == color::kWhite ? color::kGrey : color::kWhite);
        }

        ByteCount = MSComm1->inBufferCount();
        if (ByteCount == 0) return;
        RxLine = MSComm1->input();
        Pic->setFillColor(color::kRed);

        if (!Check1->isChecked()) {
            // Plain mode has no end-of-reply rule: whatever arrived since the
            // last tick is one reply.
            Com_Parser();
            RxFrame.clear();
            return;
        }

        RxFrame += RxLine;
        if (RxFrame.size() > kMaxFrame) RxFrame.remove(0, RxFrame.size() - kMaxFrame);
        ByteCount = static_cast<int>(RxFrame.size());
        if (ByteCount < kMinReply) return;

        if (RxFrame[0] != deviceAddressChar()) {
            Text8->setText(QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(RxLine));
            return;
        }
        if (RxFrame[1] != 'B') {
            Text8->setText(QStringLiteral("Error CMD  >> ") + QString::fromLatin1(RxLine));
            return;
        }
        // An incomplete reply fails the CRC silently and is looked at again
        // when more characters arrive.
        CalcCrc = CRC16(RxFrame.left(ByteCount - 2));
        RxCrc = RxFrame.right(2);
        RxLine = RxFrame.mid(2, ByteCount - 4);
        if (RxCrc == CalcCrc) {
            Com_Parser();
            RxFrame.clear();
        }
    } catch (const Failure&) {
        // The tick ends; the next one tries again.
    }
}

}  // namespace vantrel
