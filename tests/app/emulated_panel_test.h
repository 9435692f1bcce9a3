// The application in-process on the emulated H8, USB and audio side (see PanelAppTest).
#pragma once

#include <memory>

#include "emulated/emulated_audio_backend.h"
#include "panel_app_test.h"

namespace h8::test {

class EmulatedPanelTest : public PanelAppTest {
protected:
    void SetUp() override {
        audio_ = std::make_unique<emulated::EmulatedAudioBackend>(usb_.model());
        installApp(*audio_);
    }
    // The window with its "Simulation" menu.
    void launchWindow() { launchApp(&usb_, audio_.get()); }
    void unplug() {
        usb_.unplug();
        audio_->setInterfaceAttached(false);
    }
    void replug() {
        audio_->setInterfaceAttached(true);
        usb_.plug();
    }

    std::unique_ptr<emulated::EmulatedAudioBackend> audio_;
};

}  // namespace h8::test
