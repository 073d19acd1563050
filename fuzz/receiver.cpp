// The receive tick on random byte streams cut into random ticks.
//
// Input: the mode (once, or chosen anew per tick), the text of the address
// box, then a list of operations: append raw bytes or a built Modbus reply
// (right or wrong address, function character and CRC) to the line, change
// the address box, or run a tick that delivers the next bytes of the line.
//
// After every tick the outcome is compared with what the tick must do:
// - plain mode: a tick with data hands exactly that tick's bytes to the
//   interpreter, a tick without data does nothing;
// - Modbus mode: the interpreter runs only on a gathered frame whose address
//   character, "B" and CRC-16 are right, with characters 3..n-2 of it as the
//   reply; otherwise the address or function error text, or nothing;
// - the gathered text never exceeds 256 characters, and only its oldest
//   characters are dropped;
// - nothing escapes the tick.
// The interpreter's runs are seen through Text8, which is set to a sentinel
// that no reply can produce before each tick.

#include <cmath>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>

#include <QByteArray>
#include <QCheckBox>
#include <QLineEdit>
#include <QString>

#include "fake_platform.h"
#include "fuzz_support.h"
#include "fuzz_window.h"
#include "link/numeric_text.h"
#include "window/lamp.h"

using vantrel::fuzz::crcMatches;
using vantrel::fuzz::show;
using vantrel::fuzz::withCrc;

namespace {

constexpr qsizetype kMaxFrame = 256;
const QString kAddrError = QStringLiteral("Error ADDR  >> ");
const QString kCmdError = QStringLiteral("Error CMD  >> ");
// Replies are shown as Latin-1 text, which cannot hold this character.
const QString kSentinel = QStringLiteral("\u2603 no reply \u2603");

// The device address the box stands for, or nothing when it cannot be one.
std::optional<quint8> addressOf(const QString& text) {
    const double v = vantrel::roundHalfEven(vantrel::numericValue(text));
    if (!(v >= 0.0 && v <= 255.0)) return std::nullopt;
    return static_cast<quint8>(v);
}

QString addressText(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return QString::number(in.ConsumeIntegralInRange(-2, 260));
        case 1:
            return QStringLiteral("&H") + QString::number(in.ConsumeIntegral<quint8>(), 16).toUpper();
        case 2:
            return QStringLiteral(" %1 ").arg(in.ConsumeIntegralInRange(0, 255));
        default:
            return QString::fromLatin1(QByteArray::fromStdString(in.ConsumeRandomLengthString(8)));
    }
}

QByteArray builtReply(FuzzedDataProvider& in, std::optional<quint8> address) {
    QByteArray frame;
    const bool rightAddress = in.ConsumeBool() && address;
    frame.append(static_cast<char>(rightAddress ? *address : in.ConsumeIntegral<quint8>()));
    frame.append(in.ConsumeBool() ? 'B' : static_cast<char>(in.ConsumeIntegral<quint8>()));
    frame.append(QByteArray::fromStdString(in.ConsumeRandomLengthString(64)));
    frame = withCrc(frame);
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        const int at = in.ConsumeIntegralInRange<int>(0, static_cast<int>(frame.size()) - 1);
        frame[at] = static_cast<char>(frame[at] ^ (1 + in.ConsumeIntegral<quint8>() % 255));
    }
    return frame;
}

struct Receiver {
    vantrel::testing::FakeWindow f;
    QByteArray line;  // bytes still on their way

