// org.freedesktop.Application on the panel's object: how a second start (or a desktop that
// activates applications over D-Bus) asks the running panel to show its window. QtDBus has no
// ready one. Activate and Open show the window; the panel has no actions, so ActivateAction
// only shows it too.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>
#include <QVariantMap>
#include <functional>

namespace h8 {

class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    // `activate` receives the startup token of the platform data ("activation-token" on
    // Wayland, "desktop-startup-id" on X11), empty when there is none.
    using Handler = std::function<void(const QString& token)>;
    ApplicationAdaptor(QObject* parent, Handler activate);

public slots:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

private:
    Handler activate_;
};

}  // namespace h8
