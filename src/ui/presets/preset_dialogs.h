// The File menu's preset commands: a save panel and an open panel limited to ".norv" files,
// and the alert shown when a preset does not belong to the connected interface.
#pragma once

#include <QString>

class QWidget;
class QMessageBox;

namespace h8::ui {

// Asks for a file name and exports the panel's state there.
void exportPreset(QWidget* parent);
// Asks for a preset file and imports it (see importPresetFile).
void importPreset(QWidget* parent);

// Imports `path`: on success stores it and posts "entranceFileSuccesName", whose observer (the
// main panel) brings device and chips in line; a preset of another model (or a file that is not
// a preset) shows the mismatch alert on `parent`'s window and changes nothing. Returns the alert
// when one was shown (it closes itself when dismissed).
QMessageBox* importPresetFile(const QString& path, QWidget* parent);

// The file name to save to: `chosen` with ".norv" added when it has another or no suffix.
QString presetFileName(const QString& chosen);

}  // namespace h8::ui
