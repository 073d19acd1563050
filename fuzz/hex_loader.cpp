// Reading a HEX file into its fields, on random file contents: the bottom
// library alone, without a window or an application object.
//
// Input: how often the contents repeat (so that files beyond the 9000-line
// table are reached), the most lines the reader may take (mostly the window's
// 9000; any other limit reaches the refusal with short files), and the file
// contents.
//
// Checked, against an independent split (fields end at CR LF, LF, CR or ',';
// a delimiter at the very end adds no empty field):
// - splitHexFields gives exactly those fields;
// - readHexFile of a file with those contents gives the same fields when
//   there are no more than the limit, and otherwise fails with 9 (subscript
//   out of range), naming the file; it fails in no other way.

#include <algorithm>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

#include "common/failure.h"
#include "fuzz_support.h"
#include "transfer/hex_file.h"

using vantrel::fuzz::show;

namespace {

constexpr int kTableLines = 9000;
// Big enough for well over 9000 short fields, small enough to stay fast.
constexpr qsizetype kMaxFileSize = 48 * 1024;

QString g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static QTemporaryDir dir;
    if (!dir.isValid()) std::abort();
    g_path = dir.filePath(QStringLiteral("image.hex"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int repeat = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 10000) : 1;
    const int maxLines = in.ConsumeBool() ? kTableLines : in.ConsumeIntegralInRange(0, kTableLines);
    const QByteArray piece = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    QByteArray contents;
    if (!piece.isEmpty()) contents = piece.repeated(std::min<qsizetype>(repeat, kMaxFileSize / piece.size() + 1));

    const QList<QByteArray> fields = vantrel::fuzz::referenceHexFields(contents);
    const std::string state = "contents " + show(contents.left(512)) + "\n" + std::to_string(fields.size()) +
                              " fields, limit " + std::to_string(maxLines);

    const QList<QByteArray> split = vantrel::splitHexFields(contents);
    FUZZ_CHECK(split == fields, state + "\nsplit into " + std::to_string(split.size()) + " fields");

    {
        QFile file(g_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
            std::abort();
    }

    try {
        const QList<QByteArray> read = vantrel::readHexFile(g_path, maxLines);
        FUZZ_CHECK(fields.size() <= maxLines, state + "\nread " + std::to_string(read.size()) + " fields");
        FUZZ_CHECK(read == fields, state + "\nread " + std::to_string(read.size()) + " fields");
    } catch (const vantrel::Failure& failure) {
        const std::string why =
            state + "\nfailure " + std::to_string(failure.number()) + ": " + show(failure.description());
        FUZZ_CHECK(fields.size() > maxLines, why);
        FUZZ_CHECK(failure.number() == vantrel::failure::kSubscriptOutOfRange, why);
        FUZZ_CHECK(failure.description().contains(g_path), why);
    } catch (...) {
        FUZZ_CHECK(false, state + "\nan exception other than a Failure escaped readHexFile");
    }
    return 0;
}
