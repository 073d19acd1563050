// The reply interpreter and the line sender, on random replies, random
// "Send" clicks and random transfer states.
//
// The line table holds a distinct marker in every entry, 0 to 9000, so that
// each command written tells which entry it came from. Checked after every
// step:
// - the reply's outcome is the one of the first word found in the order
//   "VER=", "ERROR", "DOWNLOAD", "FORMAT", "OK" (worked out here
//   independently), where "DOWNLOAD" counts only while an end-of-file record
//   (every seventh entry is one) is outstanding: written since the pass
//   started and not yet answered "DOWNLOAD"; seen through the status line,
//   the probe timer, the progress bar, the flags and whether a line went out;
// - the record is outstanding once a line sent is one, until a "DOWNLOAD"
//   that counts or Close; a "DOWNLOAD" without one is stray and the words
//   after it decide;
// - a line sent comes from an entry in 1..min(LineCount, 9000), in the form of
//   the pass (':' as '#' in the verify pass), and is the entry after
//   LineIndex when LineIndex was in its range; an "OK" sends one only while
//   a transfer is active and no end-of-file record is outstanding ("VER="
//   and "Send" send regardless);
// - Close ends the transfer and forgets the line in flight and the
//   outstanding record;
// - afterwards LineIndex lies in 0..LineCount; with no line loaded nothing is
//   sent; the table itself is never changed.

#include <algorithm>
#include <array>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "fake_platform.h"
#include "fuzz_support.h"
#include "fuzz_window.h"
#include "window/progress_bar.h"

using vantrel::fuzz::show;

namespace {

constexpr int kMaxLines = vantrel::Loader::kMaxLines;
constexpr qint32 kValueSentinel = -4242;
constexpr quint32 kColorSentinel = 0x123456;
const QString kTextSentinel = QStringLiteral("\u2603 untouched \u2603");

// Every seventh entry is an end-of-file record (type 01 after a byte count
// of 00 and its own index as the address), the "DOWNLOAD" answers it.
bool isEndOfFileEntry(int index) {
    return index >= 1 && index <= kMaxLines && index % 7 == 0;
}

// Built once: filling the table then only shares them.
const QByteArray& marker(int index) {
    static const std::vector<QByteArray> markers = [] {
        std::vector<QByteArray> m;
        for (int i = 0; i <= kMaxLines; ++i) {
            if (isEndOfFileEntry(i))
                m.push_back(":00" + QByteArray::number(i, 16).rightJustified(4, '0').toUpper() + "01L" +
                            QByteArray::number(i) + ":");
            else
                m.push_back(":L" + QByteArray::number(i) + ":");
        }
        return m;
    }();
    return markers[index];
}

// The entry a command came from, or -1 when it matches none.
int entryOf(const QByteArray& command, bool verify) {
    static const QHash<QByteArray, int> entries[2] = {[] {
                                                          QHash<QByteArray, int> h;
                                                          for (int i = 0; i <= kMaxLines; ++i) h.insert(marker(i), i);
                                                          return h;
                                                      }(),
                                                      [] {
                                                          QHash<QByteArray, int> h;
                                                          for (int i = 0; i <= kMaxLines; ++i) {
                                                              QByteArray m = marker(i);
                                                              h.insert(m.replace(':', '#'), i);
                                                          }
                                                          return h;
                                                      }()};
    if (!command.startsWith("BOOT") || !command.endsWith("\r\n")) return -1;
    return entries[verify ? 1 : 0].value(command.mid(4, command.size() - 6), -1);
}

enum class Word { None, Version, Error, Download, Format, Ok };

Word firstWord(const std::string& reply, bool endOfFileOutstanding) {
    static const std::array<std::pair<const char*, Word>, 5> kOrder{{{"VER=", Word::Version},
                                                                     {"ERROR", Word::Error},
                                                                     {"DOWNLOAD", Word::Download},
                                                                     {"FORMAT", Word::Format},
                                                                     {"OK", Word::Ok}}};
    for (const auto& [text, word] : kOrder) {
        // A "DOWNLOAD" while no end-of-file record awaits its answer is a
        // stale copy that counts for nothing.
        if (word == Word::Download && !endOfFileOutstanding) continue;
        if (reply.find(text) != std::string::npos) return word;
    }
    return Word::None;
}

QByteArray randomReply(FuzzedDataProvider& in) {
    static const std::array<const char*, 14> kPieces{"VER=", "ERROR", "DOWNLOAD", "FORMAT", "OK", "\r\n", "VER",
                                                     "ERR",  "DOWN",  "FORM",     "O",      "K",  "ok",   " "};
    QByteArray reply;
    const int pieces = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < pieces; ++i) {
        if (in.ConsumeBool())
            reply += kPieces[in.ConsumeIntegralInRange<size_t>(0, kPieces.size() - 1)];
        else
            reply += QByteArray::fromStdString(in.ConsumeRandomLengthString(12));
    }
    return reply;
}

