#include "flasher/plan.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include "common/failure.h"
#include "loader/loader.h"
#include "transfer/hex_file.h"

namespace vantrel::flasher {
namespace {

class PlannedFileReader final : public FileReader {
  public:
    explicit PlannedFileReader(std::shared_ptr<const PlannedFile> file) : file_(std::move(file)) {}
    QList<QByteArray> readLines(const QString& path, int maxLines) override {
        if (!file_ || QFileInfo(path).absoluteFilePath() != QFileInfo(file_->path).absoluteFilePath())
            throw Failure(failure::kFileNotFound, QStringLiteral("File not found: ") + path);
        if (file_->lineCount() > maxLines) return hexFieldsOf(file_->bytes, maxLines, path);
        return file_->lines;
    }

  private:
    std::shared_ptr<const PlannedFile> file_;
};

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

std::shared_ptr<const PlannedFile> readPlannedFile(const QString& path, QString* why, FileCheck check) {
    const auto fail = [why](const QString& reason) {
        if (why != nullptr) *why = reason;
        return nullptr;
    };
    if (const QString problem = pathProblem(path); !problem.isEmpty())
        return fail(QStringLiteral("cannot read %1: %2").arg(path, problem));
    auto file = std::make_shared<PlannedFile>();
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
        file->lines = hexFieldsOf(file->bytes, Loader::kMaxLines, path);
    } catch (const Failure&) {
        return fail(QStringLiteral("cannot load %1: it has more than %2 lines, the most the loader takes")
                        .arg(path)
                        .arg(Loader::kMaxLines));
    }
    if (file->lines.isEmpty()) return fail(QStringLiteral("cannot load %1: it is empty, it holds no lines").arg(path));
    if (check == FileCheck::Records) {
        const HexCheck checked = checkHexFile(file->bytes);
        if (!checked.ok())
            return fail(QStringLiteral("%1 is not a sound HEX file: %2").arg(path, describeProblem(*checked.problem)));
        file->summary = checked.summary;
    }
    file->sha256 = QString::fromLatin1(QCryptographicHash::hash(file->bytes, QCryptographicHash::Sha256).toHex());
    return file;
}

QString fileSummaryText(const PlannedFile& file) {
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

std::unique_ptr<FileReader> plannedFileReader(std::shared_ptr<const PlannedFile> file) {
    return std::make_unique<PlannedFileReader>(std::move(file));
}

FlashPlan planOf(const FlashOptions& options) {
    FlashPlan plan;
    plan.action = options.action;
    plan.limits.replyMs = options.timeoutMs;
    plan.options = options;
    QList<PortName> ports = options.ports;
    if (ports.isEmpty()) ports.append(PortName{options.port, options.portIsDevice});
    for (const PortName& name : ports) {
        PortPlan p;
        p.port = name;
        p.searchFirst = options.modbusAll;
        if (options.modbusAll) {
            // The boards are those the search finds.
        } else if (options.modbus && !options.modbusSearch && options.action != Action::Search &&
                   !options.modbusAddresses.isEmpty()) {
            for (int a : options.modbusAddresses) p.boards.append(Target{name, Target::Kind::Address, a});
        } else {
            Target t;
            t.port = name;
            if (options.modbus && (options.modbusSearch || options.action == Action::Search)) {
                t.kind = Target::Kind::Search;
            } else if (options.modbus) {
                t.kind = Target::Kind::Address;
                t.address = options.modbusAddress;
            }
            p.boards.append(t);
        }
        plan.ports.append(p);
    }
    return plan;
}

Target firstTarget(const FlashOptions& options) {
    FlashOptions one = options;
    one.modbusAll = false;
    const FlashPlan plan = planOf(one);
    return plan.ports.front().boards.front();
}

}  // namespace vantrel::flasher
