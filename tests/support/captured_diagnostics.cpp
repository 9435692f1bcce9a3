#include "captured_diagnostics.h"

#include <QByteArray>

#include "platform/diagnostics.h"

namespace h8::test {

CapturedDiagnostics::CapturedDiagnostics() : file_(std::tmpfile()) {
    previous_ = setDiagnosticsStream(file_);
}

CapturedDiagnostics::~CapturedDiagnostics() {
    setDiagnosticsStream(previous_);
    std::fclose(file_);
}

QString CapturedDiagnostics::text() const {
    std::fflush(file_);
    const long end = std::ftell(file_);
    QByteArray bytes(end, '\0');
    std::rewind(file_);
    const size_t n = std::fread(bytes.data(), 1, static_cast<size_t>(end), file_);
    bytes.truncate(static_cast<qsizetype>(n));
    std::fseek(file_, 0, SEEK_END);
    return QString::fromUtf8(bytes);
}

QStringList CapturedDiagnostics::lines() const {
    QStringList result = text().split('\n');
    if (!result.isEmpty() && result.last().isEmpty()) result.removeLast();
    return result;
}

void CapturedDiagnostics::clear() {
    std::fclose(file_);
    file_ = std::tmpfile();
    setDiagnosticsStream(file_);
}

}  // namespace h8::test
