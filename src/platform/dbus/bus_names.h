// Owning a well-known name on the session bus, asking the program that owns one to come to the
// front, and announcing property changes (QtDBus does not emit PropertiesChanged for the
// properties of an adaptor).
#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

namespace h8 {

enum class NameClaim {
    owned,  // the name is ours
    taken,  // another connection owns it
    failed  // the bus refused for another reason (see `error`)
};
// Asks for `name` without queueing and without letting anyone replace us.
NameClaim claimBusName(QDBusConnection bus, const QString& name, QString* error);

// Calls org.freedesktop.Application.Activate on `path` of `name`, passing on the startup token
// this process was started with ($XDG_ACTIVATION_TOKEN as "activation-token",
// $DESKTOP_STARTUP_ID as "desktop-startup-id"). Waits at most `timeoutMs` for the reply.
bool activateRunningApplication(QDBusConnection bus, const QString& name, const QString& path,
                                int timeoutMs, QString* error);

// Registers QtDBus's own types (QDBusArgument, QDBusVariant, object paths, signatures…) on the
// calling thread. QtDBus otherwise registers them the first time a connection needs them, on the
// connection's thread, and a reply read on the main thread meanwhile can meet one unregistered
// ("Trying to construct an instance of an invalid type" on standard error). Call once at start.
void registerBusTypes();

// Emits org.freedesktop.DBus.Properties.PropertiesChanged for `interface` on `path`.
void emitPropertiesChanged(QDBusConnection bus, const QString& path, const QString& interface,
                           const QVariantMap& changed);

}  // namespace h8
