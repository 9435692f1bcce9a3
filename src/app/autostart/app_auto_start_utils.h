// Launch at login: registers H8LaunchHelper as an XDG autostart entry and asks a running
// helper to quit once the main program is up.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>

namespace h8 {

class AppAutoStartUtils {
public:
    // Everything setAutoStart takes from the outside world. defaultEnvironment() describes the
    // installed program; tests substitute their own folders, bus and output.
    struct Environment {
        // Where H8LaunchHelper must exist before anything is registered.
        QString helperPath;
        // Folder of the XDG autostart entries.
        QString autostartDir;
        // Opens the session bus; only called once the helper is known to exist.
        std::function<QDBusConnection()> connectBus;
        // Receives each message, one line at a time, without the line feed.
        std::function<void(const QString&)> print;
    };

    // The installed H8LaunchHelper (libexec) when this executable is the installed one, else
    // H8LaunchHelper beside this executable; $XDG_CONFIG_HOME/autostart (~/.config/autostart
    // when unset), the session bus, standard output.
    static Environment defaultEnvironment();
    // The helper of a main program in `programDir`: the installed one (in the private programs
    // folder) for the installed main program, else the one built beside it.
    static QString helperPathFor(const QString& programDir);

    // Registers (on) or unregisters (off) H8LaunchHelper to start at login, then, when a
    // helper runs, tells it to quit. Failures are printed and never thrown.
    static void setAutoStart(bool on);
    static void setAutoStart(bool on, const Environment& env);

    // What the main program does at each launch: registers the helper, unless the user has
    // turned the entry off (Hidden=true or X-GNOME-Autostart-enabled=false), which stays as is.
    static void registerAtLaunch(const Environment& env = defaultEnvironment());
    // The user's choice from the menu: an enabled entry, or one that says it is off.
    static void setUserChoice(bool on, const Environment& env = defaultEnvironment());
    // True when an entry exists and is not turned off.
    static bool isRegistered(const Environment& env = defaultEnvironment());
    static bool isDisabledEntry(const QByteArray& entry);

    // The autostart entry's file name and its contents for a helper at `helperPath`.
    static QString entryFileName();
    static QByteArray desktopEntry(const QString& helperPath, bool enabled = true);
    // `path` as the text after "Exec=": one double-quoted argument carrying both escape layers
    // of the Desktop Entry format (argument quoting, then string value escapes, plus "%%"), so
    // spaces, quotes, '$', backslashes, '%' and line feeds in the path survive.
    static QString quoteExecArgument(const QString& path);
    // `text` as a string value of the Desktop Entry format (backslash, line feed, tab and
    // carriage return escaped).
    static QString escapeStringValue(const QString& text);
};

}  // namespace h8
