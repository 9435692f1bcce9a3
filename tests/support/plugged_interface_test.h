// The emulated H8 plugged in on the USB side, its session started, and a fake audio backend in
// place (no devices until the test gives it some), with the shared store and the user defaults
// starting afresh in temporary folders: the common ground of the tests that drive the panel's
// logic against the interface. A subclass calls `SetUp()` first (through
// ASSERT_NO_FATAL_FAILURE) and `TearDown()` last.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "core/audio_devices.h"
#include "core/audio_helper.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"

namespace h8::test {

class PluggedInterfaceTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        store().resetForTesting();
        usb_.plug();
        ASSERT_TRUE(startUSBMonitoring(usb_, usbInterface_));
        SimplyCoreAudio::setBackend(&backend_);
    }
    void TearDown() override {
        store().audio.reset();
        routing_.reset();
        stopUSBMonitoring();
        SimplyCoreAudio::setBackend(nullptr);
    }
    static NorvShareHelper& store() { return NorvShareHelper::shared(); }
    // A routing model on what the user defaults hold now (the previous one goes).
    RoutingModel& newRouting() {
        routing_ = std::make_unique<RoutingModel>(UserDefaults::standard(),
                                                  NotificationCenter::defaultCenter());
        return *routing_;
    }
    // The routing engine on the interface's audio device (the backend must list it), following
    // the routing model (a new one when there is none).
    void createEngine() {
        if (!routing_) newRouting();
        store().audio = std::make_shared<NorvAudioHelper>(
            findH8AudioDevice(SimplyCoreAudio().allDevices()), *routing_);
    }

    TempEnv env_;  // first: the folders are in place before anything reads them
    UsbInterface usbInterface_;
    const UsbInterface::Installation installed_{usbInterface_};
    emulated::EmulatedUsbTransport usb_;
    FakeAudioBackend backend_;
    std::unique_ptr<RoutingModel> routing_;
};

}  // namespace h8::test
