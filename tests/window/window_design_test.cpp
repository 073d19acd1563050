#include <cmath>
#include <cstdlib>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/lamp.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

// 15 twips make one pixel; a control may sit at most half a pixel away from
// its design place.
constexpr int kTwipsPerPixel = 15;

QWidget* control(const frmSerial& w, const char* name) {
    return w.findChild<QWidget*>(QString::fromLatin1(name));
}

QString captionOf(QWidget* c) {
    if (auto* l = qobject_cast<QLabel*>(c)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(c)) return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(c)) return e->text();
    if (auto* g = qobject_cast<QGroupBox*>(c)) return g->title();
    if (auto* p = qobject_cast<VbalProgressBar*>(c)) return p->text();
    return {};
}

TEST(WindowDesign, WindowCaptionAndClientAreaMatchTheDesign) {
    FakeWindow f;
    EXPECT_EQ(f->windowTitle(), QStringLiteral("Vantrel V 4.01"));
    // 5955 x 1830 twips.
    EXPECT_EQ(f->width(), 397);
    EXPECT_EQ(f->height(), 122);
}

TEST(WindowDesign, HasNoMaximiseButton) {
    FakeWindow f;
    const Qt::WindowFlags flags = f->windowFlags();
    // Without the customise hint the window manager would add every button.
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
}

TEST(WindowDesign, CarriesATrueColourIconOf24Pixels) {
    FakeWindow f;
    const QIcon icon = f->windowIcon();
    ASSERT_FALSE(icon.isNull());
    const QImage image = icon.pixmap(24, 24).toImage();
    ASSERT_EQ(image.size(), QSize(24, 24));
    EXPECT_GE(image.depth(), 24);
    // Something is drawn on it, in more than one colour.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 2);
}

// ---------------------------------------------------------------------------
// Every control: its container, its place and its state when the window opens.

struct ControlDesign {
    const char* name;
    const char* container;  // nullptr: the window itself
    int left, top, width, height;
    const char* caption;
    bool enabled;
    int checked;  // -1: not a check or option button
};

class ControlStartState : public ::testing::TestWithParam<ControlDesign> {
  protected:
    FakeWindow f;
};

TEST_P(ControlStartState, SitsInItsContainerAtItsDesignPlace) {
    const ControlDesign& d = GetParam();
    QWidget* c = control(*f.w, d.name);
    ASSERT_NE(c, nullptr) << "no control named " << d.name;
    if (d.container)
        EXPECT_EQ(c->parentWidget()->objectName(), QString::fromLatin1(d.container));
    else
        EXPECT_EQ(c->parentWidget(), f.w.get());

    const QRect g = c->geometry();
    EXPECT_LE(std::abs(g.x() * kTwipsPerPixel - d.left), kTwipsPerPixel / 2) << "left " << g.x();
    EXPECT_LE(std::abs(g.y() * kTwipsPerPixel - d.top), kTwipsPerPixel / 2) << "top " << g.y();
    EXPECT_LE(std::abs(g.width() * kTwipsPerPixel - d.width), kTwipsPerPixel / 2) << "width " << g.width();
    EXPECT_LE(std::abs(g.height() * kTwipsPerPixel - d.height), kTwipsPerPixel / 2) << "height " << g.height();
}

