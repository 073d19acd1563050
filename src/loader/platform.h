#pragma once

#include <memory>

#include <QByteArray>
#include <QList>
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

// Reading the chosen HEX file: its lines as the loader keeps them, at most
// `maxLines` of them; a file that cannot be read raises vantrel::Failure.
class FileReader {
  public:
    virtual ~FileReader() = default;
    virtual QList<QByteArray> readLines(const QString& path, int maxLines) = 0;
};

// Everything the loader needs from the machine it runs on. A missing file
// reader is the machine's own (makeHexFileReader).
struct Platform {
    std::unique_ptr<SerialComponent> port;
    std::unique_ptr<MsgBox> msgBox;
    std::unique_ptr<FileDialog> fileDialog;
    std::unique_ptr<Sleeper> sleeper;
    std::unique_ptr<FileReader> fileReader;
};

// The real pause of the calling thread, for platforms assembled piece by piece.
std::unique_ptr<Sleeper> makeThreadSleeper();

// The file as it is on disk now, read whole at every call (readHexFile).
std::unique_ptr<FileReader> makeHexFileReader();

}  // namespace vantrel
