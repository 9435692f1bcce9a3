// Where the program keeps its preferences, state and logs. Each call reads the environment
// afresh, so a test (or a wrapper script) can redirect the folders at any time.
#pragma once

#include <QString>

namespace h8 {

// $H8_CONFIG_DIR when set and non-empty, else $XDG_CONFIG_HOME/H8Controller,
// else ~/.config/H8Controller.
QString configDir();
// $XDG_STATE_HOME/H8Controller, else ~/.local/state/H8Controller.
QString stateDir();
// $H8_LOG_DIR when set and non-empty, else stateDir() + "/Logs".
QString logDir();

}  // namespace h8
