// What the panel's widgets work with, handed down through their constructors: the routing model
// they show and edit, the hardware poll whose readings they show (and which a turning knob
// pauses), and the clock their meters run on.
#pragma once

namespace h8 {
class Clock;
class HardwarePoller;
class RoutingModel;
}  // namespace h8

namespace h8::ui {

struct PanelContext {
    RoutingModel& routing;
    HardwarePoller& poll;
    Clock& clock;
};

}  // namespace h8::ui
