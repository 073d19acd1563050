// The receive tick on random byte streams cut into random ticks, two ways.
//
// Model check (first input byte even): the mode (once, or chosen anew per
// tick), the text of the address box, then a list of operations: append raw
// bytes or a built Modbus reply (right or wrong address, function character
// and CRC) to the line, change the address box, or run a tick that delivers
// the next bytes of the line (none: a quiet tick). After every tick the
// window's fields and answer box are compared with an independent model of
// the rules:
// - plain mode: characters wait until a line end, CR or LF; everything up to
//   the last line end is handed on as one text; more than a frame length
//   after the last line end (or without one) hands on everything, as do five
//   quiet ticks in a row; an LF that comes first in a tick, with nothing
//   held, right after a text that ended in CR is that text's line end and is
//   dropped (any characters in between, or closing, forget the CR); a tick
//   with data empties the gathered Modbus characters;
// - Modbus mode: the newest 256 characters are kept; the reply handed on is
//   the one ending with them that starts earliest (address character, "B",
//   CRC-16 of the rest), behind the payloads of the whole replies that stand
//   before it, in order; otherwise the address or function error text for
//   the head, or nothing; five quiet ticks in a row end what was gathered;
// - nothing escapes the tick.
//
// Stream property (first input byte odd): a stream of valid replies, cut at
// random places into ticks, with random noise and silent ticks between them,
// some replies dribbled a character at a time with up to four quiet ticks
// between characters (a sender slower than the tick), some run together and
// delivered in one tick. Every reply followed by a silence must be handed on
// exactly once, whole, in order (in plain mode every reply, since its line
// end or the silence after it completes it, and one that ends in CR LF on the
// tick that brings its CR; the texts handed on are the stream cut into
// consecutive pieces but for the LFs that come first in a tick right after a
// CR); replies delivered together in
// Modbus mode are handed on together, as one text of their payloads; and
// neither plain nor Modbus characters ever wait beyond a frame length.

#include <algorithm>
#include <cmath>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <vector>

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
constexpr int kSilentTicks = 5;
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

// Where the reply ending with the gathered characters starts, by the model's
// own reading of the rule; -1 when none does.
qsizetype modelReplyStart(const QByteArray& gathered, quint8 address) {
    for (qsizetype s = 0; s + 6 <= gathered.size(); ++s)
        if (static_cast<quint8>(gathered[s]) == address && gathered[s + 1] == 'B' && crcMatches(gathered.mid(s)))
            return s;
    return -1;
}

// The payloads of the whole replies in front of the last one, by the model's
// own reading: from the left, each run from the address character and "B"
// whose CRC matches; of those from one start, the shortest that is followed
// by the address character and "B" (or by nothing), else the shortest.
QByteArray modelEarlierPayloads(const QByteArray& head, quint8 address) {
    auto startsReply = [&](qsizetype at) {
        return at == head.size() ||
               (at + 1 < head.size() && static_cast<quint8>(head[at]) == address && head[at + 1] == 'B');
    };
    QByteArray payloads;
    qsizetype s = 0;
    while (s + 6 <= head.size()) {
        std::vector<qsizetype> ends;
        if (static_cast<quint8>(head[s]) == address && head[s + 1] == 'B')
            for (qsizetype end = s + 6; end <= head.size(); ++end)
                if (crcMatches(head.mid(s, end - s))) ends.push_back(end);
        if (ends.empty()) {
            ++s;
            continue;
        }
        qsizetype e = ends.front();
        for (qsizetype end : ends) {
            if (startsReply(end)) {
                e = end;
                break;
            }
        }
        payloads += head.mid(s + 2, e - s - 4);
        s = e;
    }
    return payloads;
}

// --- Model check -----------------------------------------------------------

struct ModelCheck {
    vantrel::testing::FakeLoader f;
    QByteArray line;  // bytes still on their way
    // The model's state.
    QByteArray held;
    QByteArray frame;
    int quiet = 0;
    bool endedInCr = false;  // the last text handed on ended in CR

