// What the panel's widgets are built with (see ui::PanelContext), made for a test from the
// standard user defaults and notification center of the moment: a routing model, the hardware
// poll through `usb`, a clock the test moves, and a registry of destination rows.
#pragma once

#include <memory>

#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "core/usb_interface.h"
#include "manual_clock.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/panel_context.h"

namespace h8::test {

struct PanelParts {
    explicit PanelParts(UsbInterface& usb, RoutingModel* sharedRouting = nullptr)
        : ownRouting(sharedRouting
                         ? nullptr
                         : std::make_unique<RoutingModel>(UserDefaults::standard(),
                                                          NotificationCenter::defaultCenter())),
          routing(sharedRouting ? *sharedRouting : *ownRouting),
          monitor(usb, NorvShareHelper::shared(), UserDefaults::standard()),
          poller(monitor, NorvShareHelper::shared(), clock) {}

    ui::PanelContext context() {
        ui::PanelContext c{routing,
                           poller,
                           clock,
                           NorvShareHelper::shared(),
                           UserDefaults::standard(),
                           NotificationCenter::defaultCenter()};
        c.registry = &registry;
        return c;
    }

    ManualClock clock;
    std::unique_ptr<RoutingModel> ownRouting;
    RoutingModel& routing;
    HardwareMonitor monitor;
    HardwarePoller poller;
    ui::MatrixRegistry registry;
};

}  // namespace h8::test
