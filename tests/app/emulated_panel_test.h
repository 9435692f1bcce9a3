// The application in-process on the emulated H8 (USB and audio side), for the tests of the
// application shell: the shared store and the user defaults start afresh in temporary
// folders, and the window, the USB monitoring and the engines are torn down after each test.
// The panel's clock is one the test moves (advance()), unless the test asks for real time.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "manual_clock.h"
#include "platform/clock.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "view_controller.h"

namespace h8::test {

class EmulatedPanelTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        audio_ = std::make_unique<emulated::EmulatedAudioBackend>(usb_.model());
        SimplyCoreAudio::setBackend(audio_.get());
        IOUSBHelper::setAudioDeviceSource([this] { return audio_->devices(); });
    }
    void TearDown() override {
        window_.reset();
        stopUSBMonitoring();
        NorvShareHelper::shared().audio.reset();
        IOUSBHelper::setAudioDeviceSource(nullptr);
        SimplyCoreAudio::setBackend(nullptr);
    }
    // The window with its "Simulation" menu, shown and launched (bound at once when the
    // emulated H8 is plugged in).
    void launchWindow() {
        window_ = std::make_unique<AppDelegate>(usb_, usbInterface_, clock(), &usb_, audio_.get());
        window_->show();
        window_->applicationDidFinishLaunching();
    }
    void unplug() {
        usb_.unplug();
        audio_->setInterfaceAttached(false);
    }
    void replug() {
        audio_->setInterfaceAttached(true);
        usb_.plug();
    }
    ViewController* controller() { return window_->controller; }
    Clock& clock() { return realTime_ ? static_cast<Clock&>(systemClock_) : manualClock_; }
    // Moves the panel's clock (the menus' enabling 2 s after a bind, the poll, the meters).
    void advance(std::chrono::milliseconds by) { manualClock_.advance(by); }

    TempEnv env_;
    UsbInterface usbInterface_;
    const UsbInterface::Installation installed_{usbInterface_};
    ManualClock manualClock_;
    SystemClock systemClock_;
    bool realTime_ = false;  // set before launching for a panel on the real clock
    emulated::EmulatedUsbTransport usb_;
    std::unique_ptr<emulated::EmulatedAudioBackend> audio_;
    std::unique_ptr<AppDelegate> window_;
};

}  // namespace h8::test
