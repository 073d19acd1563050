#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/colors.h"
#include "window/lamp.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

// The window is a view: what the operator types reaches the loader as it is
// typed, and what the loader changes shows at once.

TEST(WindowView, EveryEditOfAnInputReachesTheLoaderAsItIsMade) {
    FakeWindow f;
    Loader& l = f.loader();
    f->txt[0]->setText(QStringLiteral("COM7"));
    EXPECT_EQ(l.txt[0]->text(), QStringLiteral("COM7"));
    f->Text1->setText(QStringLiteral("1"));
    EXPECT_EQ(l.Text1->text(), QStringLiteral("1"));
    f->Text1->setText(QStringLiteral("12"));
    EXPECT_EQ(l.Text1->text(), QStringLiteral("12"));
    f->Text2->setText(QStringLiteral("33"));
    EXPECT_EQ(l.Text2->text(), QStringLiteral("33"));
    f->Check1->click();
    EXPECT_TRUE(l.Check1->isChecked());
    f->Option1->click();
    EXPECT_TRUE(l.Option1->isChecked());
    EXPECT_FALSE(l.Option3->isChecked());
}

TEST(WindowView, TheAddressIsReadAfreshAtEveryCheck) {
    // A frame is built with the address in the box at the moment it is
    // written, not the one the box held when the port opened.
    FakeWindow f;
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("0"));
    f->BTNOpenCom->click();
    ASSERT_TRUE(f.loader().MSComm1->portOpen());
    f->Text1->setText(QStringLiteral("5"));
    f->Command4->click();
    ASSERT_FALSE(f.port->writes.isEmpty());
    EXPECT_EQ(f.port->writes.back().at(0), '\x05');
}

TEST(WindowView, OpenAndCloseShowWhatTheLoaderChanged) {
    FakeWindow f;
    f->Text1->setText(QStringLiteral("0"));
    f->BTNOpenCom->click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->txt[0]->isEnabled());
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
    EXPECT_EQ(f->txt[0]->palette().color(QPalette::Base), toQColor(color::kGreen));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kDarkBlue);
    EXPECT_EQ(f->Command1->text(), QStringLiteral("Set Addr"));

    f->BTNCloseCom->click();
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Closed"));
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());
    EXPECT_TRUE(f->Pic->isHidden());
    EXPECT_EQ(f->txt[0]->palette().color(QPalette::Base), QLineEdit().palette().color(QPalette::Base));
}

TEST(WindowView, TheProbeAndTheRepliesShowOnTheWindow) {
    FakeWindow f;
    f->Check1->setChecked(true);
    f->Text1->clear();  // an address search
    f->BTNOpenCom->click();
    EXPECT_EQ(f->Command1->text(), QStringLiteral("Next"));
    f.loader().Timer3_Timer();
    // The trial address the probe writes into the address box shows there.
    EXPECT_EQ(f->Text1->text(), QStringLiteral("1"));
    EXPECT_EQ(f->Label2->text(), QStringLiteral("WAIT Connect:  1"));

    // A reply: the lamp, the answer box and the status line follow.
    f.port->feed(QByteArray("\x01"
                            "BVER=4.01\r\n",
                            12) +
                 f.loader().CRC16(QByteArray("\x01"
                                             "BVER=4.01\r\n",
                                             12)));
    f.loader().TMRComm_Timer();
    EXPECT_EQ(f->Pic->fillColor(), color::kRed);
    EXPECT_EQ(f->Text8->text(), QStringLiteral("VER=4.01\r\n"));
    EXPECT_EQ(f->Label2->text(), QStringLiteral("READY"));
}

TEST(WindowView, TheBarShowsTheTransfer) {
    FakeWindow f;
    Loader& l = f.loader();
    l.vbalProgressBar1->setMax(12);
    l.vbalProgressBar1->setValue(5);
    l.vbalProgressBar1->setText(QStringLiteral("DOWNLOAD"));
    l.vbalProgressBar1->setBarColor(color::kGreen);
    EXPECT_EQ(f->vbalProgressBar1->max(), 12);
    EXPECT_EQ(f->vbalProgressBar1->value(), 5);
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("DOWNLOAD"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kGreen);
}

