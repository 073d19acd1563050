#include "flasher/plan.h"

#include <QFileInfo>

#include "common/failure.h"
#include "loader/loader.h"
#include "transfer/hex_file.h"

namespace vantrel::flasher {
namespace {

class PlannedFileReader final : public FileReader {
  public:
    explicit PlannedFileReader(std::shared_ptr<const HexImage> file) : file_(std::move(file)) {}
    QList<QByteArray> readLines(const QString& path, int maxLines) override {
        if (!file_ || QFileInfo(path).absoluteFilePath() != QFileInfo(file_->path).absoluteFilePath())
            throw Failure(failure::kFileNotFound, QStringLiteral("File not found: ") + path);
        if (file_->lineCount() > maxLines) return hexFieldsOf(file_->bytes, maxLines, path);
        return file_->lines;
    }

  private:
    std::shared_ptr<const HexImage> file_;
};

}  // namespace

std::unique_ptr<FileReader> plannedFileReader(std::shared_ptr<const HexImage> file) {
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
