// The panel in the tray and in the background, in-process on the emulated H8: the icon comes
// and goes with the desktop's tray host, closing the window hides it only while the icon is
// there, the icon's menu works as the window's controls do, a problem that the hidden window
// would show is told once as a desktop notification, and a hidden window costs nothing (no
// meter clock, no capture, no poll) while bus readers still get fresh values.
#include "panel_tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDBusConnection>
#include <QTest>
#include <cerrno>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/hardware_poller.h"
#include "core/meter_clock.h"
#include "core/usb_interface.h"
#include "emulated_panel_test.h"
#include "panel_service.h"
#include "platform/atomic_file.h"
#include "platform/dbus/desktop_shell.h"
#include "platform/user_defaults.h"
#include "ui/sections/main_contain_view.h"
#include "view_controller.h"

namespace h8 {
namespace {

class FakeTrayHost : public TrayHost {
public:
    bool available() const override { return available_; }
    void set(bool available) {
        available_ = available;
        emit availableChanged(available);
    }

private:
    bool available_ = false;
};

class FakeNotifications : public DesktopNotifications {
public:
    void notify(const QString& summary, const QString& body) override {
        told.append(summary + QStringLiteral(" | ") + body);
    }
    QStringList told;
};

class PanelTrayTest : public test::EmulatedPanelTest {
protected:
    void SetUp() override {
        EmulatedPanelTest::SetUp();
        usb_.plug();
        launchWindow();
        advance(std::chrono::milliseconds(2000));
        service_ = std::make_unique<PanelService>(QDBusConnection(QStringLiteral("no bus")),
                                                  Target::emulated(env_.root() + "/h8.json"));
        service_->attach(window_.get(), &usb_.model());
    }
    void TearDown() override {
        injectWriteFaults({});
        service_.reset();
        EmulatedPanelTest::TearDown();
    }

    std::unique_ptr<PanelService> service_;
    FakeTrayHost host_;
};

TEST_F(PanelTrayTest, TheIconComesWithTheTrayHostAndClosingHidesOnlyWhileItIsThere) {
    PanelTray tray(*service_, *window_, host_);
    window_->setCloseHides([&tray] { return tray.active(); });
    EXPECT_FALSE(tray.active());

    // The tray host starts after the panel, as at login.
    host_.set(true);
    EXPECT_TRUE(tray.active());
    EXPECT_FALSE(window_->close());
    EXPECT_FALSE(window_->isVisible());
    tray.showAction()->trigger();
    EXPECT_TRUE(window_->isVisible());

    // The host goes while the window is hidden: nothing else could bring it back.
    EXPECT_FALSE(window_->close());
    host_.set(false);
    EXPECT_FALSE(tray.active());
    EXPECT_TRUE(window_->isVisible());
    // Without a tray, closing closes (and quits the program).
    EXPECT_TRUE(window_->close());
    EXPECT_FALSE(window_->isVisible());
}

TEST_F(PanelTrayTest, TheMenuAndTooltipFollowTheInterface) {
    host_.set(true);
    PanelTray tray(*service_, *window_, host_);
    EXPECT_TRUE(tray.toolTip().contains(QStringLiteral("H8"))) << tray.toolTip().toStdString();
    EXPECT_TRUE(tray.toolTip().contains(QStringLiteral("已连接")));
    ASSERT_TRUE(tray.headphoneMuteAction()->isEnabled());
    EXPECT_FALSE(tray.headphoneMuteAction()->isChecked());

    // The mute item takes the path of the window's own button: sent, stored, shown.
    tray.headphoneMuteAction()->trigger();
    EXPECT_TRUE(tray.headphoneMuteAction()->isChecked());
    EXPECT_EQ(UserDefaults::standard().integerForKey("HPMKey"), 1);
    EXPECT_TRUE(service_->value("HeadphonesMuted").toBool());
    // And the window's button is followed back.
    EXPECT_FALSE(service_->setMute(QStringLiteral("headphones"), false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tray.headphoneMuteAction()->isChecked(); }, 2000));

    unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tray.headphoneMuteAction()->isEnabled(); }, 5000));
    EXPECT_TRUE(tray.toolTip().contains(QStringLiteral("未连接"))) << tray.toolTip().toStdString();
}

