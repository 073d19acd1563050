#pragma once

// For the fuzz targets that build a window: the application object the
// widgets need.

#include <QApplication>

namespace vantrel::fuzz {

// It is never destroyed: libFuzzer ends the process with exit(), when Qt's
// own statics may already be gone.
inline void initApplication(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own warnings about the offscreen platform would drown the fuzzer's report.
    qputenv("QT_LOGGING_RULES", "*.debug=false;qt.qpa.*=false");
    static QApplication* app = new QApplication(*argc, *argv);
    (void)app;
}

}  // namespace vantrel::fuzz
