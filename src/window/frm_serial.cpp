#include "window/frm_serial.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "common/failure.h"
#include "link/hex_digits.h"
#include "window/app_icon.h"
#include "window/lamp.h"
#include "window/progress_bar.h"
#include "window/texts.h"

namespace vantrel {
namespace {

// Design positions are in twips; 15 twips make one pixel at 96 dots per inch.
constexpr int px(int twips) {
    return (twips + 7) / 15;
}

void place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(px(left), px(top), px(width), px(height));
}

// Only emptiness of a tag matters: a non-empty tag marks a port control.
void setTag(QObject* o, const char* tag) {
    o->setProperty("Tag", QString::fromLatin1(tag));
}

QFont windowFont() {
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(11);  // 8.25 point at 96 dots per inch
    return f;
}

}  // namespace

frmSerial::frmSerial(Platform platform, QWidget* parent) : QWidget(parent), platform_(std::move(platform)) {
    MSComm1 = platform_.port.get();
    CommonDialog1 = platform_.fileDialog.get();
    buildControls();
    connectHandlers();
}

frmSerial::~frmSerial() = default;

void frmSerial::buildControls() {
    setWindowTitle(QString::fromUtf8(text::kCaption));
    setWindowIcon(appIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(px(5955), px(1830));
    setFont(windowFont());
    setTag(this, "");

    // Containers.
    Frame2 = new QGroupBox(QStringLiteral("Comm's"), this);
    place(Frame2, 0, 0, 4395, 855);
    Frame4 = new QGroupBox(QStringLiteral("Modbus RTU"), this);
    place(Frame4, 4440, 0, 1515, 855);
    Frame3 = new QGroupBox(QStringLiteral("Status"), this);
    place(Frame3, 0, 840, 5955, 975);

    auto label = [](const char* caption, QWidget* in, int l, int t, int w, int h) {
        auto* lbl = new QLabel(QString::fromUtf8(caption), in);
        place(lbl, l, t, w, h);
        lbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return lbl;
    };
    auto button = [](const char* caption, QWidget* in, int l, int t, int w, int h) {
        auto* b = new QPushButton(QString::fromUtf8(caption), in);
        place(b, l, t, w, h);
        b->setAutoDefault(false);
        return b;
    };
    auto option = [](const char* caption, QWidget* in, int l, int t) {
        auto* o = new QRadioButton(QString::fromUtf8(caption), in);
        place(o, l, t, 195, 195);
        return o;
    };
    auto textBox = [](const char* text, QWidget* in, int l, int t, int w, int h) {
        auto* e = new QLineEdit(QString::fromUtf8(text), in);
        place(e, l, t, w, h);
        return e;
    };

    // "Comm's": speed row along the top edge, port, lamp, status and transfer buttons.
    Label4 = label("Speed 9600", Frame2, 960, 0, 975, 255);
    Option1 = option("Option1", Frame2, 1860, 0);
    Label6 = label("19200", Frame2, 2040, 0, 495, 255);
    Option2 = option("Option2", Frame2, 2520, 0);
    Label7 = label("115200", Frame2, 2700, 0, 615, 255);
    Option3 = option("Option3", Frame2, 3300, 0);
    Label8 = label("USB", Frame2, 3540, 0, 375, 255);
    Label8->setToolTip(QString::fromUtf8(text::kHintUsb));
    Option4 = option("Option4", Frame2, 3900, 0);
    Option3->setChecked(true);

    Pic = new Lamp(Frame2);
    place(Pic, 720, 0, 195, 255);
    Pic->setFillColor(color::kYellow);

    Label1[0] = label("Port: (1-9)", Frame2, 120, 240, 795, 255);
    txt[0] = textBox("COM3", Frame2, 60, 480, 855, 315);
    BTNOpenCom = button("Open", Frame2, 960, 200, 615, 255);
    BTNOpenCom->setToolTip(QString::fromUtf8(text::kHintOpen));
    BTNCloseCom = button("Close", Frame2, 960, 480, 615, 255);
    BTNCloseCom->setToolTip(QString::fromUtf8(text::kHintClose));
    BTNCloseCom->setEnabled(false);
    Label2 = label("No info", Frame2, 1620, 240, 1755, 255);
    Command3 = button("Open File and  Download", Frame2, 1620, 480, 2055, 255);
    Command3->setToolTip(QString::fromUtf8(text::kHintDownload));
    Command6 = button("Install ", Frame2, 3420, 190, 615, 255);
    Command6->setToolTip(QString::fromUtf8(text::kHintInstall));
    Command4 = button("?", Frame2, 4080, 190, 255, 255);
    Command4->setToolTip(QString::fromUtf8(text::kHintVersion));
    Command2 = button("Verify", Frame2, 3720, 480, 615, 255);
    Command2->setToolTip(QString::fromUtf8(text::kHintVerify));

    // "Modbus RTU".
    Check1 = new QCheckBox(QStringLiteral("Check1"), Frame4);
    place(Check1, 1200, 0, 255, 255);
    Check1->setToolTip(QString::fromUtf8(text::kHintModbus));
    Label5 = label("Addr Device", Frame4, 60, 240, 915, 255);
    Text1 = textBox("", Frame4, 1020, 240, 435, 285);
    Text1->setToolTip(QString::fromUtf8(text::kHintAddress));
    Text2 = textBox("10", Frame4, 120, 480, 435, 285);
    Command1 = button("Set Addr", Frame4, 600, 520, 795, 255);

    // "Status".
    vbalProgressBar1 = new VbalProgressBar(Frame3);
    place(vbalProgressBar1, 120, 240, 5715, 255);
    vbalProgressBar1->setText(QStringLiteral("NO FILE"));
    vbalProgressBar1->setBarColor(color::kBlue);
    Label3 = label("Answer:", Frame3, 120, 600, 735, 255);

    // The window's own controls: the reply box over the status frame, and
    // "Send" below the client area, out of reach of the mouse.
    Text8 = textBox("", this, 720, 1410, 5115, 285);
    Command5 = button("Send", this, 1800, 2760, 855, 255);

    // Only the caption of "Comm's" is blue; the controls inside keep the
    // system's text colour.
    const QColor systemText = palette().color(QPalette::WindowText);
    {
        QPalette pal = Frame2->palette();
        pal.setColor(QPalette::WindowText, toQColor(color::kFrameCaptionBlue));
        Frame2->setPalette(pal);
    }
    for (QWidget* child : Frame2->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        QPalette pal = child->palette();
        pal.setColor(QPalette::WindowText, systemText);
        child->setPalette(pal);
    }

    Timer3 = new QTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(200);
    Timer3->setTimerType(Qt::PreciseTimer);
    TMRComm = new QTimer(this);
    TMRComm->setObjectName(QStringLiteral("TMRComm"));
    TMRComm->setInterval(20);
    TMRComm->setTimerType(Qt::PreciseTimer);

    // Object names follow the control names, so traces and tests can find them.
    const std::pair<QObject*, const char*> names[] = {
        {Frame2, "Frame2"},
        {Frame3, "Frame3"},
        {Frame4, "Frame4"},
        {Label1[0], "Label1(0)"},
        {Label2, "Label2"},
        {Label3, "Label3"},
        {Label4, "Label4"},
        {Label5, "Label5"},
        {Label6, "Label6"},
        {Label7, "Label7"},
        {Label8, "Label8"},
        {txt[0], "txt(0)"},
        {Text1, "Text1"},
        {Text2, "Text2"},
        {Text8, "Text8"},
        {BTNOpenCom, "BTNOpenCom"},
        {BTNCloseCom, "BTNCloseCom"},
        {Command1, "Command1"},
        {Command2, "Command2"},
        {Command3, "Command3"},
        {Command4, "Command4"},
        {Command5, "Command5"},
        {Command6, "Command6"},
        {Check1, "Check1"},
        {Option1, "Option1"},
        {Option2, "Option2"},
        {Option3, "Option3"},
        {Option4, "Option4"},
        {Pic, "Pic"},
        {vbalProgressBar1, "vbalProgressBar1"},
    };
    for (const auto& [object, name] : names) {
        object->setObjectName(QString::fromLatin1(name));
        setTag(object, "");
    }
    setTag(Timer3, "");
    setTag(TMRComm, "");
    // The port controls: SwitchTags flips exactly the controls tagged here.
    setTag(BTNOpenCom, "NO");
    setTag(txt[0], "NO");
    setTag(BTNCloseCom, "NC");

    QWidget* const tabOrder[] = {txt[0],   BTNOpenCom, BTNCloseCom, Command3, Command4, Command5,
                                 Command6, Text8,      Check1,      Text1,    Text2,    Command1,
                                 Command2, Option1,    Option2,     Option3,  Option4};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);
    txt[0]->setFocus();
}

