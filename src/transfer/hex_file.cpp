#include "transfer/hex_file.h"

#include <QFile>
#include <QFileInfo>

#include "common/failure.h"

namespace vantrel {
namespace {

// 9000 records of the longest Intel HEX line take under 5 MiB; anything far
// beyond that is not a HEX file, and is refused before it is read into memory.
constexpr qint64 kMaxFileSize = 64LL * 1024 * 1024;

// The loader's one rule for where a line ends (CR LF, LF or CR); a comma ends
// a field too when `commaEnds`.
QList<QByteArray> splitAt(QByteArrayView data, bool commaEnds) {
    QList<QByteArray> fields;
    qsizetype start = 0;
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = data[i];
        if (c == '\r' || c == '\n' || (commaEnds && c == ',')) {
            fields.append(data.sliced(start, i - start).toByteArray());
            ++i;
            if (c == '\r' && i < n && data[i] == '\n') ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n) fields.append(data.sliced(start).toByteArray());
    return fields;
}

}  // namespace

QList<QByteArray> splitHexFields(QByteArrayView data) {
    return splitAt(data, true);
}

QList<QByteArray> splitHexLines(QByteArrayView data) {
    return splitAt(data, false);
}

QByteArray readHexFileBytes(const QString& path) {
    QFile file(path);
    if (!QFileInfo::exists(path)) throw Failure(failure::kFileNotFound, QStringLiteral("File not found: ") + path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        throw Failure(failure::kPathAccess,
                      QStringLiteral("Path/File access error: %1 (%2)").arg(path, file.errorString()));
    if (file.size() > kMaxFileSize)
        throw Failure(failure::kOutOfMemory,
                      QStringLiteral("File too large for a HEX file (%1 bytes): %2").arg(file.size()).arg(path));
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(failure::kDeviceIo, QStringLiteral("Read error: %1 (%2)").arg(path, file.errorString()));
    return data;
}

QList<QByteArray> hexFieldsOf(QByteArrayView data, int maxLines, const QString& path) {
    QList<QByteArray> fields = splitHexFields(data);
    if (fields.size() > maxLines)
        throw Failure(
            failure::kSubscriptOutOfRange,
            QStringLiteral("Subscript out of range: the file has more than %1 lines: %2").arg(maxLines).arg(path));
    return fields;
}

QList<QByteArray> readHexFile(const QString& path, int maxLines) {
    return hexFieldsOf(readHexFileBytes(path), maxLines, path);
}

bool isEndOfFileRecord(QByteArrayView record) {
    const qsizetype colon = record.indexOf(':');
    if (colon < 0 || record.size() < colon + 9) return false;
    return record.sliced(colon + 7, 2) == "01";
}

}  // namespace vantrel
