#pragma once

// Map of the loader: each control that runs a handler, its caption, and the
// file (under src/) that defines the handler; then the helpers the handlers
// share. tests/window checks every row against the sources.
//
// | Control     | Caption                       | Handler           | File                         |
// |-------------|-------------------------------|-------------------|------------------------------|
// | BTNOpenCom  | Open                          | BTNOpenCom_Click  | connection/open_close.cpp    |
// | BTNCloseCom | Close                         | BTNCloseCom_Click | connection/open_close.cpp    |
// | (window)    | close box                     | Form_Unload       | connection/open_close.cpp    |
// | Timer3      | (probe tick, 200 ms)          | Timer3_Timer      | connection/probe.cpp         |
// | TMRComm     | (receive tick, 20 ms)         | TMRComm_Timer     | link/receiver.cpp            |
// | MSComm1     | (bytes arrived; --fast only)  | MSComm1_OnComm    | link/receiver.cpp            |
// | Command3    | Open File and  Download       | Command3_Click    | transfer/download.cpp        |
// | Command2    | Verify                        | Command2_Click    | transfer/download.cpp        |
// | Command5    | Send (below the client area)  | Command5_Click    | transfer/line_sender.cpp     |
// | Command6    | Install                       | Command6_Click    | transfer/install.cpp         |
// | Command4    | ?                             | Command4_Click    | service/service_commands.cpp |
// | Command1    | Set Addr                      | Command1_Click    | service/service_commands.cpp |
// | -           | (quiet open for the USB scan) | OPEN_PORT         | connection/open_close.cpp    |
// | -           | (frame writer)                | WriteCOM32        | link/frame_writer.cpp        |
// | -           | (CRC-16 of a frame)           | CRC16             | link/frame_writer.cpp        |
// | -           | (reply interpreter)           | Com_Parser        | link/reply_parser.cpp        |
// | -           | (port controls on/off)        | SwitchTags        | loader/loader.cpp            |
// | -           | (hex digits)                  | Decode            | loader/loader.cpp            |
// | -           | (hex digits)                  | Decode2           | loader/loader.cpp            |
// | -           | (a handler, failures boxed)   | invokeGuarded     | loader/loader.cpp            |
//
// What happens is also announced as signals (commandWritten, lineSent,
// replyAccepted, replyInterpreted, openFailed, probeGaveUp, startFailed,
// portLost, handlerFailed), from within the handlers, for faces that follow
// the loader without reading its controls; every change of a control's
// values is announced too (controlChanged).
//
// The controls the handlers read and write: txt(0) the port, Option1..Option4
// the speed, Check1 Modbus, Text1 the device address, Text2 the new address,
// Label2 the status line, Text8 the last reply, vbalProgressBar1 the
// transfer, Pic the lamp.

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "loader/control.h"
#include "loader/platform.h"

class QTimer;

namespace vantrel {

class Failure;

// The loader itself, without a screen: the port component, the two timers,
// the fields the handlers share and, as plain values, what the handlers read
// and write on the window's controls. Each click and each timer tick is one
// of its methods. A face gives it the operator's input as it is made (the
// controls' setters) and shows what it announces. Controls and fields are
// public by design: the handlers of every subsystem work on them directly,
// as the tests do.
class Loader : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxLines = 9000;

    explicit Loader(Platform platform, QObject* parent = nullptr);
    ~Loader() override;

    // --- Controls (their values) ------------------------------------------
    Control* Label2 = nullptr;
    std::array<Control*, 1> txt{};
    Control* BTNOpenCom = nullptr;
    Control* BTNCloseCom = nullptr;
    Control* Command1 = nullptr;
    Control* Command2 = nullptr;
    Control* Command3 = nullptr;
    Control* Command4 = nullptr;
    Control* Command5 = nullptr;
    Control* Command6 = nullptr;
    Control* Text1 = nullptr;
    Control* Text2 = nullptr;
    Control* Text8 = nullptr;
    Control* Check1 = nullptr;
    Control* Option1 = nullptr;
    Control* Option2 = nullptr;
    Control* Option3 = nullptr;
    Control* Option4 = nullptr;
    Control* Pic = nullptr;
    Control* vbalProgressBar1 = nullptr;
    QTimer* Timer3 = nullptr;
    QTimer* TMRComm = nullptr;
    SerialComponent* MSComm1 = nullptr;
    FileDialog* CommonDialog1 = nullptr;

    // Every control above, in the order of the window's design.
    const std::vector<Control*>& controls() const { return controlList_; }
    // The control of that name ("txt(0)", "Label2", ...); null when none.
    Control* control(const QString& name) const;

    // Tags of the timers (only emptiness matters, as for the controls).
    QString Timer3Tag;
    QString TMRCommTag;

