#include "loader/loader.h"

#include <QTimer>

#include "common/failure.h"
#include "link/hex_digits.h"
#include "loader/colors.h"
#include "loader/texts.h"

namespace vantrel {

Loader::Loader(Platform platform, QObject* parent) : QObject(parent), platform_(std::move(platform)) {
    if (!platform_.fileReader) platform_.fileReader = makeHexFileReader();
    MSComm1 = platform_.port.get();
    CommonDialog1 = platform_.fileDialog.get();

    // The controls' start values are the window's design values.
    txt[0] = makeControl("txt(0)", "COM3");
    BTNOpenCom = makeControl("BTNOpenCom", "Open");
    BTNCloseCom = makeControl("BTNCloseCom", "Close");
    Label2 = makeControl("Label2", "No info");
    Command3 = makeControl("Command3", "Open File and  Download");
    Command4 = makeControl("Command4", "?");
    Command5 = makeControl("Command5", "Send");
    Command6 = makeControl("Command6", "Install ");
    Command2 = makeControl("Command2", "Verify");
    Command1 = makeControl("Command1", "Set Addr");
    Text8 = makeControl("Text8");
    Check1 = makeControl("Check1", "Check1");
    Text1 = makeControl("Text1");
    Text2 = makeControl("Text2", "10");
    Option1 = makeControl("Option1", "Option1");
    Option2 = makeControl("Option2", "Option2");
    Option3 = makeControl("Option3", "Option3");
    Option4 = makeControl("Option4", "Option4");
    Pic = makeControl("Pic");
    vbalProgressBar1 = makeControl("vbalProgressBar1", "NO FILE");

    speedGroup_ = {Option1, Option2, Option3, Option4};
    for (Control* option : speedGroup_) option->setGroup(&speedGroup_);
    Option3->setChecked(true);
    BTNCloseCom->setEnabled(false);
    Pic->setFillColor(color::kYellow);
    vbalProgressBar1->setBarColor(color::kBlue);
    // The port controls: SwitchTags flips exactly the controls tagged here.
    BTNOpenCom->setTag(QStringLiteral("NO"));
    txt[0]->setTag(QStringLiteral("NO"));
    BTNCloseCom->setTag(QStringLiteral("NC"));

    Timer3 = new QTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(200);
    Timer3->setTimerType(Qt::PreciseTimer);
    TMRComm = new QTimer(this);
    TMRComm->setObjectName(QStringLiteral("TMRComm"));
    TMRComm->setInterval(20);
    TMRComm->setTimerType(Qt::PreciseTimer);
    connect(Timer3, &QTimer::timeout, this, [this] { invokeGuarded(&Loader::Timer3_Timer); });
    connect(TMRComm, &QTimer::timeout, this, [this] { invokeGuarded(&Loader::TMRComm_Timer); });
}

Loader::~Loader() = default;

Control* Loader::makeControl(const char* name, const char* text) {
    ownedControls_.push_back(std::make_unique<Control>(*this, QString::fromLatin1(name), QString::fromUtf8(text)));
    controlList_.push_back(ownedControls_.back().get());
    return controlList_.back();
}

Control* Loader::control(const QString& name) const {
    for (Control* c : controlList_)
        if (c->name() == name) return c;
    return nullptr;
}

void Loader::announceChange(const Control& control, Control::Property what) {
    emit controlChanged(control, what);
}

void Loader::invokeGuarded(void (Loader::*handler)()) {
    try {
        (this->*handler)();
    } catch (const Failure& f) {
        emit handlerFailed(f.number(), f.description());
        messageBox().show(f.description(), QStringLiteral("Error#%1").arg(f.number()), MsgBox::Icon::Stop);
    }
}

int Loader::frameAddress(const QByteArray& frame) const {
    return Check1->isChecked() && !frame.isEmpty() ? static_cast<quint8>(frame[0]) : -1;
}

void Loader::takeRepliesOnArrival() {
    MSComm1->setReceiveEvent([this] { invokeGuarded(&Loader::MSComm1_OnComm); });
}

bool Loader::isIdle() const {
    return !MSComm1->portOpen() && !Timer3->isActive() && !TMRComm->isActive();
}

void Loader::SwitchTags() {
    // Every control, and the timers; each one with a non-empty tag has its
    // enabled state inverted (a timer's is whether it runs).
    for (Control* control : controlList_) {
        if (control->tag().isEmpty()) continue;
        control->setEnabled(!control->isEnabled());
    }
    const std::pair<QTimer*, const QString*> timers[] = {{Timer3, &Timer3Tag}, {TMRComm, &TMRCommTag}};
    for (const auto& [timer, tag] : timers) {
        if (tag->isEmpty()) continue;
        if (timer->isActive())
            timer->stop();
        else
            timer->start();
    }
}

qint16 Loader::Decode(const QByteArray& colums) const {
    return decodeHexDigit(colums);
}

qint16 Loader::Decode2(const QByteArray& colums) const {
    return decodeHexByte(colums);
}

std::optional<Loader::SentLine> Loader::lineInFlight() const {
    if (LineInFlight < 1 || LineInFlight != sentLast_.line) return std::nullopt;
    return sentLast_;
}

void Loader::setPortBoxColor(bool open) {
    txt[0]->setBackColor(open ? std::optional<quint32>(color::kGreen) : std::nullopt);
}

void Loader::showConnectionMessage(const QString& suffix) {
    messageBox().show(txt[0]->text() + suffix, QString::fromUtf8(text::kAppTitle), MsgBox::Icon::None);
}

void Loader::writeCommand(const QByteArray& command) {
    QByteArray frame = command;  // the writer frames its argument in place
    WriteCOM32(frame);
}

}  // namespace vantrel