void frmSerial::invokeGuarded(void (frmSerial::*handler)()) {
    try {
        (this->*handler)();
    } catch (const Failure& f) {
        emit handlerFailed(f.number(), f.description());
        messageBox().show(f.description(), QStringLiteral("Error#%1").arg(f.number()), MsgBox::Icon::Stop);
    }
}

void frmSerial::connectHandlers() {
    auto guarded = [this](void (frmSerial::*handler)()) { return [this, handler] { invokeGuarded(handler); }; };
    connect(BTNOpenCom, &QPushButton::clicked, this, guarded(&frmSerial::BTNOpenCom_Click));
    connect(BTNCloseCom, &QPushButton::clicked, this, guarded(&frmSerial::BTNCloseCom_Click));
    connect(Command1, &QPushButton::clicked, this, guarded(&frmSerial::Command1_Click));
    connect(Command2, &QPushButton::clicked, this, guarded(&frmSerial::Command2_Click));
    connect(Command3, &QPushButton::clicked, this, guarded(&frmSerial::Command3_Click));
    connect(Command4, &QPushButton::clicked, this, guarded(&frmSerial::Command4_Click));
    connect(Command5, &QPushButton::clicked, this, guarded(&frmSerial::Command5_Click));
    connect(Command6, &QPushButton::clicked, this, guarded(&frmSerial::Command6_Click));
    connect(Timer3, &QTimer::timeout, this, guarded(&frmSerial::Timer3_Timer));
    connect(TMRComm, &QTimer::timeout, this, guarded(&frmSerial::TMRComm_Timer));
}

