// The main panel on the emulated H8's USB side and a fake audio device with the interface's
// inputs, for the panel's widget tests: the shared store and the user defaults start afresh in
// temporary folders, the meters and the poll run on a clock the test moves and start stopped
// (the tests drive them), and `wire()` reads what was sent to the interface.
#pragma once

#include <gtest/gtest.h>

#include <QStringList>
#include <memory>

#include "core/audio_helper.h"
#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "manual_clock.h"
#include "platform/user_defaults.h"
#include "plugged_interface_test.h"
#include "temp_env.h"
#include "ui/sections/main_contain_view.h"

namespace h8::test {

class MainPanelFixture : public PluggedInterfaceTest {
protected:
    void TearDown() override {
        panel_.reset();
        poller_.reset();
        monitor_.reset();
        PluggedInterfaceTest::TearDown();
    }
    // The panel bound to an audio device with `inputs` inputs, the routes sent as the first bind
    // sends them, its clocks stopped and the wire record cleared.
    void build(uint32_t inputs = 16) {
        backend_.setDevices({fakeInterface(7, inputs)});
        createEngine();
        monitor_ =
            std::make_unique<HardwareMonitor>(usbInterface_, store(), UserDefaults::standard());
        poller_ = std::make_unique<HardwarePoller>(*monitor_, store(), clock_);
        panel_ = std::make_unique<ui::NorvMainContainView>(
            ui::PanelContext{*routing_, *poller_, clock_});
        routing_->sendRoutes();
        panel_->meters().stop();
        poller_->stop();
        usb_.model().clearTransfers();
    }
    // The requests sent to the interface since the last call.
    QStringList wire() {
        QStringList lines;
        for (const auto& t : usb_.model().transfers())
            lines.append(
                QString::fromStdString(formatControlTrace(t.setup, t.data.data(), t.status)));
        usb_.model().clearTransfers();
        return lines;
    }
    ManualClock clock_;
    std::unique_ptr<HardwareMonitor> monitor_;
    std::unique_ptr<HardwarePoller> poller_;
    std::unique_ptr<ui::NorvMainContainView> panel_;
};

}  // namespace h8::test
