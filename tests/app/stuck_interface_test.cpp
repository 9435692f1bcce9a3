// An interface that stops answering (every transfer runs into its time-out, as a hung device's
// do) must not freeze the window: the hardware poll waits briefly, backs off, and picks up again
// when the interface answers.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "app_delegate.h"
#include "core/hardware_poller.h"
#include "core/preset_file.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "emulated_panel_test.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/sections/main_contain_view.h"
#include "view_controller.h"

namespace h8 {
namespace {

class StuckInterfaceTest : public test::EmulatedPanelTest {
protected:
    void SetUp() override {
        EmulatedPanelTest::SetUp();
        realTime_ = true;  // the freezes it measures are real ones
        usb_.plug();
        launchWindow();
        ASSERT_TRUE(controller()->isBound());
    }
    void TearDown() override {
        usb_.model().setFault(emulated::EmulatedH8::Fault::None);
        EmulatedPanelTest::TearDown();
    }

    // Runs the event loop for `ms` (and `action` first, from the loop) and returns the longest
    // gap between the ticks of a 10 ms main-thread timer: the longest the window froze.
    qint64 longestFreeze(int ms, const std::function<void()>& action = {}) {
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        tick.start(10);
        if (action) QTimer::singleShot(0, action);
        EXPECT_TRUE(QTest::qWaitFor([&] { return clock.elapsed() >= ms; }, ms + 1000));
        return std::max(longest, clock.elapsed() - last);
    }
};

TEST_F(StuckInterfaceTest, TheWindowKeepsAnsweringWhileTheInterfaceHangs) {
    usb_.model().setFault(emulated::EmulatedH8::Fault::Hang);
    // A main-thread clock: the longest gap between its ticks is the longest freeze, and the
    // time past each 10 ms tick adds up to the time spent waiting on USB.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    std::vector<qint64> waitedPerSecond(10, 0);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        const size_t second = static_cast<size_t>(now / 1000);
        if (second < waitedPerSecond.size())
            waitedPerSecond[second] += std::max<qint64>(0, now - last - 10);
        last = now;
    });
    tick.start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return clock.elapsed() >= 10000; }, 11000));
    EXPECT_LT(longest, 250) << "the window froze for " << longest << " ms";
    for (size_t s = 0; s < waitedPerSecond.size(); ++s)
        EXPECT_LT(waitedPerSecond[s], 250) << "second " << s;
}

TEST_F(StuckInterfaceTest, ThePollPicksUpAgainWhenTheInterfaceAnswers) {
    usb_.model().setFault(emulated::EmulatedH8::Fault::Hang);
    QTRY_VERIFY_WITH_TIMEOUT(window_->controller->poller().isBackedOff(), 3000);
    usb_.model().setFault(emulated::EmulatedH8::Fault::None);
    usb_.model().setGainCode(1, 200);  // someone turns the gain knob on the interface
    const double before = NorvShareHelper::shared().micIn1Volume;
    QElapsedTimer sinceAnswer;
    sinceAnswer.start();
    QTRY_VERIFY_WITH_TIMEOUT(NorvShareHelper::shared().micIn1Volume != before, 3000);
    // The backed-off poll reads every 2 s: it notices within one such pause.
    EXPECT_LT(sinceAnswer.elapsed(), 2500);
}

TEST_F(StuckInterfaceTest, AnActionOnAHungInterfaceWaitsForItOnceNotOncePerRequest) {
    const QString preset = env_.root() + "/routes.h8preset";
    ASSERT_TRUE(NorvExportFileHelper::shared().exportFile(preset));
    usb_.model().setFault(emulated::EmulatedH8::Fault::Hang);
    QTRY_VERIFY_WITH_TIMEOUT(window_->controller->poller().isBackedOff(), 3000);
    // An import sends every crosspoint: one time-out of 1 s, not 144 of them (before: 144 s).
    usb_.model().clearTransfers();
    qint64 freeze = longestFreeze(2000, [&] { window_->controller->importPreset(preset); });
    EXPECT_LT(freeze, 1500);
    EXPECT_LE(usb_.model().transfers().size(), 3u);
    // A re-plug of the hung interface: its identity reads and the rebuild of every route.
    freeze = longestFreeze(2500, [&] {
        usb_.unplug();
        usb_.plug();
    });
    EXPECT_LT(freeze, 1500);
    EXPECT_TRUE(window_->controller->isBound());
    // When it answers again, the next action reaches it.
    usb_.model().setFault(emulated::EmulatedH8::Fault::None);
    usb_.model().clearTransfers();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !usbInterface_.isHoldingBack(); }, 2000));
    window_->controller->importPreset(preset);
    const auto sent = usb_.model().transfers();
    EXPECT_FALSE(sent.empty());
    for (const auto& t : sent) EXPECT_GE(t.status, 0);
}

}  // namespace
}  // namespace h8
