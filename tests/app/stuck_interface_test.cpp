// An interface that stops answering (every transfer runs into its time-out, as a hung device's
// do) must not freeze the window: the hardware poll waits briefly, backs off, and picks up again
// when the interface answers.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "app_delegate.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/sections/main_contain_view.h"
#include "view_controller.h"

namespace h8 {
namespace {

class StuckInterfaceTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        audio_ = std::make_unique<emulated::EmulatedAudioBackend>(usb_.model());
        SimplyCoreAudio::setBackend(audio_.get());
        IOUSBHelper::setAudioDeviceSource([this] { return audio_->devices(); });
        usb_.plug();
        window_ = std::make_unique<AppDelegate>(usb_, &usb_, audio_.get());
        window_->show();
        window_->applicationDidFinishLaunching();
        ASSERT_TRUE(window_->controller->isBound());
    }
    void TearDown() override {
        usb_.model().setFault(emulated::EmulatedH8::Fault::None);
        window_.reset();
        stopUSBMonitoring();
        NorvShareHelper::shared().audio.reset();
        IOUSBHelper::setAudioDeviceSource(nullptr);
        SimplyCoreAudio::setBackend(nullptr);
    }

    test::TempEnv env_;
    emulated::EmulatedUsbTransport usb_;
    std::unique_ptr<emulated::EmulatedAudioBackend> audio_;
    std::unique_ptr<AppDelegate> window_;
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
        if (second < waitedPerSecond.size()) waitedPerSecond[second] += std::max<qint64>(0, now - last - 10);
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
    QTRY_VERIFY_WITH_TIMEOUT(window_->controller->norvMainContaiView->pollIsBackedOff(), 3000);
    usb_.model().setFault(emulated::EmulatedH8::Fault::None);
    usb_.model().setGainCode(1, 200);  // someone turns the gain knob on the interface
    const double before = NorvShareHelper::shared().micIn1Volume;
    QElapsedTimer sinceAnswer;
    sinceAnswer.start();
    QTRY_VERIFY_WITH_TIMEOUT(NorvShareHelper::shared().micIn1Volume != before, 3000);
    // The backed-off poll reads every 2 s: it notices within one such pause.
    EXPECT_LT(sinceAnswer.elapsed(), 2500);
}

}  // namespace
}  // namespace h8
