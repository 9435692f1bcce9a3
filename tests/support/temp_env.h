// Test helper: points the program's config, state and log folders at a fresh temporary folder
// for the lifetime of the object, so that no test touches the user's real files.
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

private:
    QTemporaryDir dir_;
};

}  // namespace h8::test
