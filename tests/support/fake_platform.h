#pragma once

#include <initializer_list>
#include <memory>

#include <QList>
#include <QString>

#include "fake_serial_component.h"
#include "window/frm_serial.h"
#include "window/platform.h"

namespace vantrel::testing {

struct ShownMessage {
    QString text;
    QString title;
    MsgBox::Icon icon;
};

// Records every box instead of blocking on it.
class FakeMsgBox final : public MsgBox {
  public:
    QList<ShownMessage> shown;
    // Runs while the box is "open", for tests that check what a box interrupts.
    std::function<void(const ShownMessage&)> onShow;
    void show(const QString& text, const QString& title, Icon icon) override {
        shown.append({text, title, icon});
        if (onShow) onShow(shown.back());
    }
    QStringList texts() const {
        QStringList t;
        for (const auto& m : shown) t << m.text;
        return t;
    }
};

// Returns the path the test chose, or a cancel.
class FakeFileDialog final : public FileDialog {
  public:
    QString nextPath;
    bool nextCancelled = false;
    QString filter;
    int shows = 0;
    std::optional<Failure> showFailure;

    void setFilter(const QString& f) override { filter = f; }
    void showOpen() override {
        ++shows;
        if (showFailure) throw *showFailure;
        path_ = nextPath;
        cancelled_ = nextCancelled;
    }
    QString fileName() const override { return path_; }
    bool cancelled() const override { return cancelled_; }

  private:
    QString path_;
    bool cancelled_ = false;
};

// Records the pauses instead of taking them.
class FakeSleeper final : public Sleeper {
  public:
    QList<int> pauses;
    std::function<void(int)> onSleep;
    void sleep(int milliseconds) override {
        pauses.append(milliseconds);
        if (onSleep) onSleep(milliseconds);
    }
};

// A window on the port component and the pause given, with every box and
// the file dialog recorded instead of shown.
struct RecordingWindow {
    FakeMsgBox* box = nullptr;
    FakeFileDialog* dialog = nullptr;
    std::unique_ptr<frmSerial> w;

    RecordingWindow(std::unique_ptr<SerialComponent> port, std::unique_ptr<Sleeper> sleeper) {
        Platform p;
        auto boxFake = std::make_unique<FakeMsgBox>();
        auto dialogFake = std::make_unique<FakeFileDialog>();
        box = boxFake.get();
        dialog = dialogFake.get();
        p.port = std::move(port);
        p.msgBox = std::move(boxFake);
        p.fileDialog = std::move(dialogFake);
        p.sleeper = std::move(sleeper);
        w = std::make_unique<frmSerial>(std::move(p));
    }
    ~RecordingWindow() {
        // A real device is let go before the window's own teardown.
        if (w && w->MSComm1->portOpen()) w->MSComm1->setPortOpen(false);
    }
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    frmSerial* operator->() const { return w.get(); }
};

// A window on fakes only, with handles on each fake.
struct FakeWindow : RecordingWindow {
    FakeSerialComponent* port = nullptr;
    FakeSleeper* sleeper = nullptr;

    FakeWindow()
        : RecordingWindow(std::make_unique<FakeSerialComponent>(), std::make_unique<FakeSleeper>()),
          port(static_cast<FakeSerialComponent*>(w->MSComm1)),
          sleeper(static_cast<FakeSleeper*>(&w->sleeper())) {}

    // A transfer under way over these lines (line 1 at index 1), so that a
    // reply which reaches the line sender shows as a write.
    void transferUnderWay(std::initializer_list<const char*> lines) {
        qint16 n = 0;
        for (const char* line : lines) w->HexLines[++n] = line;
        w->LineCount = n;
        w->LineIndex = 0;
        w->TransferArmed = 1;
        w->TransferActive = 1;
    }
};

}  // namespace vantrel::testing
