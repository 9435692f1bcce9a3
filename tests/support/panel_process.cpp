#include "panel_process.h"

#include <QFile>
#include <QProcess>

namespace h8::test {

namespace {

ProcessResult finish(QProcess& p, int timeoutMs) {
    ProcessResult r;
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The script's file in `folder`; empty when it cannot be written.
QString writeScript(const QString& folder, const QString& script) {
    const QString file = folder + QStringLiteral("/script.txt");
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(script.toUtf8()) != script.toUtf8().size())
        return {};
    return file;
}

}  // namespace

std::unique_ptr<QProcess> startProgram(const QString& program, const QStringList& arguments,
                                       const QProcessEnvironment& environment) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& key : environment.keys()) e.insert(key, environment.value(key));
    p->setProcessEnvironment(e);
    p->start(program, arguments);
    return p;
}

ProcessResult runProgram(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment, int timeoutMs) {
    const std::unique_ptr<QProcess> p = startProgram(program, arguments, environment);
    return finish(*p, timeoutMs);
}

std::unique_ptr<QProcess> startPanelScript(const QString& panel, const QString& folder,
                                           const QString& script, const QStringList& arguments,
                                           const QProcessEnvironment& environment) {
    const QString file = writeScript(folder, script);
    if (file.isEmpty()) return nullptr;
    return startProgram(panel, arguments + QStringList{QStringLiteral("--automation"), file},
                        environment);
}

ProcessResult runPanelScript(const QString& panel, const QString& folder, const QString& script,
                             const QStringList& arguments, const QProcessEnvironment& environment,
                             int timeoutMs) {
    const std::unique_ptr<QProcess> p =
        startPanelScript(panel, folder, script, arguments, environment);
    return p ? finish(*p, timeoutMs) : ProcessResult{};
}

QStringList linesStartingWith(const QString& text, const QString& prefix) {
    QStringList lines;
    for (const QString& line : text.split('\n')) {
        if (line.startsWith(prefix)) lines.append(line);
    }
    return lines;
}

}  // namespace h8::test
