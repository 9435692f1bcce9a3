// The File menu's preset commands: a save panel and an open panel limited to ".norv" files,
// and the alert shown when a preset does not belong to the connected interface.
#pragma once

#include <QString>
#include <functional>

class QWidget;
class QMessageBox;

namespace h8 {
class RoutingModel;
}

namespace h8::ui {

// Asks for a file name and exports the panel's state there.
void exportPreset(QWidget* parent);
// Asks for a preset file and hands the one chosen to `import`.
void importPreset(QWidget* parent, std::function<void(const QString&)> import);

// Imports the preset `path` into `routing` (and the interface, the shared state and the user
// defaults, see NorvExportFileHelper::applyImport). A preset of another model (or a file that is
// not a preset) changes nothing and shows the mismatch alert on `parent`'s window instead; the
// alert is returned (it closes itself when dismissed), null when the preset was applied.
QMessageBox* importPresetFile(const QString& path, RoutingModel& routing, QWidget* parent);

// The file name to save to: `chosen` with ".norv" added when it has another or no suffix.
QString presetFileName(const QString& chosen);

}  // namespace h8::ui
