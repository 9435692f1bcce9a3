// LibusbTransport through real libusb against emulated H8 devices served by umockdev.
// Run under umockdev-wrapper (ctest does).

#include "platform/libusb_transport.h"

#include <gtest/gtest.h>
#include <libusb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "emulated/emulated_h8.h"
#include "emulated/umockdev/umockdev_h8_bed.h"
#include "stray_hotplug.h"
#include "umockdev_main.h"

namespace h8 {
namespace {

using emulated::EmulatedH8;
using emulated::UmockdevH8Bed;

constexpr uint16_t kVid = emulated::kVendorId;
constexpr uint16_t kPid = emulated::kProductId;
constexpr int kEventWaitMs = 2000;

// Mute of output 1: register 0x0001 at address group 0, channel 1.
constexpr UsbSetup kWriteMute1{0x40, 0x03, 0x0001, 0x0001, 1};
constexpr UsbSetup kReadMute1{0xC0, 0x00, 0x0001, 0x0001, 1};
// The four hardware-state bytes: switches, gain 1, gain 2, headphone level.
constexpr UsbSetup kReadHwState{0xC0, 0x00, 0x0000, 0x0079, 4};

struct HotplugEvent {
    bool arrived;
    UsbDeviceId id;
    bool onMainThread;
};

class LibusbTransportTest : public testing::Test {
protected:
    void TearDown() override {
        transport_.reset();
        for (int slot = 1; slot <= UmockdevH8Bed::kSlots; ++slot) test::umockdevBed().unplug(slot);
    }

    QList<UsbDeviceId> start() {
        transport_ = std::make_unique<LibusbTransport>();
        QObject::connect(transport_.get(), &UsbTransport::deviceArrived, [this](UsbDeviceId id) {
            events_.push_back({true, id, QThread::currentThread() == qApp->thread()});
        });
        QObject::connect(transport_.get(), &UsbTransport::deviceLeft, [this](UsbDeviceId id) {
            events_.push_back({false, id, QThread::currentThread() == qApp->thread()});
        });
        QList<UsbDeviceId> present;
        EXPECT_EQ(transport_->startMonitoring(kVid, kPid, &present), kUsbSuccess);
        return present;
    }

    // Pumps the event loop until `count` hot-plug events were seen, and lets a duplicate show up
    // too.
    bool waitForEvents(size_t count) {
        const bool seen = QTest::qWaitFor([&] { return events_.size() >= count; }, kEventWaitMs);
        test::letStrayHotplugEventsArrive();
        return seen;
    }

    std::unique_ptr<UsbDeviceHandle> openOk(UsbDeviceId id) {
        std::unique_ptr<UsbDeviceHandle> handle;
        EXPECT_EQ(transport_->open(id, &handle), kUsbSuccess);
        return handle;
    }

    static int transfer(UsbDeviceHandle& handle, const UsbSetup& setup, uint8_t* data) {
        return handle.controlTransfer(setup, data, kControlTimeoutMs);
    }

    EmulatedH8 model1_;
    EmulatedH8 model2_;
    std::unique_ptr<LibusbTransport> transport_;
    std::vector<HotplugEvent> events_;
};

// --- Devices attached before monitoring starts -------------------------------------------------

using LibusbTransportPresentTest = LibusbTransportTest;

TEST_F(LibusbTransportPresentTest, AttachedDeviceIsListedAndIdentifiesItself) {
    test::umockdevBed().plug(1, &model1_);
    const QList<UsbDeviceId> present = start();
    ASSERT_EQ(present.size(), 1);

    auto handle = openOk(present[0]);
    ASSERT_TRUE(handle);
    UsbDeviceInfo info;
    ASSERT_EQ(handle->deviceInfo(&info), kUsbSuccess);
    EXPECT_EQ(info.vendorId, 0x309C);
    EXPECT_EQ(info.productId, 0x0018);
    EXPECT_EQ(info.bcdDevice, 0x0102);
    int interface = -1;
    ASSERT_EQ(handle->firstInterfaceNumber(&interface), kUsbSuccess);
    EXPECT_EQ(interface, 0);
    // Read over endpoint 0 while another handle to the same device is open.
    EXPECT_EQ(transport_->productName(kVid, kPid), "H8");

    // Listed devices are not announced a second time.
    test::letStrayHotplugEventsArrive();
    EXPECT_TRUE(events_.empty());
}

TEST_F(LibusbTransportPresentTest, TwoAttachedDevicesGetDistinctIdsAndTellTheirSerials) {
    model2_.setSerial({0x56, 0x78, 0xEF, 0x01});
    test::umockdevBed().plug(1, &model1_);
    test::umockdevBed().plug(2, &model2_);
    const QList<UsbDeviceId> present = start();
    ASSERT_EQ(present.size(), 2);
    EXPECT_NE(present[0], present[1]);
    EXPECT_TRUE(openOk(present[0]));
    EXPECT_TRUE(openOk(present[1]));
    // The descriptor's serial string, read while the device is open elsewhere too.
    QStringList serials{transport_->serialNumber(present[0]), transport_->serialNumber(present[1])};
    serials.sort();
    EXPECT_EQ(serials, QStringList({"1234ABCD", "5678EF01"}));
    EXPECT_EQ(transport_->serialNumber(present[1] + 100), QString());
}

TEST_F(LibusbTransportPresentTest, NothingAttached) {
    EXPECT_TRUE(start().isEmpty());
    EXPECT_EQ(transport_->productName(kVid, kPid), QString());
    std::unique_ptr<UsbDeviceHandle> handle;
    EXPECT_EQ(transport_->open(1, &handle), kUsbErrorNoDevice);
    EXPECT_FALSE(handle);
}

// --- Control transfers on an open device --------------------------------------------------------

class LibusbTransportControlTest : public LibusbTransportTest {
protected:
    void SetUp() override {
        test::umockdevBed().plug(1, &model1_);
        const QList<UsbDeviceId> present = start();
        ASSERT_EQ(present.size(), 1);
        id_ = present[0];
        handle_ = openOk(id_);
        ASSERT_TRUE(handle_);
    }
    void TearDown() override {
        handle_.reset();
        LibusbTransportTest::TearDown();
    }

