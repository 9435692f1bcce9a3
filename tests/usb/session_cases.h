// The device session's behaviour, written once and run against each USB backend: the
// in-process emulated transport, and real libusb against the emulated H8 under umockdev.
//
// A backend provides: plug(slot), unplug(slot), model(slot), transport(), and a destructor
// that leaves no device plugged.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "captured_diagnostics.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_h8.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "stray_hotplug.h"
#include "temp_env.h"

namespace h8::test {

// Records the two device notifications in the order they were posted.
class DeviceEvents : public QObject {
public:
    DeviceEvents() {
        NotificationCenter::defaultCenter().addObserver(this, kRawDeviceAdded,
                                                        [this](const Notification& n) {
                                                            events.append("added");
                                                            uids.append(n.userInfo.value("uid"));
                                                        });
        NotificationCenter::defaultCenter().addObserver(
            this, kRawDeviceRemoved, [this](const Notification&) { events.append("removed"); });
    }
    // Pumps the event loop until `count` events were seen, and lets an extra one show up too.
    bool waitFor(qsizetype count) {
        const bool ok = QTest::qWaitFor([&] { return events.size() >= count; }, 3000);
        letStrayHotplugEventsArrive();
        return ok;
    }
    QStringList events;
    QVariantList uids;
};

template <typename Backend>
class SessionTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        IOUSBHelper::setAudioDeviceSource(nullptr);
        backend_ = std::make_unique<Backend>();
    }
    void TearDown() override {
        stopUSBMonitoring();
        backend_.reset();
        IOUSBHelper::setAudioDeviceSource(nullptr);
    }

    bool start() { return startUSBMonitoring(backend_->transport(), usb_); }

    TempEnv env_;
    UsbInterface usb_;
    const UsbInterface::Installation installed_{usb_};
    std::unique_ptr<Backend> backend_;
};

TYPED_TEST_SUITE_P(SessionTest);

TYPED_TEST_P(SessionTest, DevicePresentAtStartIsOpenedBeforeStartReturns) {
    CapturedDiagnostics diag;
    DeviceEvents events;
    this->backend_->plug(1);
    ASSERT_TRUE(this->start());

    // Posted during start, before any event loop ran.
    EXPECT_EQ(events.events, QStringList{"added"});
    ASSERT_EQ(events.uids.size(), 1);
    EXPECT_EQ(events.uids[0].typeId(), QMetaType::QString);
    EXPECT_EQ(events.uids[0].toString(), QString());  // no USB audio device is listed

    const NorvShareHelper& store = NorvShareHelper::shared();
    EXPECT_EQ(store.deviceName, "H8");
    EXPECT_EQ(store.deviceVersion, "1.02");  // bcdDevice 0x0102
    EXPECT_EQ(store.firmware, 102);
    EXPECT_EQ(store.deviceSn, "1234ABCD");  // serial bytes 12 34 ab cd in wire order
    EXPECT_TRUE(this->usb_.isAttached());
    EXPECT_TRUE(diag.contains("while .....1"));
    EXPECT_TRUE(diag.contains("create interface iterator"));

    // Requests now reach the device.
    EXPECT_TRUE(NorvaltUSBAudioSetMute(1, 2, 1));
    EXPECT_EQ(this->backend_->model(1).state().mute.at(0x0102), 1);
}

TYPED_TEST_P(SessionTest, UnplugThenReplugPostsOneRemovalThenOneArrival) {
    DeviceEvents events;
    this->backend_->plug(1);
    ASSERT_TRUE(this->start());
    ASSERT_EQ(events.events.size(), 1);

    this->backend_->unplug(1);
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.events, (QStringList{"added", "removed"}));
    EXPECT_FALSE(this->usb_.isAttached());

    {
        // The old handle stays in place: every request fails and says so, and a failed read
        // leaves the caller's variable alone.
        CapturedDiagnostics diag;
        EXPECT_FALSE(NorvaltUSBAudioSetMute(0, 1, 1));
        uint8_t hpMute = 0x5A;
        EXPECT_FALSE(NorvaltUSBAudioGetMute(0, 1, hpMute));
        EXPECT_EQ(hpMute, 0x5A);
        EXPECT_FALSE(NorvaltUSBAudioSetMixer(0, 0, 0x80));
        EXPECT_EQ(diag.lines(),
                  (QStringList{"NorvaltUSBAudioSetMute do request error",
                               "NorvaltUSBAudioGetMute do request error", "do request error"}));
    }

    this->backend_->plug(1);
    ASSERT_TRUE(events.waitFor(3));
    EXPECT_EQ(events.events, (QStringList{"added", "removed", "added"}));
    EXPECT_TRUE(this->usb_.isAttached());
    uint8_t mute = 0xEE;
    EXPECT_TRUE(NorvaltUSBAudioGetMute(0, 1, mute));
    EXPECT_EQ(mute, 0);
}