qint16 randomCount(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return in.ConsumeIntegralInRange<qint16>(-2, 12);
        case 1:
            return in.ConsumeIntegralInRange<qint16>(kMaxLines - 3, kMaxLines + 3);
        default:
            return in.ConsumeIntegral<qint16>();
    }
}

struct Session {
    vantrel::testing::FakeLoader f;
    std::string log;   // the steps so far, for the report of a violation
    int inFlight = 0;  // the entry sent last, by the model: 0 for none
    // An end-of-file record was sent and not yet answered "DOWNLOAD".
    bool eofOutstanding = false;

    void resetObservers() {
        f->Label2->setText(kTextSentinel);
        f->Text8->setText(kTextSentinel);
        f->vbalProgressBar1->setText(kTextSentinel);
        f->vbalProgressBar1->setBarColor(kColorSentinel);
        f->vbalProgressBar1->setValue(kValueSentinel);
        f->Timer3->start();
    }

    std::string state() const {
        return log + "\nnow LineCount " + std::to_string(f->LineCount) + ", LineIndex " + std::to_string(f->LineIndex) +
               ", VerifyPhase " + std::to_string(f->VerifyPhase) + ", armed " + std::to_string(f->TransferArmed) +
               ", active " + std::to_string(f->TransferActive) + ", writes " + std::to_string(f.port->writes.size()) +
               ", bar value " + std::to_string(f->vbalProgressBar1->value()) + ", end-of-file outstanding: model " +
               std::to_string(eofOutstanding) + ", EndOfFileOutstanding " + std::to_string(f->EndOfFileOutstanding);
    }

    // What one call of the line sender must have done, given the fields as
    // they were when it was called. `textBefore` is the progress text then.
    void checkSend(qint16 count, qint16 index, qint16 verifyPhase, const QString& textBefore, qsizetype writesBefore) {
        // Described only when a check fails.
        auto where = [this] { return state(); };
        if (count < 1) {
            // Nothing is loaded: nothing can be sent.
            FUZZ_CHECK(f.port->writes.size() == writesBefore, where());
            FUZZ_CHECK(f->EndOfFileOutstanding == eofOutstanding, where());
            return;
        }
        const int last = std::min<int>(count, kMaxLines);
        const qint32 sent = f->vbalProgressBar1->value();
        FUZZ_CHECK(sent >= 1 && sent <= last, where());
        if (index >= 0 && index < last) FUZZ_CHECK(sent == index + 1, where());
        if (f.port->portOpen()) {
            FUZZ_CHECK(f.port->writes.size() == writesBefore + 1, where());
            const int entry = entryOf(f.port->writes.last(), verifyPhase == 1);
            FUZZ_CHECK(entry == sent, where() + "\nwrote " + show(f.port->writes.last()));
        } else {
            FUZZ_CHECK(f.port->writes.size() == writesBefore, where());
        }
        FUZZ_CHECK(f->LineIndex == (sent == count ? 0 : sent), where());
        inFlight = sent;
        FUZZ_CHECK(f->LineInFlight == inFlight, where());
        // Sent with the port closed or not, an end-of-file record now awaits
        // its answer; any other line leaves the record as it was.
        if (isEndOfFileEntry(sent)) eofOutstanding = true;
        FUZZ_CHECK(f->EndOfFileOutstanding == eofOutstanding, where());
        FUZZ_CHECK(f->LineIndex >= 0 && f->LineIndex <= count, where());
        const QString text = verifyPhase == 1 ? textBefore : QStringLiteral("DOWNLOAD");
        FUZZ_CHECK(f->vbalProgressBar1->text() == text, where());
    }