TEST(WindowView, TheButtonsRunTheirHandlers) {
    FakeWindow f;
    f->Text1->setText(QStringLiteral("0"));
    f->BTNOpenCom->click();
    f->Command4->click();
    ASSERT_FALSE(f.port->writes.isEmpty());
    EXPECT_EQ(f.port->writes.back(), QByteArray("BOOTi\r\n"));
    f->Command6->click();
    EXPECT_EQ(f.sleeper->pauses, QList<int>{1000});
    f->BTNCloseCom->click();
    EXPECT_FALSE(f.loader().MSComm1->portOpen());
}

// Every property the loader holds for every control, where its widget shows
// something else: empty when the window shows the loader exactly.
QStringList differences(const FakeWindow& f) {
    QStringList out;
    auto differ = [&out](const Control& c, const char* what, const auto& loader, const auto& window) {
        if (loader != window)
            out << QStringLiteral("%1.%2: loader %3, window %4")
                       .arg(c.name(), QString::fromLatin1(what), QVariant::fromValue(loader).toString(),
                            QVariant::fromValue(window).toString());
    };
    for (const Control* c : f.loader().controls()) {
        QWidget* w = f->findChild<QWidget*>(c->name());
        if (w == nullptr) {
            out << c->name() + QStringLiteral(" has no widget");
            continue;
        }
        differ(*c, "enabled", c->isEnabled(), !w->testAttribute(Qt::WA_Disabled));
        differ(*c, "visible", c->isVisible(), !w->isHidden());
        if (auto* l = qobject_cast<QLabel*>(w)) differ(*c, "text", c->text(), l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            differ(*c, "text", c->text(), b->text());
            differ(*c, "checked", c->isChecked(), b->isChecked());
        }
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            differ(*c, "text", c->text(), e->text());
            const QColor base =
                c->backColor() ? toQColor(*c->backColor()) : QLineEdit().palette().color(QPalette::Base);
            differ(*c, "backColor", base.name(), e->palette().color(QPalette::Base).name());
        }
        if (auto* lamp = qobject_cast<Lamp*>(w)) differ(*c, "fillColor", c->fillColor(), lamp->fillColor());
        if (auto* bar = qobject_cast<VbalProgressBar*>(w)) {
            differ(*c, "text", c->text(), bar->text());
            differ(*c, "value", c->value(), bar->value());
            differ(*c, "max", c->max(), bar->max());
            differ(*c, "barColor", c->barColor(), bar->barColor());
        }
    }
    return out;
}

// The window starts from the loader's values and follows every change, in
// every state an operator meets: each step is compared control by control.
TEST(WindowView, ShowsEveryPropertyOfEveryControlAsTheLoaderHoldsIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile hex(dir.filePath(QStringLiteral("two.hex")));
    ASSERT_TRUE(hex.open(QIODevice::WriteOnly));
    hex.write(":0400000000010203F6\r\n:00000001FF\r\n");
    hex.close();

    FakeWindow f;
    Loader& l = f.loader();
    EXPECT_EQ(differences(f), QStringList()) << "at start";

    f->Text1->setText(QStringLiteral("0"));
    f->BTNOpenCom->click();
    EXPECT_EQ(differences(f), QStringList()) << "after Open";

    f.dialog->nextPath = hex.fileName();
    f->Command3->click();
    f.port->feed("OK\r\n");
    l.TMRComm_Timer();
    EXPECT_EQ(differences(f), QStringList()) << "during a download";

    f.port->feed("ERROR\r\n");
    l.TMRComm_Timer();
    EXPECT_EQ(differences(f), QStringList()) << "after an ERROR";

    for (int i = 0; i < 10; ++i) l.TMRComm_Timer();  // the lamp blinks
    EXPECT_EQ(differences(f), QStringList()) << "after the blink";

    f->BTNCloseCom->click();
    EXPECT_EQ(differences(f), QStringList()) << "after Close";

    f->Option4->click();
    f.port->refuseOpen = true;
    f->BTNOpenCom->click();
    l.Timer3_Timer();
    EXPECT_EQ(differences(f), QStringList()) << "while the USB scan waits";
    f.port->refuseOpen = false;
    l.Timer3_Timer();
    EXPECT_EQ(differences(f), QStringList()) << "once the USB port opened";
}

}  // namespace
}  // namespace vantrel::testing
