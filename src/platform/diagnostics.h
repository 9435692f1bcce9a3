// One-line diagnostics. The panel writes them to standard output; the command-line tool sends
// them to standard error so that its own output stays machine-readable.
#pragma once

#include <cstdio>
#include <string_view>

namespace h8 {

// Writes `line` followed by a line feed to the diagnostics stream and flushes it. For errors
// and warnings: always shown.
void diag(std::string_view line);
// printf-style variant of diag().
void diagf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Progress lines ("while .....1", "create interface iterator", "File decrypted successfully."):
// shown like diag() unless turned off with showTraceLines(false), as the command-line tool does
// without --verbose so that scripts see only results and errors.
void diagTrace(std::string_view line);
void diagTracef(const char* format, ...) __attribute__((format(printf, 1, 2)));
void showTraceLines(bool on);

// Redirects diagnostics (default: stdout). Returns the previous stream.
FILE* setDiagnosticsStream(FILE* stream);

}  // namespace h8
