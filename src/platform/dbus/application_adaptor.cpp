#include "platform/dbus/application_adaptor.h"

namespace h8 {
namespace {

QString tokenOf(const QVariantMap& platformData) {
    const QString wayland = platformData.value(QStringLiteral("activation-token")).toString();
    return wayland.isEmpty() ? platformData.value(QStringLiteral("desktop-startup-id")).toString()
                             : wayland;
}

}  // namespace

ApplicationAdaptor::ApplicationAdaptor(QObject* parent, Handler activate)
    : QDBusAbstractAdaptor(parent), activate_(std::move(activate)) {}

void ApplicationAdaptor::Activate(const QVariantMap& platformData) {
    activate_(tokenOf(platformData));
}

void ApplicationAdaptor::Open(const QStringList&, const QVariantMap& platformData) {
    activate_(tokenOf(platformData));
}

void ApplicationAdaptor::ActivateAction(const QString&, const QVariantList&,
                                        const QVariantMap& platformData) {
    activate_(tokenOf(platformData));
}

}  // namespace h8
