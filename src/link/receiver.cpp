#include <algorithm>
#include <utility>

#include "common/failure.h"
#include "link/crc16.h"
#include "link/reply_words.h"
#include "loader/colors.h"
#include "loader/loader.h"

namespace vantrel {
namespace {

// Marks a receive step as running for as long as it, the reply interpreter
// and the line sender it calls take; a failure among them ends it like any
// other.
class ReceiveBusy {
  public:
    explicit ReceiveBusy(bool& flag) : flag_(flag) { flag_ = true; }
    ~ReceiveBusy() { flag_ = false; }
    ReceiveBusy(const ReceiveBusy&) = delete;
    ReceiveBusy& operator=(const ReceiveBusy&) = delete;

  private:
    bool& flag_;
};

// Address, "B", at least a two-character reply, and the CRC.
constexpr qsizetype kMinReply = 6;

// An RTU frame is at most 256 characters long: no more of a Modbus reply in
// the making, nor of a plain reply whose line end has not come, is kept, so
// a babbling line cannot grow memory.
constexpr qsizetype kMaxFrame = 256;

// "A frame ends in silence": this many receive ticks in a row without a
// character (100 ms) end whatever was gathered: a Modbus frame that never
// became a reply, or a plain reply that came without its line end. That is
// well above any gap inside a reply that arrives in pieces.
constexpr qint16 kSilentTicks = 5;

// Where the reply that ends with the newest characters begins: the earliest
// position holding the address character and "B" from which the characters
// up to the last two have those two as their CRC. -1 when there is none.
// Characters in front of it (noise, a damaged or foreign frame, an earlier
// reply run together with this one) are not part of it.
qsizetype replyStart(QByteArrayView gathered, char address) {
    const qsizetype n = gathered.size();
    if (n < kMinReply) return -1;
    const QByteArrayView crc = gathered.last(2);
    for (qsizetype start = 0; start + kMinReply <= n; ++start) {
        if (gathered[start] != address || gathered[start + 1] != 'B') continue;
        if (crc16ModbusBytes(gathered.sliced(start, n - start - 2)) == crc) return start;
    }
    return -1;
}

// The payloads of the whole replies to this address that stand, one after
// the other, in front of the last one: replies that were run together, or
// that came with noise between them, were all sent and are all handed on.
// A reply is a run from an address character and "B" whose last two
// characters are the CRC of the rest (the CRC over the whole run is then 0).
// A CRC can come to 0 early by chance, inside a reply (and stays 0 over zero
// bytes), so of the runs that check from one start the first that ends
// where the next reply (or the last one) starts is taken, else the shortest.
QByteArray earlierPayloads(QByteArrayView head, char address) {
    const qsizetype n = head.size();
    const auto replyStartsAt = [&](qsizetype at) {
        return at == n || (at + 1 < n && head[at] == address && head[at + 1] == 'B');
    };
    QByteArray payloads;
    qsizetype start = 0;
    while (start + kMinReply <= n) {
        qsizetype shortest = -1;
        qsizetype joined = -1;
        if (head[start] == address && head[start + 1] == 'B') {
            quint16 crc = 0xFFFF;
            for (qsizetype e = start; e < n && joined < 0; ++e) {
                crc = crc16ModbusStep(crc, head[e]);
                if (crc != 0 || e + 1 - start < kMinReply) continue;
                if (shortest < 0) shortest = e + 1;
                if (replyStartsAt(e + 1)) joined = e + 1;
            }
        }
        if (shortest < 0) {
            ++start;
            continue;
        }
        const qsizetype end = joined >= 0 ? joined : shortest;
        payloads += head.sliced(start + 2, end - start - 4);
        start = end;
    }
    return payloads;
}

}  // namespace

void Loader::TMRComm_Timer() {
    RxLine.clear();
    CalcCrc.clear();
    RxCrc.clear();
    try {
        BlinkTicks = checkedInt16(BlinkTicks + 1);
        if (BlinkTicks >= 10) {
            BlinkTicks = 0;
            Pic->setFillColor(Pic->fillColor() == color::kWhite ? color::kGrey : color::kWhite);
        }
        // Characters read between two ticks (as soon as they arrived) mean the
        // line was not quiet since the last tick, even if none wait now.
        const bool heardSinceLastTick = RxHeard;
        RxHeard = false;
        const ReceiveBusy busy(RxBusy);
        if (!MSComm1->portOpen()) {
            // The device went away under a running receiver (the component
            // closes the port when the line hangs up).
            if (!PortLostSaid) {
                PortLostSaid = true;
                emit portLost();
            }
            return;
        }
        if (receiveStep()) return;
        if (!heardSinceLastTick) lineWasQuiet();
    } catch (const Failure&) {
        // The tick ends; the next one tries again.
    }
}

void Loader::MSComm1_OnComm() {
    if (RxBusy) return;
    RxLine.clear();
    CalcCrc.clear();
    RxCrc.clear();
    try {
        // The tick keeps the lamp's time and notices a lost port; here only
        // what has arrived is taken.
        const ReceiveBusy busy(RxBusy);
        if (MSComm1->portOpen() && receiveStep()) RxHeard = true;
    } catch (const Failure&) {
        // As in a tick: the next event or tick tries again.
    }
}

bool Loader::receiveStep() {
    ByteCount = MSComm1->inBufferCount();
    if (ByteCount == 0) return false;
    RxLine = MSComm1->input();
    Pic->setFillColor(color::kRed);
    RxQuietTicks = 0;
    if (!Check1->isChecked())
        plainCharactersArrived();
    else
        modbusCharactersArrived();
    return true;
}

void Loader::plainCharactersArrived() {
    // A reply is complete at its line end, CR or LF, however its characters
    // were cut on the way: what follows the last line end waits for the rest.
    // Two replies that arrive together are still handed on as one text.
    // More than a frame length without a line end is no reply waiting for
    // its end but babble: it goes on too, and nothing is kept.
    // The LF of a CR LF cut after its CR ends nothing: its reply went on at
    // the CR.
    if (RxEndedInCr && RxHeld.isEmpty() && RxLine.startsWith('\n')) RxLine.remove(0, 1);
    RxEndedInCr = false;
    RxHeld += RxLine;
    const qsizetype end = std::max(RxHeld.lastIndexOf('\n'), RxHeld.lastIndexOf('\r')) + 1;
    const qsizetype whole = RxHeld.size() - end > kMaxFrame ? RxHeld.size() : end;
    if (whole > 0) {
        RxLine = RxHeld.left(whole);
        RxHeld.remove(0, whole);
        RxEndedInCr = RxLine.endsWith('\r');
        noteDamage();
        handOnReply();
    }
    RxFrame.clear();
}

void Loader::modbusCharactersArrived() {
    RxHeld.clear();
    RxFrame += RxLine;
    if (RxFrame.size() > kMaxFrame) RxFrame.remove(0, RxFrame.size() - kMaxFrame);
    ByteCount = static_cast<int>(RxFrame.size());
    if (ByteCount < kMinReply) return;

    // The address box is read anew at every check.
    const char address = deviceAddressChar();
    const qsizetype start = replyStart(RxFrame, address);
    if (start < 0) {
        // No reply ends here. Say why the gathered characters are none; an
        // incomplete or damaged reply is passed over in silence and looked at
        // again when more characters arrive.
        if (RxFrame[0] != address) {
            Text8->setText(QStringLiteral("Error ADDR  >> ") + QString::fromLatin1(RxLine));
            return;
        }
        if (RxFrame[1] != 'B') {
            Text8->setText(QStringLiteral("Error CMD  >> ") + QString::fromLatin1(RxLine));
            return;
        }
        CalcCrc = CRC16(RxFrame.left(ByteCount - 2));
        RxCrc = RxFrame.right(2);
        return;
    }
    // Whole replies in front of this one go on with it, in order, as one
    // text, as two plain replies in one tick do: a doubled "OK" then sends
    // one line, and "ERROR" with "OK" counts as "ERROR". Anything else in
    // front can never become a reply.
    const QByteArray earlier = earlierPayloads(QByteArrayView(RxFrame).first(start), address);
    RxFrame.remove(0, start);
    ByteCount = static_cast<int>(RxFrame.size());
    CalcCrc = CRC16(RxFrame.left(ByteCount - 2));
    RxCrc = RxFrame.right(2);
    RxLine = earlier + RxFrame.mid(2, ByteCount - 4);
    handOnReply();
    RxFrame.clear();
}

void Loader::noteDamage() {
    if (holdsReplyWord(RxLine))
        RxDamaged.clear();
    else if (looksLikeDamagedReply(RxLine))
        RxDamaged += RxLine;
}

void Loader::handOnReply() {
    LineAnswered = lineInFlight();
    emit replyAccepted(RxLine, Check1->isChecked() ? static_cast<quint8>(RxFrame[0]) : -1);
    Com_Parser();
}

void Loader::lineWasQuiet() {
    if (RxHeld.isEmpty() && RxFrame.isEmpty() && RxDamaged.isEmpty()) return;
    // Only silence ends what was gathered, in either mode: a slow sender's
    // reply still comes whole, however many ticks its characters straddle.
    RxQuietTicks = checkedInt16(RxQuietTicks + 1);
    if (RxQuietTicks < kSilentTicks) return;
    RxQuietTicks = 0;
    if (!RxHeld.isEmpty() && !Check1->isChecked()) {
        // A plain reply without a line end: the silence after it ends it.
        RxLine = RxHeld;
        RxHeld.clear();
        noteDamage();
        handOnReply();
        RxFrame.clear();
    } else {
        // A Modbus frame that ended without becoming a reply: nothing of it
        // can be part of the next one. A whole frame whose CRC checks came
        // from another address and is no damage.
        const bool wholeFrame = RxFrame.size() >= kMinReply &&
                                crc16ModbusBytes(QByteArrayView(RxFrame).first(RxFrame.size() - 2)) == RxFrame.right(2);
        if (!RxFrame.isEmpty() && !wholeFrame) RxDamaged += RxFrame;
        RxHeld.clear();
        RxFrame.clear();
    }
    if (!RxDamaged.isEmpty()) {
        const QByteArray damaged = std::exchange(RxDamaged, QByteArray());
        emit replyDamaged(damaged);
    }
}

}  // namespace vantrel