    void tick(bool modbus, qsizetype count) {
        const QByteArray chunk = line.left(count);
        line.remove(0, chunk.size());
        f->Check1->setChecked(modbus);
        const QString addressBox = f->Text1->text();
        const QByteArray heldBefore = held;
        const QByteArray frameBefore = frame;
        f->Text8->setText(kSentinel);
        f.port->feed(chunk);

        try {
            f->TMRComm_Timer();
        } catch (...) {
            FUZZ_CHECK(false, "an exception escaped the receive tick");
        }

        const QString text8 = f->Text8->text();
        // Described only when a check fails.
        auto state = [&] {
            return "mode " + std::string(modbus ? "Modbus" : "plain") + ", address box " + show(addressBox) +
                   "\nheld before " + show(heldBefore) + "\nframe before " + show(frameBefore) + "\nchunk  " +
                   show(chunk) + "\nText8  " + show(text8) + "\nRxLine " + show(f->RxLine) + "\nRxHeld " +
                   show(f->RxHeld) + "\nRxFrame " + show(f->RxFrame) + "\nmodel held " + show(held) + "\nmodel frame " +
                   show(frame) + "\nended in CR: model " + std::to_string(endedInCr) + ", RxEndedInCr " +
                   std::to_string(f->RxEndedInCr);
        };

        // What the model says this tick hands on; nothing: the answer box
        // keeps the sentinel, or shows an error text.
        std::optional<QByteArray> handed;
        QString errorText;
        if (chunk.isEmpty()) {
            // Only a silence of five ticks ends what waits, in either mode.
            // (The receiver also counts quiet ticks while a damaged reply
            // waits to be announced with nothing gathered; that count is
            // unseen here, since the arrival that gathers anything restarts
            // it.) Characters held came after the last text's CR: whether
            // the silence hands them on (they hold no line end) or drops
            // them, an LF that comes next follows no CR.
            if ((!held.isEmpty() || !frame.isEmpty()) && ++quiet >= kSilentTicks) {
                quiet = 0;
                if (!held.isEmpty()) endedInCr = false;
                if (!held.isEmpty() && !modbus) handed = held;
                held.clear();
                frame.clear();
            }
        } else if (!modbus) {
            quiet = 0;
            // The LF of a CR LF cut between them: its reply went on at the CR.
            const bool dropLf = endedInCr && held.isEmpty() && chunk[0] == '\n';
            endedInCr = false;
            held += dropLf ? chunk.mid(1) : chunk;
            qsizetype end = 0;
            for (qsizetype i = 0; i < held.size(); ++i)
                if (held[i] == '\r' || held[i] == '\n') end = i + 1;
            const qsizetype tail = held.size() - end;
            if (end > 0 || tail > kMaxFrame) {
                const qsizetype whole = tail > kMaxFrame ? held.size() : end;
                handed = held.left(whole);
                held.remove(0, whole);
                endedInCr = handed->endsWith('\r');
            }
            frame.clear();
        } else {
            quiet = 0;
            endedInCr = false;
            held.clear();
            frame = (frame + chunk).right(kMaxFrame);
            const std::optional<quint8> address = addressOf(addressBox);
            if (frame.size() >= 6 && address) {
                const qsizetype start = modelReplyStart(frame, *address);
                if (start >= 0) {
                    handed = modelEarlierPayloads(frame.left(start), *address) +
                             frame.mid(start + 2, frame.size() - start - 4);
                    frame.clear();
                } else if (static_cast<quint8>(frame[0]) != *address) {
                    errorText = kAddrError + QString::fromLatin1(chunk);
                } else if (frame[1] != 'B') {
                    errorText = kCmdError + QString::fromLatin1(chunk);
                }
            }
        }

        FUZZ_CHECK(f.port->waiting() == 0, state());
        FUZZ_CHECK(f->BlinkTicks >= 0 && f->BlinkTicks <= 9, state());
        if (!chunk.isEmpty()) FUZZ_CHECK(f->Pic->fillColor() == vantrel::color::kRed, state());
        FUZZ_CHECK(f->RxHeld == held, state());
        FUZZ_CHECK(f->RxFrame == frame, state());
        FUZZ_CHECK(f->RxEndedInCr == endedInCr, state());
        FUZZ_CHECK(f->RxHeld.size() <= kMaxFrame && f->RxFrame.size() <= kMaxFrame, state());
        if (handed) {
            FUZZ_CHECK(f->RxLine == *handed, state());
            FUZZ_CHECK(text8 == QString::fromLatin1(*handed), state());
        } else if (!errorText.isEmpty()) {
            FUZZ_CHECK(text8 == errorText, state());
        } else {
            FUZZ_CHECK(text8 == kSentinel, state());
        }
    }
};

