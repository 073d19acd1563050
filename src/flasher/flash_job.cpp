#include "flasher/flash_job.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "common/failure.h"
#include "connection/port_naming.h"
#include "flasher/open_hints.h"
#include "link/numeric_text.h"
#include "transfer/hex_file.h"
#include "window/frm_serial.h"
#include "window/progress_bar.h"

namespace vantrel::flasher {
namespace {

// The window's message boxes go to the flasher instead of the screen.
class ReportingMsgBox final : public MsgBox {
  public:
    explicit ReportingMsgBox(std::function<void(const QString&, const QString&)> report) : report_(std::move(report)) {}
    void show(const QString& text, const QString& title, Icon) override { report_(text, title); }

  private:
    std::function<void(const QString&, const QString&)> report_;
};

// The file dialog "chooses" the file of the command line.
class FixedFileDialog final : public FileDialog {
  public:
    explicit FixedFileDialog(QString path) : path_(std::move(path)) {}
    void setFilter(const QString&) override {}
    void showOpen() override {}
    QString fileName() const override { return path_; }
    bool cancelled() const override { return false; }

  private:
    QString path_;
};

QString seconds(int ms) {
    return QString::number(ms / 1000.0, 'g', 6) + QStringLiteral(" s");
}

// A reply or command as text for a message: without its line end.
QString shown(const QByteArray& bytes) {
    return QString::fromLatin1(bytes).trimmed();
}

}  // namespace

FlashJob::FlashJob(Setup setup, Console& console, QObject* parent)
    : QObject(parent),
      options_(std::move(setup.options)),
      portBoxText_(std::move(setup.portBoxText)),
      portLabel_(std::move(setup.portLabel)),
      console_(console) {
    auto watched = std::make_unique<WatchedPort>(std::move(setup.port));
    port_ = watched.get();
    port_->onWrite = [this](const QByteArray& bytes) { onWrite(bytes); };

    Platform platform;
    platform.port = std::move(watched);
    platform.msgBox = std::make_unique<ReportingMsgBox>(
        [this](const QString& text, const QString& title) { onWindowMessage(text, title); });
    platform.fileDialog = std::make_unique<FixedFileDialog>(
        options_.file.isEmpty() ? QString() : QFileInfo(options_.file).absoluteFilePath());
    platform.sleeper = setup.sleeper ? std::move(setup.sleeper) : makeThreadSleeper();
    window_ = std::make_unique<frmSerial>(std::move(platform));

    // Connected after the window's own handler, so this runs once the tick
    // (and whatever the reply made the window do) is over.
    connect(window_->TMRComm, &QTimer::timeout, this, &FlashJob::afterReceiveTick);
    // Only writes made by a receive tick answer a reply; the probe's asks do not.
    connect(window_->Timer3, &QTimer::timeout, this, [this] { writesThisTick_ = 0; });

    deadline_.setSingleShot(true);
    deadline_.setInterval(options_.timeoutMs);
    connect(&deadline_, &QTimer::timeout, this, &FlashJob::onDeadline);
}

FlashJob::~FlashJob() {
    port_->onWrite = nullptr;
}

void FlashJob::start() {
    if (options_.action == Action::DownloadVerify || options_.action == Action::VerifyOnly) {
        // Read before the board is touched: a missing file should not cost a
        // probe. The window reads it again itself, with the same reader.
        try {
            fileLines_ = static_cast<int>(readHexFile(options_.file, frmSerial::kMaxLines).size());
        } catch (const Failure& f) {
            finishLater(ExitCode::FileUnreadable,
                        QStringLiteral("cannot read %1: %2").arg(options_.file, f.description()));
            return;
        }
        if (fileLines_ == 0) {
            finishLater(ExitCode::FileUnreadable, QStringLiteral("%1 holds no lines").arg(options_.file));
            return;
        }
    }
    configureWindow();
    open();
}

void FlashJob::configureWindow() {
    frmSerial& w = *window_;
    w.txt[0]->setText(portBoxText_);
    switch (options_.speed) {
        case Speed::B9600:
            w.Option1->setChecked(true);
            break;
        case Speed::B19200:
            w.Option2->setChecked(true);
            break;
        case Speed::B115200:
            w.Option3->setChecked(true);
            break;
        case Speed::Usb:
            w.Option4->setChecked(true);
            break;
    }
    w.Check1->setChecked(options_.modbus);
    // An empty address box makes the probe search; plain mode keeps the
    // window's own start value.
    if (options_.modbus) w.Text1->setText(options_.modbusSearch ? QString() : QString::number(options_.modbusAddress));
}

void FlashJob::open() {
    step_ = Step::Opening;
    QString how = QStringLiteral("%1 bit/s").arg(bitsPerSecond(options_.speed));
    if (options_.speed == Speed::Usb) how = QStringLiteral("USB");
    if (options_.modbus)
        how += options_.modbusSearch ? QStringLiteral(", Modbus address search")
                                     : QStringLiteral(", Modbus address %1").arg(options_.modbusAddress);
    QString where = portText();
    if (!options_.portIsDevice) {
        try {
            where = describePort(toInt16Strict(QStringView(portBoxText_).mid(3)));
        } catch (const Failure&) {
            // The window will say what is wrong with the text.
        }
    }
    console_.info(QStringLiteral("opening %1 (%2)").arg(where, how));

    invoke(&frmSerial::BTNOpenCom_Click);
    if (finished_) return;
    if (options_.speed == Speed::Usb) {
        console_.info(QStringLiteral("waiting for the board's USB port to appear: power the board now"));
    } else {
        if (!port_->portOpen()) {
            finishLater(ExitCode::PortNotOpened, openFailureText());
            return;
        }
        console_.info(QStringLiteral("asking the bootloader for its version"));
    }
    step_ = Step::Probing;
}

void FlashJob::boardFound() {
    const frmSerial& w = *window_;
    QString where;
    if (options_.modbus) where = QStringLiteral(" at Modbus address %1").arg(w.Text1->text());
    console_.info(QStringLiteral("board found%1: %2").arg(where, w.Text8->text().trimmed()));
    step_ = Step::Opening;
    // As a click after the tick, not inside it.
    QTimer::singleShot(0, this, &FlashJob::runAction);
}

void FlashJob::runAction() {
    if (finished_) return;
    switch (options_.action) {
        case Action::DownloadVerify:
        case Action::VerifyOnly:
            startTransfer();
            return;
        case Action::InstallOnly:
            install();
            return;
        case Action::QueryVersion:
            queryVersion();
            return;
        case Action::SetAddress:
            setAddress();
            return;
        case Action::List:
            break;
    }
    finish(ExitCode::Internal, QStringLiteral("nothing to do"));
}

void FlashJob::startTransfer() {
    const bool verifyOnly = options_.action == Action::VerifyOnly;
    console_.info(QStringLiteral("%1 %2: %3 lines")
                      .arg(verifyOnly ? QStringLiteral("verifying against") : QStringLiteral("downloading"),
                           QFileInfo(options_.file).fileName())
                      .arg(fileLines_));
    step_ = Step::Transfer;
    transferStart_.start();
    console_.beginTransfer(fileLines_, verifyOnly ? 1 : 2);
    armDeadline();
    const int boxes = boxes_;
    invoke(verifyOnly ? &frmSerial::Command2_Click : &frmSerial::Command3_Click);
    if (finished_) return;
    if (boxes_ != boxes)
        finishLater(ExitCode::FileUnreadable,
                    QStringLiteral("the window could not load %1: %2").arg(options_.file, lastBox_));
}

void FlashJob::install() {
    step_ = Step::Installing;
    console_.info(QStringLiteral("installing: BOOTg, then VER a second later"));
    armDeadline();
    invoke(&frmSerial::Command6_Click);
}

void FlashJob::queryVersion() {
    step_ = Step::Querying;
    armDeadline();
    invoke(&frmSerial::Command4_Click);
}

void FlashJob::setAddress() {
    step_ = Step::SettingAddress;
    window_->Text2->setText(QString::number(options_.newAddress));
    console_.info(QStringLiteral("giving the board at address %1 the new address %2")
                      .arg(options_.modbusAddress)
                      .arg(options_.newAddress));
    armDeadline();
    invoke(&frmSerial::Command1_Click);
}

void FlashJob::afterReceiveTick() {
    const int writes = writesThisTick_;
    writesThisTick_ = 0;
    if (finished_) return;
    if (!port_->portOpen()) {
        // The component closes the port when the line hangs up.
        const QString where = step_ == Step::Transfer && inFlight_
                                  ? QStringLiteral(" while waiting for the reply to ") + describe(*inFlight_)
                                  : QString();
        finish(ExitCode::ConnectionLost,
               QStringLiteral("%1 went away%2 (unplugged or powered off?)").arg(portText(), where));
        return;
    }
    // Whether the tick handed a reply to the reply interpreter: in plain mode
    // any bytes are a reply; in Modbus mode a frame whose CRC checked.
    const frmSerial& w = *window_;
    const bool parsed = w.Check1->isChecked() ? (!w.RxCrc.isEmpty() && w.RxCrc == w.CalcCrc) : !w.RxLine.isEmpty();
    if (!parsed) return;
    if (step_ == Step::Transfer && inFlight_) {
        // A reply that made the window send the next line answered the line
        // before it.
        lastAnswered_ = writes > 0 ? previousInFlight_ : inFlight_;
    }
    onReply(w.RxLine);
}

void FlashJob::onReply(const QByteArray& reply) {
    switch (step_) {
        case Step::Probing:
            if (reply.contains("VER=")) boardFound();
            return;
        case Step::Transfer:
            onTransferReply();
            return;
        case Step::Installing:
            if (reply.contains("VER="))
                finish(ExitCode::Success, QStringLiteral("installed; the application answers %1").arg(shown(reply)));
            return;
        case Step::Querying:
            if (reply.contains("VER=")) {
                console_.result(shown(reply));
                finish(ExitCode::Success, QStringLiteral("version read"));
            }
            return;
        case Step::SettingAddress:
            // A late answer to one of the probe's asks is not the answer.
            if (reply.contains("VER=")) return;
            if (reply.contains("ERROR"))
                finish(ExitCode::BoardError,
                       QStringLiteral("the board answered %1 to %2").arg(shown(reply), lastCommand_));
            else if (reply.contains("FORMAT"))
                finish(ExitCode::BoardFormat,
                       QStringLiteral("the board refused %1: %2").arg(lastCommand_, shown(reply)));
            else
                finish(ExitCode::Success, QStringLiteral("address set: the board answered %1; it answers at "
                                                         "address %2 from now on")
                                              .arg(shown(reply))
                                              .arg(options_.newAddress));
            return;
        case Step::Starting:
        case Step::Opening:
        case Step::Done:
            return;
    }
}

void FlashJob::onTransferReply() {
    // The progress bar says what the reply interpreter made of the reply.
    const QString bar = window_->vbalProgressBar1->text();
    const QString answered = lastAnswered_ ? describe(*lastAnswered_) : QStringLiteral("a line");
    if (bar == QStringLiteral("ERROR")) {
        finish(ExitCode::BoardError, QStringLiteral("the board answered ERROR to %1").arg(answered));
    } else if (bar.isEmpty()) {
        finish(ExitCode::BoardFormat,
               QStringLiteral("the board answered FORMAT to %1: it refused the record").arg(answered));
    } else if (bar == QStringLiteral("END")) {
        const QString took = seconds(static_cast<int>(transferStart_.elapsed()));
        const QString file = QFileInfo(options_.file).fileName();
        const QString what =
            options_.action == Action::VerifyOnly
                ? QStringLiteral("END: the board holds %1 (%2 lines verified in %3)")
                      .arg(file)
                      .arg(fileLines_)
                      .arg(took)
                : QStringLiteral("END: %1 downloaded and verified (%2 lines, %3)").arg(file).arg(fileLines_).arg(took);
        if (!options_.installAfter) {
            finish(ExitCode::Success, what);
            return;
        }
        console_.endTransfer();
        console_.info(what);
        // As a click after the tick, not inside it.
        step_ = Step::Opening;
        QTimer::singleShot(0, this, [this] {
            if (!finished_) install();
        });
    }
}

void FlashJob::onWrite(const QByteArray& bytes) {
    ++writesThisTick_;
    if (deadlineArmed_) deadline_.start();
    const frmSerial& w = *window_;
    if (step_ == Step::Transfer && w.LineIndex >= 1 && w.LineIndex <= frmSerial::kMaxLines) {
        // The line sender counts the line before it writes it.
        LineOnWire l;
        l.pass = w.VerifyPhase == 1 ? Pass::Verify : Pass::Download;
        l.line = w.LineIndex;
        l.total = w.LineCount;
        l.record = w.HexLines[static_cast<std::size_t>(w.LineIndex)];
        previousInFlight_ = inFlight_;
        inFlight_ = l;
        console_.lineSent(l.pass, l.line, l.total);
        return;
    }
    QByteArray payload = bytes;
    if (w.Check1->isChecked() && payload.size() >= 3) payload = payload.mid(1, payload.size() - 3);
    lastCommand_ = shown(payload);
}

void FlashJob::onWindowMessage(const QString& text, const QString& title) {
    ++boxes_;
    lastBox_ = text;
    console_.error(QStringLiteral("%1: %2").arg(title, text));
    if (finished_) return;
    if (step_ == Step::Probing) {
        finishLater(ExitCode::NoBoard, noBoardText());
    } else if (!insideInvoke_) {
        finishLater(ExitCode::Internal, QStringLiteral("unexpected message from the window: ") + text);
    }
    // Inside a click the caller looks at the outcome itself.
}

void FlashJob::onDeadline() {
    if (finished_) return;
    finish(ExitCode::NoReply, noReplyText());
}

void FlashJob::invoke(void (frmSerial::*handler)()) {
    insideInvoke_ = true;
    try {
        (window_.get()->*handler)();
    } catch (const Failure& f) {
        window_->messageBox().show(f.description(), QStringLiteral("Error#%1").arg(f.number()), MsgBox::Icon::Stop);
    }
    insideInvoke_ = false;
    // What a click wrote was not sent on a reply.
    writesThisTick_ = 0;
}

void FlashJob::armDeadline() {
    deadlineArmed_ = true;
    deadline_.start();
}

QString FlashJob::portText() const {
    return options_.port;
}

QString FlashJob::devicePath() const {
    if (options_.portIsDevice) return options_.port;
    return deviceForPort(port_->commPort());
}

QString FlashJob::openFailureText() const {
    const auto& failure = port_->lastOpenFailure();
    QString text = QStringLiteral("cannot open %1: %2")
                       .arg(portText(), failure ? failure->description : QStringLiteral("the port did not open"));
    const QString hint = openFailureHint(failure ? failure->number : 0, inspectDevice(devicePath()));
    if (!hint.isEmpty()) text += QStringLiteral("\n  hint: ") + hint;
    return text;
}

QString FlashJob::noBoardText() const {
    if (options_.speed == Speed::Usb) {
        const auto& failure = port_->lastOpenFailure();
        return QStringLiteral("no board: the USB port %1 did not appear%2")
            .arg(portText(), failure ? QStringLiteral(" (last attempt: %1)").arg(failure->description) : QString());
    }
    if (options_.modbusSearch)
        return QStringLiteral("no board answered on %1 at any Modbus address from 1 to 127").arg(portText());
    if (options_.modbus)
        return QStringLiteral("no board answered on %1 at Modbus address %2")
            .arg(portText())
            .arg(options_.modbusAddress);
    return QStringLiteral(
               "no bootloader answered on %1 at %2 bit/s; check the speed, the cable and that the board "
               "runs its bootloader")
        .arg(portText())
        .arg(bitsPerSecond(options_.speed));
}

QString FlashJob::noReplyText() const {
    const QString within = seconds(options_.timeoutMs);
    if (step_ != Step::Transfer)
        return QStringLiteral("no reply within %1 to %2")
            .arg(within, lastCommand_.isEmpty() ? QStringLiteral("the command") : lastCommand_);
    if (!inFlight_) return QStringLiteral("no line was sent within %1").arg(within);
    QString text = QStringLiteral("no reply within %1 to %2").arg(within, describe(*inFlight_));
    if (lastAnswered_)
        text +=
            QStringLiteral("; last answered: %1 line %2").arg(passName(lastAnswered_->pass)).arg(lastAnswered_->line);
    else
        text += QStringLiteral("; no line was answered");
    return text;
}

QString FlashJob::describe(const LineOnWire& l) {
    return QStringLiteral("%1 line %2 of %3 (%4)")
        .arg(passName(l.pass))
        .arg(l.line)
        .arg(l.total)
        .arg(QString::fromLatin1(l.record));
}

void FlashJob::finish(ExitCode code, const QString& message) {
    if (finished_) return;
    finished_ = true;
    code_ = code;
    message_ = message;
    step_ = Step::Done;
    deadline_.stop();
    deadlineArmed_ = false;
    console_.endTransfer();
    if (code == ExitCode::Success)
        console_.info(message);
    else
        console_.error(QStringLiteral("vantrel-flash: ") + message);
    // Close as the operator would; a port that never opened needs nothing.
    if (window_->MSComm1->portOpen() || window_->Timer3->isActive() || window_->TMRComm->isActive())
        invoke(&frmSerial::BTNCloseCom_Click);
    QMetaObject::invokeMethod(
        this, [this] { emit finished(toInt(code_)); }, Qt::QueuedConnection);
}

void FlashJob::finishLater(ExitCode code, const QString& message) {
    QTimer::singleShot(0, this, [this, code, message] { finish(code, message); });
}

}  // namespace vantrel::flasher
