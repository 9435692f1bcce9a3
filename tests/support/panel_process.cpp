#include "panel_process.h"

#include <QFile>
#include <QProcess>

namespace h8::test {

ProcessResult runProgram(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment, int timeoutMs) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& key : environment.keys()) e.insert(key, environment.value(key));
    p.setProcessEnvironment(e);
    p.start(program, arguments);
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

ProcessResult runPanelScript(const QString& panel, const QString& folder, const QString& script,
                             const QStringList& arguments, const QProcessEnvironment& environment,
                             int timeoutMs) {
    const QString file = folder + QStringLiteral("/script.txt");
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(script.toUtf8()) != script.toUtf8().size())
        return {};
    f.close();
    return runProgram(panel, arguments + QStringList{QStringLiteral("--automation"), file},
                      environment, timeoutMs);
}

QStringList linesStartingWith(const QString& text, const QString& prefix) {
    QStringList lines;
    for (const QString& line : text.split('\n')) {
        if (line.startsWith(prefix)) lines.append(line);
    }
    return lines;
}

}  // namespace h8::test
