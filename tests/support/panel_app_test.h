// The application in-process, for the tests of the application shell: the emulated H8 on the
// USB side, an audio backend of the subclass's choosing (installApp() takes it), the shared
// store and the user defaults afresh in temporary folders; the window, the USB monitoring and
// the engines torn down after each test. The panel's clock is one the test moves (advance()),
// unless the test asks for real time. Needs the application library.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app_delegate.h"
#include "core/audio_devices.h"
#include "core/notification_names.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_usb_transport.h"
#include "manual_clock.h"
#include "platform/audio/audio_backend.h"
#include "platform/clock.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "view_controller.h"

namespace h8::test {

class PanelAppTest : public testing::Test {
protected:
    // Fresh preferences and store, `audio` as the sound server; binds are counted in binds_.
    void installApp(AudioBackend& audio) {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        audioBackend_ = &audio;
        SimplyCoreAudio::setBackend(&audio);
        IOUSBHelper::setAudioDeviceSource([this] { return audioBackend_->devices(); });
        NotificationCenter::defaultCenter().addObserver(&observer_, notify::kInitFinish,
                                                        [this](const Notification&) { ++binds_; });
    }
    void TearDown() override {
        window_.reset();
        stopUSBMonitoring();
        NorvShareHelper::shared().audio.reset();
        IOUSBHelper::setAudioDeviceSource(nullptr);
        SimplyCoreAudio::setBackend(nullptr);
    }
    // The window, shown and launched (bound at once when the emulated H8 is plugged in); with
    // `sim` and `simAudio` it has the "Simulation" menu.
    void launchApp(emulated::EmulatedUsbTransport* sim = nullptr,
                   emulated::EmulatedAudioBackend* simAudio = nullptr) {
        window_ = std::make_unique<AppDelegate>(usb_, usbInterface_, clock(), sim, simAudio);
        window_->show();
        window_->applicationDidFinishLaunching();
    }
    ViewController* controller() { return window_->controller; }
    Clock& clock() { return realTime_ ? static_cast<Clock&>(systemClock_) : manualClock_; }
    // Moves the panel's clock (the menus' enabling 2 s after a bind, the poll, the meters).
    void advance(std::chrono::milliseconds by) { manualClock_.advance(by); }
    // Every crosspoint of the emulated H8 silent, so that each write shows.
    void silenceMixer() {
        emulated::H8State s = usb_.model().state();
        s.mixer.fill(0xFF);
        usb_.model().setState(s);
    }
    // The crosspoint writes the emulated H8 received.
    size_t mixerWrites() {
        size_t n = 0;
        for (const auto& t : usb_.model().transfers())
            n += t.setup.index == 0x001E && t.setup.requestType == 0x40;
        return n;
    }

    TempEnv env_;
    UsbInterface usbInterface_;
    const UsbInterface::Installation installed_{usbInterface_};
    ManualClock manualClock_;
    SystemClock systemClock_;
    bool realTime_ = false;  // set before launching for a panel on the real clock
    emulated::EmulatedUsbTransport usb_;
    AudioBackend* audioBackend_ = nullptr;
    std::unique_ptr<AppDelegate> window_;
    QObject observer_;
    int binds_ = 0;  // "initFinish" posts
};

}  // namespace h8::test
