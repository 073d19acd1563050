#pragma once

#include <QString>
#include <QStringList>

namespace vantrel::app {

// Exit codes of `vantrel` (man page vantrel(1)).
inline constexpr int kExitNoDisplay = 1;

struct CommandLine {
    enum class Kind { Run, Help, Version };
    Kind kind = Kind::Run;
    QString text;  // the help; for a run, what is ignored (empty when nothing is)
};

// `arguments` starts with the program name. Before the application object
// exists only --help and --version are looked for (`strict` false): Qt's own
// options such as -platform or -style are still among the arguments then.
// Once QApplication has taken its options out, `strict` names the rest in
// `text`: a desktop program started with a file or an unknown option still
// opens its window.
CommandLine parseCommandLine(const QStringList& arguments, bool strict);

// The platform Qt will try: -platform on the command line, else
// QT_QPA_PLATFORM ("" when neither names one).
QString requestedPlatform(const QStringList& arguments, const QString& qpaPlatformVariable);

// Why no window can be shown, or an empty text when one may be. Only the
// display platforms are judged (xcb needs DISPLAY, wayland WAYLAND_DISPLAY;
// Qt's default tries both); offscreen, vnc, eglfs and the like need none.
QString missingDisplay(const QString& platform, const QString& display, const QString& waylandDisplay);

// The one line printed when the window cannot be shown.
QString noDisplayLine(const QString& why);

}  // namespace vantrel::app
