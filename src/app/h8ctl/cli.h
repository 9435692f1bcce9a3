// h8ctl: the command-line front end over the same core as the panel, for scripting and for
// machines without a display.
#pragma once

#include <QStringList>

namespace h8::cli {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitNoDevice = 2,
    kExitRejected = 3,
    kExitIoError = 4,
};

// Runs one invocation (arguments without the program name). Output goes to stdout, errors and
// diagnostics to stderr. Needs a QCoreApplication.
int run(const QStringList& arguments);

}  // namespace h8::cli
