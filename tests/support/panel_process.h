// Runs one of the programs (the panel with an automation script, or h8ctl) as its own process,
// offscreen, in the test's folders, and collects what it printed.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <memory>

namespace h8::test {

struct ProcessResult {
    int exitCode = -1;
    bool finished = false;  // false: it did not end within the time given (it was killed)
    QString out, err;
};

// Runs `program` with `arguments` and QT_QPA_PLATFORM=offscreen plus `environment` on top of
// the test's own environment, and waits at most `timeoutMs` for it to end.
ProcessResult runProgram(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment = {}, int timeoutMs = 60000);

// Starts `program` with `arguments` and QT_QPA_PLATFORM=offscreen plus `environment` on top of
// the test's own environment; the test reads and ends it.
std::unique_ptr<QProcess> startProgram(const QString& program, const QStringList& arguments,
                                       const QProcessEnvironment& environment = {});

// Writes `script` to `folder`/script.txt and runs the panel program with
// `--automation` that file after `arguments`.
ProcessResult runPanelScript(const QString& panel, const QString& folder, const QString& script,
                             const QStringList& arguments,
                             const QProcessEnvironment& environment = {}, int timeoutMs = 60000);
// The same, started: the test reads and ends it. Null when the script cannot be written.
std::unique_ptr<QProcess> startPanelScript(const QString& panel, const QString& folder,
                                           const QString& script, const QStringList& arguments,
                                           const QProcessEnvironment& environment = {});

// The lines of `text` that start with `prefix`.
QStringList linesStartingWith(const QString& text, const QString& prefix);

}  // namespace h8::test
