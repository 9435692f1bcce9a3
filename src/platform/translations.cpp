#include "platform/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace h8 {

UiLanguage uiLanguage(const QProcessEnvironment& env) {
    QString locale = env.value(QStringLiteral("LANGUAGE")).section(QLatin1Char(':'), 0, 0);
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (!locale.isEmpty()) break;
        locale = env.value(QString::fromLatin1(name));
    }
    return locale.startsWith(QLatin1String("zh")) ? UiLanguage::chinese : UiLanguage::english;
}

QString languageCode(UiLanguage language) {
    return language == UiLanguage::chinese ? QStringLiteral("zh_CN") : QStringLiteral("en");
}

bool installTranslations(QCoreApplication& app, UiLanguage language) {
    const QString code = languageCode(language);
    // Owned by the application: the tables live as long as it.
    auto* ours = new QTranslator(&app);
    if (!ours->load(QStringLiteral(":/i18n/h8_") + code)) {
        delete ours;
        return false;
    }
    QCoreApplication::installTranslator(ours);
    // Qt's standard dialogs (file dialog, message box buttons) are in English unless the
    // system has Qt's table for the language.
    if (language == UiLanguage::chinese) {
        auto* qt = new QTranslator(&app);
        if (qt->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(qt);
        } else {
            delete qt;
        }
    }
    return true;
}

}  // namespace h8
