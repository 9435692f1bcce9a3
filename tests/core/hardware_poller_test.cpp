// The hardware poll's schedule on a clock the test moves: six reads a second on its own timer or
// riding on the meters', the pauses and their reasons, the back-off from an interface that
// stopped answering; and the readout as a value that says when it changed.

#include "core/hardware_poller.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "core/hardware_monitor.h"
#include "core/meter_clock.h"
#include "manual_clock.h"
#include "plugged_interface_test.h"

namespace h8 {
namespace {

using std::chrono::milliseconds;

class HardwarePollerTest : public test::PluggedInterfaceTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PluggedInterfaceTest::SetUp());
        monitor_ =
            std::make_unique<HardwareMonitor>(usbInterface_, store(), UserDefaults::standard());
        poller_ = std::make_unique<HardwarePoller>(*monitor_, store(), clock_);
        usb_.model().clearTransfers();
    }
    void TearDown() override {
        poller_.reset();
        monitor_.reset();
        PluggedInterfaceTest::TearDown();
    }
    // Hardware-state reads the interface received (each poll begins with one).
    int reads() {
        int n = 0;
        for (const auto& t : usb_.model().transfers())
            n += t.setup.requestType == 0xC0 && t.setup.index == 0x0079;
        return n;
    }

    test::ManualClock clock_;
    std::unique_ptr<HardwareMonitor> monitor_;
    std::unique_ptr<HardwarePoller> poller_;
};

TEST_F(HardwarePollerTest, SixReadsASecondOnItsOwnClockOrOnTheMetersUntilTheyStop) {
    poller_->start();
    clock_.advance(milliseconds(1000));
    EXPECT_EQ(reads(), 6);

    // Moving meters carry the poll: still six a second, and no timer of its own.
    int moved = 0;
    MeterClock meters(clock_, poller_.get(), [&] {
        return MeterClock::Shown{++moved % 2 == 0, false};
    });
    meters.start();
    EXPECT_FALSE(poller_->ownTimerActive());
    usb_.model().clearTransfers();
    clock_.advance(milliseconds(1000));
    EXPECT_EQ(reads(), 6);

    // Meters stopped (a hidden window): the poll goes on by itself.
    meters.stop();
    EXPECT_TRUE(poller_->ownTimerActive());
    usb_.model().clearTransfers();
    clock_.advance(milliseconds(1000));
    EXPECT_EQ(reads(), 6);
}

TEST_F(HardwarePollerTest, ThePollReadsOnlyWhileNothingPausesIt) {
    poller_->start();
    poller_->pause(HardwarePoller::Pause::unbound);
    poller_->pause(HardwarePoller::Pause::knob);
    // The knob's gesture ends while the interface is gone: still nothing is read.
    poller_->resume(HardwarePoller::Pause::knob);
    EXPECT_FALSE(store().canReadStatue);
    clock_.advance(milliseconds(1000));
    EXPECT_EQ(reads(), 0);
    poller_->resume(HardwarePoller::Pause::unbound);
    EXPECT_TRUE(store().canReadStatue);
    clock_.advance(milliseconds(1000));
    EXPECT_EQ(reads(), 6);
}

TEST_F(HardwarePollerTest, ASilentInterfaceIsReadEveryTwoSecondsUntilItAnswers) {
    poller_->start();
    usb_.model().setFault(emulated::EmulatedH8::Fault::Stall);
    clock_.advance(milliseconds(500));  // three silent reads
    EXPECT_TRUE(poller_->isBackedOff());
    usb_.model().clearTransfers();
    clock_.advance(milliseconds(4000));
    EXPECT_EQ(reads(), 2);
    usb_.model().setFault(emulated::EmulatedH8::Fault::None);
    ASSERT_TRUE(clock_.advanceUntil([this] { return !poller_->isBackedOff(); }, milliseconds(10),
                                    milliseconds(2100)));
    usb_.model().clearTransfers();
    clock_.advance(milliseconds(1000));
    EXPECT_EQ(reads(), 6);
}

TEST_F(HardwarePollerTest, TheReadoutSaysWhenItChanged) {
    QSignalSpy updated(monitor_.get(), &HardwareMonitor::updated);
    QSignalSpy changed(monitor_.get(), &HardwareMonitor::stateChanged);
    usb_.model().setGainCode(1, 15);
    poller_->tick();
    poller_->tick();
    EXPECT_EQ(updated.size(), 2);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_DOUBLE_EQ(monitor_->state().input1Gain, 6.2);
    usb_.model().setPhantomPower(2, true);
    poller_->tick();
    EXPECT_EQ(changed.size(), 2);
    EXPECT_EQ(monitor_->state().phantom2, 1);
    // An interface that does not answer changes nothing.
    usb_.model().setFault(emulated::EmulatedH8::Fault::Stall);
    poller_->tick();
    EXPECT_EQ(updated.size(), 3);
    EXPECT_EQ(monitor_->state().phantom2, 1);
}

}  // namespace
}  // namespace h8
