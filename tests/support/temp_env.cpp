#include "temp_env.h"

#include <cstdlib>

namespace h8::test {

TempEnv::TempEnv() {
    qputenv("H8_CONFIG_DIR", configDir().toUtf8());
    qputenv("H8_LOG_DIR", logDir().toUtf8());
    qputenv("XDG_STATE_HOME", stateHome().toUtf8());
    qputenv("XDG_CONFIG_HOME", (root() + "/xdg-config").toUtf8());
}

TempEnv::~TempEnv() {
    for (const char* name : {"H8_CONFIG_DIR", "H8_LOG_DIR", "XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
        qunsetenv(name);
    }
}

}  // namespace h8::test
