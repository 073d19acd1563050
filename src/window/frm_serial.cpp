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

#include "loader/texts.h"
#include "window/app_icon.h"
#include "window/colors.h"
#include "window/lamp.h"
#include "window/progress_bar.h"

namespace vantrel {
namespace {

// Design positions are in twips; 15 twips make one pixel at 96 dots per inch.
constexpr int px(int twips) {
    return (twips + 7) / 15;
}

void place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(px(left), px(top), px(width), px(height));
}

QFont windowFont() {
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(11);  // 8.25 point at 96 dots per inch
    return f;
}

}  // namespace

frmSerial::frmSerial(Platform platform, QWidget* parent)
    : QWidget(parent), loader_(std::make_unique<Loader>(std::move(platform))) {
    buildControls();
    // The loader holds the design values of its controls: every one of them
    // is shown from there, so the window has no second copy to drift.
    using P = Control::Property;
    for (Control* c : loader_->controls())
        for (P what :
             {P::Text, P::Enabled, P::Checked, P::Visible, P::FillColor, P::BackColor, P::Max, P::Value, P::BarColor})
            showChange(*c, what);
    connect(loader_.get(), &Loader::controlChanged, this, &frmSerial::showChange);
    connectInputs();
}

frmSerial::~frmSerial() {
    // The loader goes first: its last announcements find no view.
    disconnect(loader_.get(), nullptr, this, nullptr);
}

void frmSerial::buildControls() {
    setWindowTitle(QString::fromUtf8(text::kCaption));
    setWindowIcon(appIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(px(5955), px(1830));
    setFont(windowFont());

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
    // The loader's own controls are made bare: their captions, texts, states
    // and colours are the loader's, shown once it is built.
    auto button = [](QWidget* in, int l, int t, int w, int h) {
        auto* b = new QPushButton(in);
        place(b, l, t, w, h);
        b->setAutoDefault(false);
        return b;
    };
    auto option = [](QWidget* in, int l, int t) {
        auto* o = new QRadioButton(in);
        place(o, l, t, 195, 195);
        return o;
    };
    auto textBox = [](QWidget* in, int l, int t, int w, int h) {
        auto* e = new QLineEdit(in);
        place(e, l, t, w, h);
        return e;
    };

    // "Comm's": speed row along the top edge, port, lamp, status and transfer buttons.
    Label4 = label("Speed 9600", Frame2, 960, 0, 975, 255);
    Option1 = option(Frame2, 1860, 0);
    Label6 = label("19200", Frame2, 2040, 0, 495, 255);
    Option2 = option(Frame2, 2520, 0);
    Label7 = label("115200", Frame2, 2700, 0, 615, 255);
    Option3 = option(Frame2, 3300, 0);
    Label8 = label("USB", Frame2, 3540, 0, 375, 255);
    Label8->setToolTip(QString::fromUtf8(text::kHintUsb));
    Option4 = option(Frame2, 3900, 0);

    Pic = new Lamp(Frame2);
    place(Pic, 720, 0, 195, 255);

    Label1[0] = label("Port: (1-9)", Frame2, 120, 240, 795, 255);
    txt[0] = textBox(Frame2, 60, 480, 855, 315);
    BTNOpenCom = button(Frame2, 960, 200, 615, 255);
    BTNOpenCom->setToolTip(QString::fromUtf8(text::kHintOpen));
    BTNCloseCom = button(Frame2, 960, 480, 615, 255);
    BTNCloseCom->setToolTip(QString::fromUtf8(text::kHintClose));
    Label2 = label("", Frame2, 1620, 240, 1755, 255);
    Command3 = button(Frame2, 1620, 480, 2055, 255);
    Command3->setToolTip(QString::fromUtf8(text::kHintDownload));
    Command6 = button(Frame2, 3420, 190, 615, 255);
    Command6->setToolTip(QString::fromUtf8(text::kHintInstall));
    Command4 = button(Frame2, 4080, 190, 255, 255);
    Command4->setToolTip(QString::fromUtf8(text::kHintVersion));
    Command2 = button(Frame2, 3720, 480, 615, 255);
    Command2->setToolTip(QString::fromUtf8(text::kHintVerify));

    // "Modbus RTU".
    Check1 = new QCheckBox(Frame4);
    place(Check1, 1200, 0, 255, 255);
    Check1->setToolTip(QString::fromUtf8(text::kHintModbus));
    Label5 = label("Addr Device", Frame4, 60, 240, 915, 255);
    Text1 = textBox(Frame4, 1020, 240, 435, 285);
    Text1->setToolTip(QString::fromUtf8(text::kHintAddress));
    Text2 = textBox(Frame4, 120, 480, 435, 285);
    Command1 = button(Frame4, 600, 520, 795, 255);

    // "Status".
    vbalProgressBar1 = new VbalProgressBar(Frame3);
    place(vbalProgressBar1, 120, 240, 5715, 255);
    Label3 = label("Answer:", Frame3, 120, 600, 735, 255);

    // The window's own controls: the reply box over the status frame, and
    // "Send" below the client area, out of reach of the mouse.
    Text8 = textBox(this, 720, 1410, 5115, 285);
    Command5 = button(this, 1800, 2760, 855, 255);

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
    for (const auto& [object, name] : names) object->setObjectName(QString::fromLatin1(name));

    QWidget* const tabOrder[] = {txt[0],   BTNOpenCom, BTNCloseCom, Command3, Command4, Command5,
                                 Command6, Text8,      Check1,      Text1,    Text2,    Command1,
                                 Command2, Option1,    Option2,     Option3,  Option4};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);
    txt[0]->setFocus();
}

