#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "flasher/console.h"
#include "flasher/exit_codes.h"
#include "flasher/options.h"
#include "flasher/watched_port.h"
#include "window/platform.h"

namespace vantrel {
class frmSerial;
}

namespace vantrel::flasher {

// One run of the flasher: the window, hidden, driven through its own
// handlers as an operator would click them, and watched through the port
// component and its public state. The flasher adds what a production line
// needs and the window leaves to its operator: a bound on waiting for a
// reply, and an exit code.
class FlashJob : public QObject {
    Q_OBJECT
  public:
    struct Setup {
        FlashOptions options;
        QString portBoxText;  // what goes into the window's port box
        QString portLabel;    // how the user named the port, for messages
        std::unique_ptr<SerialComponent> port;
        std::unique_ptr<Sleeper> sleeper;
    };

    FlashJob(Setup setup, Console& console, QObject* parent = nullptr);
    ~FlashJob() override;

    // Starts the run; finished() follows from the event loop, never from
    // within start().
    void start();

    bool isFinished() const { return finished_; }
    ExitCode exitCode() const { return code_; }
    const QString& exitMessage() const { return message_; }

    frmSerial& window() const { return *window_; }
    const WatchedPort& port() const { return *port_; }

  signals:
    void finished(int exitCode);

  private:
    enum class Step { Starting, Opening, Probing, Transfer, Installing, Querying, SettingAddress, Done };

    // A line of the file on the wire.
    struct LineOnWire {
        Pass pass = Pass::Download;
        int line = 0;
        int total = 0;
        QByteArray record;
    };

    void configureWindow();
    void open();
    void boardFound();
    void runAction();
    void startTransfer();
    void install();
    void queryVersion();
    void setAddress();

    void afterReceiveTick();
    void onReply(const QByteArray& reply);
    void onTransferReply();
    void onWrite(const QByteArray& bytes);
    void onWindowMessage(const QString& text, const QString& title);
    void onDeadline();

    // Runs a handler as the window's buttons do: a failure it does not guard
    // itself ends in an "Error#" box.
    void invoke(void (frmSerial::*handler)());
    void armDeadline();
    QString portText() const;
    QString devicePath() const;
    QString openFailureText() const;
    QString noBoardText() const;
    QString noReplyText() const;
    static QString describe(const LineOnWire& l);
    void finish(ExitCode code, const QString& message);
    void finishLater(ExitCode code, const QString& message);

    FlashOptions options_;
    QString portBoxText_;
    QString portLabel_;
    Console& console_;
    WatchedPort* port_ = nullptr;
    std::unique_ptr<frmSerial> window_;
    QTimer deadline_;
    bool deadlineArmed_ = false;

    Step step_ = Step::Starting;
    bool insideInvoke_ = false;
    int boxes_ = 0;
    QString lastBox_;
    int writesThisTick_ = 0;
    int fileLines_ = 0;
    QElapsedTimer transferStart_;
    std::optional<LineOnWire> inFlight_;
    std::optional<LineOnWire> previousInFlight_;
    std::optional<LineOnWire> lastAnswered_;
    QString lastCommand_;  // for the no-reply message outside a transfer

    bool finished_ = false;
    ExitCode code_ = ExitCode::Internal;
    QString message_;
};

}  // namespace vantrel::flasher
