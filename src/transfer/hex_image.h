#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "transfer/hex_check.h"

namespace vantrel {

// A HEX file read once for a run: its bytes, the lines the loader sends,
// their count and the bytes' SHA-256. Every board is handed these lines, so
// the file hashed and the file sent are the same bytes.
struct HexImage {
    QString path;
    QByteArray bytes;
    QList<QByteArray> lines;
    QString sha256;
    std::optional<HexSummary> summary;  // what its records hold, when it was checked
    int lineCount() const { return static_cast<int>(lines.size()); }
};

// Whether an image's records are checked (--no-check skips it).
enum class HexImageCheck { Records, None };

// Reads `path` once: a file that cannot be read, one with more than
// `maxLines` lines (the most the loader takes), one without lines or (unless
// `check` is None) one that is not a sound Intel HEX file gives the reason
// instead, naming the file, and for a bad record its line, the record quoted
// and why.
std::shared_ptr<const HexImage> readHexImage(const QString& path, int maxLines, QString* why,
                                             HexImageCheck check = HexImageCheck::Records);

// The summary `vantrel-flash --check` prints of a checked image: the file,
// lines, records, data bytes, address ranges and SHA-256.
QString hexImageSummaryText(const HexImage& image);

}  // namespace vantrel