    void tick(bool modbus, qsizetype count) {
        const QByteArray chunk = line.left(count);
        line.remove(0, chunk.size());
        f->Check1->setChecked(modbus);
        const QString addressBox = f->Text1->text();
        const QByteArray before = f->RxFrame;
        f->Text8->setText(kSentinel);
        f.port->feed(chunk);

        try {
            f->TMRComm_Timer();
        } catch (...) {
            FUZZ_CHECK(false, "an exception escaped the receive tick");
        }

        const QString text8 = f->Text8->text();
        const QByteArray& rxFrame = f->RxFrame;
        const QByteArray& rxLine = f->RxLine;
        // Described only when a check fails.
        auto state = [&] {
            return "mode " + std::string(modbus ? "Modbus" : "plain") + ", address box " + show(addressBox) +
                   "\nbefore " + show(before) + "\nchunk  " + show(chunk) + "\nText8  " + show(text8) + "\nRxLine " +
                   show(rxLine) + "\nRxFrame " + show(rxFrame);
        };

        FUZZ_CHECK(f.port->waiting() == 0, state());
        FUZZ_CHECK(rxFrame.size() <= kMaxFrame, state());
        FUZZ_CHECK(f->BlinkTicks >= 0 && f->BlinkTicks <= 9, state());
        if (!chunk.isEmpty()) FUZZ_CHECK(f->Pic->fillColor() == vantrel::color::kRed, state());

        if (chunk.isEmpty()) {
            // Nothing arrived: nothing is interpreted and nothing is gathered.
            FUZZ_CHECK(text8 == kSentinel, state());
            FUZZ_CHECK(rxFrame == before, state());
            FUZZ_CHECK(rxLine.isEmpty(), state());
            return;
        }

        if (!modbus) {
            // Whatever came in this tick is one reply.
            FUZZ_CHECK(rxLine == chunk, state());
            FUZZ_CHECK(text8 == QString::fromLatin1(chunk), state());
            FUZZ_CHECK(rxFrame.isEmpty(), state());
            return;
        }

        const QByteArray gathered = before + chunk;
        const std::optional<quint8> address = addressOf(addressBox);

        // The interpreter ran: then the frame it was given must have been a
        // complete reply to this device, found at the end of what was gathered.
        const bool errorText = text8.startsWith(kAddrError) || text8.startsWith(kCmdError);
        if (text8 != kSentinel && !errorText) {
            const QByteArray frame = gathered.right(rxLine.size() + 4);
            FUZZ_CHECK(frame.size() == rxLine.size() + 4 && frame.size() >= 6 && frame.size() <= kMaxFrame, state());
            FUZZ_CHECK(address && static_cast<quint8>(frame[0]) == *address, state());
            FUZZ_CHECK(frame[1] == 'B', state());
            FUZZ_CHECK(crcMatches(frame), state());
            FUZZ_CHECK(frame.mid(2, frame.size() - 4) == rxLine, state());
            FUZZ_CHECK(text8 == QString::fromLatin1(rxLine), state());
            FUZZ_CHECK(rxFrame.isEmpty(), state());
        }

        // And the whole outcome: the newest characters are kept, and the
        // checks run in the order address, function character, CRC.
        const QByteArray kept = gathered.right(kMaxFrame);
        const qsizetype n = kept.size();
        if (!address || n < 6) {
            // Too short, or the address cannot be formed: the characters wait.
            FUZZ_CHECK(text8 == kSentinel, state());
            FUZZ_CHECK(rxFrame == kept, state());
        } else if (static_cast<quint8>(kept[0]) != *address) {
            FUZZ_CHECK(text8 == kAddrError + QString::fromLatin1(chunk), state());
            FUZZ_CHECK(rxFrame == kept, state());
        } else if (kept[1] != 'B') {
            FUZZ_CHECK(text8 == kCmdError + QString::fromLatin1(chunk), state());
            FUZZ_CHECK(rxFrame == kept, state());
        } else if (crcMatches(kept)) {
            FUZZ_CHECK(rxLine == kept.mid(2, n - 4), state());
            FUZZ_CHECK(text8 == QString::fromLatin1(rxLine), state());
            FUZZ_CHECK(rxFrame.isEmpty(), state());
        } else {
            // An incomplete or damaged reply is silent and stays gathered.
            FUZZ_CHECK(text8 == kSentinel, state());
            FUZZ_CHECK(rxFrame == kept, state());
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    vantrel::fuzz::initApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Receiver r;
    r.f.port->setPortOpen(true);

    const bool modePerTick = in.ConsumeBool();
    bool modbus = in.ConsumeBool();
    r.f->Text1->setText(addressText(in));

    int ticks = 0;
    while (in.remaining_bytes() > 0 && ticks < 200) {
        switch (in.ConsumeIntegralInRange(0, 4)) {
            case 0:
                r.line += QByteArray::fromStdString(in.ConsumeRandomLengthString(96));
                break;
            case 1:
                r.line += builtReply(in, addressOf(r.f->Text1->text()));
                break;
            case 2:
                r.f->Text1->setText(addressText(in));
                break;
            default:
                if (modePerTick) modbus = in.ConsumeBool();
                r.tick(modbus, in.ConsumeIntegralInRange<qsizetype>(0, 300));
                ++ticks;
                break;
        }
    }
    // Whatever is still on the line arrives in the last ticks.
    while (!r.line.isEmpty()) r.tick(modbus, 64);
    return 0;
}
