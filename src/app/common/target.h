// Which H8 a program works with, and what follows from that. The real interface has the user's
// preferences, the log "myapp.log" and the panel's well-known bus name. The emulated H8 of a
// state file (a demo) has preferences beside that file, a log, a bus name and locks of its
// own: a demo never reads or writes what the real interface is restored from, and a demo
// panel runs beside a real one.
#pragma once

#include <QString>

namespace h8 {

// The panel's D-Bus names (see docs/dbus.md and the introspection XML beside this file).
namespace bus {
inline constexpr char kInterface[] = "org.h8controller.H8Controller1";
inline constexpr char kEmulatedInterface[] = "org.h8controller.H8Controller1.Emulated";
inline constexpr char kApplicationInterface[] = "org.freedesktop.Application";
// The errors the interface's methods reply with.
inline constexpr char kErrorNotConnected[] = "org.h8controller.H8Controller1.Error.NotConnected";
inline constexpr char kErrorInvalidArgument[] =
    "org.h8controller.H8Controller1.Error.InvalidArgument";
inline constexpr char kErrorUnsupportedRate[] =
    "org.h8controller.H8Controller1.Error.UnsupportedRate";
inline constexpr char kErrorNoSoundServer[] = "org.h8controller.H8Controller1.Error.NoSoundServer";
inline constexpr char kErrorPresetRejected[] =
    "org.h8controller.H8Controller1.Error.PresetRejected";
inline constexpr char kErrorIo[] = "org.h8controller.H8Controller1.Error.IoError";
inline constexpr char kErrorNothingToUndo[] = "org.h8controller.H8Controller1.Error.NothingToUndo";
}  // namespace bus

class Target {
public:
    static Target hardware();
    // The emulated H8 kept in `stateFile`; empty: <config folder>/emulated-h8.json.
    static Target emulated(const QString& stateFile);

    bool isEmulated() const { return emulated_; }
    // Absolute; empty for the real interface.
    QString stateFile() const { return stateFile_; }

    // The preferences: <config folder>/defaults.json for the real interface; for the emulated
    // one the state file's name with ".defaults.json" for its ".json" (or appended).
    QString preferencesFile() const;
    // The log file's name in the log folder.
    QString logFileName() const;

    // The panel's name on the session bus and the path of its object: the well-known name of
    // the real interface's panel, "org.h8controller.H8Controller.Demo" for a demo's.
    QString busName() const;
    QString objectPath() const;

    // The lock that keeps to one panel without a session bus, and the lock held by whoever
    // talks to the interface (a panel for its whole run, h8ctl for one command). A demo's
    // interface lock is that of its state file.
    QString panelLockFile() const;
    QString interfaceLockFile() const;

private:
    bool emulated_ = false;
    QString stateFile_;
};

// Where the locks live: $XDG_RUNTIME_DIR, or the config folder when that is unset.
QString runtimeFolder();

}  // namespace h8