    UsbDeviceId id_ = 0;
    std::unique_ptr<UsbDeviceHandle> handle_;
};

TEST_F(LibusbTransportControlTest, WriteReachesModelAndReadsReturnCurrentState) {
    const unsigned urbsBefore = test::umockdevBed().urbCount(1);
    uint8_t value = 1;
    ASSERT_EQ(transfer(*handle_, kWriteMute1, &value), 1);
    EXPECT_EQ(model1_.state().mute.at(0x0001), 1);

    value = 0xEE;
    ASSERT_EQ(transfer(*handle_, kReadMute1, &value), 1);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(test::umockdevBed().urbCount(1), urbsBefore + 2);

    // Knobs turned on the device show up in the next read: nothing is cached on the way.
    model1_.setGainCode(1, 0x5A);
    model1_.setGainCode(2, 0xA5);
    model1_.setHeadphoneLevelCode(0x33);
    uint8_t hw[4] = {};
    ASSERT_EQ(transfer(*handle_, kReadHwState, hw), 4);
    EXPECT_EQ(hw[1], 0x5A);
    EXPECT_EQ(hw[2], 0xA5);
    EXPECT_EQ(hw[3], 0x33);
}

TEST_F(LibusbTransportControlTest, StallsReportPipeAndEndpointKeepsWorking) {
    uint8_t buffer[1] = {};
    const UsbSetup unknown{0xC0, 0x7F, 0, 0, 1};
    EXPECT_EQ(transfer(*handle_, unknown, buffer), kUsbErrorPipe);
    EXPECT_EQ(transfer(*handle_, kReadMute1, buffer), 1);

    model1_.setFault(EmulatedH8::Fault::Stall);
    EXPECT_EQ(transfer(*handle_, kReadMute1, buffer), kUsbErrorPipe);
    model1_.setFault(EmulatedH8::Fault::None);
    EXPECT_EQ(transfer(*handle_, kReadMute1, buffer), 1);
}

TEST_F(LibusbTransportControlTest, UnresponsiveDeviceTimesOutThenRecovers) {
    model1_.setFault(EmulatedH8::Fault::Timeout);
    uint8_t value = 1;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(transfer(*handle_, kWriteMute1, &value), kUsbErrorTimeout);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(model1_.state().mute.at(0x0001), 0);

    model1_.setFault(EmulatedH8::Fault::None);
    ASSERT_EQ(transfer(*handle_, kWriteMute1, &value), 1);
    value = 0;
    ASSERT_EQ(transfer(*handle_, kReadMute1, &value), 1);
    EXPECT_EQ(value, 1);
}

TEST_F(LibusbTransportControlTest, UnplugFailsTheOpenHandle) {
    test::umockdevBed().unplug(1);
    uint8_t value = 0;
    EXPECT_EQ(transfer(*handle_, kReadMute1, &value), kUsbErrorNoDevice);
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_FALSE(events_[0].arrived);
    EXPECT_EQ(events_[0].id, id_);
    std::unique_ptr<UsbDeviceHandle> again;
    EXPECT_EQ(transport_->open(id_, &again), kUsbErrorNoDevice);
}

TEST_F(LibusbTransportControlTest, UnplugFailsAPendingTransferAtOnce) {
    model1_.setFault(EmulatedH8::Fault::Timeout);
    // Unplugged once the device holds the request, while the transfer waits for its answer.
    const unsigned before = test::umockdevBed().urbCount(1);
    std::thread unplugger([before] {
        while (test::umockdevBed().urbCount(1) == before) std::this_thread::yield();
        test::umockdevBed().unplug(1);
    });
    uint8_t value = 0;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(transfer(*handle_, kReadMute1, &value), kUsbErrorNoDevice);
    EXPECT_LT(clock.elapsed(), 900);  // well before the time-out
    unplugger.join();
}

// --- Hot-plug while monitoring -------------------------------------------------------------------

using LibusbTransportHotplugTest = LibusbTransportTest;

TEST_F(LibusbTransportHotplugTest, PlugUnplugAndReplugOnTheMainThread) {
    ASSERT_TRUE(start().isEmpty());

    test::umockdevBed().plug(1, &model1_);
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_TRUE(events_[0].arrived);
    EXPECT_TRUE(events_[0].onMainThread);
    const UsbDeviceId first = events_[0].id;
    EXPECT_TRUE(openOk(first));

    test::umockdevBed().unplug(1);
    ASSERT_TRUE(waitForEvents(2));
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_FALSE(events_[1].arrived);
    EXPECT_EQ(events_[1].id, first);
    EXPECT_TRUE(events_[1].onMainThread);

    test::umockdevBed().plug(1, &model1_);
    ASSERT_TRUE(waitForEvents(3));
    ASSERT_EQ(events_.size(), 3u);
    EXPECT_TRUE(events_[2].arrived);
    EXPECT_NE(events_[2].id, first);
    auto handle = openOk(events_[2].id);
    ASSERT_TRUE(handle);
    uint8_t value = 0;
    EXPECT_EQ(transfer(*handle, kReadMute1, &value), 1);
}

TEST_F(LibusbTransportHotplugTest, SecondDeviceIsAnnouncedAndServedSeparately) {
    test::umockdevBed().plug(1, &model1_);
    const QList<UsbDeviceId> present = start();
    ASSERT_EQ(present.size(), 1);

    test::umockdevBed().plug(2, &model2_);
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_TRUE(events_[0].arrived);
    const UsbDeviceId second = events_[0].id;
    EXPECT_NE(second, present[0]);

    auto handle = openOk(second);
    ASSERT_TRUE(handle);
    uint8_t value = 1;
    ASSERT_EQ(transfer(*handle, kWriteMute1, &value), 1);
    EXPECT_EQ(model2_.state().mute.at(0x0001), 1);
    EXPECT_EQ(model1_.state().mute.at(0x0001), 0);

    // Only the device that left is retracted.
    test::umockdevBed().unplug(1);
    ASSERT_TRUE(waitForEvents(2));
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_FALSE(events_[1].arrived);
    EXPECT_EQ(events_[1].id, present[0]);
    EXPECT_EQ(transfer(*handle, kReadMute1, &value), 1);
}

// --- Lifetime -----------------------------------------------------------------------------------

using LibusbTransportLifetimeTest = LibusbTransportTest;

TEST_F(LibusbTransportLifetimeTest, DestroyingTheTransportStopsPromptlyAndHandlesStayUsable) {
    test::umockdevBed().plug(1, &model1_);
    const QList<UsbDeviceId> present = start();
    ASSERT_EQ(present.size(), 1);
    auto handle = openOk(present[0]);
    ASSERT_TRUE(handle);

    QElapsedTimer clock;
    clock.start();
    transport_.reset();
    EXPECT_LT(clock.elapsed(), 500);

    // The handle keeps libusb alive and does its own event handling now.
    uint8_t value = 1;
    EXPECT_EQ(transfer(*handle, kWriteMute1, &value), 1);
    EXPECT_EQ(model1_.state().mute.at(0x0001), 1);
}

// --- Status names -------------------------------------------------------------------------------

TEST(UsbStatusName, MatchesLibusbForEveryErrorCode) {
    for (int status = -100; status < 0; ++status) {
        EXPECT_STREQ(usbStatusName(status), libusb_error_name(status)) << status;
    }
    EXPECT_STREQ(usbStatusName(0), "LIBUSB_SUCCESS");
    EXPECT_STREQ(usbStatusName(4), "LIBUSB_SUCCESS");  // a byte count
}

}  // namespace
}  // namespace h8
