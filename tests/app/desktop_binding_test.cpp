// The application shell on a desktop as it really is: other USB sound cards around the H8, no
// sound server or one that comes and goes, profile switches, and the interface re-plugged many
// times. The audio side is a controllable backend; USB is the emulated H8.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QTest>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "panel_app_test.h"
#include "platform/clock.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/panels/bottom_view.h"
#include "ui/panels/unconnected_view.h"
#include "ui/sections/main_contain_view.h"
#include "ui/widgets/lum_label.h"
#include "view_controller.h"

namespace h8 {
namespace {

AudioDeviceInfo webcam(uint32_t id) {
    AudioDeviceInfo d;
    d.id = id;
    d.uid = QStringLiteral("alsa_card.usb-Generic_USB_Webcam_WC0001-02");
    d.name = QStringLiteral("USB Webcam");
    d.modelUID = QStringLiteral("USB Webcam:1B3F:2247");
    d.transportType = TransportType::usb;
    d.inputChannels = 2;
    d.inputStreamId = id + 1000;
    d.nominalSampleRate = 48000;
    return d;
}

AudioDeviceInfo h8(uint32_t id, uint32_t inputs = 16) {
    AudioDeviceInfo d = test::fakeInterface(id, inputs);
    d.inputStreamId = id * 10 + inputs;
    return d;
}

// The second H8 of the two-unit tests: its own serial number and port (the emulated transport's
// slot 2 answers with serial 5678EF01 from port 2).
AudioDeviceInfo secondH8(uint32_t id) {
    AudioDeviceInfo d = h8(id);
    d.uid = QStringLiteral("alsa_card.usb-Norvalt_H8_5678EF01-00");
    d.serial = QStringLiteral("Norvalt_H8_5678EF01");
    d.busPath = QStringLiteral("pci-0000:00:14.0-usb-0:2:1.0");
    return d;
}

AudioDeviceInfo firstH8(uint32_t id) {
    AudioDeviceInfo d = h8(id);
    d.serial = QStringLiteral("Norvalt_H8_1234ABCD");
    d.busPath = QStringLiteral("pci-0000:00:14.0-usb-0:1:1.0");
    return d;
}

class DesktopBindingTest : public test::PanelAppTest {
protected:
    void SetUp() override {
        installApp(audio_);
        silenceMixer();
        realTime_ = true;
    }
    void launch() { launchApp(); }
    ui::NorvBottomView* statusBar() { return controller()->norvMainContaiView->bottomVew; }
    uint32_t boundId() {
        return controller()->hardwareDevice ? controller()->hardwareDevice->id() : 0;
    }
    // The devices whose samples reach the meters.
    QSet<uint32_t> meteredDevices() {
        QSet<uint32_t> ids;
        for (const auto& e : *NorvShareHelper::shared().inputUnits) ids.insert(e->device()->id());
        return ids;
    }

