#include "platform/notification_center.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <mutex>
#include <vector>

namespace h8 {

namespace {

struct Registration {
    QPointer<QObject> observer;
    const QObject* key;  // identity only; never dereferenced
    QString name;
    NotificationCenter::Handler handler;
    bool removed = false;  // guarded by State::mutex
};

}  // namespace

// Shared with queued deliveries and destroyed() connections through weak pointers, so that
// neither touches a center that has gone away.
struct NotificationCenter::State : std::enable_shared_from_this<State> {
    std::mutex mutex;
    std::vector<std::shared_ptr<Registration>> registrations;
    QHash<const QObject*, QMetaObject::Connection> destroyedConnections;

    // Marks the matching registrations removed (so an ongoing delivery skips them) and drops them.
    // An empty `name` matches every name. Caller holds the mutex.
    void removeLocked(const QObject* observer, const QString* name) {
        std::erase_if(registrations, [&](const std::shared_ptr<Registration>& r) {
            if (r->key != observer || (name && r->name != *name)) return false;
            r->removed = true;
            return true;
        });
        const bool stillObserving = std::any_of(registrations.begin(), registrations.end(),
                                                [&](const auto& r) { return r->key == observer; });
        if (!stillObserving) {
            if (auto it = destroyedConnections.find(observer); it != destroyedConnections.end()) {
                QObject::disconnect(*it);
                destroyedConnections.erase(it);
            }
        }
    }

    void deliver(const Notification& notification) {
        // Take a snapshot so that handlers may add or remove observers while we iterate.
        std::vector<std::shared_ptr<Registration>> targets;
        {
            std::lock_guard lock(mutex);
            for (const auto& r : registrations) {
                if (r->name == notification.name) targets.push_back(r);
            }
        }
        for (const auto& r : targets) {
            {
                std::lock_guard lock(mutex);
                if (r->removed || r->observer.isNull()) continue;
            }
            r->handler(notification);
        }
    }
};

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() {
    std::lock_guard lock(state_->mutex);
    for (const auto& connection : std::as_const(state_->destroyedConnections)) {
        QObject::disconnect(connection);
    }
    state_->destroyedConnections.clear();
    for (const auto& r : state_->registrations) r->removed = true;
    state_->registrations.clear();
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(QObject* observer, const QString& name, Handler handler) {
    if (!observer || !handler) return;
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->key = observer;
    registration->name = name;
    registration->handler = std::move(handler);

    std::lock_guard lock(state_->mutex);
    state_->registrations.push_back(std::move(registration));
    if (!state_->destroyedConnections.contains(observer)) {
        // Drop the registrations as soon as the observer goes away. The direct connection runs in
        // the destroying thread, inside ~QObject, where only the address is still meaningful.
        std::weak_ptr<State> weak = state_;
        const QObject* key = observer;
        state_->destroyedConnections.insert(observer,
                                            QObject::connect(
                                                observer, &QObject::destroyed, observer,
                                                [weak, key] {
                                                    if (auto state = weak.lock()) {
                                                        std::lock_guard lock(state->mutex);
                                                        state->removeLocked(key, nullptr);
                                                    }
                                                },
                                                Qt::DirectConnection));
    }
}

void NotificationCenter::removeObserver(QObject* observer) {
    std::lock_guard lock(state_->mutex);
    state_->removeLocked(observer, nullptr);
}

void NotificationCenter::removeObserver(QObject* observer, const QString& name) {
    std::lock_guard lock(state_->mutex);
    state_->removeLocked(observer, &name);
}

void NotificationCenter::post(const QString& name, const QVariant& object,
                              const QVariantMap& userInfo) {
    Notification notification{name, object, userInfo};
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        state_->deliver(notification);
        return;
    }
    std::weak_ptr<State> weak = state_;
    QMetaObject::invokeMethod(
        app,
        [weak, notification = std::move(notification)] {
            if (auto state = weak.lock()) state->deliver(notification);
        },
        Qt::QueuedConnection);
}

}  // namespace h8
