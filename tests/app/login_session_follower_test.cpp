// The panel across a suspend and a switch of user, in-process on the emulated H8 with a login
// manager the test drives: after a wake-up only the crosspoints the interface lost are written
// again (judged by the byte last written, 0x80 or 0x81), all of them when none can be read;
// while the session is inactive the panel lets go of the interface and touches it no more, and
// binds it again when the session is active again.

#include "login_session_follower.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <map>

#include "captured_diagnostics.h"
#include "core/hardware_poller.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated_panel_test.h"
#include "platform/dbus/login_session.h"
#include "ui/panels/unconnected_view.h"
#include "ui/widgets/lum_label.h"
#include "view_controller.h"

namespace h8 {
namespace {

class FakeLoginSession : public LoginSession {
public:
    bool isActive() const override { return active_; }
    void setActive(bool active) {
        active_ = active;
        emit activeChanged(active);
    }
    void sleep() { emit prepareForSleep(true); }
    void wake() { emit prepareForSleep(false); }

private:
    bool active_ = true;
};

// The crosspoint address (source code + 12 × destination) of a source row and destination col.
int address(int row, int col) {
    return sourceCodeForRow(row - 1) + 12 * (col - 1);
}

class LoginSessionFollowerTest : public test::EmulatedPanelTest {
protected:
    void SetUp() override {
        EmulatedPanelTest::SetUp();
        usb_.plug();
        launchWindow();
        ASSERT_TRUE(controller()->isBound());
        follower_ = std::make_unique<LoginSessionFollower>(
            login_, *controller(), usbInterface_, clock(), NorvShareHelper::shared(),
            LoginSessionFollower::UsbClaim{&releaseUSBDevice, &reclaimUSBDevice});
    }
    void TearDown() override {
        follower_.reset();
        EmulatedPanelTest::TearDown();
    }

    // The crosspoint writes the emulated H8 received (or refused), by address, the last byte.
    std::map<int, uint8_t> crosspointWrites() {
        std::map<int, uint8_t> writes;
        for (const auto& t : usb_.model().transfers()) {
            if (t.setup.index == 0x001E && t.setup.requestType == 0x40 && !t.data.empty())
                writes[t.setup.value] = t.data[0];
        }
        return writes;
    }
    void setCrosspoint(int row, int col, uint8_t gain) {
        emulated::H8State s = usb_.model().state();
        s.mixer[address(row, col)] = gain;
        usb_.model().setState(s);
    }
    uint8_t crosspoint(int row, int col) { return usb_.model().state().mixer[address(row, col)]; }