    void checkNoSend(qint16 index, qsizetype writesBefore) {
        FUZZ_CHECK(f.port->writes.size() == writesBefore, state());
        FUZZ_CHECK(f->LineIndex == index, state());
        FUZZ_CHECK(f->EndOfFileOutstanding == eofOutstanding, state());
    }

    void reply(const QByteArray& text) {
        log += "\nreply " + show(text);
        resetObservers();
        const qint16 count = f->LineCount, index = f->LineIndex, verifyPhase = f->VerifyPhase;
        const qint16 armed = f->TransferArmed, active = f->TransferActive;
        const qsizetype writes = f.port->writes.size();

        f->RxLine = text;
        try {
            f->Com_Parser();
        } catch (...) {
            FUZZ_CHECK(false, state() + "\nan exception escaped the reply interpreter");
        }

        // Described only when a check fails.
        auto where = [this] { return state(); };
        auto* bar = f->vbalProgressBar1;
        FUZZ_CHECK(f->Text8->text() == QString::fromLatin1(text), where());
        FUZZ_CHECK(f->LineCount == count && f->TransferArmed == armed, where());
        const Word word = firstWord(text.toStdString(), eofOutstanding);
        // Only a version reply touches the status line and the probe timer.
        FUZZ_CHECK((f->Label2->text() == QStringLiteral("READY")) == (word == Word::Version), where());
        FUZZ_CHECK(f->Timer3->isActive() == (word != Word::Version), where());
        switch (word) {
            case Word::Version:
                FUZZ_CHECK(f->VerifyPhase == verifyPhase && f->TransferActive == active, where());
                FUZZ_CHECK(bar->barColor() == kColorSentinel, where());
                if (armed == 1 && active == 1)
                    checkSend(count, index, verifyPhase, kTextSentinel, writes);
                else
                    checkNoSend(index, writes);
                break;
            case Word::Error:
                FUZZ_CHECK(bar->text() == QStringLiteral("ERROR") && bar->barColor() == vantrel::color::kRed, where());
                FUZZ_CHECK(f->VerifyPhase == 0 && f->TransferActive == active, where());
                FUZZ_CHECK(bar->value() == kValueSentinel, where());
                checkNoSend(index, writes);
                break;
            case Word::Download:
                // The record has had its answer.
                eofOutstanding = false;
                if (verifyPhase != 1) {
                    // The verify pass begins with line 1.
                    FUZZ_CHECK(f->VerifyPhase == 1 && f->TransferActive == active, where());
                    FUZZ_CHECK(bar->barColor() == kColorSentinel, where());
                    checkSend(count, 0, 1, QStringLiteral("VERIFY"), writes);
                    if (count < 1) FUZZ_CHECK(f->LineIndex == 0 && bar->text() == QStringLiteral("VERIFY"), where());
                } else {
                    FUZZ_CHECK(bar->text() == QStringLiteral("END") && bar->barColor() == vantrel::color::kGreen,
                               where());
                    FUZZ_CHECK(f->VerifyPhase == 0 && f->TransferActive == 0, where());
                    FUZZ_CHECK(bar->value() == kValueSentinel, where());
                    checkNoSend(index, writes);
                    // The end-of-file record was answered: nothing is in flight.
                    inFlight = 0;
                    FUZZ_CHECK(f->LineInFlight == 0, where());
                }
                break;
            case Word::Format:
                FUZZ_CHECK(bar->text().isEmpty() && bar->value() == 0 && bar->barColor() == kColorSentinel, where());
                FUZZ_CHECK(f->VerifyPhase == verifyPhase && f->TransferActive == active, where());
                checkNoSend(index, writes);
                break;
            case Word::Ok:
                FUZZ_CHECK(f->VerifyPhase == verifyPhase && f->TransferActive == active, where());
                FUZZ_CHECK(bar->barColor() == kColorSentinel, where());
                // Only a running transfer goes on, and not past an end-of-file
                // record that awaits its answer.
                if (active == 1 && !eofOutstanding) {
                    checkSend(count, index, verifyPhase, kTextSentinel, writes);
                } else {
                    FUZZ_CHECK(bar->text() == kTextSentinel && bar->value() == kValueSentinel, where());
                    checkNoSend(index, writes);
                }
                break;
            case Word::None:
                FUZZ_CHECK(f->VerifyPhase == verifyPhase && f->TransferActive == active, where());
                FUZZ_CHECK(bar->text() == kTextSentinel && bar->barColor() == kColorSentinel, where());
                FUZZ_CHECK(bar->value() == kValueSentinel, where());
                checkNoSend(index, writes);
                break;
        }
        FUZZ_CHECK(f->EndOfFileOutstanding == eofOutstanding, where());
    }

