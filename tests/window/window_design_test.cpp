#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "window/lamp.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

TEST(WindowDesign, StartsClosedWithDesignValues) {
    FakeWindow f;
    EXPECT_EQ(f->windowTitle(), QStringLiteral("Vantrel V 4.01"));
    EXPECT_EQ(f->size(), QSize(397, 122));
    EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->BTNCloseCom->isEnabled());
    EXPECT_TRUE(f->Option3->isChecked());
    EXPECT_EQ(f->Pic->fillColor(), color::kYellow);
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("NO FILE"));
    EXPECT_EQ(f->Label2->text(), QStringLiteral("No info"));
    EXPECT_FALSE(f->Timer3->isActive());
    EXPECT_FALSE(f->TMRComm->isActive());
}

}  // namespace
}  // namespace vantrel::testing
