#include "emulated/physical_controls.h"

#include <QCoreApplication>

#include "emulated/emulated_h8.h"

namespace h8::emulated {
namespace {

bool isCodeControl(const QString& name) {
    return name == QLatin1String("gain1") || name == QLatin1String("gain2") ||
           name == QLatin1String("hp-level");
}

bool isSwitch(const QString& name) {
    static const QStringList switches = {"48v1", "48v2", "inst1", "inst2", "type1", "type2", "otg"};
    return switches.contains(name);
}

}  // namespace

std::optional<PhysicalControl> parsePhysicalControl(const QString& control, const QString& value,
                                                    QString* error) {
    if (isCodeControl(control)) {
        bool ok = false;
        const int code = value.toInt(&ok);
        if (!ok || code < 0 || code > 255) {
            *error = QCoreApplication::translate("h8ctl", "%1 takes a code from 0 to 255, not '%2'")
                         .arg(control, value);
            return std::nullopt;
        }
        return PhysicalControl{control, code};
    }
    if (control == QLatin1String("mixer-reset")) {
        if (value != QLatin1String("on")) {
            *error = QCoreApplication::translate("h8ctl", "%1 takes only on, not '%2'")
                         .arg(control, value);
            return std::nullopt;
        }
        return PhysicalControl{control, 1};
    }
    if (!isSwitch(control)) {
        *error = QCoreApplication::translate("h8ctl", "unknown control '%1'").arg(control);
        return std::nullopt;
    }
    if (value != QLatin1String("on") && value != QLatin1String("off")) {
        *error = QCoreApplication::translate("h8ctl", "%1 takes on or off, not '%2'")
                     .arg(control, value);
        return std::nullopt;
    }
    return PhysicalControl{control, value == QLatin1String("on") ? 1 : 0};
}

void applyPhysicalControl(EmulatedH8& model, const PhysicalControl& c) {
    const int input = c.name.back().digitValue();  // 1 or 2 for the controls of an input
    const bool on = c.value == 1;
    if (c.name == QLatin1String("mixer-reset"))
        model.resetMixer();
    else if (c.name == QLatin1String("hp-level"))
        model.setHeadphoneLevelCode(static_cast<uint8_t>(c.value));
    else if (c.name.startsWith(QLatin1String("gain")))
        model.setGainCode(input, static_cast<uint8_t>(c.value));
    else if (c.name == QLatin1String("otg"))
        model.setOtgPlugged(on);
    else if (c.name.startsWith(QLatin1String("48v")))
        model.setPhantomPower(input, on);
    else if (c.name.startsWith(QLatin1String("inst")))
        model.setInstrumentMode(input, on);
    else
        model.setInputType(input, on);
}

}  // namespace h8::emulated