TEST_P(ControlStartState, ShowsItsDesignCaptionAndState) {
    const ControlDesign& d = GetParam();
    QWidget* c = control(*f.w, d.name);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(captionOf(c), QString::fromUtf8(d.caption));
    EXPECT_EQ(c->isEnabled(), d.enabled);
    EXPECT_FALSE(c->isHidden());
    if (d.checked >= 0) {
        auto* b = qobject_cast<QAbstractButton*>(c);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->isChecked(), d.checked == 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllControls, ControlStartState,
    ::testing::Values(ControlDesign{"Frame2", nullptr, 0, 0, 4395, 855, "Comm's", true, -1},
                      ControlDesign{"Frame4", nullptr, 4440, 0, 1515, 855, "Modbus RTU", true, -1},
                      ControlDesign{"Frame3", nullptr, 0, 840, 5955, 975, "Status", true, -1},
                      ControlDesign{"Label4", "Frame2", 960, 0, 975, 255, "Speed 9600", true, -1},
                      ControlDesign{"Option1", "Frame2", 1860, 0, 195, 195, "Option1", true, 0},
                      ControlDesign{"Label6", "Frame2", 2040, 0, 495, 255, "19200", true, -1},
                      ControlDesign{"Option2", "Frame2", 2520, 0, 195, 195, "Option2", true, 0},
                      ControlDesign{"Label7", "Frame2", 2700, 0, 615, 255, "115200", true, -1},
                      ControlDesign{"Option3", "Frame2", 3300, 0, 195, 195, "Option3", true, 1},
                      ControlDesign{"Label8", "Frame2", 3540, 0, 375, 255, "USB", true, -1},
                      ControlDesign{"Option4", "Frame2", 3900, 0, 195, 195, "Option4", true, 0},
                      ControlDesign{"Pic", "Frame2", 720, 0, 195, 255, "", true, -1},
                      ControlDesign{"Label1(0)", "Frame2", 120, 240, 795, 255, "Port: (1-9)", true, -1},
                      ControlDesign{"txt(0)", "Frame2", 60, 480, 855, 315, "COM3", true, -1},
                      ControlDesign{"BTNOpenCom", "Frame2", 960, 200, 615, 255, "Open", true, -1},
                      ControlDesign{"BTNCloseCom", "Frame2", 960, 480, 615, 255, "Close", false, -1},
                      ControlDesign{"Label2", "Frame2", 1620, 240, 1755, 255, "No info", true, -1},
                      ControlDesign{"Command3", "Frame2", 1620, 480, 2055, 255, "Open File and  Download", true, -1},
                      ControlDesign{"Command6", "Frame2", 3420, 190, 615, 255, "Install ", true, -1},
                      ControlDesign{"Command4", "Frame2", 4080, 190, 255, 255, "?", true, -1},
                      ControlDesign{"Command2", "Frame2", 3720, 480, 615, 255, "Verify", true, -1},
                      ControlDesign{"Check1", "Frame4", 1200, 0, 255, 255, "Check1", true, 0},
                      ControlDesign{"Label5", "Frame4", 60, 240, 915, 255, "Addr Device", true, -1},
                      ControlDesign{"Text1", "Frame4", 1020, 240, 435, 285, "", true, -1},
                      ControlDesign{"Text2", "Frame4", 120, 480, 435, 285, "10", true, -1},
                      ControlDesign{"Command1", "Frame4", 600, 520, 795, 255, "Set Addr", true, -1},
                      ControlDesign{"vbalProgressBar1", "Frame3", 120, 240, 5715, 255, "NO FILE", true, -1},
                      ControlDesign{"Label3", "Frame3", 120, 600, 735, 255, "Answer:", true, -1},
                      ControlDesign{"Text8", nullptr, 720, 1410, 5115, 285, "", true, -1},
                      ControlDesign{"Command5", nullptr, 1800, 2760, 855, 255, "Send", true, -1}),
    [](const ::testing::TestParamInfo<ControlDesign>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(WindowDesign, NamedControlsAreTheWindowsMembers) {
    FakeWindow f;
    const std::pair<const char*, QObject*> members[] = {
        {"Frame2", f->Frame2},
        {"Frame3", f->Frame3},
        {"Frame4", f->Frame4},
        {"Label1(0)", f->Label1[0]},
        {"Label2", f->Label2},
        {"Label3", f->Label3},
        {"Label4", f->Label4},
        {"Label5", f->Label5},
        {"Label6", f->Label6},
        {"Label7", f->Label7},
        {"Label8", f->Label8},
        {"txt(0)", f->txt[0]},
        {"Text1", f->Text1},
        {"Text2", f->Text2},
        {"Text8", f->Text8},
        {"BTNOpenCom", f->BTNOpenCom},
        {"BTNCloseCom", f->BTNCloseCom},
        {"Command1", f->Command1},
        {"Command2", f->Command2},
        {"Command3", f->Command3},
        {"Command4", f->Command4},
        {"Command5", f->Command5},
        {"Command6", f->Command6},
        {"Check1", f->Check1},
        {"Option1", f->Option1},
        {"Option2", f->Option2},
        {"Option3", f->Option3},
        {"Option4", f->Option4},
        {"Pic", f->Pic},
        {"vbalProgressBar1", f->vbalProgressBar1},
    };
    for (const auto& [name, member] : members)
        EXPECT_EQ(f->findChild<QObject*>(QString::fromLatin1(name)), member) << name;
    // The timers are the loader's, under their control names too; so is the
    // value of every control the window shows.
    EXPECT_EQ(f.loader().findChild<QObject*>(QStringLiteral("Timer3")), f.loader().Timer3);
    EXPECT_EQ(f.loader().findChild<QObject*>(QStringLiteral("TMRComm")), f.loader().TMRComm);
    for (const Control* c : f.loader().controls())
        EXPECT_NE(f->findChild<QWidget*>(c->name()), nullptr) << c->name().toStdString();
}

TEST(WindowDesign, SendButtonLiesBelowTheClientArea) {
    FakeWindow f;
    // Out of reach of the mouse, yet enabled so that its handler may run.
    EXPECT_GE(f->Command5->geometry().top(), f->height());
    EXPECT_TRUE(f->Command5->isEnabled());
}

TEST(WindowDesign, ReplyBoxLiesOverTheLowerPartOfTheStatusFrame) {
    FakeWindow f;
    const QRect reply = f->Text8->geometry();
    const QRect status = f->Frame3->geometry();
    EXPECT_TRUE(status.contains(reply)) << "reply box must lie inside the status frame's area";
    EXPECT_GT(reply.top(), status.center().y());
    // Right of its label "Answer:".
    const QRect label = f->Label3->geometry().translated(status.topLeft());
    EXPECT_GE(reply.left(), label.left());
}

TEST(WindowDesign, CommsFrameCaptionIsBlueAndItsControlsKeepTheSystemTextColour) {
    FakeWindow f;
    // 12582912 is 0xC00000 with red in the low byte: pure blue 192.
    EXPECT_EQ(f->Frame2->palette().color(QPalette::WindowText), QColor(0, 0, 192));
    const QColor systemText = QLabel().palette().color(QPalette::WindowText);
    EXPECT_EQ(f->Label2->palette().color(QPalette::WindowText), systemText);
    EXPECT_EQ(f->Label4->palette().color(QPalette::WindowText), systemText);
    EXPECT_NE(f->Frame4->palette().color(QPalette::WindowText), QColor(0, 0, 192));
}

TEST(WindowDesign, LampIsAVisibleYellowDot) {
    FakeWindow f;
    EXPECT_FALSE(f->Pic->isHidden());
    EXPECT_EQ(f->Pic->fillColor(), 65535u);
    const QImage image = f->Pic->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2), QColor(255, 255, 0));
}

TEST(WindowDesign, PortBoxStartsWithTheSystemBackground) {
    FakeWindow f;
    EXPECT_EQ(f->txt[0]->palette().color(QPalette::Base), QLineEdit().palette().color(QPalette::Base));
}

TEST(WindowDesign, ProgressBarStartsWithItsDesignTextAndBlueBar) {
    FakeWindow f;
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("NO FILE"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), 16711680u);
}

