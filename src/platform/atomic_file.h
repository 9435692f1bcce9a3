// Whole-file writes that never leave a half-written file behind.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace h8 {

// Writes `contents` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, creating the folder when needed. A crash at any moment leaves either the old file or
// the new one. When `path` is a symbolic link, the file it points to is replaced (the link
// stays). Returns false with a reason in `error` (when given) on failure.
bool writeFileAtomically(const QString& path, const QByteArray& contents, QString* error = nullptr);

// The file a write to `path` replaces: `path` itself, or the end of its chain of symbolic links
// (which need not exist yet).
QString writeTarget(const QString& path);

// For tests: every write whose target `fault` returns an errno for fails with it, as a full
// disk (ENOSPC), a read-only one (EROFS) or a folder without write permission (EACCES) would
// fail it. An empty function ends the faults.
void injectWriteFaults(std::function<int(const QString& path)> fault);

}  // namespace h8