    FakeLoginSession login_;
    std::unique_ptr<LoginSessionFollower> follower_;
};

TEST_F(LoginSessionFollowerTest, AfterAWakeUpOnlyTheLostCrosspointsAreWrittenAgain) {
    RoutingModel& routing = controller()->routing();
    // The bind wrote the level of the default routes (5→1, 6→2: 0x81) and 0xFF to the rest; a
    // route switched on since ends with its commit (0x80).
    ASSERT_TRUE(routing.drop(1, 3));
    ASSERT_EQ(routing.lastSent(5, 1), 0x81);
    ASSERT_EQ(routing.lastSent(1, 3), 0x80);
    ASSERT_EQ(routing.lastSent(2, 5), 0xFF);

    login_.sleep();
    EXPECT_TRUE(controller()->poller().isPaused());
    // Asleep, the interface lost one route and came back with a crosspoint on that the panel
    // switched off; the others kept what they were sent (0x81 and 0x80 alike).
    setCrosspoint(5, 1, 0xFF);
    setCrosspoint(2, 5, 0x80);
    usb_.model().clearTransfers();
    test::CapturedDiagnostics diagnostics;
    login_.wake();

    EXPECT_EQ(crosspointWrites(),
              (std::map<int, uint8_t>{{address(5, 1), 0x81}, {address(2, 5), 0xFF}}));
    EXPECT_EQ(crosspoint(5, 1), 0x81);
    EXPECT_EQ(crosspoint(2, 5), 0xFF);
    EXPECT_EQ(crosspoint(1, 3), 0x80);
    EXPECT_TRUE(diagnostics.contains(
        "After the wake-up 2 of 144 crosspoints differed from what was sent: re-sent 2"));
    EXPECT_EQ(follower_->resumeChecks(), 1);
    // The poll goes on at once: the hardware state was read right after the check.
    EXPECT_FALSE(controller()->poller().isPaused());
    bool stateRead = false;
    for (const auto& t : usb_.model().transfers()) stateRead |= t.setup.index == 0x0079;
    EXPECT_TRUE(stateRead);
}

TEST_F(LoginSessionFollowerTest,
       AnInterfaceStillWakingIsReadAgainThenAllAreWrittenIfItNeverAnswers) {
    login_.sleep();
    usb_.model().resetMixer();
    usb_.model().setFault(emulated::EmulatedH8::Fault::Stall);
    login_.wake();
    EXPECT_EQ(follower_->resumeChecks(), 0);
    EXPECT_TRUE(controller()->poller().isPaused());
    // It answers after a second: the reads are tried again, and only the lost routes written.
    advance(std::chrono::milliseconds(LoginSessionFollower::kWakeRetryMs * 3));
    EXPECT_EQ(follower_->resumeChecks(), 0);
    usb_.model().setFault(emulated::EmulatedH8::Fault::None);
    usb_.model().clearTransfers();
    advance(std::chrono::milliseconds(LoginSessionFollower::kWakeRetryMs));
    EXPECT_EQ(follower_->resumeChecks(), 1);
    EXPECT_EQ(crosspointWrites(),
              (std::map<int, uint8_t>{{address(5, 1), 0x81}, {address(6, 2), 0x81}}));

    // One that never answers within the retries: every crosspoint is written again.
    login_.sleep();
    usb_.model().setFault(emulated::EmulatedH8::Fault::Stall);
    test::CapturedDiagnostics diagnostics;
    login_.wake();
    usb_.model().clearTransfers();
    advance(std::chrono::milliseconds(LoginSessionFollower::kWakeRetryMs *
                                      LoginSessionFollower::kWakeAttempts));
    EXPECT_EQ(follower_->resumeChecks(), 2);
    EXPECT_EQ(crosspointWrites().size(), 144u);
    EXPECT_TRUE(diagnostics.contains(
        "After the wake-up the crosspoints could not be read back: re-sent all 144"));
    EXPECT_FALSE(controller()->poller().isPaused());
    usb_.model().setFault(emulated::EmulatedH8::Fault::None);
}

TEST_F(LoginSessionFollowerTest, AWakeUpWithoutABoundInterfaceDoesNothing) {
    unplug();
    QApplication::processEvents();
    ASSERT_FALSE(controller()->isBound());
    login_.sleep();
    usb_.model().clearTransfers();
    login_.wake();
    EXPECT_TRUE(usb_.model().transfers().empty());
    EXPECT_EQ(follower_->resumeChecks(), 0);
    // Only the removal holds the poll now: a plug resumes it as ever.
    replug();
    QApplication::processEvents();
    ASSERT_TRUE(controller()->isBound());
    EXPECT_FALSE(controller()->poller().isPaused());
}

TEST_F(LoginSessionFollowerTest, AnInactiveSessionLetsGoOfTheInterfaceUntilItIsActiveAgain) {
    const int bindsBefore = binds_;
    login_.setActive(false);
    EXPECT_FALSE(controller()->isBound());
    EXPECT_FALSE(usbInterface_.isOpen());
    EXPECT_FALSE(controller()->uncontectView->isHidden());
    EXPECT_EQ(
        controller()->uncontectView->label->text(),
        QCoreApplication::translate(
            "Panel", "此会话未处于活动状态，H8 已释放给当前用户。切换回此会话后将自动重新连接。"));

    // Nothing reaches the interface meanwhile: no poll, no wake-up check, no bind on a re-plug.
    usb_.model().clearTransfers();
    advance(std::chrono::seconds(2));
    login_.sleep();
    login_.wake();
    unplug();
    replug();
    QApplication::processEvents();
    EXPECT_FALSE(controller()->isBound());
    EXPECT_TRUE(usb_.model().transfers().empty());
    EXPECT_EQ(binds_, bindsBefore);

    // Active again: bound as on an arrival, the routes sent again.
    login_.setActive(true);
    QApplication::processEvents();
    EXPECT_TRUE(controller()->isBound());
    EXPECT_TRUE(usbInterface_.isOpen());
    EXPECT_EQ(binds_, bindsBefore + 1);
    EXPECT_EQ(crosspointWrites().size(), 144u);
    EXPECT_FALSE(controller()->poller().isPaused());
}

}  // namespace
}  // namespace h8