TEST(WindowDesign, BothTimersAreOffWithTheirIntervalsAndPrecise) {
    FakeWindow f;
    EXPECT_FALSE(f.loader().Timer3->isActive());
    EXPECT_EQ(f.loader().Timer3->interval(), 200);
    EXPECT_EQ(f.loader().Timer3->timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(f.loader().Timer3->isSingleShot());
    EXPECT_FALSE(f.loader().TMRComm->isActive());
    EXPECT_EQ(f.loader().TMRComm->interval(), 20);
    EXPECT_EQ(f.loader().TMRComm->timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(f.loader().TMRComm->isSingleShot());
}

TEST(WindowDesign, PortIsClosedAndNothingWasWritten) {
    FakeWindow f;
    EXPECT_FALSE(f.loader().MSComm1->portOpen());
    EXPECT_EQ(f.port->openAttempts, 0);
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_TRUE(f.box->shown.isEmpty());
}

// ---------------------------------------------------------------------------
// Hints, letter for letter: typos, double blanks and trailing blanks are part
// of the design.

struct Hint {
    const char* control;
    const char* text;
    int length;  // in characters, so a lost trailing blank shows at once
};

std::ostream& operator<<(std::ostream& os, const Hint& h) {
    return os << h.control;
}

class ControlHint : public ::testing::TestWithParam<Hint> {};

TEST_P(ControlHint, IsExactlyTheDesignText) {
    FakeWindow f;
    QWidget* c = control(*f.w, GetParam().control);
    ASSERT_NE(c, nullptr);
    const QString expected = QString::fromUtf8(GetParam().text);
    ASSERT_EQ(expected.size(), GetParam().length);
    EXPECT_EQ(c->toolTip(), expected);
    EXPECT_EQ(c->toolTip().toUtf8(), QByteArray(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    HintedControls, ControlHint,
    ::testing::Values(Hint{"Label8", "Для USB сначала открвть порт а затем подать питние на контроллер", 64},
                      Hint{"BTNOpenCom", "Открыть порт, для USB также остановить сканирование ", 52},
                      Hint{"BTNCloseCom", "Закрыть порт", 12},
                      Hint{"Command3", "Открыть файл прошивки м загрузить", 33},
                      Hint{"Command2", "Проверить загруженную прошивку", 30},
                      Hint{"Command6", "Проинсталировать загруженную прошивку", 37},
                      Hint{"Command4", "Узнать версию загрузчика в контроллере ", 39},
                      Hint{"Check1", "Установить для связи через MODBUS", 33},
                      Hint{"Text1", "Для автопоиска адреса оставить поле пустым  или указать адрес контроллера", 73}),
    [](const ::testing::TestParamInfo<Hint>& info) { return std::string(info.param.control); });

TEST(WindowDesign, ControlsWithoutAHintShowNone) {
    FakeWindow f;
    for (const char* name :
         {"Label4",    "Label6",   "Label7", "Option1", "Option2", "Option3",  "Option4",          "Pic",
          "Label1(0)", "txt(0)",   "Label2", "Label5",  "Text2",   "Command1", "vbalProgressBar1", "Label3",
          "Text8",     "Command5", "Frame2", "Frame3",  "Frame4"}) {
        QWidget* c = control(*f.w, name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_TRUE(c->toolTip().isEmpty()) << name << ": " << c->toolTip().toStdString();
    }
}

// ---------------------------------------------------------------------------
// Keyboard focus order.

TEST(WindowDesign, TabOrderFollowsTheDesign) {
    FakeWindow f;
    const QList<QWidget*> expected = {f->txt[0],   f->BTNOpenCom, f->BTNCloseCom, f->Command3, f->Command4, f->Command5,
                                      f->Command6, f->Text8,      f->Check1,      f->Text1,    f->Text2,    f->Command1,
                                      f->Command2, f->Option1,    f->Option2,     f->Option3,  f->Option4};
    // The chain is circular; collect the controls that take focus by Tab, in
    // chain order, starting at the port box.
    QList<QWidget*> order;
    QWidget* w = f->txt[0];
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && f->isAncestorOf(w)) order.append(w);
        w = w->nextInFocusChain();
    } while (w != f->txt[0] && order.size() < 100);
    EXPECT_EQ(order, expected);
}

TEST(WindowDesign, TabWalksTheFocusOrderAndSkipsDisabledControls) {
    FakeWindow f;
    f->show();
    QApplication::setActiveWindow(f.w.get());
    f->txt[0]->setFocus();
    if (QApplication::focusWidget() != f->txt[0]) GTEST_SKIP() << "the platform gives the window no keyboard focus";

    QList<QWidget*> visited;
    for (int i = 0; i < 20; ++i) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &tab);
        visited.append(QApplication::focusWidget());
        if (QApplication::focusWidget() == f->txt[0]) break;
    }
    // "Close" is disabled while the port is closed. The speed buttons form one
    // exclusive group, which the keyboard treats as a single stop (the arrow
    // keys move inside it).
    const QList<QWidget*> expected = {f->BTNOpenCom, f->Command3, f->Command4, f->Command5, f->Command6, f->Text8,
                                      f->Check1,     f->Text1,    f->Text2,    f->Command1, f->Command2};
    ASSERT_EQ(visited.size(), expected.size() + 2);
    EXPECT_EQ(visited.mid(0, expected.size()), expected);
    const QList<QWidget*> speedGroup = {f->Option1, f->Option2, f->Option3, f->Option4};
    EXPECT_TRUE(speedGroup.contains(visited[expected.size()]));
    EXPECT_EQ(visited.back(), f->txt[0]);
}

TEST(WindowDesign, TabReachesTheCloseButtonOnceItIsEnabled) {
    FakeWindow f;
    f->show();
    QApplication::setActiveWindow(f.w.get());
    f->BTNCloseCom->setEnabled(true);
    f->BTNOpenCom->setFocus();
    if (QApplication::focusWidget() != f->BTNOpenCom) GTEST_SKIP() << "the platform gives the window no keyboard focus";
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(f->BTNOpenCom, &tab);
    EXPECT_EQ(QApplication::focusWidget(), f->BTNCloseCom);
}

// ---------------------------------------------------------------------------
// Speed buttons.

TEST(WindowDesign, ExactlyOneSpeedButtonIsSelectedAndClickingOneDeselectsTheOthers) {
    FakeWindow f;
    QRadioButton* const options[] = {f->Option1, f->Option2, f->Option3, f->Option4};
    auto selected = [&] {
        QList<QRadioButton*> on;
        for (QRadioButton* o : options)
            if (o->isChecked()) on.append(o);
        return on;
    };
    EXPECT_EQ(selected(), QList<QRadioButton*>{f->Option3});
    for (QRadioButton* clicked : {f->Option1, f->Option4, f->Option2, f->Option3, f->Option4}) {
        clicked->click();
        EXPECT_EQ(selected(), QList<QRadioButton*>{clicked}) << clicked->objectName().toStdString();
    }
    // Clicking the selected one again keeps it selected.
    f->Option4->click();
    EXPECT_EQ(selected(), QList<QRadioButton*>{f->Option4});
}

TEST(WindowDesign, ModbusBoxIsNotPartOfTheSpeedGroup) {
    FakeWindow f;
    f->Check1->click();
    EXPECT_TRUE(f->Check1->isChecked());
    EXPECT_TRUE(f->Option3->isChecked());
    f->Option1->click();
    EXPECT_TRUE(f->Check1->isChecked());
}

// ---------------------------------------------------------------------------
// Tags.

TEST(WindowDesign, ExactlyThePortControlsCarryANonEmptyTag) {
    // The tags are the loader's: SwitchTags walks its controls and timers.
    FakeWindow f;
    std::map<QString, QString> tagged;
    for (const Control* c : f.loader().controls())
        if (!c->tag().isEmpty()) tagged[c->name()] = c->tag();
    if (!f.loader().Timer3Tag.isEmpty()) tagged[QStringLiteral("Timer3")] = f.loader().Timer3Tag;
    if (!f.loader().TMRCommTag.isEmpty()) tagged[QStringLiteral("TMRComm")] = f.loader().TMRCommTag;
    const std::map<QString, QString> expected = {
        {QStringLiteral("BTNOpenCom"), QStringLiteral("NO")},
        {QStringLiteral("txt(0)"), QStringLiteral("NO")},
        {QStringLiteral("BTNCloseCom"), QStringLiteral("NC")},
    };
    EXPECT_EQ(tagged, expected);
}

TEST(WindowDesign, EveryControlTheOperatorUsesIsOneOfTheLoader) {
    // So that SwitchTags reaches it and its state is the loader's.
    FakeWindow f;
    for (QWidget* w : f->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(u"qt_")) continue;
        if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QLineEdit*>(w)) continue;
        EXPECT_NE(f.loader().control(w->objectName()), nullptr) << w->objectName().toStdString();
    }
}

}  // namespace
}  // namespace vantrel::testing