QWidget* frmSerial::widgetOf(const Control& control) const {
    return findChild<QWidget*>(control.name());
}

void frmSerial::showChange(const Control& c, Control::Property what) {
    QWidget* w = widgetOf(c);
    if (w == nullptr) return;
    using P = Control::Property;
    switch (what) {
        case P::Text:
            if (auto* l = qobject_cast<QLabel*>(w)) {
                if (l->text() != c.text()) l->setText(c.text());
            } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
                if (b->text() != c.text()) b->setText(c.text());
            } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
                if (e->text() != c.text()) e->setText(c.text());
            } else if (auto* bar = qobject_cast<VbalProgressBar*>(w)) {
                bar->setText(c.text());
            }
            return;
        case P::Enabled:
            if (w->testAttribute(Qt::WA_Disabled) == c.isEnabled()) w->setEnabled(c.isEnabled());
            return;
        case P::Checked:
            if (auto* b = qobject_cast<QAbstractButton*>(w); b != nullptr && b->isChecked() != c.isChecked())
                b->setChecked(c.isChecked());
            return;
        case P::Visible:
            w->setVisible(c.isVisible());
            return;
        case P::FillColor:
            if (auto* lamp = qobject_cast<Lamp*>(w)) lamp->setFillColor(c.fillColor());
            return;
        case P::BackColor: {
            // Only a text box has a background of its own to colour.
            if (qobject_cast<QLineEdit*>(w) == nullptr) return;
            QPalette pal = w->palette();
            pal.setColor(QPalette::Base,
                         c.backColor() ? toQColor(*c.backColor()) : QApplication::palette(w).color(QPalette::Base));
            w->setPalette(pal);
            return;
        }
        case P::Value:
            if (auto* bar = qobject_cast<VbalProgressBar*>(w)) bar->setValue(c.value());
            return;
        case P::Max:
            if (auto* bar = qobject_cast<VbalProgressBar*>(w)) bar->setMax(c.max());
            return;
        case P::BarColor:
            if (auto* bar = qobject_cast<VbalProgressBar*>(w)) bar->setBarColor(c.barColor());
            return;
    }
}

void frmSerial::connectInputs() {
    Loader* l = loader_.get();
    // What the operator types or picks reaches the loader as it is made.
    auto text = [this, l](QLineEdit* box, Control* into) {
        connect(box, &QLineEdit::textChanged, l, [into](const QString& t) { into->setText(t); });
    };
    text(txt[0], l->txt[0]);
    text(Text1, l->Text1);
    text(Text2, l->Text2);
    text(Text8, l->Text8);
    auto check = [this, l](QAbstractButton* box, Control* into) {
        connect(box, &QAbstractButton::toggled, l, [into](bool on) { into->setChecked(on); });
    };
    check(Option1, l->Option1);
    check(Option2, l->Option2);
    check(Option3, l->Option3);
    check(Option4, l->Option4);
    check(Check1, l->Check1);

    auto click = [this, l](QPushButton* button, void (Loader::*handler)()) {
        connect(button, &QPushButton::clicked, l, [l, handler] { l->invokeGuarded(handler); });
    };
    click(BTNOpenCom, &Loader::BTNOpenCom_Click);
    click(BTNCloseCom, &Loader::BTNCloseCom_Click);
    click(Command1, &Loader::Command1_Click);
    click(Command2, &Loader::Command2_Click);
    click(Command3, &Loader::Command3_Click);
    click(Command4, &Loader::Command4_Click);
    click(Command5, &Loader::Command5_Click);
    click(Command6, &Loader::Command6_Click);
}

void frmSerial::closeEvent(QCloseEvent* event) {
    qint16 cancel = 0;
    loader_->Form_Unload(cancel);
    if (cancel != 0)
        event->ignore();
    else
        event->accept();
}

}  // namespace vantrel
