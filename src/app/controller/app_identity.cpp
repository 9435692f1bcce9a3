#include "app_identity.h"

#include <QGuiApplication>

#include "app/common/identifiers.h"

namespace h8 {

void setApplicationIdentity() {
    QGuiApplication::setApplicationName(QString::fromLatin1(kApplicationName));
    QGuiApplication::setOrganizationDomain(QStringLiteral("h8controller.org"));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(ids::kMainAppId));
}

}  // namespace h8