    test::FakeAudioBackend audio_;
};

TEST_F(DesktopBindingTest, OtherUsbSoundCardsAreNeverBoundAndNeverUnbindTheH8) {
    // A webcam's microphone is listed before the H8: both are USB sound cards.
    audio_.setDevices({webcam(3), h8(7)});
    usb_.plug();
    launch();
    ASSERT_EQ(boundId(), 7u);
    EXPECT_EQ(meteredDevices(), QSet<uint32_t>{7});
    EXPECT_EQ(binds_, 1);

    // Another USB card plugged in, then the webcam unplugged: the H8 stays bound, once.
    AudioDeviceInfo headset = webcam(9);
    headset.uid = QStringLiteral("alsa_card.usb-Headset-00");
    headset.modelUID = QStringLiteral("Headset:0D8C:0014");
    audio_.setDevices({webcam(3), h8(7), headset});
    audio_.setDevices({h8(7), headset});
    EXPECT_EQ(boundId(), 7u);
    EXPECT_EQ(binds_, 1);
    EXPECT_FALSE(controller()->norvMainContaiView->isHidden());
    EXPECT_EQ(meteredDevices(), QSet<uint32_t>{7});
}

TEST_F(DesktopBindingTest, OnlyTheWebcamListedAtArrivalTheH8IsBoundWhenItAppears) {
    audio_.setDevices({webcam(3)});
    usb_.plug();
    launch();
    EXPECT_TRUE(controller()->isBound());
    EXPECT_EQ(boundId(), 0u);  // bound on USB alone, not on the webcam
    audio_.setDevices({webcam(3), h8(7)});
    EXPECT_EQ(boundId(), 7u);
    EXPECT_EQ(meteredDevices(), QSet<uint32_t>{7});
    EXPECT_EQ(binds_, 1);
}

TEST_F(DesktopBindingTest, WithoutASoundServerTheInterfaceIsBoundOnUsbAlone) {
    UserDefaults::standard().setBool(QStringLiteral("MicM1Key"), true);
    audio_.setAvailable(false);
    usb_.plug();
    launch();
    ASSERT_TRUE(controller()->isBound());
    EXPECT_FALSE(controller()->hardwareDevice);
    ASSERT_TRUE(controller()->norvMainContaiView);
    EXPECT_FALSE(controller()->norvMainContaiView->isHidden());
    EXPECT_TRUE(controller()->uncontectView->isHidden());
    EXPECT_TRUE(NorvShareHelper::shared().isInit);
    EXPECT_TRUE(NorvShareHelper::shared().inputUnits->empty());
    EXPECT_EQ(statusBar()->samplel->text(), "无声音服务器：无电平");
    // The mixer works: a route commit reaches the interface.
    controller()->norvMainContaiView->routing().drop(1, 5);  // mic 1 → destination 5
    EXPECT_EQ(usb_.model().state().mixer[8 + 12 * 4], 0x80);
    // After the menu sync the menus work, but there is no rate to choose.
    QTRY_VERIFY_WITH_TIMEOUT(window_->menuBar()->actions().first()->menu()->isEnabled(), 3000);
    EXPECT_FALSE(window_->sanpleMenu->isEnabled());

    // The sound server starts: the audio side attaches, without a second bind and without
    // re-sending the routes.
    const size_t writes = mixerWrites();
    audio_.setAvailable(true, {webcam(3), h8(7)});
    EXPECT_EQ(boundId(), 7u);
    EXPECT_EQ(binds_, 1);
    EXPECT_EQ(NorvShareHelper::shared().inputUnits->size(), 16u);
    EXPECT_TRUE(window_->sanpleMenu->isEnabled());
    QTRY_COMPARE(statusBar()->samplel->text(), QStringLiteral("采样率:48000Hz"));
    EXPECT_EQ(mixerWrites(), writes);

    // It stops again: the panel stays, levels and rate go.
    audio_.setAvailable(false);
    EXPECT_TRUE(controller()->isBound());
    EXPECT_FALSE(controller()->hardwareDevice);
    EXPECT_FALSE(controller()->norvMainContaiView->isHidden());
    EXPECT_TRUE(NorvShareHelper::shared().inputUnits->empty());
    EXPECT_FALSE(window_->sanpleMenu->isEnabled());
    EXPECT_EQ(statusBar()->samplel->text(), "无声音服务器：无电平");
    EXPECT_EQ(mixerWrites(), writes);
}

TEST_F(DesktopBindingTest, TwoInputProfileLosesNoRouteAndShowsEveryOne) {
    // A route into each of the 12 destinations, stored before this run.
    QVariantList map;
    for (int col = 0; col < 16; ++col) {
        QVariantList rows;
        for (int row = 0; row < 16; ++row) rows.append(col < 12 && row == (col + 4) % 12);
        map.append(QVariant(rows));
    }
    NorvShareHelper::shared().setChannelMapArray(map);
    audio_.setDevices({h8(7, 2)});
    usb_.plug();
    launch();
    ui::NorvMainContainView* panel = controller()->norvMainContaiView;
    ASSERT_TRUE(panel);
    panel->routing().drop(1, 1);  // one edit: mic 1 → destination 1

    const std::vector<Output> stored =
        columnsFromStoredMap(NorvShareHelper::shared().channelMapArray());
    ASSERT_GE(stored.size(), 12u);
    for (int col = 1; col <= 12; ++col) {
        const int row = (col - 1 + 4) % 12 + 1;
        EXPECT_TRUE(stored[col - 1].enableArray[row - 1]) << "stored, destination " << col;
        EXPECT_TRUE(panel->chips()->hasChip(row, col)) << "chip, destination " << col;
        EXPECT_TRUE(panel->routing().isOn(row, col)) << "grid, destination " << col;
    }
    EXPECT_TRUE(stored[0].enableArray[0]);
}

TEST_F(DesktopBindingTest, RateChangesByAnotherProgramShowAfterEveryReplug) {
    audio_.setDevices({h8(7)});
    usb_.plug();
    launch();
    uint32_t id = 7;
    for (int cycle = 0; cycle < 3; ++cycle) {
        usb_.unplug();
        audio_.setDevices({});
        ++id;  // the sound server lists the interface anew
        audio_.setDevices({h8(id)});
        usb_.plug();
        ASSERT_EQ(boundId(), id);
    }
    QTRY_VERIFY_WITH_TIMEOUT(window_->sanpleMenu->isEnabled(), 3000);
    // Past the settling time after the arrival.
    NorvShareHelper::shared().timestamp = NorvShareHelper::shared().timestamp.value_or(0) - 10;
    audio_.setRate(id, 96000);  // e.g. pw-metadata or `h8ctl rate 96000`
    QTRY_COMPARE(statusBar()->samplel->text(), QStringLiteral("采样率:96000Hz"));
    QTRY_VERIFY(window_->sanpleMenu->actions()[3]->isChecked());   // 96000Hz
    EXPECT_FALSE(window_->sanpleMenu->actions()[1]->isChecked());  // 48000Hz
}

// Two H8s: the USB side and the audio side agree on one unit by its serial number, whatever
// order they are listed in; the other is left alone (the status bar says it is there), its
// coming and going changes nothing, and when the bound one goes the other is bound.
TEST_F(DesktopBindingTest, OfTwoH8sBothSidesBindTheSameUnitAndTheOtherTakesOverWhenItGoes) {
    // The audio side lists the second unit first; USB opens the first one (slot 1).
    audio_.setDevices({secondH8(8), firstH8(7)});
    usb_.plug(1);
    usb_.plug(2);
    launch();
    ASSERT_TRUE(controller()->isBound());
    EXPECT_EQ(NorvShareHelper::shared().deviceSn, "1234ABCD");
    EXPECT_EQ(boundId(), 7u);
    EXPECT_EQ(meteredDevices(), QSet<uint32_t>{7});
    EXPECT_TRUE(statusBar()->toolTip().contains("另一台 H8 已连接，未使用。"))
        << statusBar()->toolTip().toStdString();

    // The idle unit unplugged: nothing changes, the meters stay on the bound one.
    audio_.setDevices({firstH8(7)});
    usb_.unplug(2);
    QCoreApplication::processEvents();
    EXPECT_EQ(boundId(), 7u);
    EXPECT_EQ(meteredDevices(), QSet<uint32_t>{7});
    EXPECT_EQ(binds_, 1);
    EXPECT_FALSE(statusBar()->toolTip().contains("另一台 H8"));

    // It comes back, and then the bound unit is unplugged: the other one is bound, both sides.
    usb_.plug(2);
    audio_.setDevices({secondH8(9), firstH8(7)});
    QCoreApplication::processEvents();
    EXPECT_EQ(boundId(), 7u);
    audio_.setDevices({secondH8(9)});
    usb_.unplug(1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return binds_ == 2 && controller()->isBound(); }, 5000));
    EXPECT_EQ(NorvShareHelper::shared().deviceSn, "5678EF01");
    EXPECT_EQ(boundId(), 9u);
    EXPECT_EQ(meteredDevices(), QSet<uint32_t>{9});
}

TEST_F(DesktopBindingTest, AnAudioSideThatBoundTheOtherH8FirstFollowsTheUnitUsbOpened) {
    // Only the second unit's audio device is listed when the audio side binds, before USB.
    launch();
    audio_.setDevices({secondH8(8)});
    ASSERT_EQ(boundId(), 8u);
    // USB opens the first unit; its audio device appears: the meters follow the unit opened.
    usb_.plug(1);
    audio_.setDevices({secondH8(8), firstH8(7)});
    ASSERT_TRUE(QTest::qWaitFor([this] { return usbInterface_.isAttached(); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(boundId(), 7u);
    EXPECT_EQ(meteredDevices(), QSet<uint32_t>{7});
}

}  // namespace
}  // namespace h8
