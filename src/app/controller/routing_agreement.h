// The places the panel keeps the routing, compared: the stored map with its levels, the routing
// model (the grid), the route chips, the routing engine's columns and, while the interface is
// bound, its mixer as the emulated H8 holds it. The automation's "check-routing" prints it; the
// tests check it after every step.
#pragma once

#include <string>

namespace h8 {

class ViewController;
namespace emulated {
struct H8State;
}

// Empty when they agree; otherwise one line per crosspoint and place that disagrees. `device`
// is the emulated H8's state while it is plugged in (else null: the mixer is not compared).
std::string routingDisagreements(const ViewController& controller, const emulated::H8State* device);

}  // namespace h8
