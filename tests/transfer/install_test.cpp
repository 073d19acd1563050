#include <QByteArray>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

class InstallTest : public ::testing::Test {
  protected:
    InstallTest() { f.port->setPortOpen(true); }
    FakeLoader f;
};

TEST_F(InstallTest, SendsInstallThenVersionOneSecondLater) {
    QList<QByteArray> writtenDuringThePause;
    f.sleeper->onSleep = [&](int) { writtenDuringThePause = f.port->writes; };

    f->Command6_Click();

    EXPECT_EQ(f.sleeper->pauses, QList<int>{1000});
    EXPECT_EQ(writtenDuringThePause, QList<QByteArray>{"BOOTg\r\n"});
    EXPECT_EQ(f.port->writes, (QList<QByteArray>{"BOOTg\r\n", "VER\r\n"}));
}

TEST_F(InstallTest, ModbusFramesEachCommandOnItsOwn) {
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("1"));

    f->Command6_Click();

    EXPECT_EQ(f.port->writes, (QList<QByteArray>{QByteArray::fromHex("01424F4F54670D0A9D4A"),
                                                 QByteArray::fromHex("015645520D0A798C")}));
}

TEST_F(InstallTest, LaterVersionReplySendsNoLineOfTheLoadedFile) {
    f->HexLines[1] = ":L1";
    f->HexLines[2] = ":L2";
    f->LineCount = 2;
    f->LineIndex = 1;
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->Timer3->start();

    f->Command6_Click();
    f.port->writes.clear();
    f->RxLine = "VER=1.2\r\n";
    f->Com_Parser();

    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_EQ(f->TransferArmed, 1);
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_EQ(f->Label2->text(), QStringLiteral("READY"));
    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST_F(InstallTest, ChangesNoStatusNorTransferPosition) {
    f->VerifyPhase = 1;
    f->LineCount = 4;
    f->LineIndex = 2;
    f->Label2->setText(QStringLiteral("No info"));
    f->vbalProgressBar1->setText(QStringLiteral("END"));
    f->vbalProgressBar1->setValue(2);
    f->vbalProgressBar1->setBarColor(color::kGreen);

    f->Command6_Click();

    EXPECT_EQ(f->VerifyPhase, 1);
    EXPECT_EQ(f->LineIndex, 2);
    EXPECT_EQ(f->Label2->text(), QStringLiteral("No info"));
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(f->vbalProgressBar1->value(), 2);
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kGreen);
}

TEST_F(InstallTest, PortClosedStillPausesAndClearsTheTransfer) {
    f.port->setPortOpen(false);
    f->TransferActive = 1;

    f->Command6_Click();

    EXPECT_EQ(f.sleeper->pauses, QList<int>{1000});
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_EQ(f->TransferActive, 0);
}

}  // namespace
}  // namespace vantrel::testing
