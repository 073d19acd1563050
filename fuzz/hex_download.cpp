// Loading a HEX file into the window and sending its lines, on random file
// contents. (How the file is split into fields is fuzz_hex_loader's part.)
//
// Input: the pass (download or verify), plain or Modbus framing, what an
// earlier load left in the window, how often the contents repeat (so that
// files beyond the 9000-line table are reached), a list of "Send" clicks and
// "OK" replies, and the file contents.
//
// Checked, against an independent split of the contents into fields:
// - a file of more than 9000 fields gives one "Error#" box, leaves nothing
//   loaded and sends nothing, and touches no table entry;
// - otherwise the table holds exactly the file's fields at 1..LineCount and
//   every other entry keeps the marker it had before the load;
// - every command written is "BOOT" + the next field of the file (':' as '#'
//   in the verify pass) + CR LF, in order, wrapping after the last field:
//   nothing outside 1..LineCount is ever read;
// - the start forgets an end-of-file record an earlier pass left awaiting its
//   answer; once a field that is one (record type 01 after the byte count and
//   the address) has been sent, it awaits its "DOWNLOAD" (which never comes
//   here): an "OK" then sends nothing, a "Send" click still does.

#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

#include <QByteArray>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QTemporaryDir>

#include "fake_platform.h"
#include "fuzz_support.h"
#include "fuzz_window.h"
#include "window/progress_bar.h"

using vantrel::fuzz::crcMatches;
using vantrel::fuzz::show;