TEST_F(PanelTrayTest, AProblemIsToldOnceWhileTheWindowIsHidden) {
    FakeNotifications notifications;
    HiddenProblems problems(*window_, usbInterface_, UserDefaults::standard(), notifications);

    // Shown: the window says it; no bubble.
    usbInterface_.setAccessDenied(true);
    usbInterface_.setAccessDenied(false);
    EXPECT_TRUE(notifications.told.isEmpty());

    window_->hide();
    usbInterface_.setAccessDenied(true);
    ASSERT_EQ(notifications.told.size(), 1);
    EXPECT_TRUE(notifications.told[0].contains(QStringLiteral("udev")));
    // Still the same problem: not told again.
    usbInterface_.setAccessDenied(true);
    EXPECT_EQ(notifications.told.size(), 1);
    // Gone, then back: told again.
    usbInterface_.setAccessDenied(false);
    usbInterface_.setAccessDenied(true);
    EXPECT_EQ(notifications.told.size(), 2);

    // Preferences that cannot be written, with the reason.
    injectWriteFaults([](const QString&) { return ENOSPC; });
    UserDefaults::standard().setInteger("trayTest", 1);
    UserDefaults::standard().flush();
    ASSERT_EQ(notifications.told.size(), 3);
    EXPECT_TRUE(notifications.told[2].contains(UserDefaults::standard().saveProblem()));
    UserDefaults::standard().setInteger("trayTest", 2);
    UserDefaults::standard().flush();
    EXPECT_EQ(notifications.told.size(), 3);
    injectWriteFaults({});
    UserDefaults::standard().flush();
    EXPECT_TRUE(UserDefaults::standard().saveProblem().isEmpty());
}

TEST_F(PanelTrayTest, NothingRunsForAHiddenWindowButBusReadersStillGetFreshValues) {
    ViewController& c = *controller();
    MeterClock& meters = c.norvMainContaiView->meters();
    ASSERT_TRUE(c.isExposed());
    ASSERT_TRUE(c.audio->isCapturing());
    ASSERT_FALSE(c.poller().isPaused());

    window_->hide();
    EXPECT_FALSE(c.isExposed());
    EXPECT_FALSE(meters.isRunning());
    EXPECT_FALSE(c.poller().ownTimerActive());
    EXPECT_FALSE(c.audio->isCapturing());
    // Nothing reads the interface on its own any more.
    const auto transfers = usb_.model().transfers().size();
    advance(std::chrono::milliseconds(3000));
    EXPECT_EQ(usb_.model().transfers().size(), transfers);

    // A gain turned on the hardware meanwhile: a bus read reads it (once for a GetAll's burst).
    ASSERT_FALSE(service_->setEmulatedControl(QStringLiteral("gain1"), QStringLiteral("200")));
    const double stale = service_->value("Input1Gain").toDouble();
    const double fresh = service_->valueForClient("Input1Gain").toDouble();
    EXPECT_NE(fresh, stale);
    const auto afterRead = usb_.model().transfers().size();
    service_->valueForClient("Input2Gain");
    EXPECT_EQ(usb_.model().transfers().size(), afterRead);

    // Level readers start the capture until they have stopped for 5 s.
    QList<double> levels;
    EXPECT_FALSE(service_->inputLevels(&levels));
    EXPECT_TRUE(c.audio->isCapturing());
    advance(std::chrono::milliseconds(ViewController::kLevelReadersLingerMs - 100));
    EXPECT_FALSE(service_->inputLevels(&levels));
    advance(std::chrono::milliseconds(ViewController::kLevelReadersLingerMs - 100));
    EXPECT_TRUE(c.audio->isCapturing());
    advance(std::chrono::milliseconds(200));
    EXPECT_FALSE(c.audio->isCapturing());

    // Shown again: everything runs, and the poll has read at once.
    ASSERT_FALSE(service_->setEmulatedControl(QStringLiteral("gain1"), QStringLiteral("10")));
    window_->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.isExposed(); }, 2000));
    EXPECT_TRUE(meters.isRunning());
    EXPECT_TRUE(c.audio->isCapturing());
    EXPECT_FALSE(c.poller().isPaused());
    EXPECT_NE(service_->value("Input1Gain").toDouble(), fresh);

    // Minimized counts as hidden.
    window_->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.isExposed(); }, 2000));
    EXPECT_FALSE(c.audio->isCapturing());
}

TEST_F(PanelTrayTest, ABindWhileNobodyLooksStartsNeitherMetersNorCapture) {
    window_->hide();
    unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller()->isBound(); }, 5000));
    replug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller()->isBound(); }, 5000));
    EXPECT_FALSE(controller()->norvMainContaiView->meters().isRunning());
    EXPECT_FALSE(controller()->audio->isCapturing());
    EXPECT_FALSE(controller()->poller().ownTimerActive());
}

}  // namespace
}  // namespace h8