TYPED_TEST_P(SessionTest, ArrivalAfterStartIsBound) {
    DeviceEvents events;
    ASSERT_TRUE(this->start());
    EXPECT_TRUE(events.events.isEmpty());
    EXPECT_FALSE(this->usb_.isAttached());
    // Nothing open yet: requests are silent no-ops.
    {
        CapturedDiagnostics diag;
        EXPECT_FALSE(NorvaltUSBAudioSetMute(0, 1, 1));
        EXPECT_TRUE(diag.lines().isEmpty());
    }
    this->backend_->plug(1);
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(events.events, QStringList{"added"});
    EXPECT_EQ(NorvShareHelper::shared().deviceSn, "1234ABCD");
}

TYPED_TEST_P(SessionTest, SecondMatchingDeviceIsIgnoredWhileTheFirstIsInUse) {
    DeviceEvents events;
    this->backend_->plug(1);
    ASSERT_TRUE(this->start());
    this->backend_->plug(2);
    events.waitFor(2);
    EXPECT_EQ(events.events, QStringList{"added"});

    this->backend_->model(1).clearTransfers();
    this->backend_->model(2).clearTransfers();
    EXPECT_TRUE(NorvaltUSBAudioSetMixer(3, 4, 0x80));
    EXPECT_EQ(this->backend_->model(1).transfers().size(), 1u);
    EXPECT_TRUE(this->backend_->model(2).transfers().empty());

    // The ignored device leaving says nothing: the bound one is still there.
    this->backend_->unplug(2);
    events.waitFor(2);
    EXPECT_EQ(events.events, QStringList{"added"});
    EXPECT_TRUE(NorvaltUSBAudioSetMixer(3, 4, 0xFF));
}

TYPED_TEST_P(SessionTest, WaitingSecondDeviceTakesOverWhenTheFirstIsRemoved) {
    DeviceEvents events;
    this->backend_->plug(1);
    ASSERT_TRUE(this->start());
    QSignalSpy arrivals(&this->backend_->transport(), &UsbTransport::deviceArrived);
    this->backend_->plug(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !arrivals.isEmpty(); }, 3000));  // seen, ignored
    this->backend_->unplug(1);
    ASSERT_TRUE(events.waitFor(3));
    EXPECT_EQ(events.events, (QStringList{"added", "removed", "added"}));
    this->backend_->model(2).clearTransfers();
    EXPECT_TRUE(NorvaltUSBAudioSetMute(1, 1, 1));
    EXPECT_EQ(this->backend_->model(2).transfers().size(), 1u);
}

TYPED_TEST_P(SessionTest, UidIsTheH8sAudioDeviceNeverAnotherUsbCard) {
    const auto device = [](const char* uid, std::optional<TransportType> transport,
                           std::optional<QString> model) {
        AudioDeviceInfo d;
        d.uid = QString::fromLatin1(uid);
        d.transportType = transport;
        d.modelUID = std::move(model);
        return d;
    };
    QList<AudioDeviceInfo> listed = {
        device("alsa_card.pci-0000_00_1f.3", TransportType::pci, std::nullopt),
        // A webcam's microphone, listed before the H8: a USB sound card too.
        device("alsa_card.usb-Generic_USB_Webcam-02", TransportType::usb,
               QStringLiteral("USB Webcam:1B3F:2247")),
        device("alsa_card.usb-Norvalt_H8_1234ABCD-00", TransportType::usb,
               QStringLiteral("H8:309C:0018")),
    };
    IOUSBHelper::setAudioDeviceSource([&listed] { return listed; });
    DeviceEvents events;
    this->backend_->plug(1);
    ASSERT_TRUE(this->start());
    ASSERT_EQ(events.uids.size(), 1);
    EXPECT_EQ(events.uids[0].toString(), "alsa_card.usb-Norvalt_H8_1234ABCD-00");

    // Not listed (yet, or no sound server): the uid is empty, whatever else is listed.
    listed.removeLast();
    this->backend_->unplug(1);
    this->backend_->plug(1);
    ASSERT_TRUE(events.waitFor(3));
    EXPECT_EQ(events.uids.last().toString(), "");
}

TYPED_TEST_P(SessionTest, StalledIdentityReadsLeaveDefaultsAndStillBind) {
    // A device that stalls every request is still bound; its serial number reads as eight
    // zeros and the firmware version as empty.
    this->backend_->model(1).setFault(emulated::EmulatedH8::Fault::Stall);
    CapturedDiagnostics diag;
    DeviceEvents events;
    this->backend_->plug(1);
    ASSERT_TRUE(this->start());
    EXPECT_EQ(events.events, QStringList{"added"});
    EXPECT_EQ(NorvShareHelper::shared().deviceSn, "00000000");
    EXPECT_EQ(NorvShareHelper::shared().firmware, 0);
    EXPECT_TRUE(diag.contains("NorvaltUSBAudioGetSN do request error"));
}

REGISTER_TYPED_TEST_SUITE_P(SessionTest, DevicePresentAtStartIsOpenedBeforeStartReturns,
                            UnplugThenReplugPostsOneRemovalThenOneArrival, ArrivalAfterStartIsBound,
                            SecondMatchingDeviceIsIgnoredWhileTheFirstIsInUse,
                            WaitingSecondDeviceTakesOverWhenTheFirstIsRemoved,
                            UidIsTheH8sAudioDeviceNeverAnotherUsbCard,
                            StalledIdentityReadsLeaveDefaultsAndStillBind);

}  // namespace h8::test
