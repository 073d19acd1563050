#include "flasher/flash_job.h"

#include <algorithm>

#include <QFileInfo>

#include "common/failure.h"
#include "connection/ports/open_hints.h"
#include "link/numeric_text.h"
#include "link/reply_words.h"
#include "transfer/hex_file.h"

namespace vantrel::flasher {
namespace {

// The loader's message boxes go to the flasher instead of a screen.
class ReportingMsgBox final : public MsgBox {
  public:
    explicit ReportingMsgBox(std::function<void(const QString&, const QString&)> report) : report_(std::move(report)) {}
    void show(const QString& text, const QString& title, Icon) override { report_(text, title); }

  private:
    std::function<void(const QString&, const QString&)> report_;
};

// No file is chosen through a dialog: a pass starts on the run's lines
// (Loader::startPass).
class NoFileDialog final : public FileDialog {
  public:
    void setFilter(const QString&) override {}
    void showOpen() override {}
    QString fileName() const override { return QString(); }
    bool cancelled() const override { return true; }
};

// After a write again for a damaged reply, the line must stay quiet for
// the slowest reply seen so far and this much more (a silence that ends a
// reply, five receive ticks) before the next line goes.
constexpr qint64 kDamagedQuietMs = 100;

// Characters that made no reply, for a message: printable ones as they
// are, line ends as \r and \n, the others as \xHH; at most 40 shown.
QString quotedBytes(const QByteArray& bytes) {
    QString out = QStringLiteral("\"");
    for (qsizetype i = 0; i < std::min<qsizetype>(bytes.size(), 40); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
            out += QChar(c);
        else if (c == '\r')
            out += QStringLiteral("\\r");
        else if (c == '\n')
            out += QStringLiteral("\\n");
        else
            out += QString::asprintf("\\x%02X", c);
    }
    if (bytes.size() > 40) out += QStringLiteral("...");
    return out + QStringLiteral("\"");
}

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
      target_(setup.target ? *setup.target : firstTarget(options_)),
      action_(setup.action.value_or(options_.action)),
      file_(std::move(setup.file)),
      portBoxText_(std::move(setup.portBoxText)),
      portLabel_(std::move(setup.portLabel)),
      resolver_(std::move(setup.resolver)),
      console_(console),
      speed_(options_.autoSpeed ? kAutoSpeeds[0] : options_.speed) {
    Platform platform;
    platform.port = std::move(setup.port);
    platform.msgBox = std::make_unique<ReportingMsgBox>(
        [this](const QString& text, const QString& title) { onLoaderMessage(text, title); });
    platform.fileDialog = std::make_unique<NoFileDialog>();
    platform.sleeper = setup.sleeper ? std::move(setup.sleeper) : makeThreadSleeper();
    loader_ = std::make_unique<Loader>(std::move(platform));

    Loader* w = loader_.get();
    connect(w, &Loader::commandWritten, this, &FlashJob::onCommandWritten);
    connect(w, &Loader::lineSent, this, &FlashJob::onLineSent);
    connect(w, &Loader::replyAccepted, this, &FlashJob::onReplyAccepted);
    connect(w, &Loader::replyInterpreted, this, &FlashJob::onReplyInterpreted);
    connect(w, &Loader::openFailed, this, &FlashJob::onOpenFailed);
    connect(w, &Loader::probeGaveUp, this, &FlashJob::onProbeGaveUp);
    connect(w, &Loader::startFailed, this, &FlashJob::onStartFailed);
    connect(w, &Loader::replyDamaged, this, &FlashJob::onReplyDamaged);
    connect(w, &Loader::portLost, this, &FlashJob::onPortLost);
    connect(w, &Loader::handlerFailed, this, &FlashJob::onHandlerFailed);

    // Replies at the speed of the wire: the receive step runs as soon as the
    // port has bytes, besides the 20 ms tick, which keeps the lamp's time and
    // ends replies that come without a line end.
    if (options_.fast) w->takeRepliesOnArrival();

    settle_.setSingleShot(true);
    settle_.setTimerType(Qt::PreciseTimer);
    connect(&settle_, &QTimer::timeout, this, &FlashJob::runActionOnceSettled);

    // How long the line must stay quiet after a write again is set by
    // each retry (retryLine).
    quiet_.setSingleShot(true);
    quiet_.setTimerType(Qt::PreciseTimer);
    connect(&quiet_, &QTimer::timeout, this, &FlashJob::onQuiet);

    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    deadline_.setInterval(options_.timeoutMs);
    connect(&deadline_, &QTimer::timeout, this, &FlashJob::onDeadline);
}

FlashJob::~FlashJob() = default;

void FlashJob::start() {
    started_ = QDateTime::currentDateTimeUtc();
    elapsed_.start();
    if ((action_ == Action::DownloadVerify || action_ == Action::VerifyOnly) && !file_) {
        // Read before the board is touched: a missing file should not cost a
        // probe. The loader is handed the same lines.
        QString why;
        file_ = readHexImage(options_.file, Loader::kMaxLines, &why,
                             options_.checkFile ? HexImageCheck::Records : HexImageCheck::None);
        if (!file_) {
            finishLater(ExitCode::FileUnreadable, why);
            return;
        }
    }
    configureLoader();
    open();
}

void FlashJob::configureLoader() {
    Loader& w = *loader_;
    w.txt[0]->setText(portBoxText_);
    switch (speed_) {
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
    // loader's own start value.
    if (options_.modbus) w.Text1->setText(searching() ? QString() : QString::number(target_.address));
}

void FlashJob::open() {
    step_ = Step::Opening;
    QString how = QStringLiteral("%1 bit/s").arg(bitsPerSecond(speed_));
    if (speed_ == Speed::Usb) how = QStringLiteral("USB");
    if (options_.autoSpeed)
        how += QStringLiteral(", speed %1 of %2 to try").arg(speedIndex_ + 1).arg(std::size(kAutoSpeeds));
    if (action_ == Action::Search)
        how += QStringLiteral(", searching Modbus addresses 1 to 127");
    else if (options_.modbus)
        how += searching() ? QStringLiteral(", Modbus address search")
                           : QStringLiteral(", Modbus address %1").arg(target_.address);
    QString where = portLabel_;
    try {
        if (resolver_) where = describeLocation(resolver_(portNumberOf(portBoxText_)));
    } catch (const Failure&) {
        // The loader will say what is wrong with the text.
    }
    console_.info(QStringLiteral("opening %1 (%2)").arg(where, how));

    const bool usb = speed_ == Speed::Usb;
    lastOpenFailure_.reset();
    asksAtSpeed_ = 0;
    click(&Loader::BTNOpenCom_Click);
    if (finished_) return;
    if (usb) {
        console_.info(QStringLiteral("waiting for the board's USB port to appear: power the board now"));
    } else {
        if (lastOpenFailure_) {
            finishLater(ExitCode::PortNotOpened, openFailureText());
            return;
        }
        console_.info(QStringLiteral("asking the bootloader for its version"));
    }
    step_ = Step::Probing;
}

void FlashJob::boardFound() {
    if (version_.isEmpty()) version_ = shown(reply());
    if (options_.autoSpeed && !speedAnswered_) {
        speedAnswered_ = true;
        console_.info(QStringLiteral("speed: the board answers at %1 bit/s").arg(bitsPerSecond(speed_)));
    }
    if (action_ == Action::Search) {
        if (!found_.contains(replyAddress_)) {
            found_.append(replyAddress_);
            console_.info(
                QStringLiteral("board found at Modbus address %1: %2").arg(replyAddress_).arg(shown(reply())));
        }
        // "Next", as the operator would press it once the tick is over: the
        // probe goes on at the address after this one.
        QTimer::singleShot(0, this, [this] {
            if (!finished_) click(&Loader::Command1_Click);
        });
        return;
    }
    QString where;
    if (options_.modbus) where = QStringLiteral(" at Modbus address %1").arg(replyAddress_);
    // A USB board's port exists only now: say which device it became.
    if (options_.speed == Speed::Usb && resolver_) {
        try {
            where += QStringLiteral(" on ") + describeLocation(resolver_(portNumberOf(portBoxText_)));
        } catch (const Failure&) {
        }
    }
    console_.info(QStringLiteral("board found%1: %2").arg(where, shown(reply())));
    step_ = Step::Settling;
    runActionOnceSettled();
}

void FlashJob::runActionOnceSettled() {
    if (finished_ || step_ != Step::Settling) return;
    const qint64 wait = asks_.waitMs(replyAddress_, elapsed_.elapsed());
    if (wait > 0) {
        settle_.start(static_cast<int>(wait));
        return;
    }
    settle_.stop();
    step_ = Step::Opening;
    // As a click after the tick, not inside it.
    QTimer::singleShot(0, this, &FlashJob::runAction);
}

void FlashJob::runAction() {
    if (finished_) return;
    switch (action_) {
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
        case Action::Search:
        case Action::List:
            break;
    }
    finish(ExitCode::Internal, QStringLiteral("nothing to do"));
}

void FlashJob::startTransfer() {
    const bool verifyOnly = action_ == Action::VerifyOnly;
    console_.info(QStringLiteral("%1 %2: %3 lines")
                      .arg(verifyOnly ? QStringLiteral("verifying against") : QStringLiteral("downloading"),
                           QFileInfo(options_.file).fileName())
                      .arg(fileLines()));
    step_ = Step::Transfer;
    transferStart_.start();
    console_.beginTransfer(fileLines(), verifyOnly ? 1 : 2);
    armDeadline();
    // The loader is handed the lines the run read and hashed, not the disk again.
    loader_->startPass(verifyOnly, file_->lines);
}

void FlashJob::install() {
    step_ = Step::Installing;
    console_.info(QStringLiteral("installing: BOOTg, then VER a second later"));
    armDeadline();
    click(&Loader::Command6_Click);
}

void FlashJob::queryVersion() {
    step_ = Step::Querying;
    armDeadline();
    click(&Loader::Command4_Click);
}

void FlashJob::setAddress() {
    step_ = Step::SettingAddress;
    loader_->Text2->setText(QString::number(options_.newAddress));
    console_.info(QStringLiteral("giving the board at address %1 the new address %2")
                      .arg(target_.address)
                      .arg(options_.newAddress));
    armDeadline();
    click(&Loader::Command1_Click);
}

void FlashJob::onCommandWritten(const QByteArray& command, const QByteArray& frame) {
    if (deadlineArmed_) deadline_.start();
    sinceWrite_.start();
    lastCommand_ = shown(command);
    if (step_ == Step::Probing && command == "BOOTi\r\n") {
        asks_.asked(loader_->frameAddress(frame), elapsed_.elapsed());
        // A search asks each address once and gives up by itself; otherwise
        // each speed has its number of asks, and the one after them is the
        // sign to move on.
        const bool search = searching() || action_ == Action::Search;
        if (options_.autoSpeed && !search && ++asksAtSpeed_ > kAutoSpeedAsks) {
            if (speedsLeft())
                QTimer::singleShot(0, this, &FlashJob::tryNextSpeed);
            else
                finishLater(ExitCode::NoBoard, noBoardText());
        }
    }
}

void FlashJob::onLineSent(bool verify, int line, int lineCount, const QByteArray& record) {
    if (step_ != Step::Transfer) return;
    if (retryLine_ != std::pair{verify, line}) {
        retryLine_ = {verify, line};
        lineRetries_ = 0;
    }
    // The board answers "DOWNLOAD" to the end-of-file record; a file that
    // ends without one would be sent round again on the "OK" to its last
    // line, so that line's answer is waited for before anything is sent.
    if (line == lineCount && !isEndOfFileRecord(record)) loader_->holdLines();
    console_.lineSent(verify ? Pass::Verify : Pass::Download, line, lineCount);
}

void FlashJob::onReplyAccepted(const QByteArray& reply, int address) {
    replyAddress_ = address;
    if (sinceWrite_.isValid() && holdsReplyWord(reply))
        slowestReplyMs_ = std::max(slowestReplyMs_, sinceWrite_.elapsed());
    // The line was not quiet: a late copy may still be on its way.
    if (quiet_.isActive()) quiet_.start();
}

void FlashJob::onReplyInterpreted(Loader::ReplyOutcome outcome) {
    using Outcome = Loader::ReplyOutcome;
    if (finished_) return;
    lastWordless_ = outcome == Outcome::NoWord ? reply() : QByteArray();
    switch (step_) {
        case Step::Probing:
            if (outcome == Outcome::Version) {
                asks_.answered(replyAddress_, elapsed_.elapsed());
                boardFound();
            }
            return;
        case Step::Settling:
            // A later answer to one of the probe's asks.
            if (outcome == Outcome::Version) {
                asks_.answered(replyAddress_, elapsed_.elapsed());
                runActionOnceSettled();
            }
            return;
        case Step::Transfer:
            // A stray "DOWNLOAD" answers nothing: the line in flight still waits.
            if (outcome != Outcome::NoWord && outcome != Outcome::StrayDownload && loader_->lineAnswered())
                lastAnswered_ = loader_->lineAnswered();
            if (loader_->lineHeld() && (outcome == Outcome::Ok || outcome == Outcome::Verify)) {
                if (retryHold_) {
                    // Answered after a write again: wait out a second reply.
                    deadline_.stop();
                    quiet_.start();
                    return;
                }
                if (passEndedWithoutEndOfFile()) {
                    finish(ExitCode::NoEndOfFile, noEndOfFileText());
                    return;
                }
            }
            onTransferReply(outcome);
            return;
        case Step::Installing:
            if (outcome == Outcome::Version)
                finish(ExitCode::Success, QStringLiteral("installed; the application answers %1").arg(shown(reply())));
            return;
        case Step::Querying:
            if (outcome == Outcome::Version) {
                console_.result(shown(reply()));
                finish(ExitCode::Success, QStringLiteral("version read"));
            }
            return;
        case Step::SettingAddress:
            onAddressReply(outcome);
            return;
        case Step::Starting:
        case Step::Opening:
        case Step::Done:
            return;
    }
}

void FlashJob::onTransferReply(Loader::ReplyOutcome outcome) {
    using Outcome = Loader::ReplyOutcome;
    const QString answered = lastAnswered_ ? describe(*lastAnswered_) : QStringLiteral("a line");
    switch (outcome) {
        case Outcome::Error:
            finish(ExitCode::BoardError, QStringLiteral("the board answered ERROR to %1").arg(answered));
            return;
        case Outcome::Format:
            finish(ExitCode::BoardFormat,
                   QStringLiteral("the board answered FORMAT to %1: it refused the record").arg(answered));
            return;
        case Outcome::End:
            break;
        default:
            return;
    }
    const QString took = seconds(static_cast<int>(transferStart_.elapsed()));
    const QString file = QFileInfo(options_.file).fileName();
    const QString what =
        action_ == Action::VerifyOnly
            ? QStringLiteral("END: the board holds %1 (%2 lines verified in %3)").arg(file).arg(fileLines()).arg(took)
            : QStringLiteral("END: %1 downloaded and verified (%2 lines, %3)").arg(file).arg(fileLines()).arg(took);
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

void FlashJob::onAddressReply(Loader::ReplyOutcome outcome) {
    using Outcome = Loader::ReplyOutcome;
    switch (outcome) {
        case Outcome::Version:
            // A late answer to one of the probe's asks is not the answer.
            return;
        case Outcome::Error:
            finish(ExitCode::BoardError,
                   QStringLiteral("the board answered %1 to %2").arg(shown(reply()), lastCommand_));
            return;
        case Outcome::Format:
            finish(ExitCode::BoardFormat, QStringLiteral("the board refused %1: %2").arg(lastCommand_, shown(reply())));
            return;
        default:
            finish(ExitCode::Success, QStringLiteral("address set: the board answered %1; it answers at "
                                                     "address %2 from now on")
                                          .arg(shown(reply()))
                                          .arg(options_.newAddress));
            return;
    }
}

void FlashJob::onOpenFailed(int number, const QString& description) {
    lastOpenFailure_ = OpenFailure{number, description};
}

void FlashJob::onProbeGaveUp() {
    if (finished_ || step_ != Step::Probing) return;
    if (options_.autoSpeed && speedsLeft() && found_.isEmpty()) {
        QTimer::singleShot(0, this, &FlashJob::tryNextSpeed);
        return;
    }
    if (action_ == Action::Search && !found_.isEmpty()) {
        QStringList addresses;
        for (int a : found_) addresses << QString::number(a);
        finishLater(ExitCode::Success, QStringLiteral("%1 board%2 answered on %3, at Modbus address%4 %5")
                                           .arg(found_.size())
                                           .arg(found_.size() == 1 ? QString() : QStringLiteral("s"))
                                           .arg(portLabel_)
                                           .arg(found_.size() == 1 ? QString() : QStringLiteral("es"))
                                           .arg(addresses.join(QStringLiteral(", "))));
        return;
    }
    finishLater(ExitCode::NoBoard, noBoardText());
}

void FlashJob::onStartFailed(int, const QString& description) {
    if (finished_) return;
    finishLater(ExitCode::FileUnreadable, QStringLiteral("cannot load %1: %2").arg(options_.file, description));
}

void FlashJob::onPortLost() {
    if (finished_) return;
    // The component closes the port when the line hangs up.
    const QString where = step_ == Step::Transfer && loader_->lineInFlight()
                              ? QStringLiteral(" while waiting for the reply to ") + describe(*loader_->lineInFlight())
                              : QString();
    finish(ExitCode::ConnectionLost,
           QStringLiteral("%1 went away%2 (unplugged or powered off?)").arg(portLabel_, where));
}

void FlashJob::onReplyDamaged(const QByteArray& characters) {
    if (finished_ || step_ != Step::Transfer) return;
    // Characters came for the line in flight and no reply came of them: the
    // board's answer was damaged on the way. Waiting out the reply bound
    // would gain nothing.
    if (lineRetries_ < options_.retries && loader_->lineInFlight()) retryLine(characters);
}

void FlashJob::onHandlerFailed(int number, const QString& description) {
    if (finished_) return;
    finishLater(ExitCode::Internal,
                QStringLiteral("unexpected failure in the loader: Error#%1 %2").arg(number).arg(description));
}

void FlashJob::onLoaderMessage(const QString& text, const QString& title) {
    // A search ends when the probe has asked every address: its "Not connect"
    // is the normal end, not news.
    if (action_ == Action::Search && step_ == Step::Probing) return;
    // Nor is a search's end at a speed that is not the last one tried.
    if (options_.autoSpeed && step_ == Step::Probing && speedsLeft()) return;
    // The loader names the port by its port text; the user named it otherwise.
    QString said = text;
    if (portLabel_ != portBoxText_ && said.startsWith(portBoxText_)) said = portLabel_ + said.mid(portBoxText_.size());
    console_.error(QStringLiteral("%1: %2").arg(title, said));
}

void FlashJob::onDeadline() {
    if (finished_) return;
    if (step_ == Step::Transfer && lineRetries_ < options_.retries && loader_->lineInFlight()) {
        retryLine();
        return;
    }
    finish(ExitCode::NoReply, noReplyText());
}

void FlashJob::retryLine(const QByteArray& damaged) {
    ++lineRetries_;
    ++retries_;
    const QString line = describe(*loader_->lineInFlight());
    if (damaged.isEmpty()) {
        console_.info(QStringLiteral("retry %1 of %2: no reply within %3 to %4; writing it again")
                          .arg(lineRetries_)
                          .arg(options_.retries)
                          .arg(seconds(options_.timeoutMs), line));
        // A second reply to the line written again takes as long after the
        // first as the second write came after the first: the reply bound,
        // and a receive tick or two besides.
        quiet_.setInterval(options_.timeoutMs + ProbeAsks::kQuietMarginMs);
    } else {
        console_.info(QStringLiteral("retry %1 of %2: the reply to %3 arrived damaged (%4); writing it again")
                          .arg(lineRetries_)
                          .arg(options_.retries)
                          .arg(line, quotedBytes(damaged)));
        // The damaged characters were the board's answer, or noise in front
        // of an answer still to come: one that late comes within the slowest
        // reply seen so far, and is then taken as the answer to this line.
        const qint64 slowest = slowestReplyMs_ >= 0 ? slowestReplyMs_ : options_.timeoutMs;
        quiet_.setInterval(static_cast<int>(
            std::min<qint64>(slowest + kDamagedQuietMs, options_.timeoutMs + ProbeAsks::kQuietMarginMs)));
    }
    retryHold_ = true;
    loader_->holdLines();
    // The write restarts the reply bound.
    click(&Loader::resendLineInFlight);
}

void FlashJob::onQuiet() {
    if (finished_ || step_ != Step::Transfer) return;
    retryHold_ = false;
    if (passEndedWithoutEndOfFile()) {
        finish(ExitCode::NoEndOfFile, noEndOfFileText());
        return;
    }
    click(&Loader::releaseHeldLine);
}

bool FlashJob::passEndedWithoutEndOfFile() const {
    return lastAnswered_ && lastAnswered_->line == lastAnswered_->lineCount &&
           !isEndOfFileRecord(lastAnswered_->record);
}

bool FlashJob::speedsLeft() const {
    return speedIndex_ + 1 < static_cast<int>(std::size(kAutoSpeeds));
}

void FlashJob::tryNextSpeed() {
    if (finished_ || step_ != Step::Probing || !speedsLeft()) return;
    const QString tried = QString::number(bitsPerSecond(speed_));
    speed_ = kAutoSpeeds[++speedIndex_];
    console_.info(QStringLiteral("no answer at %1 bit/s; trying %2 bit/s").arg(tried).arg(bitsPerSecond(speed_)));
    // Close as the operator would, choose the next speed, and open again.
    click(&Loader::BTNCloseCom_Click);
    if (finished_) return;
    asks_ = ProbeAsks{};
    configureLoader();
    open();
}

void FlashJob::click(void (Loader::*handler)()) {
    loader_->invokeGuarded(handler);
}

void FlashJob::armDeadline() {
    deadlineArmed_ = true;
    deadline_.start();
}

QString FlashJob::openFailureText() const {
    QString text = QStringLiteral("cannot open %1: %2")
                       .arg(portLabel_,
                            lastOpenFailure_ ? lastOpenFailure_->description : QStringLiteral("the port did not open"));
    QString device;
    try {
        if (resolver_) device = resolver_(portNumberOf(portBoxText_)).device;
    } catch (const Failure&) {
    }
    const QString hint = openFailureHint(lastOpenFailure_ ? lastOpenFailure_->number : 0, inspectDevice(device));
    if (!hint.isEmpty()) text += QStringLiteral("\n  hint: ") + hint;
    return text;
}

QString FlashJob::noBoardText() const {
    if (options_.autoSpeed) {
        QStringList speeds;
        for (Speed sp : kAutoSpeeds) speeds << QString::number(bitsPerSecond(sp));
        QString where;
        if (searching() || action_ == Action::Search)
            where = QStringLiteral(" at any Modbus address from 1 to 127");
        else if (options_.modbus)
            where = QStringLiteral(" at Modbus address %1").arg(target_.address);
        return QStringLiteral(
                   "no bootloader answered on %1%2 at any speed (%3 bit/s); check the cable and that the board "
                   "runs its bootloader")
            .arg(portLabel_, where, speeds.join(QStringLiteral(", ")));
    }
    if (speed_ == Speed::Usb) {
        return QStringLiteral("no board: the USB port %1 did not appear%2")
            .arg(portLabel_, lastOpenFailure_ ? QStringLiteral(" (last attempt: %1)").arg(lastOpenFailure_->description)
                                              : QString());
    }
    if (searching() || action_ == Action::Search)
        return QStringLiteral("no board answered on %1 at any Modbus address from 1 to 127").arg(portLabel_);
    if (options_.modbus)
        return QStringLiteral("no board answered on %1 at Modbus address %2").arg(portLabel_).arg(target_.address);
    return QStringLiteral(
               "no bootloader answered on %1 at %2 bit/s; check the speed, the cable and that the board "
               "runs its bootloader")
        .arg(portLabel_)
        .arg(bitsPerSecond(speed_));
}

QString FlashJob::noEndOfFileText() const {
    const QString file = QFileInfo(options_.file).fileName();
    return QStringLiteral(
               "the board answered OK to the last line of %1 (%2), not DOWNLOAD: the file has no end-of-file "
               "record where the bootloader ends a pass, so nothing more was sent and the board is not verified")
        .arg(file, describe(*lastAnswered_));
}

QString FlashJob::noReplyText() const {
    const QString within = seconds(options_.timeoutMs);
    QString text;
    if (step_ != Step::Transfer) {
        text = QStringLiteral("no reply within %1 to %2")
                   .arg(within, lastCommand_.isEmpty() ? QStringLiteral("the command") : lastCommand_);
    } else if (!loader_->lineInFlight()) {
        text = QStringLiteral("no line was sent within %1").arg(within);
    } else {
        text = QStringLiteral("no reply within %1 to %2").arg(within, describe(*loader_->lineInFlight()));
        if (lineRetries_ > 0) text += QStringLiteral(", written %1 times").arg(lineRetries_ + 1);
        if (lastAnswered_)
            text += QStringLiteral("; last answered: %1 line %2")
                        .arg(passName(lastAnswered_->verify ? Pass::Verify : Pass::Download))
                        .arg(lastAnswered_->line);
        else
            text += QStringLiteral("; no line was answered");
    }
    // Characters came, but nothing the bootloader says.
    if (!lastWordless_.isEmpty())
        text += QStringLiteral("; the last reply held no reply word: \"%1\"").arg(shown(lastWordless_));
    return text;
}

QString FlashJob::describe(const LineOnWire& l) {
    return QStringLiteral("%1 line %2 of %3 (%4)")
        .arg(passName(l.verify ? Pass::Verify : Pass::Download))
        .arg(l.line)
        .arg(l.lineCount)
        .arg(QString::fromLatin1(l.record));
}

BoardResult FlashJob::result() const {
    BoardResult r;
    r.port = portLabel_;
    try {
        if (resolver_) r.device = resolver_(portNumberOf(portBoxText_)).device;
        // An alias is named by what it leads to.
        const QFileInfo info(r.device);
        if (info.isSymLink() && info.exists()) r.device = info.canonicalFilePath();
    } catch (const Failure&) {
    }
    if (options_.modbus && action_ != Action::Search) {
        if (!searching())
            r.address = target_.address;
        else if (replyAddress_ >= 0)
            r.address = replyAddress_;
    }
    r.file = options_.file;
    r.lines = fileLines();
    r.version = version_;
    r.result = finished_ ? resultName(code_, action_) : QStringLiteral("not finished");
    r.code = code_;
    r.message = message_;
    r.started = started_;
    r.seconds = seconds_;
    r.retries = retries_;
    if (!options_.autoSpeed || speedAnswered_) r.speed = speedName(speed_);
    return r;
}

void FlashJob::finish(ExitCode code, const QString& message) {
    if (finished_) return;
    finished_ = true;
    seconds_ = elapsed_.isValid() ? elapsed_.nsecsElapsed() / 1e9 : 0.0;
    code_ = code;
    message_ = message;
    step_ = Step::Done;
    deadline_.stop();
    deadlineArmed_ = false;
    settle_.stop();
    quiet_.stop();
    console_.endTransfer();
    if (code == ExitCode::Success)
        console_.info(message);
    else
        console_.error(QStringLiteral("vantrel-flash: ") + message);
    // Close as the operator would, which also stops a probe or scan still
    // running; a loader that never opened its port or started a timer needs
    // nothing.
    if (!loader_->isIdle()) click(&Loader::BTNCloseCom_Click);
    QMetaObject::invokeMethod(
        this, [this] { emit finished(toInt(code_)); }, Qt::QueuedConnection);
}

void FlashJob::finishLater(ExitCode code, const QString& message) {
    QTimer::singleShot(0, this, [this, code, message] { finish(code, message); });
}

}  // namespace vantrel::flasher
