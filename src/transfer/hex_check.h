#pragma once

#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace vantrel {

// A run of data bytes at consecutive addresses, both ends included.
struct HexAddressRange {
    quint64 first = 0;
    quint64 last = 0;
    quint64 size() const { return last - first + 1; }
    bool operator==(const HexAddressRange&) const = default;
};

// What a HEX file holds, as computed from its records.
struct HexSummary {
    int lines = 0;                  // lines of the file, blank ones included
    int records = 0;                // records, the end-of-file record included
    qint64 dataBytes = 0;           // data bytes of the data records (00)
    QList<HexAddressRange> ranges;  // where they go, merged and in address order
};

// The first fault of a file: its line (1-based; 0 when it concerns the file
// as a whole, as a missing end-of-file record does), the line quoted as
// quoteHexLine gives it, and why it is not a record.
struct HexProblem {
    int line = 0;
    QString quote;
    QString reason;
    bool operator==(const HexProblem&) const = default;
};

struct HexCheck {
    std::optional<HexProblem> problem;  // none: the file is sound
    HexSummary summary;                 // complete only when there is no problem
    bool ok() const { return !problem.has_value(); }
};

// Checks a file's bytes, line by line as the loader's lines end (CR LF, LF or
// CR; see splitHexLines): every line that is not blank is a record (':', an
// even number of hex digits of either case, its byte count matching its data,
// a right checksum, a type from 00 to 05), an end-of-file record (01) is
// there, and only blank lines follow it. Extended segment (02) and extended
// linear (04) address records move the data records' addresses.
HexCheck checkHexFile(QByteArrayView bytes);

// A line as a message shows it: at most its first 60 characters, then "…"
// when cut; characters that do not print as \xNN.
QString quoteHexLine(QByteArrayView line);

// "0x000000-0x00007F (128 bytes)".
QString describeRange(const HexAddressRange& range);

// "line 7 \":10004000…\": checksum is 0x12, the record's bytes need 0x34", or
// the reason alone for a fault of the whole file.
QString describeProblem(const HexProblem& problem);

}  // namespace vantrel
