#pragma once

#include <memory>

#include <QString>

#include "connection/serial_component.h"

namespace vantrel {

// A modal message box with an OK button.
class MsgBox {
  public:
    enum class Icon { None, Stop };
    virtual ~MsgBox() = default;
    virtual void show(const QString& text, const QString& title, Icon icon) = 0;
};

// The open-file dialog: a filter in the "label|pattern" form, a modal show,
// the chosen path (empty when none) and a cancel indicator.
class FileDialog {
  public:
    virtual ~FileDialog() = default;
    virtual void setFilter(const QString& filter) = 0;
    virtual void showOpen() = 0;
    virtual QString fileName() const = 0;
    virtual bool cancelled() const = 0;
};

// A pause of the calling thread.
class Sleeper {
  public:
    virtual ~Sleeper() = default;
    virtual void sleep(int milliseconds) = 0;
};

// Everything the window needs from the machine it runs on.
struct Platform {
    std::unique_ptr<SerialComponent> port;
    std::unique_ptr<MsgBox> msgBox;
    std::unique_ptr<FileDialog> fileDialog;
    std::unique_ptr<Sleeper> sleeper;
};

// The desktop's real port, dialogs and sleep.
Platform makeDesktopPlatform();

// The real pause of the calling thread, for platforms assembled piece by piece.
std::unique_ptr<Sleeper> makeThreadSleeper();

}  // namespace vantrel
