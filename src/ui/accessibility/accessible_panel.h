// What screen readers (AT-SPI on Linux, as Orca uses it) learn about the panel's own controls:
// a name, a role, states and a value for the crosspoints of the grid, the route chips, the knobs
// and the level meters, and actions that go through the same functions as the mouse (a
// crosspoint toggles as a click does, a chip is removed as a double-click removes it). Plain Qt
// widgets (mute buttons, name fields, labels) are described by Qt itself; the panel gives them
// their names where it builds them.
//
// The interfaces are made by a factory that Qt asks for every widget; nothing is kept per widget
// beyond what Qt caches, and a value is computed only when a screen reader asks (the meters move
// twenty times a second and never announce themselves).
#pragma once

#include <QString>

class QAccessibleInterface;
class QObject;

namespace h8::ui {

// Installs the factory (once per process; later calls do nothing).
void installAccessibleInterfaces();

// The names a screen reader uses for the matrix's sources (rows 1-12: "Mic/Line 1", "Mic/Line
// 2", "OTG In 3", "OTG In 4", "Playback 1" … "Playback 8") and destinations (columns 1-12:
// "HP 1", "HP 2", "OTG Out 3", "OTG Out 4", "Mixer In 1" … "Mixer In 8"), translated.
QString accessibleSourceName(int row);
QString accessibleDestinationName(int col);

// A meter's level (0..1) as a screen reader reads it: "-12 dB", or "silent" at 0.
QString accessibleLevelText(double level);

// The factory itself (for tests that look at one widget's interface without a screen reader).
QAccessibleInterface* accessibleInterfaceFor(const QString& className, QObject* object);

}  // namespace h8::ui
