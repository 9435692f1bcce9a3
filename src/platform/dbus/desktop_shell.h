// What the panel asks of the desktop shell while its window is hidden: a notification bubble
// (org.freedesktop.Notifications) and whether a tray host is there to show its icon (a
// StatusNotifierItem host, registered with org.kde.StatusNotifierWatcher). Both are behind
// small interfaces, with a session-bus backend here and fakes in the tests.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;

namespace h8 {

class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;
    // Shows a notification; nothing when no notification service runs (the reason is logged).
    virtual void notify(const QString& summary, const QString& body) = 0;
};

// Notifications through org.freedesktop.Notifications on `bus`, sent without waiting for the
// reply (a busy or absent service never holds up the panel).
class BusNotifications : public DesktopNotifications {
public:
    explicit BusNotifications(QDBusConnection bus) : bus_(std::move(bus)) {}
    void notify(const QString& summary, const QString& body) override;

private:
    QDBusConnection bus_;
};

// Whether a tray host is there. `available` may change at any time: at login the panel often
// starts before the desktop's tray.
class TrayHost : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool available() const = 0;

signals:
    void availableChanged(bool available);
};

// The StatusNotifierItem host of the session bus: available while org.kde.StatusNotifierWatcher
// has an owner that says a host is registered (an owner that cannot say counts as one).
class BusTrayHost : public TrayHost {
    Q_OBJECT
public:
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";

    explicit BusTrayHost(QDBusConnection bus, QObject* parent = nullptr);
    bool available() const override { return available_; }

private slots:
    // Asks the watcher (if any) whether a host is registered; the answer arrives later.
    void check();

private:
    void setAvailable(bool available);

    QDBusConnection bus_;
    QDBusServiceWatcher* watcher_;
    bool available_ = false;
    unsigned checks_ = 0;  // answers to older questions are dropped
};

}  // namespace h8
