// What the panel's widgets work with, handed down through their constructors: the routing model
// they show and edit, the hardware poll whose readings they show (and which a turning knob
// pauses), the clock their meters and knobs run on, the shared store and the user defaults they
// read, and the notification center whose panel notifications they post and follow. The main
// panel adds the registry of its destination rows, for the drag handles to drop onto.
#pragma once

namespace h8 {
class Clock;
class HardwarePoller;
class NorvShareHelper;
class NotificationCenter;
class RoutingModel;
class UserDefaults;
}  // namespace h8

namespace h8::ui {

struct MatrixRegistry;

struct PanelContext {
    RoutingModel& routing;
    HardwarePoller& poll;
    Clock& clock;
    NorvShareHelper& store;
    UserDefaults& defaults;
    NotificationCenter& center;
    MatrixRegistry* registry = nullptr;  // the main panel's
};

}  // namespace h8::ui
