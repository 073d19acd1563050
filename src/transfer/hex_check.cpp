#include "transfer/hex_check.h"

#include <algorithm>

#include "transfer/hex_file.h"

namespace vantrel {
namespace {

constexpr qsizetype kQuoteChars = 60;
// Byte count, two address bytes, type and checksum.
constexpr int kRecordOverhead = 5;

bool isBlank(QByteArrayView line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

QString hex2(int value) {
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

bool prints(unsigned char c) {
    return c >= 0x20 && c < 0x7F;
}

QString shown(unsigned char c) {
    if (prints(c)) return QStringLiteral("'%1'").arg(QLatin1Char(static_cast<char>(c)));
    return QStringLiteral("\\x") + hex2(c);
}

// What a record type is called in a message.
QString typeName(int type) {
    switch (type) {
        case 1:
            return QStringLiteral("an end-of-file record (01)");
        case 2:
            return QStringLiteral("an extended segment address record (02)");
        case 3:
            return QStringLiteral("a start segment address record (03)");
        case 4:
            return QStringLiteral("an extended linear address record (04)");
        case 5:
            return QStringLiteral("a start linear address record (05)");
        default:
            return QStringLiteral("a data record (00)");
    }
}

// The data length each non-data record type must have.
int lengthOfType(int type) {
    switch (type) {
        case 1:
            return 0;
        case 2:
        case 4:
            return 2;
        default:
            return 4;
    }
}

struct Piece {
    quint64 first;
    quint64 size;
};

QList<HexAddressRange> merged(QList<Piece> pieces) {
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.first < b.first; });
    QList<HexAddressRange> ranges;
    for (const Piece& p : pieces) {
        const quint64 last = p.first + p.size - 1;
        if (!ranges.isEmpty() && p.first <= ranges.back().last + 1) {
            ranges.back().last = std::max(ranges.back().last, last);
        } else {
            ranges.append(HexAddressRange{p.first, last});
        }
    }
    return ranges;
}

// Why `line` is not a sound record, or nothing; fills `bytes` with its bytes.
std::optional<QString> recordFault(QByteArrayView line, QByteArray* bytes) {
    if (line.front() != ':') return QStringLiteral("not a record: it does not start with ':'");
    for (qsizetype i = 1; i < line.size(); ++i) {
        if (hexValue(line[i]) < 0)
            return QStringLiteral("a non-hex character %1 at column %2")
                .arg(shown(static_cast<unsigned char>(line[i])))
                .arg(i + 1);
    }
    const qsizetype digits = line.size() - 1;
    if (digits % 2 != 0) return QStringLiteral("odd number of hex digits (%1)").arg(digits);
    if (digits < 2 * kRecordOverhead)
        return QStringLiteral("too short for a record: %1 hex digits, a record has at least %2")
            .arg(digits)
            .arg(2 * kRecordOverhead);
    bytes->resize(digits / 2);
    for (qsizetype i = 0; i < bytes->size(); ++i)
        (*bytes)[i] = static_cast<char>(hexValue(line[1 + 2 * i]) * 16 + hexValue(line[2 + 2 * i]));
    const int count = static_cast<unsigned char>(bytes->at(0));
    const qsizetype dataBytes = bytes->size() - kRecordOverhead;
    if (count != dataBytes) return QStringLiteral("byte count %1 but %2 data bytes").arg(count).arg(dataBytes);
    int sum = 0;
    for (qsizetype i = 0; i + 1 < bytes->size(); ++i) sum += static_cast<unsigned char>(bytes->at(i));
    const int need = (0x100 - (sum & 0xFF)) & 0xFF;
    const int given = static_cast<unsigned char>(bytes->back());
    if (given != need)
        return QStringLiteral("checksum is 0x%1, the record's bytes need 0x%2").arg(hex2(given), hex2(need));
    const int type = static_cast<unsigned char>(bytes->at(3));
    if (type > 5) return QStringLiteral("record type %1 is not 00 to 05").arg(hex2(type));
    if (type != 0 && count != lengthOfType(type))
        return QStringLiteral("%1 holds %2 data bytes, not %3").arg(typeName(type)).arg(lengthOfType(type)).arg(count);
    return std::nullopt;
}

}  // namespace

QString quoteHexLine(QByteArrayView line) {
    QString out;
    const qsizetype n = std::min(line.size(), kQuoteChars);
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (prints(c))
            out += QLatin1Char(static_cast<char>(c));
        else
            out += QStringLiteral("\\x") + hex2(c);
    }
    if (line.size() > kQuoteChars) out += QChar(0x2026);
    return out;
}

QString describeRange(const HexAddressRange& range) {
    const int width = range.last > 0xFFFFFF ? 8 : 6;
    return QStringLiteral("0x%1-0x%2 (%3 bytes)")
        .arg(QString::number(range.first, 16).toUpper().rightJustified(width, u'0'),
             QString::number(range.last, 16).toUpper().rightJustified(width, u'0'))
        .arg(range.size());
}

QString describeProblem(const HexProblem& problem) {
    if (problem.line == 0) return problem.reason;
    return QStringLiteral("line %1 \"%2\": %3").arg(problem.line).arg(problem.quote, problem.reason);
}

HexCheck checkHexFile(QByteArrayView data) {
    HexCheck check;
    const QList<QByteArray> lines = splitHexLines(data);
    check.summary.lines = static_cast<int>(lines.size());
    QList<Piece> pieces;
    quint64 base = 0;
    int endOfFileLine = 0;
    QByteArray bytes;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const int number = static_cast<int>(i + 1);
        if (isBlank(line)) continue;
        const auto fail = [&](const QString& reason) {
            check.problem = HexProblem{number, quoteHexLine(line), reason};
            return check;
        };
        if (endOfFileLine != 0)
            return fail(QStringLiteral("not blank, after the end-of-file record of line %1").arg(endOfFileLine));
        if (const auto fault = recordFault(line, &bytes)) return fail(*fault);
        ++check.summary.records;
        const int count = static_cast<unsigned char>(bytes.at(0));
        const quint64 offset = (static_cast<quint64>(static_cast<unsigned char>(bytes.at(1))) << 8) |
                               static_cast<unsigned char>(bytes.at(2));
        const auto word = [&bytes] {
            return (static_cast<quint64>(static_cast<unsigned char>(bytes.at(4))) << 8) |
                   static_cast<unsigned char>(bytes.at(5));
        };
        switch (bytes.at(3)) {
            case 0:
                check.summary.dataBytes += count;
                if (count > 0) pieces.append(Piece{base + offset, static_cast<quint64>(count)});
                break;
            case 1:
                endOfFileLine = number;
                break;
            case 2:
                base = word() << 4;
                break;
            case 4:
                base = word() << 16;
                break;
            default:
                break;  // start addresses place no data
        }
    }
    if (endOfFileLine == 0) {
        check.problem = HexProblem{0, QString(), QStringLiteral("no end-of-file record (:00000001FF)")};
        return check;
    }
    check.summary.ranges = merged(std::move(pieces));
    return check;
}

}  // namespace vantrel