    void send() {
        log += "\nSend";
        resetObservers();
        const qint16 count = f->LineCount, index = f->LineIndex, verifyPhase = f->VerifyPhase;
        const qsizetype writes = f.port->writes.size();
        try {
            f->Command5_Click();
        } catch (...) {
            FUZZ_CHECK(false, state() + "\nan exception escaped the line sender");
        }
        FUZZ_CHECK(f->VerifyPhase == verifyPhase && f->LineCount == count, state());
        checkSend(count, index, verifyPhase, kTextSentinel, writes);
    }

    void close() {
        log += "\nClose";
        try {
            f->BTNCloseCom_Click();
        } catch (...) {
            FUZZ_CHECK(false, state() + "\nan exception escaped Close");
        }
        // No line waits for its answer any more, the record included.
        inFlight = 0;
        eofOutstanding = false;
        FUZZ_CHECK(!f.port->portOpen() && f->TransferActive == 0 && f->VerifyPhase == 0, state());
        FUZZ_CHECK(f->LineInFlight == 0 && !f->EndOfFileOutstanding, state());
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    vantrel::fuzz::initApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Session s;
    s.f.port->setPortOpen(true);
    for (int i = 0; i <= kMaxLines; ++i) s.f->HexLines[i] = marker(i);
    s.f->LineCount = randomCount(in);
    s.f->LineIndex = randomCount(in);
    s.f->VerifyPhase = in.ConsumeIntegralInRange<qint16>(-1, 2);
    s.f->TransferArmed = in.ConsumeIntegralInRange<qint16>(0, 2);
    s.f->TransferActive = in.ConsumeIntegralInRange<qint16>(0, 2);
    s.log = "start LineCount " + std::to_string(s.f->LineCount) + ", LineIndex " + std::to_string(s.f->LineIndex) +
            ", VerifyPhase " + std::to_string(s.f->VerifyPhase);

    for (int step = 0; step < 256 && in.remaining_bytes() > 0; ++step) {
        // Steps 0 to 9 keep their meaning from before 10 and 11 came.
        switch (in.ConsumeIntegralInRange(0, 11)) {
            case 0:
                s.f->LineCount = randomCount(in);
                s.log += "\nLineCount = " + std::to_string(s.f->LineCount);
                break;
            case 1:
                s.f->LineIndex = randomCount(in);
                s.log += "\nLineIndex = " + std::to_string(s.f->LineIndex);
                break;
            case 2:
                s.f->VerifyPhase = in.ConsumeIntegralInRange<qint16>(-1, 2);
                s.f->TransferArmed = in.ConsumeIntegralInRange<qint16>(0, 2);
                s.f->TransferActive = in.ConsumeIntegralInRange<qint16>(0, 2);
                s.log += "\nVerifyPhase = " + std::to_string(s.f->VerifyPhase);
                break;
            case 3:
                if (in.ConsumeBool()) {
                    s.f->LineInFlight = in.ConsumeIntegralInRange<qint16>(-2, kMaxLines + 2);
                    s.inFlight = s.f->LineInFlight;
                    s.log += "\nLineInFlight = " + std::to_string(s.inFlight);
                    break;
                }
                s.f.port->setPortOpen(!s.f.port->portOpen());
                s.log += s.f.port->portOpen() ? "\nport opened" : "\nport closed";
                break;
            case 4:
            case 5:
                s.send();
                break;
            case 10:
                s.f->EndOfFileOutstanding = in.ConsumeBool();
                s.eofOutstanding = s.f->EndOfFileOutstanding;
                s.log += "\nEndOfFileOutstanding = " + std::to_string(s.eofOutstanding);
                break;
            case 11:
                s.close();
                // The next steps mostly find the port open again.
                if (in.ConsumeBool()) s.f.port->setPortOpen(true);
                break;
            default:
                s.reply(randomReply(in));
                break;
        }
    }

    for (int i = 0; i <= kMaxLines; ++i) FUZZ_CHECK(s.f->HexLines[i] == marker(i), "entry " + std::to_string(i));
    return 0;
}