    // --- Window fields --------------------------------------------------
    qint16 PortNumber = 0;
    qint16 UsbScan = 0;
    qint16 ProbeCount = 0;
    qint16 AddressSearch = 0;
    qint16 TransferArmed = 0;
    qint16 TransferActive = 0;
    qint16 VerifyPhase = 0;
    QByteArray HexLineBuffer;
    std::array<QByteArray, kMaxLines + 1> HexLines{};
    qint16 LineCount = 0;
    qint16 LineIndex = 0;
    int ByteCount = 0;
    QByteArray RxLine;
    QByteArray RxFrame;
    QByteArray RxCrc;
    QByteArray CalcCrc;
    qint16 BlinkTicks = 0;
    // Plain mode: the start of a reply whose line end has not arrived yet.
    QByteArray RxHeld;
    // Receive ticks in a row that found the line quiet (Modbus: silence ends a frame).
    qint16 RxQuietTicks = 0;
    // Characters were read between two ticks, so the line was not quiet.
    bool RxHeard = false;
    // The receiver already said the port was lost since it last opened.
    bool PortLostSaid = false;
    // A receive step is running: an event that comes in the middle of it (a
    // handler that turns the event loop) leaves the bytes to the next one.
    bool RxBusy = false;

    // The line the line sender wrote last, while its answer may still come;
    // 0 when none is. LineIndex falls back to 0 after the last line, so it
    // cannot tell which record a "DOWNLOAD" answers.
    qint16 LineInFlight = 0;
    // This pass wrote its end-of-file record and the board has not yet
    // answered it "DOWNLOAD": only then does a "DOWNLOAD" end the pass. With
    // two lines in flight (a "VER=" during a transfer sends a line too) the
    // record need not be the line written last.
    bool EndOfFileOutstanding = false;
    // Plain mode: the last reply handed on ended in CR, so an LF that comes
    // next is that reply's line end, not a reply of its own.
    bool RxEndedInCr = false;
    // Characters that came since the last reply with a word and made no
    // reply but look like a damaged one; announced when the line falls quiet.
    QByteArray RxDamaged;

    // A line of the file as the line sender wrote it.
    struct SentLine {
        bool verify = false;
        int line = 0;       // 1-based
        int lineCount = 0;  // of the file
        QByteArray record;  // as loaded
    };
    // The line in flight, as it was written; none when no line waits.
    std::optional<SentLine> lineInFlight() const;
    // The line in flight when the reply being interpreted was accepted: the
    // line it answers, even once the interpreter has sent the next one.
    std::optional<SentLine> LineAnswered;

    // --- Shared helpers ---------------------------------------------------
    void SwitchTags();
    qint16 Decode(const QByteArray& colums) const;
    qint16 Decode2(const QByteArray& colums) const;

    // --- Connection -----------------------------------------------------
    void BTNOpenCom_Click();
    void BTNCloseCom_Click();
    void OPEN_PORT();
    void Form_Unload(qint16& Cancel);
    void Timer3_Timer();

    // --- Link -----------------------------------------------------------
    qint16 WriteCOM32(QByteArray& COMString);
    QByteArray CRC16(const QByteArray& sString) const;
    void TMRComm_Timer();
    // The port component's receive event: the receive step at once, without
    // waiting for the next tick. The window polls and never connects it; a
    // tool that wants replies at the speed of the wire does.
    void MSComm1_OnComm();
    void Com_Parser();

    // --- Transfer -------------------------------------------------------
    void Command5_Click();
    void Command3_Click();
    void Command2_Click();
    void Command6_Click();

    // --- Service --------------------------------------------------------
    void Command4_Click();
    void Command1_Click();

    // --- For a tool that writes a line again (the window never does) -----
    // Writes the line in flight again, byte for byte as the line sender
    // wrote it; the pass and the line to come are unchanged.
    void resendLineInFlight();
    // From now on the next line the reply interpreter would send is kept
    // back: the line in flight counts as answered, so a second reply to it
    // (a late copy after a write again) finds nothing to move on and no
    // second line goes on the wire. releaseHeldLine() sends it.
    void holdLines();
    void releaseHeldLine();
    // A line is kept back and waits for releaseHeldLine().
    bool lineHeld() const { return lineDue_; }

