#include "ui/presets/preset_dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "core/preset_file.h"

namespace h8::ui {
namespace {

QString filter() {
    return QCoreApplication::translate("Preset", "H8 preset (*.%1)")
        .arg(NorvExportFileHelper::kFileExtension);
}

// Texts of the alert go through the translation tables with the Chinese text as the key.
QString localized(const QString& text) {
    return QCoreApplication::translate("Preset", text.toUtf8().constData());
}

}  // namespace

QString presetFileName(const QString& chosen) {
    const QString suffix = QStringLiteral(".") + NorvExportFileHelper::kFileExtension;
    return chosen.endsWith(suffix, Qt::CaseInsensitive) ? chosen : chosen + suffix;
}

void exportPreset(QWidget* parent, std::function<void(const QString&)> save) {
    auto* dialog = new QFileDialog(parent, QString(), QString(), filter());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(NorvExportFileHelper::kFileExtension);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::fileSelected, [save](const QString& file) {
        if (!file.isEmpty()) save(presetFileName(file));
    });
    dialog->open();
}

void importPreset(QWidget* parent, std::function<void(const QString&)> import) {
    auto* dialog = new QFileDialog(parent, QString(), QString(), filter());
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::fileSelected, [import](const QString& file) {
        if (!file.isEmpty()) import(file);
    });
    dialog->open();
}

QMessageBox* showPresetMismatchAlert(QWidget* parent) {
    // "警告" is the alert's message and the reason its informative text; the title repeats the
    // message for window managers that show one.
    const QString title = localized(NorvExportFileHelper::mismatchTitle());
    auto* alert = new QMessageBox(QMessageBox::Critical, title, title, QMessageBox::NoButton,
                                  parent ? parent->window() : nullptr);
    alert->setInformativeText(localized(NorvExportFileHelper::mismatchMessage()));
    alert->addButton(localized(NorvExportFileHelper::mismatchButton()), QMessageBox::AcceptRole);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    alert->open();
    return alert;
}

QMessageBox* showPresetSaveFailedAlert(QWidget* parent, const QString& reason) {
    const QString title = QCoreApplication::translate("Preset", "无法保存预设");
    auto* alert = new QMessageBox(QMessageBox::Critical, title, title, QMessageBox::Ok,
                                  parent ? parent->window() : nullptr);
    alert->setInformativeText(reason);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    alert->open();
    return alert;
}

}  // namespace h8::ui
