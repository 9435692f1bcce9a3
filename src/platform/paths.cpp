#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <vector>

namespace h8 {
namespace {

constexpr auto kAppFolder = "H8Controller";

// The value of `name`, or an empty string when it is unset or empty.
QString env(const char* name) {
    return qEnvironmentVariable(name);
}

// The user's home folder: $HOME, or (unset or not absolute, as under some service managers)
// the one the password database gives.
QString homeFolder() {
    const QString home = env("HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home)) return home;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return QFile::decodeName(found->pw_dir);
    return QDir::rootPath();
}

// $<xdgVariable>/H8Controller, or ~/<fallback>/H8Controller when the variable is unset or empty.
// The XDG base directory rules say relative values are invalid and must be ignored.
QString xdgFolder(const char* xdgVariable, const char* fallback) {
    const QString base = env(xdgVariable);
    if (!base.isEmpty() && QDir::isAbsolutePath(base)) return base + '/' + kAppFolder;
    return QDir::cleanPath(homeFolder() + '/' + fallback + '/' + kAppFolder);
}

}  // namespace

QString configDir() {
    const QString overridden = env("H8_CONFIG_DIR");
    if (!overridden.isEmpty()) return overridden;
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

QString stateDir() {
    return xdgFolder("XDG_STATE_HOME", ".local/state");
}

QString logDir() {
    const QString overridden = env("H8_LOG_DIR");
    if (!overridden.isEmpty()) return overridden;
    return stateDir() + "/Logs";
}

}  // namespace h8
