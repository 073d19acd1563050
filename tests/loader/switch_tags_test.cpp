#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window_snapshot.h"

namespace vantrel::testing {
namespace {

const std::set<std::string> kPortControlsEnabled = {"BTNOpenCom.enabled", "txt(0).enabled", "BTNCloseCom.enabled"};

TEST(SwitchTags, OneCallFlipsThePortControlsAndNothingElse) {
    FakeLoader f;
    const WindowState before = snapshot(*f.w);
    f->SwitchTags();
    EXPECT_EQ(changes(before, snapshot(*f.w)), kPortControlsEnabled);
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_FALSE(f->txt[0]->isEnabled());
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
}

TEST(SwitchTags, TwoCallsLeaveEveryControlAsItWas) {
    FakeLoader f;
    // Start from a state that is not the design one, so that a switch that
    // "resets" instead of inverting would show.
    f->Command3->setEnabled(false);
    f->Timer3->start();
    const WindowState before = snapshot(*f.w);
    f->SwitchTags();
    f->SwitchTags();
    EXPECT_EQ(snapshot(*f.w), before);
    f->Timer3->stop();
}

TEST(SwitchTags, ArrangementFollowsTheParityOfTheCalls) {
    FakeLoader f;
    for (int calls = 1; calls <= 5; ++calls) {
        f->SwitchTags();
        const bool open = calls % 2 == 1;
        EXPECT_EQ(f->BTNOpenCom->isEnabled(), !open) << calls;
        EXPECT_EQ(f->txt[0]->isEnabled(), !open) << calls;
        EXPECT_EQ(f->BTNCloseCom->isEnabled(), open) << calls;
    }
}

TEST(SwitchTags, InvertsAControlThatWasChangedInBetween) {
    FakeLoader f;
    f->SwitchTags();  // open arrangement: Close enabled
    f->BTNCloseCom->setEnabled(false);
    f->BTNOpenCom->setEnabled(true);
    f->SwitchTags();
    // Inverted, not set to the closed-port arrangement.
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_TRUE(f->txt[0]->isEnabled());
}

// Only emptiness of a tag matters.
struct TagCase {
    const char* name;
    QString tag;
    bool switched;
};

class TagText : public ::testing::TestWithParam<TagCase> {};

TEST_P(TagText, DecidesWhetherAControlIsSwitched) {
    FakeLoader f;
    f->Command2->setTag(GetParam().tag);
    f->SwitchTags();
    EXPECT_EQ(f->Command2->isEnabled(), !GetParam().switched);
    // The port controls switch regardless.
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Tags, TagText,
                         ::testing::Values(TagCase{"Empty", QString(), false},
                                           TagCase{"SingleBlank", QStringLiteral(" "), true},
                                           TagCase{"NO", QStringLiteral("NO"), true},
                                           TagCase{"NC", QStringLiteral("NC"), true},
                                           TagCase{"AnyOtherText", QStringLiteral("x"), true}),
                         [](const ::testing::TestParamInfo<TagCase>& info) { return std::string(info.param.name); });

TEST(SwitchTags, NcTagBehavesExactlyLikeNo) {
    // Two identical windows, one tagged "NO" and one "NC" on the same control:
    // after the same sequence of calls they agree.
    FakeLoader no, nc;
    no->Text2->setTag(QStringLiteral("NO"));
    nc->Text2->setTag(QStringLiteral("NC"));
    for (int i = 0; i < 3; ++i) {
        no->SwitchTags();
        nc->SwitchTags();
        EXPECT_EQ(snapshot(*no.w), snapshot(*nc.w)) << "after call " << i + 1;
    }
}

TEST(SwitchTags, ReachesEveryControlTheLoaderKeeps) {
    // Whichever control carries a tag, wherever the window draws it (the
    // status frame's bar, the Modbus frame's boxes): the walk covers them all.
    FakeLoader names;
    for (const Control* c : names->controls()) {
        FakeLoader f;
        Control* tagged = f->control(c->name());
        ASSERT_NE(tagged, nullptr) << c->name().toStdString();
        tagged->setTag(QStringLiteral("NO"));
        const bool was = tagged->isEnabled();
        f->SwitchTags();
        EXPECT_EQ(tagged->isEnabled(), !was) << c->name().toStdString();
        f->SwitchTags();
        EXPECT_EQ(tagged->isEnabled(), was) << c->name().toStdString();
    }
}

TEST(SwitchTags, ControlsWithoutATagAreLeftAlone) {
    FakeLoader f;
    f->Command3->setEnabled(false);
    f->SwitchTags();
    EXPECT_FALSE(f->Command3->isEnabled());
}

TEST(SwitchTags, ATaggedTimerIsSwitchedLikeAnyControl) {
    // The timers take part in the walk: their enabled state is whether they run.
    FakeLoader f;
    f->TMRCommTag = QStringLiteral("NO");
    f->SwitchTags();
    EXPECT_TRUE(f->TMRComm->isActive());
    f->SwitchTags();
    EXPECT_FALSE(f->TMRComm->isActive());
    EXPECT_FALSE(f->Timer3->isActive());
}

}  // namespace
}  // namespace vantrel::testing
