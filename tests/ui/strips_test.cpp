// Channel strips: highlights that follow route hovering and chip counts, names stored on every
// keystroke, reloads after a preset import, and the level bars.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/matrix/drag_view.h"
#include "ui/strips/channel_strips.h"
#include "ui/strips/level_bar.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_text_field.h"
#include "ui/widgets/lum_volume_vircle_view.h"

namespace h8::ui {
namespace {

class StripsTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        playback_ = std::make_unique<NorvInputProgressView>("Playback 1-2", LayoutType::BL);
        playback_->setIndexTitle(1);
        playback_->setRows(5);
        playback_->resize(335, 60);
        loop_ = std::make_unique<NorvOutProgressView>("Mixer In 1-2", true);
        loop_->setPair(5);
        loop_->resize(335, 60);
    }
    static void post(const char* name, const QVariant& object) {
        NotificationCenter::defaultCenter().post(name, object);
    }

    test::TempEnv env_;
    std::unique_ptr<NorvInputProgressView> playback_;
    std::unique_ptr<NorvOutProgressView> loop_;
};

TEST_F(StripsTest, HoveringARouteLightsTheBarsOfItsSourceAndDestination) {
    post(notify::kMouseEnteredChannelLabel, crosspointPayload(6, 6));
    EXPECT_EQ(playback_->botView->borderColor(), QColor(Qt::white));
    EXPECT_EQ(playback_->topView->borderColor(), QColor(58, 58, 58));
    EXPECT_EQ(loop_->botView->borderColor(), QColor(Qt::white));
    EXPECT_FALSE(loop_->topView->borderColor());
    post(notify::kMouseExitedChannelLabel, crosspointPayload(6, 6));
    EXPECT_EQ(playback_->botView->borderColor(), QColor(58, 58, 58));
    EXPECT_FALSE(loop_->botView->borderColor());
    // Payloads of the wrong shape are ignored.
    post(notify::kMouseEnteredChannelLabel, QVariant(6));
    EXPECT_EQ(playback_->botView->borderColor(), QColor(58, 58, 58));
}

TEST_F(StripsTest, HandleStaysLitUntilItsLastChipIsGone) {
    RouteChips chips;
    chips.drop(5, 1);
    chips.drop(5, 3);
    EXPECT_EQ(playback_->topBtn->label->borderColor(), QColor(Qt::white));
    chips.removeByDoubleClick(5, 1);
    EXPECT_EQ(playback_->topBtn->label->borderColor(), QColor(Qt::white));
    chips.removeByDoubleClick(5, 3);
    EXPECT_FALSE(playback_->topBtn->label->borderColor());
    EXPECT_EQ(playback_->botBtn->label->borderColor(), QColor(31, 101, 47));  // untouched
}

TEST_F(StripsTest, NamesAreStoredOnEveryKeystrokeAndReloadedAfterImport) {
    playback_->show();
    QTest::mouseClick(playback_->botL, Qt::LeftButton);
    QTest::keyClicks(playback_->botL, "Vox");
    EXPECT_EQ(UserDefaults::standard().stringForKey("channelRowName6"), "Vox");
    QTest::keyClick(playback_->botL, Qt::Key_Backspace);
    EXPECT_EQ(UserDefaults::standard().stringForKey("channelRowName6"), "Vo");
    playback_->botL->selectAll();
    QTest::keyClick(playback_->botL, Qt::Key_Delete);
    EXPECT_EQ(UserDefaults::standard().stringForKey("channelRowName6"), "");

    UserDefaults::standard().setString("channelRowName6", "Synth");
    UserDefaults::standard().setString("channelName6", "Stream");
    UserDefaults::standard().setInteger("outputVolume5", 42);
    post(notify::kEntranceFileSuccess, {});
    EXPECT_EQ(playback_->botL->text(), "Synth");
    EXPECT_EQ(loop_->botL->text(), "Stream");
    EXPECT_EQ(loop_->volumeLabel->text(), "42");

    // A stored 0 (or nothing) leaves the knob and its label where they are.
    UserDefaults::standard().setInteger("outputVolume5", 0);
    post(notify::kEntranceFileSuccess, {});
    EXPECT_EQ(loop_->volumeLabel->text(), "42");
}

TEST_F(StripsTest, NamesLoadWithTheRows) {
    UserDefaults::standard().setString("channelRowName2", "Guitar");
    NorvInputProgressView mic("Mic/Line 1-2", LayoutType::TL);
    EXPECT_TRUE(mic.botL->text().isEmpty());
    mic.setRows(1);
    EXPECT_EQ(mic.botL->text(), "Guitar");
    EXPECT_EQ(mic.topBtn->actRowIndex, 1);
    EXPECT_EQ(mic.botBtn->actRowIndex, 2);
    mic.setIndexTitle(1);
    EXPECT_EQ(mic.botBtn->titleText(), "2");
}

TEST(LevelBarTest, GradientAndClamping) {
    EXPECT_DOUBLE_EQ(LevelBar::gradientEnd(0.3), 5.0);
    EXPECT_DOUBLE_EQ(LevelBar::gradientEnd(0.6), 5.0);
    EXPECT_DOUBLE_EQ(LevelBar::gradientEnd(0.8), 1.2);
    LevelBar bar;
    bar.resize(100, 12);
    bar.setLevel(1.7);
    EXPECT_DOUBLE_EQ(bar.level(), 1.0);
    bar.setLevel(std::nan(""));
    EXPECT_DOUBLE_EQ(bar.level(), 0.0);
}

}  // namespace
}  // namespace h8::ui

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    h8::NorvShareHelper::disableLogFile();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
