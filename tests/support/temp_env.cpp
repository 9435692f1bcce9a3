#include "temp_env.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

namespace h8::test {

TempEnv::TempEnv() {
    qputenv("H8_CONFIG_DIR", configDir().toUtf8());
    qputenv("H8_LOG_DIR", logDir().toUtf8());
    qputenv("XDG_STATE_HOME", stateHome().toUtf8());
    qputenv("XDG_CONFIG_HOME", (root() + "/xdg-config").toUtf8());
    // The panel's locks go to the runtime folder, and it takes its name on the session bus: a
    // test's panel must meet neither the user's panel nor another test's.
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toUtf8());
    savedBus_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + root() + "/no-session-bus").toUtf8());
}

TempEnv::~TempEnv() {
    for (const char* name :
         {"H8_CONFIG_DIR", "H8_LOG_DIR", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        qunsetenv(name);
    }
    if (savedBus_.isNull())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", savedBus_);
}

}  // namespace h8::test
