// The panel's identity on the desktop: the name it shows, and the names under which the desktop
// matches its window to the desktop entry that starts it. On Wayland that is the app id, the
// entry's own name ("org.h8controller.H8Controller"); on X11 the window's class, which the
// entry's StartupWMClass names. Without a match a dock shows the window apart from its launcher,
// and the launcher starts another copy.
#pragma once

namespace h8 {

// The window's class on X11: Qt takes it from the application's name.
inline constexpr char kApplicationName[] = "H8 Controller";

// Sets the application's name, organisation domain and desktop file name (the Wayland app id).
// Call after the QGuiApplication is made and before any window is shown.
void setApplicationIdentity();

}  // namespace h8
