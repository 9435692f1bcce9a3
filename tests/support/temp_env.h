// Test helper: points the program's config, state, log and runtime folders at a fresh temporary
// folder for the lifetime of the object, and its session bus at none, so that no test touches
// the user's real files or meets the user's panel. A test that wants a bus sets
// DBUS_SESSION_BUS_ADDRESS after creating it.
#pragma once

#include <QString>
#include <QTemporaryDir>

namespace h8::test {

class TempEnv {
public:
    TempEnv();
    ~TempEnv();
    TempEnv(const TempEnv&) = delete;
    TempEnv& operator=(const TempEnv&) = delete;

    QString root() const { return dir_.path(); }
    QString configDir() const { return dir_.path() + "/config"; }
    QString logDir() const { return dir_.path() + "/logs"; }
    QString stateHome() const { return dir_.path() + "/state"; }
    QString runtimeDir() const { return dir_.path() + "/runtime"; }

private:
    QTemporaryDir dir_;
    QByteArray savedBus_;
};

}  // namespace h8::test
