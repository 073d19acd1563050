#pragma once

// Shared pieces of the fuzz targets, Qt Core only: a check that aborts (so
// libFuzzer records the input), readable dumps of the state, an independent
// CRC-16/MODBUS to judge frames with and an independent split of a HEX file's
// text. The targets that build a window add fuzz_window.h.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QByteArray>
#include <QList>
#include <QString>

namespace vantrel::fuzz {

[[noreturn]] inline void violated(const char* file, int line, const char* what, const std::string& detail) {
    std::fprintf(stderr, "\n*** invariant violated at %s:%d: %s\n%s\n", file, line, what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

inline std::string show(const QByteArray& bytes) {
    return "\"" + bytes.toPercentEncoding(" :#=&.,+-").toStdString() + "\" (" + std::to_string(bytes.size()) +
           " bytes)";
}
inline std::string show(const QString& text) {
    return show(text.toUtf8());
}

// Reference CRC-16/MODBUS: reflected polynomial 0xA001, start 0xFFFF.
inline std::uint16_t crc16(const QByteArray& data) {
    std::uint16_t crc = 0xFFFF;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = static_cast<std::uint16_t>((crc >> 1) ^ ((crc & 1) ? 0xA001 : 0));
    }
    return crc;
}

// True when the last two characters are the CRC of the rest, low byte first.
inline bool crcMatches(const QByteArray& frame) {
    if (frame.size() < 2) return false;
    const std::uint16_t crc = crc16(frame.left(frame.size() - 2));
    return static_cast<unsigned char>(frame[frame.size() - 2]) == (crc & 0xFF) &&
           static_cast<unsigned char>(frame[frame.size() - 1]) == (crc >> 8);
}

inline QByteArray withCrc(QByteArray frame) {
    const std::uint16_t crc = crc16(frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

// The fields of a HEX file, worked out apart from the loader: every line end
// and comma becomes one newline, and the text is cut at the newlines.
inline QList<QByteArray> referenceHexFields(QByteArray text) {
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    text.replace(',', '\n');
    QList<QByteArray> fields = text.split('\n');
    // A delimiter at the end (or an empty text) leaves one empty piece behind.
    if (fields.last().isEmpty()) fields.removeLast();
    return fields;
}

}  // namespace vantrel::fuzz

// Aborts with the failed condition and a description of the state.
#define FUZZ_CHECK(cond, detail)                                                     \
    do {                                                                             \
        if (!(cond)) ::vantrel::fuzz::violated(__FILE__, __LINE__, #cond, (detail)); \
    } while (0)
