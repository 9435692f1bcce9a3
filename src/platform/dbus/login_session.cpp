#include "platform/dbus/login_session.h"

#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "platform/diagnostics.h"

namespace h8 {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kAutoSession = QStringLiteral("/org/freedesktop/login1/session/auto");

// Calls logind and hands the reply to `done` on `context`'s thread, unless `context` is gone.
template <typename Done>
void callLogind(QDBusConnection& bus, QObject* context, const QString& path,
                const QString& interface, const QString& method, const QVariantList& args,
                Done done) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, interface, method);
    call.setArguments(args);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, done](QDBusPendingCallWatcher*) {
                         watcher->deleteLater();
                         done(watcher->reply());
                     });
}

QVariant unwrap(const QVariant& v) {
    return v.canConvert<QDBusVariant>() ? v.value<QDBusVariant>().variant() : v;
}

}  // namespace

LogindSession::LogindSession(QDBusConnection bus, QObject* parent)
    : LoginSession(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected()) {
        diag("No D-Bus system bus (" + bus_.lastError().message().toStdString() +
             "): suspend, resume and user switches are not followed");
        return;
    }
    if (!bus_.connect(kService, kManagerPath, kManager, QStringLiteral("PrepareForSleep"), this,
                      SLOT(onPrepareForSleep(bool))))
        diag("Cannot listen for suspend and resume: " + bus_.lastError().message().toStdString());
    lookUp(Lookup::byPid);
}

void LogindSession::lookUp(Lookup step) {
    const auto answer = [this, step](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return lookUpFailed(step, reply.errorMessage());
        follow(reply.arguments().first().value<QDBusObjectPath>().path());
    };
    switch (step) {
        case Lookup::byPid:
            callLogind(bus_, this, kManagerPath, kManager, QStringLiteral("GetSessionByPID"),
                       {QVariant::fromValue(static_cast<uint>(::getpid()))}, answer);
            return;
        case Lookup::byEnvironment: {
            const QString id = qEnvironmentVariable("XDG_SESSION_ID");
            if (id.isEmpty())
                return lookUpFailed(step, QStringLiteral("XDG_SESSION_ID is not set"));
            callLogind(bus_, this, kManagerPath, kManager, QStringLiteral("GetSession"), {id},
                       answer);
            return;
        }
        case Lookup::automatic:
            // Signals name the session by its own path, never "auto": its id gives that path.
            callLogind(
                bus_, this, kAutoSession, kProperties, QStringLiteral("Get"),
                {kSession, QStringLiteral("Id")}, [this, step](const QDBusMessage& reply) {
                    const QString id = reply.arguments().isEmpty()
                                           ? QString()
                                           : unwrap(reply.arguments().first()).toString();
                    if (reply.type() != QDBusMessage::ReplyMessage || id.isEmpty())
                        return lookUpFailed(step, reply.errorMessage());
                    callLogind(
                        bus_, this, kManagerPath, kManager, QStringLiteral("GetSession"), {id},
                        [this, step](const QDBusMessage& r) {
                            if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty())
                                return lookUpFailed(step, r.errorMessage());
                            follow(r.arguments().first().value<QDBusObjectPath>().path());
                        });
                });
            return;
    }
}

void LogindSession::lookUpFailed(Lookup step, const QString& why) {
    switch (step) {
        case Lookup::byPid:
            return lookUp(Lookup::byEnvironment);
        case Lookup::byEnvironment:
            return lookUp(Lookup::automatic);
        case Lookup::automatic:
            diag("The login session of the panel is not known to logind (" + why.toStdString() +
                 "): user switches are not followed");
            return;
    }
}

void LogindSession::follow(const QString& path) {
    if (path.isEmpty()) return lookUpFailed(Lookup::automatic, QStringLiteral("no session path"));
    sessionPath_ = path;
    if (!bus_.connect(kService, path, kProperties, QStringLiteral("PropertiesChanged"), this,
                      SLOT(onPropertiesChanged(QString, QVariantMap, QStringList))))
        diag("Cannot follow the login session: " + bus_.lastError().message().toStdString());
    diag("Following the login session " + path.toStdString());
    readActive();
}

void LogindSession::readActive() {
    callLogind(bus_, this, sessionPath_, kProperties, QStringLiteral("Get"),
               {kSession, QStringLiteral("Active")}, [this](const QDBusMessage& reply) {
                   if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                       return;
                   setActive(unwrap(reply.arguments().first()).toBool());
               });
}

void LogindSession::onPrepareForSleep(bool start) {
    emit prepareForSleep(start);
}

void LogindSession::onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                        const QStringList& invalidated) {
    if (interface != kSession) return;
    const auto it = changed.find(QStringLiteral("Active"));
    if (it != changed.end())
        setActive(unwrap(*it).toBool());
    else if (invalidated.contains(QStringLiteral("Active")))
        readActive();
}

void LogindSession::setActive(bool active) {
    if (active == active_) return;
    active_ = active;
    emit activeChanged(active);
}

}  // namespace h8