void modelCheck(FuzzedDataProvider& in) {
    ModelCheck r;
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
    // Whatever is still on the line arrives in the last ticks, then silence.
    while (!r.line.isEmpty()) r.tick(modbus, 64);
    for (int i = 0; i < kSilentTicks; ++i) r.tick(modbus, 0);
}

// --- Stream property -------------------------------------------------------

struct Reply {
    qsizetype start = 0;  // position of its first byte in the stream
    qsizetype end = 0;    // one past its last byte
    QByteArray text;      // what must be handed on: the line (plain) or the payload (Modbus)
    bool silenceAfter = false;
};

// Something the receiver handed on, with the stream position up to which
// characters had arrived when it did.
struct Handed {
    QByteArray text;
    qsizetype at = 0;
};

void streamProperty(FuzzedDataProvider& in) {
    vantrel::testing::FakeLoader f;
    f.port->setPortOpen(true);
    const bool modbus = in.ConsumeBool();
    const quint8 address = in.ConsumeIntegralInRange<quint8>(1, 247);
    f->Check1->setChecked(modbus);
    f->Text1->setText(QString::number(address));
    std::vector<Handed> handed;
    qsizetype delivered = 0;
    QObject::connect(f.w.get(), &vantrel::Loader::replyAccepted, [&](const QByteArray& text) {
        handed.push_back({text, delivered});
    });

    QByteArray stream;
    std::vector<Reply> replies;
    // Modbus replies that arrived together in one tick, and their payloads.
    struct Together {
        qsizetype start = 0;
        qsizetype end = 0;
        QByteArray text;
    };
    std::vector<Together> together;
    QByteArray ticked;  // the stream as the ticks delivered it, for messages
    // Where each tick that brought characters ended, in order.
    std::vector<qsizetype> tickEnds;
    auto tick = [&](qsizetype count) {
        const QByteArray chunk = stream.mid(delivered, count);
        f.port->feed(chunk);
        delivered += chunk.size();
        if (!chunk.isEmpty()) tickEnds.push_back(delivered);
        ticked += chunk.isEmpty() ? QByteArray("|") : chunk;
        f->TMRComm_Timer();
        FUZZ_CHECK(f->RxHeld.size() <= kMaxFrame && f->RxFrame.size() <= kMaxFrame,
                   "held " + show(f->RxHeld) + "\nframe " + show(f->RxFrame));
    };
    // Delivers everything written so far, cut at random places, never with a
    // quiet tick inside (a quiet tick is a silence).
    auto deliver = [&] {
        while (delivered < stream.size()) tick(in.ConsumeIntegralInRange<qsizetype>(1, 40));
    };

    int items = 0;
    while (in.remaining_bytes() > 0 && items < 60) {
        ++items;
        switch (in.ConsumeIntegralInRange(0, 4)) {
            case 0: {
                // Noise: up to 64 random bytes. In plain mode what stands since
                // the last line end is kept short enough that a reply after it
                // still fits the frame length with it (longer babble is handed
                // on before its line end comes, which the model check covers).
                QByteArray noise = QByteArray::fromStdString(in.ConsumeRandomLengthString(64));
                if (!modbus) {
                    const qsizetype sinceLineEnd = stream.size() - (stream.lastIndexOf('\n') + 1);
                    if (!noise.contains('\n') && sinceLineEnd + noise.size() > 190) noise.append('\n');
                }
                stream += noise;
                break;
            }
            case 1: {
                // Silence: one or more quiet ticks once everything has arrived.
                deliver();
                if (!replies.empty() && replies.back().end == delivered) replies.back().silenceAfter = true;
                const int quietTicks = in.ConsumeIntegralInRange(1, 8);
                for (int i = 0; i < quietTicks; ++i) tick(0);
                break;
            }
            default: {
                Reply r;
                r.start = stream.size();
                QByteArray body = QByteArray::fromStdString(in.ConsumeRandomLengthString(60));
                if (modbus) {
                    if (body.size() < 2) body.append("OK");
                    r.text = body;
                    stream += withCrc(QByteArray(1, static_cast<char>(address)) + 'B' + body);
                } else {
                    body.replace('\n', ' ').replace('\r', ' ');
                    // A reply without a line end counts once the line falls silent.
                    const bool lineEnd = in.ConsumeBool() || body.isEmpty();
                    r.text = lineEnd ? body + "\r\n" : body;
                    stream += r.text;
                    if (!lineEnd) {
                        r.end = stream.size();
                        replies.push_back(r);
                        deliver();
                        replies.back().silenceAfter = true;
                        for (int i = 0; i < kSilentTicks; ++i) tick(0);
                        break;
                    }
                }
                r.end = stream.size();
                replies.push_back(r);
                // A slow sender: a character at a time, with quiet ticks between
                // them that are shorter than a silence.
                if (in.ConsumeIntegralInRange(0, 3) == 0) {
                    while (delivered < r.start) tick(in.ConsumeIntegralInRange<qsizetype>(1, 40));
                    while (delivered < stream.size()) {
                        if (delivered > r.start)
                            for (int q = in.ConsumeIntegralInRange(0, kSilentTicks - 1); q > 0; --q) tick(0);
                        tick(1);
                    }
                }
                break;
            }
            case 4: {
                // Two or three replies run together, all arriving in one tick.
                if (!modbus) break;
                // After a silence, so that nothing gathered before can join them.
                deliver();
                for (int i = 0; i < kSilentTicks; ++i) tick(0);
                Together t;
                t.start = stream.size();
                const int count = in.ConsumeIntegralInRange(2, 3);
                for (int i = 0; i < count; ++i) {
                    QByteArray body = QByteArray::fromStdString(in.ConsumeRandomLengthString(30));
                    if (body.size() < 2) body.append("OK");
                    t.text += body;
                    stream += withCrc(QByteArray(1, static_cast<char>(address)) + 'B' + body);
                }
                t.end = stream.size();
                together.push_back(t);
                tick(t.end - t.start);
                for (int i = 0; i < kSilentTicks; ++i) tick(0);
                break;
            }
        }
    }
    deliver();
    if (!replies.empty() && replies.back().end == delivered) replies.back().silenceAfter = true;
    for (int i = 0; i < kSilentTicks; ++i) tick(0);

    auto context = [&](const Reply& r) {
        std::string h;
        for (const Handed& x : handed) h += "\n  at " + std::to_string(x.at) + ": " + show(x.text);
        return "mode " + std::string(modbus ? "Modbus" : "plain") + ", address " + std::to_string(address) +
               "\nreply " + show(r.text) + " at " + std::to_string(r.start) + ".." + std::to_string(r.end) +
               "\nstream as ticked (| = quiet tick) " + show(ticked) + "\nhanded on:" + h;
    };

    if (!modbus) {
        // The LFs that are dropped: exactly those that came first in a tick
        // right after a CR that ended the tick before with characters (the
        // text handed on then ended in that CR, and nothing was held).
        auto tickEndOf = [&](qsizetype at) { return *std::upper_bound(tickEnds.begin(), tickEnds.end(), at); };
        std::vector<qsizetype> reducedAt(stream.size() + 1, 0);  // position without the dropped LFs
        QByteArray expected;
        for (qsizetype i = 0; i < stream.size(); ++i) {
            reducedAt[i] = expected.size();
            const bool dropped = i > 0 && stream[i] == '\n' && stream[i - 1] == '\r' && tickEndOf(i - 1) == i;
            if (!dropped) expected += stream[i];
        }
        reducedAt[stream.size()] = expected.size();
        // The texts handed on are the stream so reduced cut into consecutive
        // pieces, so each reply lies whole inside exactly one of them.
        QByteArray joined;
        for (const Handed& h : handed) joined += h.text;
        FUZZ_CHECK(expected.startsWith(joined), "handed-on texts are not the stream in order\nstream as ticked " +
                                                    show(ticked) + "\nhanded on " + show(joined));
        FUZZ_CHECK(joined.size() == expected.size(), "characters were kept back after the silence");
        for (const Reply& r : replies) {
            int holding = 0;
            std::size_t piece = 0;
            qsizetype from = 0;
            for (std::size_t k = 0; k < handed.size(); ++k) {
                const qsizetype to = from + handed[k].text.size();
                if (reducedAt[r.start] >= from && reducedAt[r.end] <= to) {
                    ++holding;
                    piece = k;
                }
                from = to;
            }
            FUZZ_CHECK(holding == 1, context(r));
            // A reply ending in CR LF goes on at the tick that brings its CR,
            // whether or not its LF comes with it.
            if (r.text.endsWith("\r\n"))
                FUZZ_CHECK(handed[piece].at == tickEndOf(r.end - 2), "not handed on at its CR\n" + context(r));
        }
        return;
    }

    // Modbus: a reply followed by a silence is handed on on the tick that
    // brings its last byte, as its payload. A CRC-16 can match by chance (one
    // time in 65536) on characters that are no reply; when such a chance
    // match ends inside a reply, it takes the reply's first characters with
    // it, and then the reply cannot be expected any more.
    std::size_t next = 0;
    for (const Reply& r : replies) {
        if (!r.silenceAfter) continue;
        bool cutByChance = false;
        for (const Handed& h : handed) cutByChance = cutByChance || (h.at > r.start && h.at < r.end);
        int atItsEnd = 0;
        for (std::size_t i = 0; i < handed.size(); ++i) {
            if (handed[i].at != r.end) continue;
            ++atItsEnd;
            FUZZ_CHECK(i >= next, "replies handed on out of order\n" + context(r));
            // Characters before the reply may belong to it only by a chance
            // match of the CRC; the reply itself ends it.
            FUZZ_CHECK(handed[i].text.endsWith(r.text), context(r));
            next = i + 1;
        }
        FUZZ_CHECK(atItsEnd == 1 || (atItsEnd == 0 && cutByChance), context(r));
    }
    // Replies that arrived together went on together, as one text: one call
    // of the reply interpreter for all of them.
    for (const Together& t : together) {
        int atItsEnd = 0;
        for (const Handed& h : handed) {
            if (h.at != t.end) continue;
            ++atItsEnd;
            FUZZ_CHECK(h.text == t.text, "replies delivered together, " + show(t.text) + ", handed on as " +
                                             show(h.text) + "\nstream as ticked " + show(ticked));
        }
        FUZZ_CHECK(atItsEnd == 1, "replies delivered together: " + show(t.text) + "\nstream as ticked " + show(ticked));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    vantrel::fuzz::initApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeIntegral<quint8>() % 2 == 0)
        modelCheck(in);
    else
        streamProperty(in);
    return 0;
}
