// Whole-file writes that never leave a half-written file behind.
#pragma once

#include <QByteArray>
#include <QString>

namespace h8 {

// Writes `contents` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, creating the folder when needed. A crash at any moment leaves either the old file or
// the new one. Returns false with a reason in `error` (when given) on failure.
bool writeFileAtomically(const QString& path, const QByteArray& contents, QString* error = nullptr);

}  // namespace h8
