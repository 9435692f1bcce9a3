// A process-wide broadcast channel: parts of the program post named notifications and any
// number of observers receive them without knowing about each other.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace h8 {

struct Notification {
    QString name;
    QVariant object;
    QVariantMap userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The center the whole program shares.
    static NotificationCenter& defaultCenter();

    // Calls `handler` for every later post of `name` while `observer` lives. An observer that is
    // destroyed is never called again. Registering the same observer and name twice gives two
    // calls per post.
    void addObserver(QObject* observer, const QString& name, Handler handler);
    // Removes all registrations of `observer`.
    void removeObserver(QObject* observer);
    // Removes the registrations of `observer` for `name`.
    void removeObserver(QObject* observer, const QString& name);

    // Delivers synchronously, in registration order, on the main (QCoreApplication) thread. A post
    // from another thread is queued to the main thread and delivered there; without a
    // QCoreApplication it is delivered at once on the calling thread. Registrations removed by a
    // handler are not called later in the same delivery; ones added by a handler are first called
    // on the next post.
    void post(const QString& name, const QVariant& object = {}, const QVariantMap& userInfo = {});

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace h8
