#include "panel_client.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

namespace h8::cli {
namespace {

// The panel answers within a frame or two; a request to an interface that stopped answering
// takes its USB time-outs, well below this.
constexpr int kCallTimeoutMs = 20000;

QVariant unwrap(const QVariant& value) {
    return value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value;
}

}  // namespace

std::unique_ptr<PanelClient> PanelClient::find(const Target& target) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return nullptr;
    if (!bus.interface()->isServiceRegistered(target.busName()).value()) return nullptr;
    std::unique_ptr<PanelClient> panel(new PanelClient(bus, target));
    if (target.isEmulated()) {
        // The demo panel's emulated H8 is kept in its own state file: another file is another
        // emulated H8, which h8ctl opens itself.
        QDBusMessage get = QDBusMessage::createMethodCall(
            target.busName(), target.objectPath(),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QString::fromLatin1(bus::kEmulatedInterface) << QStringLiteral("StateFile");
        const QDBusMessage reply = bus.call(get, QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
            unwrap(reply.arguments().first()).toString() != target.stateFile())
            return nullptr;
    }
    return panel;
}

std::optional<BusFailure> PanelClient::call(const QString& method, const QVariantList& arguments,
                                            QVariant* result, const char* interface) {
    QDBusMessage message = QDBusMessage::createMethodCall(target_.busName(), target_.objectPath(),
                                                          QString::fromLatin1(interface), method);
    message.setArguments(arguments);
    const QDBusMessage reply = bus_.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return BusFailure{reply.errorName(), reply.errorMessage()};
    if (reply.type() != QDBusMessage::ReplyMessage)
        return BusFailure{QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
                          QStringLiteral("no reply")};
    if (result && !reply.arguments().isEmpty()) *result = unwrap(reply.arguments().first());
    return std::nullopt;
}

std::optional<QVariantMap> PanelClient::properties(BusFailure* failure) {
    QVariant all;
    if (auto failed = call(QStringLiteral("GetAll"), {QString::fromLatin1(bus::kInterface)}, &all,
                           "org.freedesktop.DBus.Properties")) {
        *failure = *failed;
        return std::nullopt;
    }
    QVariantMap map;
    if (all.metaType() == QMetaType::fromType<QDBusArgument>())
        all.value<QDBusArgument>() >> map;
    else
        map = all.toMap();
    for (auto it = map.begin(); it != map.end(); ++it) *it = unwrap(*it);
    return map;
}

QList<PanelRoute> PanelClient::routesOf(const QVariant& value) {
    QList<PanelRoute> routes;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        uint source = 0, destination = 0;
        double level = 0;
        argument.beginStructure();
        argument >> source >> destination >> level;
        argument.endStructure();
        routes.append({static_cast<int>(source), static_cast<int>(destination), level});
    }
    argument.endArray();
    return routes;
}

}  // namespace h8::cli
