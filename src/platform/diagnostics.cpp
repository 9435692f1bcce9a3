#include "platform/diagnostics.h"

#include <atomic>
#include <cstdarg>

namespace h8 {
namespace {
std::atomic<FILE*> g_stream{nullptr};
std::atomic<bool> g_traceShown{true};

FILE* stream() {
    FILE* s = g_stream.load(std::memory_order_relaxed);
    return s ? s : stdout;
}

// Formats one line (at most 1023 bytes) and writes it with diag().
void vdiag(const char* format, va_list args) {
    char buffer[1024];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) return;
    diag(std::string_view(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1));
}
}  // namespace

void diag(std::string_view line) {
    FILE* s = stream();
    std::fwrite(line.data(), 1, line.size(), s);
    std::fputc('\n', s);
    std::fflush(s);
}

void diagf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vdiag(format, args);
    va_end(args);
}

void diagTrace(std::string_view line) {
    if (g_traceShown.load(std::memory_order_relaxed)) diag(line);
}

void diagTracef(const char* format, ...) {
    if (!g_traceShown.load(std::memory_order_relaxed)) return;
    va_list args;
    va_start(args, format);
    vdiag(format, args);
    va_end(args);
}

void showTraceLines(bool on) {
    g_traceShown.store(on, std::memory_order_relaxed);
}

FILE* setDiagnosticsStream(FILE* s) {
    return g_stream.exchange(s);
}

}  // namespace h8