    // --- For a face that drives the loader without its controls ---------
    // Starts a download (verify false) or a verify pass on lines already
    // read, as Open File and Download and Verify do once their dialog has
    // chosen a file and it has been read; a failure is announced
    // (startFailed) and boxed as theirs is.
    void startPass(bool verify, const QList<QByteArray>& lines);
    // While replyInterpreted is announced: the reply being interpreted, as
    // accepted, and the line it answers.
    const QByteArray& replyText() const { return RxLine; }
    const std::optional<SentLine>& lineAnswered() const { return LineAnswered; }
    // The Modbus address a frame goes to or came from; -1 in plain mode.
    int frameAddress(const QByteArray& frame) const;
    // Replies at the speed of the wire: the receive step runs as soon as the
    // port has bytes, besides the 20 ms tick (the window only polls).
    void takeRepliesOnArrival();
    // Nothing runs: the port is closed and neither the probe's nor the
    // receive tick is running.
    bool isIdle() const;

    // The seams the loader was given (tests reach their fakes through them).
    MsgBox& messageBox() const { return *platform_.msgBox; }
    Sleeper& sleeper() const { return *platform_.sleeper; }
    FileReader& fileReader() const { return *platform_.fileReader; }

    // Runs a handler as the window's buttons do: a failure it does not guard
    // itself is announced (handlerFailed) and shown in an "Error#" box, never
    // let loose in the event loop.
    void invokeGuarded(void (Loader::*handler)());

    // What the reply interpreter made of a reply: the word that decided, and
    // for "DOWNLOAD" whether it began the verify pass, ended the transfer, or
    // was passed over because the line in flight is no end-of-file record.
    enum class ReplyOutcome { Version, Error, Verify, End, StrayDownload, Format, Ok, NoWord };
    Q_ENUM(ReplyOutcome)

    // Called by a control whose value changed.
    void announceChange(const Control& control, Control::Property what);

  signals:
    // The loader says what happens at the moment it happens, so that a face
    // never has to poll it. Every signal is emitted from within the handler,
    // synchronously.

    // A value of a control changed (a handler's doing or a face's input).
    void controlChanged(const vantrel::Control& control, vantrel::Control::Property what);
    // A command left through the frame writer: its text, and the frame as it
    // went on the line (the same bytes in plain mode).
    void commandWritten(const QByteArray& command, const QByteArray& frame);
    // The line sender wrote line `line` of `lineCount` (`record` as loaded),
    // in the verify form when `verify`.
    void lineSent(bool verify, int line, int lineCount, const QByteArray& record);
    // The receiver accepted a reply and hands it to the reply interpreter;
    // `address` is the Modbus address it came from, -1 in plain mode.
    void replyAccepted(const QByteArray& reply, int address);
    // The reply interpreter acted on the reply just accepted (after its
    // actions, the next line it sent included).
    void replyInterpreted(vantrel::Loader::ReplyOutcome outcome);
    // An attempt to open the port failed (Open, or the USB scan's quiet open).
    void openFailed(int number, const QString& description);
    // The probe gave up: no version reply, or the USB port never appeared.
    void probeGaveUp();
    // A download or verify start failed (the file, or its first line).
    void startFailed(int number, const QString& description);
    // Characters arrived and, by the time the line fell quiet, made no
    // reply: a Modbus frame that never checked (noise, a cut or damaged
    // reply), or plain lines that hold no reply word but look like a damaged
    // one. `characters` are what came. A clean line without a word, or a
    // whole frame from another address, is no damage.
    void replyDamaged(const QByteArray& characters);
    // The port closed under the receiver (the device went away).
    void portLost();
    // A handler run through invokeGuarded failed without guarding itself.
    void handlerFailed(int number, const QString& description);

  private:
    Control* makeControl(const char* name, const char* text = "");
    void setPortBoxColor(bool open);
    // The receive step of a tick: true when characters were waiting.
    bool receiveStep();
    void plainCharactersArrived();
    void modbusCharactersArrived();
    void lineWasQuiet();
    // Hands RxLine to the reply interpreter.
    void handOnReply();
    // Keeps a plain reply without a word that looks damaged for the silence
    // to announce; a reply with a word forgets what was kept.
    void noteDamage();
    // Closes a port that the USB scan opened but did not take over.
    void closeScanPort();
    // Opens the port the port box names, lights the lamp and colours the box;
    // a failure is raised to the caller.
    void openPortNamedInBox();
    void showConnectionMessage(const QString& suffix);
    void startTransfer(bool verify);
    // The start of a pass before its lines are read, and the pass on them.
    void armPass(bool verify);
    void runPass(bool verify, const QList<QByteArray>& lines);
    void refuseStart(const Failure& failure);
    char deviceAddressChar() const;
    void writeCommand(const QByteArray& command);

    Platform platform_;
    bool linesHeld_ = false;  // holdLines() until releaseHeldLine()
    bool lineDue_ = false;    // the line sender was asked for a line while held
    SentLine sentLast_;       // the line sender's last line, as written
    std::vector<std::unique_ptr<Control>> ownedControls_;
    std::vector<Control*> controlList_;
    std::vector<Control*> speedGroup_;
};

}  // namespace vantrel
