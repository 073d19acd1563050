#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include "connection/port_naming.h"
#include "flasher/board_result.h"
#include "flasher/console.h"
#include "flasher/exit_codes.h"
#include "flasher/options.h"
#include "flasher/probe_asks.h"
#include "window/frm_serial.h"
#include "window/platform.h"

namespace vantrel::flasher {

// One run of the flasher: the window, hidden, driven through its own
// handlers as an operator would click them, and followed through what it
// announces (its signals), never through what it displays. The flasher adds
// what a production line needs and the window leaves to its operator: a
// bound on waiting for a reply, and an exit code.
class FlashJob : public QObject {
    Q_OBJECT
  public:
    struct Setup {
        FlashOptions options;
        QString portBoxText;  // what goes into the window's port box: "COMn"
        QString portLabel;    // how the user named the port, for messages
        // Where the port box's number leads; the port component was given the
        // same. Used for advice when the port does not open.
        PortResolver resolver;
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

    // The window the job drives.
    frmSerial& window() const { return *window_; }

    // What happened to the board, for the summary and the report (file
    // details are the run's to fill in).
    BoardResult result() const;
    // The Modbus addresses a search found, in the order they answered.
    const QList<int>& found() const { return found_; }

  signals:
    void finished(int exitCode);

  private:
    enum class Step { Starting, Opening, Probing, Settling, Transfer, Installing, Querying, SettingAddress, Done };

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
    // Runs the action once every version query of the probe has been
    // answered or has had the time to be; until then waits.
    void runActionOnceSettled();
    void runAction();
    void startTransfer();
    void install();
    void queryVersion();
    void setAddress();

    // What the window announces.
    void onCommandWritten(const QByteArray& command, const QByteArray& frame);
    void onLineSent(bool verify, int line, int lineCount, const QByteArray& record);
    void onReplyAccepted(const QByteArray& reply, int address);
    void onReplyInterpreted(frmSerial::ReplyOutcome outcome);
    void onTransferReply(frmSerial::ReplyOutcome outcome);
    void onAddressReply(frmSerial::ReplyOutcome outcome);
    void onOpenFailed(int number, const QString& description);
    void onProbeGaveUp();
    void onStartFailed(int number, const QString& description);
    void onPortLost();
    void onHandlerFailed(int number, const QString& description);
    void onWindowMessage(const QString& text, const QString& title);
    void onDeadline();

    void click(void (frmSerial::*handler)());
    void armDeadline();
    QString openFailureText() const;
    QString noBoardText() const;
    QString noReplyText() const;
    static QString describe(const LineOnWire& l);
    void finish(ExitCode code, const QString& message);
    void finishLater(ExitCode code, const QString& message);

    FlashOptions options_;
    QString portBoxText_;
    QString portLabel_;
    PortResolver resolver_;
    Console& console_;
    std::unique_ptr<frmSerial> window_;
    QTimer deadline_;
    bool deadlineArmed_ = false;
    ProbeAsks asks_;
    QTimer settle_;

    Step step_ = Step::Starting;
    int fileLines_ = 0;
    QElapsedTimer transferStart_;
    std::optional<LineOnWire> inFlight_;
    std::optional<LineOnWire> answering_;  // in flight when the reply being interpreted came
    std::optional<LineOnWire> lastAnswered_;
    QString lastCommand_;      // for the no-reply message outside a transfer
    QByteArray lastReply_;     // the reply being interpreted
    QByteArray lastWordless_;  // the last reply that held no reply word, if it was the last one
    int replyAddress_ = -1;    // the Modbus address the last reply came from
    struct OpenFailure {
        int number = 0;
        QString description;
    };
    std::optional<OpenFailure> lastOpenFailure_;
    QString version_;  // the probe's answer
    QList<int> found_;
    QDateTime started_;
    QElapsedTimer elapsed_;
    double seconds_ = 0.0;

    bool finished_ = false;
    ExitCode code_ = ExitCode::Internal;
    QString message_;
};

}  // namespace vantrel::flasher
