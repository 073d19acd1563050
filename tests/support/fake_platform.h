#pragma once

#include <initializer_list>
#include <memory>

#include <QList>
#include <QString>

#include "fake_serial_component.h"
#include "loader/loader.h"
#include "loader/platform.h"
#include "window/frm_serial.h"

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

// The loader on the port component and the pause given, with every box and
// the file dialog recorded instead of shown; no window.
struct RecordingLoader {
    FakeMsgBox* box = nullptr;
    FakeFileDialog* dialog = nullptr;
    std::unique_ptr<Loader> w;

    RecordingLoader(std::unique_ptr<SerialComponent> port, std::unique_ptr<Sleeper> sleeper) {
        Platform p;
        auto boxFake = std::make_unique<FakeMsgBox>();
        auto dialogFake = std::make_unique<FakeFileDialog>();
        box = boxFake.get();
        dialog = dialogFake.get();
        p.port = std::move(port);
        p.msgBox = std::move(boxFake);
        p.fileDialog = std::move(dialogFake);
        p.sleeper = std::move(sleeper);
        w = std::make_unique<Loader>(std::move(p));
    }
    ~RecordingLoader() {
        // A real device is let go before the loader's own teardown.
        if (w && w->MSComm1->portOpen()) w->MSComm1->setPortOpen(false);
    }
    RecordingLoader(const RecordingLoader&) = delete;
    RecordingLoader& operator=(const RecordingLoader&) = delete;

    Loader* operator->() const { return w.get(); }
};

// A transfer under way over these lines (line 1 at index 1), so that a reply
// which reaches the line sender shows as a write.
inline void putTransferUnderWay(Loader& l, std::initializer_list<const char*> lines) {
    qint16 n = 0;
    for (const char* line : lines) l.HexLines[++n] = line;
    l.LineCount = n;
    l.LineIndex = 0;
    l.TransferArmed = 1;
    l.TransferActive = 1;
}

// The loader on fakes only, with handles on each fake.
struct FakeLoader : RecordingLoader {
    FakeSerialComponent* port = nullptr;
    FakeSleeper* sleeper = nullptr;

    FakeLoader()
        : RecordingLoader(std::make_unique<FakeSerialComponent>(), std::make_unique<FakeSleeper>()),
          port(static_cast<FakeSerialComponent*>(w->MSComm1)),
          sleeper(static_cast<FakeSleeper*>(&w->sleeper())) {}

    void transferUnderWay(std::initializer_list<const char*> lines) { putTransferUnderWay(*w, lines); }
};

// The window over a loader on fakes, with handles on each fake.
struct FakeWindow {
    FakeMsgBox* box = nullptr;
    FakeFileDialog* dialog = nullptr;
    FakeSerialComponent* port = nullptr;
    FakeSleeper* sleeper = nullptr;
    std::unique_ptr<frmSerial> w;

    FakeWindow() {
        Platform p;
        auto boxFake = std::make_unique<FakeMsgBox>();
        auto dialogFake = std::make_unique<FakeFileDialog>();
        auto portFake = std::make_unique<FakeSerialComponent>();
        auto sleeperFake = std::make_unique<FakeSleeper>();
        box = boxFake.get();
        dialog = dialogFake.get();
        port = portFake.get();
        sleeper = sleeperFake.get();
        p.port = std::move(portFake);
        p.msgBox = std::move(boxFake);
        p.fileDialog = std::move(dialogFake);
        p.sleeper = std::move(sleeperFake);
        w = std::make_unique<frmSerial>(std::move(p));
    }
    FakeWindow(const FakeWindow&) = delete;
    FakeWindow& operator=(const FakeWindow&) = delete;

    frmSerial* operator->() const { return w.get(); }
    Loader& loader() const { return w->loader(); }
};

}  // namespace vantrel::testing