void frmSerial::SwitchTags() {
    // Every control of the window, those inside frames and the timers
    // included; each one with a non-empty tag has its enabled state inverted.
    const auto controls = findChildren<QObject*>();
    for (QObject* control : controls) {
        if (control->property("Tag").toString().isEmpty()) continue;
        if (auto* w = qobject_cast<QWidget*>(control)) {
            w->setEnabled(w->testAttribute(Qt::WA_Disabled));
        } else if (auto* t = qobject_cast<QTimer*>(control)) {
            if (t->isActive())
                t->stop();
            else
                t->start();
        }
    }
}

qint16 frmSerial::Decode(const QByteArray& colums) const {
    return decodeHexDigit(colums);
}

qint16 frmSerial::Decode2(const QByteArray& colums) const {
    return decodeHexByte(colums);
}

void frmSerial::setPortBoxColor(bool open) {
    QPalette pal = txt[0]->palette();
    pal.setColor(QPalette::Base, open ? toQColor(color::kGreen) : QApplication::palette(txt[0]).color(QPalette::Base));
    txt[0]->setPalette(pal);
}

void frmSerial::showConnectionMessage(const QString& suffix) {
    messageBox().show(txt[0]->text() + suffix, QString::fromUtf8(text::kAppTitle), MsgBox::Icon::None);
}

void frmSerial::writeCommand(const QByteArray& command) {
    QByteArray frame = command;  // the writer frames its argument in place
    WriteCOM32(frame);
}

void frmSerial::closeEvent(QCloseEvent* event) {
    qint16 cancel = 0;
    Form_Unload(cancel);
    if (cancel != 0)
        event->ignore();
    else
        event->accept();
}

}  // namespace vantrel
