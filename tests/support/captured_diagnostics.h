// Test helper: collects the program's diagnostic lines (h8::diag) while the object lives.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

namespace h8::test {

class CapturedDiagnostics {
public:
    CapturedDiagnostics();
    ~CapturedDiagnostics();
    CapturedDiagnostics(const CapturedDiagnostics&) = delete;
    CapturedDiagnostics& operator=(const CapturedDiagnostics&) = delete;

    // Everything written so far, as it was written (UTF-8), and one entry per line.
    QString text() const;
    QStringList lines() const;
    bool contains(const QString& line) const { return lines().contains(line); }
    void clear();

private:
    FILE* file_;
    FILE* previous_;
};

}  // namespace h8::test
