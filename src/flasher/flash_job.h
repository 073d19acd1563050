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
#include "flasher/exit_codes.h"
#include "flasher/options.h"
#include "flasher/plan.h"
#include "flasher/probe_asks.h"
#include "flasher/terminal/console.h"
#include "loader/loader.h"
#include "loader/platform.h"

namespace vantrel::flasher {

// One board of the flasher: the loader driven through its own handlers as an
// operator would click them, and followed through what it announces (its
// signals). The flasher adds what a production line needs and the window
// leaves to its operator: a bound on waiting for a reply, and an exit code.
class FlashJob : public QObject {
    Q_OBJECT
  public:
    struct Setup {
        FlashOptions options;
        QString portBoxText;  // what goes into the loader's port text: "COMn"
        QString portLabel;    // how the user named the port, for messages
        // Where the port box's number leads; the port component was given the
        // same. Used for advice when the port does not open.
        PortResolver resolver;
        std::unique_ptr<SerialComponent> port;
        std::unique_ptr<Sleeper> sleeper;
        // The board: the one the options name when not given.
        std::optional<Target> target;
        // What to do with it: the options' action when not given.
        std::optional<Action> action;
        // The run's file, read once; read at start() when not given.
        std::shared_ptr<const HexImage> file;
    };

    FlashJob(Setup setup, Console& console, QObject* parent = nullptr);
    ~FlashJob() override;

    // Starts the run; finished() follows from the event loop, never from
    // within start().
    void start();

    bool isFinished() const { return finished_; }
    ExitCode exitCode() const { return code_; }
    const QString& exitMessage() const { return message_; }

    // The loader the job drives.
    Loader& loader() const { return *loader_; }

    // What happened to the board, for the summary and the report (file
    // details are the run's to fill in).
    BoardResult result() const;
    // The Modbus addresses a search found, in the order they answered.
    const QList<int>& found() const { return found_; }
    // The speed the port is set to (with --speed auto, the one that answered
    // once a board has).
    Speed speed() const { return speed_; }
    // File lines written again for want of a reply.
    int retries() const { return retries_; }

  signals:
    void finished(int exitCode);

  private:
    enum class Step { Starting, Opening, Probing, Settling, Transfer, Installing, Querying, SettingAddress, Done };

    using LineOnWire = Loader::SentLine;

    void configureLoader();
    bool searching() const { return target_.kind == Target::Kind::Search; }
    int fileLines() const { return file_ ? file_->lineCount() : 0; }
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

    // What the loader announces.
    void onCommandWritten(const QByteArray& command, const QByteArray& frame);
    void onLineSent(bool verify, int line, int lineCount, const QByteArray& record);
    void onReplyAccepted(const QByteArray& reply, int address);
    void onReplyInterpreted(Loader::ReplyOutcome outcome);
    void onTransferReply(Loader::ReplyOutcome outcome);
    void onAddressReply(Loader::ReplyOutcome outcome);
    void onOpenFailed(int number, const QString& description);
    void onProbeGaveUp();
    void onStartFailed(int number, const QString& description);
    void onReplyDamaged(const QByteArray& characters);
    void onPortLost();
    void onHandlerFailed(int number, const QString& description);
    void onLoaderMessage(const QString& text, const QString& title);
    void onDeadline();
    // Writes the line in flight again and keeps the next line back until
    // the line has stayed quiet (onQuiet). `damaged`: what came instead of
    // a reply; empty when nothing came within the reply bound.
    void retryLine(const QByteArray& damaged = QByteArray());
    void onQuiet();
    // With --speed auto: the probe goes on at the next speed, or the board
    // answered at none.
    void tryNextSpeed();
    bool speedsLeft() const;
    // The last line of the file was answered "OK": the pass has ended
    // without the board's "DOWNLOAD".
    bool passEndedWithoutEndOfFile() const;

    void click(void (Loader::*handler)());
    // The reply the loader is interpreting, while it announces what it made of it.
    const QByteArray& reply() const { return loader_->replyText(); }
    void armDeadline();
    QString openFailureText() const;
    QString noBoardText() const;
    QString noReplyText() const;
    QString noEndOfFileText() const;
    static QString describe(const LineOnWire& l);
    void finish(ExitCode code, const QString& message);
    void finishLater(ExitCode code, const QString& message);

    FlashOptions options_;
    Target target_;
    Action action_;
    std::shared_ptr<const HexImage> file_;
    QString portBoxText_;
    QString portLabel_;
    PortResolver resolver_;
    Console& console_;
    std::unique_ptr<Loader> loader_;
    QTimer deadline_;
    bool deadlineArmed_ = false;
    ProbeAsks asks_;
    QTimer settle_;
    // After a write again: the line must stay quiet this long before the
    // next line goes, so that a late second reply finds no line to move on.
    QTimer quiet_;
    bool retryHold_ = false;
    // Since the last command was written, and the longest any reply with a
    // word has taken after its command (-1: none seen yet).
    QElapsedTimer sinceWrite_;
    qint64 slowestReplyMs_ = -1;
    int retries_ = 0;
    int lineRetries_ = 0;               // of the line in flight
    std::pair<bool, int> retryLine_{};  // (verify, line) lineRetries_ counts for
    Speed speed_ = Speed::B115200;
    int speedIndex_ = 0;   // in kAutoSpeeds
    int asksAtSpeed_ = 0;  // the probe's asks at speed_
    bool speedAnswered_ = false;

    Step step_ = Step::Starting;
    QElapsedTimer transferStart_;
    std::optional<LineOnWire> lastAnswered_;  // the last line a reply with a word answered
    QString lastCommand_;                     // for the no-reply message outside a transfer
    QByteArray lastWordless_;                 // the last reply that held no reply word, if it was the last one
    int replyAddress_ = -1;                   // the Modbus address the last reply came from
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
