#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "connection/qt_serial_component.h"
#include "loader/platform.h"
#include "window/frm_serial.h"

namespace vantrel {
namespace {

class QtMsgBox final : public MsgBox {
  public:
    void show(const QString& text, const QString& title, Icon icon) override {
        QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, title, text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    }
};

class QtFileDialog final : public FileDialog {
  public:
    void setFilter(const QString& filter) override { filter_ = qtFilter(filter); }

    void showOpen() override {
        fileName_ = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), QString(), filter_);
        cancelled_ = fileName_.isEmpty();
    }

    QString fileName() const override { return fileName_; }
    bool cancelled() const override { return cancelled_; }

    // "label|pattern|label|pattern" becomes Qt's "label (pattern);;...".
    static QString qtFilter(const QString& filter) {
        const QStringList parts = filter.split(u'|');
        QStringList entries;
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
            const QString& label = parts[i];
            const QString& pattern = parts[i + 1];
            entries << (label.contains(u'(' + pattern + u')') ? label : label + QStringLiteral(" (") + pattern + u')');
        }
        return entries.join(QStringLiteral(";;"));
    }

  private:
    QString filter_;
    QString fileName_;
    bool cancelled_ = false;
};

}  // namespace

Platform makeDesktopPlatform() {
    Platform p;
    p.port = std::make_unique<QtSerialComponent>();
    p.msgBox = std::make_unique<QtMsgBox>();
    p.fileDialog = std::make_unique<QtFileDialog>();
    p.sleeper = makeThreadSleeper();
    return p;
}

}  // namespace vantrel
