// One-line diagnostics. The panel writes them to standard output; the command-line tool sends
// them to standard error so that its own output stays machine-readable.
#pragma once

#include <cstdio>
#include <string_view>

namespace h8 {

// Writes `line` followed by a line feed to the diagnostics stream and flushes it.
void diag(std::string_view line);
// printf-style variant of diag().
void diagf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Redirects diagnostics (default: stdout). Returns the previous stream.
FILE* setDiagnosticsStream(FILE* stream);

}  // namespace h8
