// The File menu's preset commands: a save panel and an open panel limited to ".norv" files,
// the alert shown when a preset does not belong to the connected interface, and the one shown
// when a preset cannot be written.
#pragma once

#include <QString>
#include <functional>

class QWidget;
class QMessageBox;

namespace h8::ui {

// Asks for a file name and hands it to `save` (with ".norv" added when missing).
void exportPreset(QWidget* parent, std::function<void(const QString&)> save);
// Asks for a preset file and hands the one chosen to `import`.
void importPreset(QWidget* parent, std::function<void(const QString&)> import);

// The alert of a preset that does not belong to the connected interface (or of a file that is
// not a preset), on `parent`'s window. It closes itself when dismissed.
QMessageBox* showPresetMismatchAlert(QWidget* parent);
// The alert of a preset that could not be written (a full disk, no permission), with the
// reason. It closes itself when dismissed.
QMessageBox* showPresetSaveFailedAlert(QWidget* parent, const QString& reason);

// The file name to save to: `chosen` with ".norv" added when it has another or no suffix.
QString presetFileName(const QString& chosen);

}  // namespace h8::ui
