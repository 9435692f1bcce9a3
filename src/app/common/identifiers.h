// Names shared by h8-controller and H8LaunchHelper. Header-only on purpose: the helper links
// nothing of the main program, yet both must agree on these values byte for byte.
#pragma once

namespace h8::ids {

// The main program's identifier; it owns this name on the D-Bus session bus while it runs.
inline constexpr char kMainAppId[] = "org.h8controller.H8Controller";
// The launch helper's identifier: its session bus name and the name of its autostart entry.
inline constexpr char kLaunchHelperId[] = "NORV.H8LaunchHelper";

// Executable file names; both programs are installed in the same folder.
inline constexpr char kMainExecutableName[] = "h8-controller";
inline constexpr char kLaunchHelperExecutableName[] = "H8LaunchHelper";

// The broadcast the main program sends to make a running helper quit. Its single string
// argument is the sender's identifier; the helper only listens for kMainAppId.
inline constexpr char kTerminateSignalPath[] = "/org/h8controller/LaunchHelper";
inline constexpr char kTerminateSignalInterface[] = "org.h8controller.LaunchHelper";
inline constexpr char kTerminateSignalName[] = "TerminateAppHelperNotificationName";

}  // namespace h8::ids
