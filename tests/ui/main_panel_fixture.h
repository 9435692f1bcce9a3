// The main panel on the emulated H8's USB side and a fake audio device with the interface's
// inputs, for the panel's widget tests: the shared store and the user defaults start afresh in
// temporary folders, the meters and the poll run on a clock the test moves and start stopped
// (the tests drive them), and `wire()` reads what was sent to the interface.
#pragma once

#include <gtest/gtest.h>

#include <QStringList>
#include <memory>

#include "core/audio_helper.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "panel_parts.h"
#include "platform/user_defaults.h"
#include "plugged_interface_test.h"
#include "temp_env.h"
#include "ui/sections/main_contain_view.h"

namespace h8::test {

class MainPanelFixture : public PluggedInterfaceTest {
protected:
    void TearDown() override {
        panel_.reset();
        parts_.reset();
        PluggedInterfaceTest::TearDown();
    }
    // The panel bound to an audio device with `inputs` inputs, the routes sent as the first bind
    // sends them, its clocks stopped and the wire record cleared.
    void build(uint32_t inputs = 16) {
        backend_.setDevices({fakeInterface(7, inputs)});
        createEngine();
        parts_ = std::make_unique<PanelParts>(usbInterface_, routing_.get());
        panel_ = std::make_unique<ui::NorvMainContainView>(parts_->context());
        routing_->sendRoutes();
        panel_->meters().stop();
        poller().stop();
        usb_.model().clearTransfers();
    }
    HardwarePoller& poller() { return parts_->poller; }
    ManualClock& clock() { return parts_->clock; }
    // The requests sent to the interface since the last call.
    QStringList wire() {
        QStringList lines;
        for (const auto& t : usb_.model().transfers())
            lines.append(
                QString::fromStdString(formatControlTrace(t.setup, t.data.data(), t.status)));
        usb_.model().clearTransfers();
        return lines;
    }
    std::unique_ptr<PanelParts> parts_;
    std::unique_ptr<ui::NorvMainContainView> panel_;
};

}  // namespace h8::test
