// The physical controls of the emulated H8 by name, as `h8ctl sim-set` and the demo panel's
// session-bus interface take them: gain1, gain2 and hp-level with a code 0-255; 48v1, 48v2,
// inst1, inst2, type1, type2 and otg with on or off; mixer-reset with on (every crosspoint
// silent, as after a loss of power).
#pragma once

#include <QString>
#include <optional>

namespace h8::emulated {

class EmulatedH8;

struct PhysicalControl {
    QString name;
    int value = 0;  // the code, or 1 for on and 0 for off
};

// The control named `control` set to `value`; nothing, with the reason in `error`, when either
// is not one the emulated H8 has.
std::optional<PhysicalControl> parsePhysicalControl(const QString& control, const QString& value,
                                                    QString* error);
// Turns the control on `model`, as a hand on the interface would.
void applyPhysicalControl(EmulatedH8& model, const PhysicalControl& control);

}  // namespace h8::emulated