namespace {

constexpr int kMaxLines = vantrel::Loader::kMaxLines;
// Big enough for well over 9000 short fields, small enough to stay fast.
constexpr qsizetype kMaxFileSize = 48 * 1024;

QString g_path;

// Built once: filling the table then only shares them.
const QByteArray& marker(int index) {
    static const std::vector<QByteArray> markers = [] {
        std::vector<QByteArray> m;
        for (int i = 0; i <= kMaxLines; ++i) m.push_back("~entry" + QByteArray::number(i) + "~");
        return m;
    }();
    return markers[index];
}

// The field is an end-of-file record, by the model's own reading: the two
// characters after the first ':', the byte count (2) and the address (4).
bool endOfFileField(const QByteArray& field) {
    const qsizetype colon = field.indexOf(':');
    return colon >= 0 && field.mid(colon + 1 + 2 + 4, 2) == "01";
}

QByteArray expectedCommand(const QByteArray& field, bool verify) {
    QByteArray line = field;
    if (verify) line.replace(':', '#');
    return "BOOT" + line + "\r\n";
}

// The command inside a written frame; in Modbus mode the frame must carry
// address 1 in front and a right CRC behind.
QByteArray commandOf(const QByteArray& frame, bool modbus, const std::string& state) {
    if (!modbus) return frame;
    FUZZ_CHECK(frame.size() >= 3 && frame[0] == '\x01' && crcMatches(frame), state + "\nframe " + show(frame));
    return frame.mid(1, frame.size() - 3);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    vantrel::fuzz::initApplication(argc, argv);
    static QTemporaryDir dir;
    if (!dir.isValid()) std::abort();
    g_path = dir.filePath(QStringLiteral("image.hex"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool verify = in.ConsumeBool();
    const bool modbus = in.ConsumeBool();
    const qint16 earlierCount = in.ConsumeIntegralInRange<qint16>(-2, kMaxLines);
    const qint16 earlierIndex = in.ConsumeIntegralInRange<qint16>(-2, kMaxLines);
    // Mostly the contents as they are; repeated, they reach past the table's end.
    const int repeat = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 10000) : 1;
    const int sends = in.ConsumeIntegralInRange(0, 48);
    const quint64 okReplies = in.ConsumeIntegral<quint64>();
    const QByteArray piece = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    QByteArray contents;
    if (!piece.isEmpty()) contents = piece.repeated(std::min<qsizetype>(repeat, kMaxFileSize / piece.size() + 1));

    const QList<QByteArray> fields = vantrel::fuzz::referenceHexFields(contents);

    {
        QFile file(g_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
            std::abort();
    }

    vantrel::testing::FakeLoader f;
    f.port->setPortOpen(true);
    if (modbus) {
        f->Check1->setChecked(true);
        f->Text1->setText(QStringLiteral("1"));
    }
    // Every entry carries its own marker, so that any entry read or written
    // outside the loaded lines shows.
    for (int i = 0; i <= kMaxLines; ++i) f->HexLines[i] = marker(i);
    f->LineCount = earlierCount;
    f->LineIndex = earlierIndex;
    // As a pass whose end-of-file record was never answered leaves it.
    f->EndOfFileOutstanding = true;
    f.dialog->nextPath = g_path;

    try {
        if (verify)
            f->Command2_Click();
        else
            f->Command3_Click();
    } catch (...) {
        FUZZ_CHECK(false, "an exception escaped the starter");
    }

    const qsizetype n = fields.size();
    const std::string state = std::string(verify ? "verify" : "download") + ", " + std::to_string(n) +
                              " fields, contents " + show(contents.left(256)) + "\nLineCount " +
                              std::to_string(f->LineCount) + ", LineIndex " + std::to_string(f->LineIndex) +
                              ", writes " + std::to_string(f.port->writes.size()) + ", boxes " +
                              std::to_string(f.box->shown.size());

    if (n > kMaxLines) {
        FUZZ_CHECK(f.box->shown.size() == 1, state);
        FUZZ_CHECK(f.box->shown[0].title.startsWith(QStringLiteral("Error#")), state);
        FUZZ_CHECK(f.box->shown[0].icon == vantrel::MsgBox::Icon::Stop, state);
        FUZZ_CHECK(f->LineCount == 0, state);
        FUZZ_CHECK(f.port->writes.isEmpty(), state);
        for (int i = 0; i <= kMaxLines; ++i)
            FUZZ_CHECK(f->HexLines[i] == marker(i), state + " at " + std::to_string(i));
    } else {
        FUZZ_CHECK(f.box->shown.isEmpty(), state + "\nbox " + show(f.box->shown.value(0).text));
        FUZZ_CHECK(f->LineCount == n, state);
        FUZZ_CHECK(f->vbalProgressBar1->max() == n, state);
        FUZZ_CHECK(f->TransferActive == 1 && f->Command5->isEnabled(), state);
        FUZZ_CHECK(f->VerifyPhase == (verify ? 1 : 0), state);
        FUZZ_CHECK(f->HexLines[0] == marker(0), state);
        for (int i = 1; i <= kMaxLines; ++i) {
            const QByteArray& want = i <= n ? fields[i - 1] : marker(i);
            FUZZ_CHECK(f->HexLines[i] == want, state + " at " + std::to_string(i));
        }
    }

    // Line 1 went out with the start; every "Send" and every "OK" sends the next one.
    qsizetype expectedWrites = 0;
    qsizetype next = 0;  // 0-based field that goes out next
    bool eofOutstanding = false;
    auto checkWrites = [&](const char* after) {
        auto where = [&] { return state + "\nafter " + after; };
        if (n == 0 || n > kMaxLines) {
            FUZZ_CHECK(f.port->writes.isEmpty(), where() + "\nwrote " + show(f.port->writes.value(0)));
            FUZZ_CHECK(!f->EndOfFileOutstanding, where());
            return;
        }
        const QByteArray expected = expectedCommand(fields[next], verify);
        // A Modbus frame's CRC covers at most 32767 characters: a longer line
        // cannot be framed and is skipped, like a line sent while the port is closed.
        if (!modbus || expected.size() + 1 <= 32767) ++expectedWrites;
        FUZZ_CHECK(f.port->writes.size() == expectedWrites, where());
        if (expectedWrites > 0) {
            const QByteArray command = commandOf(f.port->writes.last(), modbus, where());
            if (!modbus || expected.size() + 1 <= 32767)
                FUZZ_CHECK(command == expected,
                           where() + "\nwrote " + show(command) + "\nexpected field " + std::to_string(next + 1));
        }
        FUZZ_CHECK(f->vbalProgressBar1->value() == next + 1, where());
        eofOutstanding = eofOutstanding || endOfFileField(fields[next]);
        FUZZ_CHECK(f->EndOfFileOutstanding == eofOutstanding, where());
        next = (next + 1) % n;
        FUZZ_CHECK(f->LineIndex == next, where());
        FUZZ_CHECK(f->vbalProgressBar1->text() == (verify ? QStringLiteral("VERIFY") : QStringLiteral("DOWNLOAD")),
                   where());
    };
    checkWrites("the start");

    for (int k = 0; k < sends; ++k) {
        if (okReplies & (quint64{1} << (k % 64))) {
            f.port->feed(modbus ? QByteArray::fromHex("01424F4BD5CB") : QByteArray("OK\r\n"));
            const qsizetype writesBefore = f.port->writes.size();
            const qint16 indexBefore = f->LineIndex;
            f->TMRComm_Timer();
            if (eofOutstanding) {
                // No line follows the end-of-file record before its answer.
                FUZZ_CHECK(f.port->writes.size() == writesBefore && f->LineIndex == indexBefore,
                           state + "\nan OK sent a line after the end-of-file record");
                FUZZ_CHECK(f->EndOfFileOutstanding, state);
                continue;
            }
            checkWrites("an OK reply");
        } else {
            f->Command5_Click();
            checkWrites("a Send click");
        }
    }
    return 0;
}
