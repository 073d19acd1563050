#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

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

}  // namespace
}  // namespace vantrel::testing
