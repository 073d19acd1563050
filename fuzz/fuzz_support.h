#pragma once

// Shared pieces of the fuzz targets: the application object the widgets need,
// a check that aborts (so libFuzzer records the input), and an independent
// CRC-16/MODBUS to judge frames with.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QByteArray>
#include <QString>

namespace vantrel::fuzz {

// The widgets need an application object. It is never destroyed: libFuzzer
// ends the process with exit(), when Qt's own statics may already be gone.
inline void initApplication(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own warnings about the offscreen platform would drown the fuzzer's report.
    qputenv("QT_LOGGING_RULES", "*.debug=false;qt.qpa.*=false");
    static QApplication* app = new QApplication(*argc, *argv);
    (void)app;
}

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

}  // namespace vantrel::fuzz

// Aborts with the failed condition and a description of the state.
#define FUZZ_CHECK(cond, detail)                                                     \
    do {                                                                             \
        if (!(cond)) ::vantrel::fuzz::violated(__FILE__, __LINE__, #cond, (detail)); \
    } while (0)
