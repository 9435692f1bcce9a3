#include "platform/dbus/desktop_shell.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>

#include "platform/diagnostics.h"

namespace h8 {

namespace {
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kDesktopEntry = "org.h8controller.H8Controller";
}  // namespace

void BusNotifications::notify(const QString& summary, const QString& body) {
    if (!bus_.isConnected()) {
        diag("No session bus for a desktop notification: " + summary.toStdString());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QLatin1String(kDesktopEntry)},
                            {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}};
    call << QStringLiteral("H8 Controller") << uint(0) << QLatin1String(kDesktopEntry) << summary
         << body << QStringList() << hints << -1;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call));
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, pending,
                     [summary](QDBusPendingCallWatcher* w) {
                         if (w->isError())
                             diag("The desktop notification \"" + summary.toStdString() +
                                  "\" was not shown: " + w->error().message().toStdString());
                         w->deleteLater();
                     });
}

BusTrayHost::BusTrayHost(QDBusConnection bus, QObject* parent)
    : TrayHost(parent),
      bus_(std::move(bus)),
      watcher_(new QDBusServiceWatcher(QLatin1String(kWatcherService), bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this)) {
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { check(); });
    if (!bus_.isConnected()) return;
    // A host registering later (the watcher may come up first, its host after it).
    bus_.connect(QLatin1String(kWatcherService), QLatin1String(kWatcherPath),
                 QLatin1String(kWatcherService), QStringLiteral("StatusNotifierHostRegistered"),
                 this, SLOT(check()));
    check();
}

void BusTrayHost::check() {
    const unsigned question = ++checks_;
    if (!bus_.isConnected()) return setAvailable(false);
    QDBusMessage get = QDBusMessage::createMethodCall(
        QLatin1String(kWatcherService), QLatin1String(kWatcherPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QLatin1String(kWatcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(get, 2000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, question](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (question != checks_) return;
                QDBusPendingReply<QDBusVariant> reply = *w;
                if (!reply.isError()) return setAvailable(reply.value().variant().toBool());
                // No watcher at all, or one that cannot say whether a host is there.
                const bool owned =
                    bus_.interface() &&
                    bus_.interface()->isServiceRegistered(QLatin1String(kWatcherService)).value();
                setAvailable(owned && reply.error().type() != QDBusError::ServiceUnknown);
            });
}

void BusTrayHost::setAvailable(bool available) {
    if (available == available_) return;
    available_ = available;
    emit availableChanged(available);
}

}  // namespace h8
