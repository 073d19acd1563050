#include "transfer/hex_image.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include "common/failure.h"
#include "transfer/hex_file.h"

namespace vantrel {
namespace {

// Why `path` cannot be read at all, in plain words; empty when it can be
// opened. Root reads a file whatever its mode, so no permission is judged by
// what the system allows this process.
QString pathProblem(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return QStringLiteral("no such file");
    if (info.isDir()) return QStringLiteral("it is a folder, not a file");
    if (!info.isReadable()) return QStringLiteral("no permission to read it");
    return QString();
}

}  // namespace

std::shared_ptr<const HexImage> readHexImage(const QString& path, int maxLines, QString* why, HexImageCheck check) {
    const auto fail = [why](const QString& reason) {
        if (why != nullptr) *why = reason;
        return nullptr;
    };
    if (const QString problem = pathProblem(path); !problem.isEmpty())
        return fail(QStringLiteral("cannot read %1: %2").arg(path, problem));
    auto file = std::make_shared<HexImage>();
    file->path = path;
    try {
        file->bytes = readHexFileBytes(path);
    } catch (const Failure& f) {
        QString reason = f.description();
        if (f.number() == failure::kOutOfMemory)
            reason = QStringLiteral("too large for a HEX file (%1 bytes)").arg(QFileInfo(path).size());
        else if (f.number() == failure::kPathAccess)
            reason = QStringLiteral("no permission to read it");
        return fail(QStringLiteral("cannot read %1: %2").arg(path, reason));
    }
    try {
        file->lines = hexFieldsOf(file->bytes, maxLines, path);
    } catch (const Failure&) {
        return fail(QStringLiteral("cannot load %1: it has more than %2 lines, the most the loader takes")
                        .arg(path)
                        .arg(maxLines));
    }
    if (file->lines.isEmpty()) return fail(QStringLiteral("cannot load %1: it is empty, it holds no lines").arg(path));
    if (check == HexImageCheck::Records) {
        const HexCheck checked = checkHexFile(file->bytes);
        if (!checked.ok())
            return fail(QStringLiteral("%1 is not a sound HEX file: %2").arg(path, describeProblem(*checked.problem)));
        file->summary = checked.summary;
    }
    file->sha256 = QString::fromLatin1(QCryptographicHash::hash(file->bytes, QCryptographicHash::Sha256).toHex());
    return file;
}

QString hexImageSummaryText(const HexImage& file) {
    QString text = QStringLiteral("file:        %1\n").arg(file.path);
    text += QStringLiteral("lines:       %1\n").arg(file.lineCount());
    if (file.summary) {
        const HexSummary& s = *file.summary;
        text += QStringLiteral("records:     %1\n").arg(s.records);
        text += QStringLiteral("data bytes:  %1\n").arg(s.dataBytes);
        if (s.ranges.isEmpty()) text += QStringLiteral("addresses:   none\n");
        // One screen: a scattered file shows its first ranges and a count.
        constexpr qsizetype kShown = 12;
        const qsizetype shown = s.ranges.size() > kShown ? kShown - 1 : s.ranges.size();
        for (qsizetype i = 0; i < shown; ++i)
            text += (i == 0 ? QStringLiteral("addresses:   ") : QStringLiteral("             ")) +
                    describeRange(s.ranges[i]) + u'\n';
        if (shown < s.ranges.size())
            text += QStringLiteral("             \u2026 and %1 more ranges\n").arg(s.ranges.size() - shown);
    }
    text += QStringLiteral("sha256:      %1\n").arg(file.sha256);
    return text;
}

}  // namespace vantrel
