// h8ctl's way to a running panel: while the panel of the H8 that h8ctl is asked about runs on
// the session bus, every command that reads or changes the interface or the stored state goes
// through the panel's interface (docs/dbus.md), so that the panel, which owns the interface,
// the stored state and the window, stays the one place they change.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>

#include "app/common/target.h"

namespace h8::cli {

struct BusFailure {
    QString name;  // the D-Bus error name
    QString message;
};

// One route that is on, as the panel reports it.
struct PanelRoute {
    int source = 0;
    int destination = 0;
    double level = 0;
};

class PanelClient {
public:
    // The panel of `target` when one owns its name on the session bus; a demo panel only when
    // it runs on the same state file. Null without a session bus or a panel.
    static std::unique_ptr<PanelClient> find(const Target& target);

    // Calls `method` of org.h8controller.H8Controller1 (or of `interface`); its reply's first
    // value goes to `result` when given.
    std::optional<BusFailure> call(const QString& method, const QVariantList& arguments = {},
                                   QVariant* result = nullptr,
                                   const char* interface = bus::kInterface);
    // Every property of org.h8controller.H8Controller1; nothing when the panel did not answer.
    std::optional<QVariantMap> properties(BusFailure* failure);

    // The Routes property's value.
    static QList<PanelRoute> routesOf(const QVariant& value);

private:
    PanelClient(QDBusConnection bus, Target target)
        : bus_(std::move(bus)), target_(std::move(target)) {}

    QDBusConnection bus_;
    Target target_;
};

}  // namespace h8::cli
