// The language of the user interface. The programs' texts are written in Chinese (the panel)
// or English (h8ctl, the emulation menu); a table per language maps every text to that
// language. Chinese locales get the Chinese table, every other locale the English one. Texts
// that are data (stored keys, notification names, log lines, the preset file) never go
// through the tables.
#pragma once

#include <QProcessEnvironment>
#include <QString>

class QCoreApplication;

namespace h8 {

enum class UiLanguage { chinese, english };

// The user's language from the first set locale variable in the order the C library reads
// them for messages: LANGUAGE (its first entry), LC_ALL, LC_MESSAGES, LANG.
UiLanguage uiLanguage(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// The table's name in the resources: "zh_CN" or "en".
QString languageCode(UiLanguage language);

// Installs the table of `language` (and Qt's own texts of standard dialogs, where the system
// has them) into `app`. False when the table is missing, which leaves the texts as written.
bool installTranslations(QCoreApplication& app, UiLanguage language);

}  // namespace h8
