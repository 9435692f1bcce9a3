// The login manager's view of this process: when the machine is about to sleep and when it has
// woken up again, and whether the session the panel runs in is the active one on its seat (a
// switch to another user makes it inactive, a switch back active again).
//
// LoginSession is what the panel listens to; LogindSession is systemd-logind on the system bus:
// the Manager's PrepareForSleep(bool) signal and the Active property of the panel's own session
// object, followed through PropertiesChanged. Main thread only.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QDBusPendingCallWatcher;

namespace h8 {

class LoginSession : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Whether the panel's session is the active one (true while that is not known).
    virtual bool isActive() const = 0;

signals:
    // true: the machine is about to sleep; false: it has woken up.
    void prepareForSleep(bool start);
    // The session became active (true) or inactive (false); emitted on changes only.
    void activeChanged(bool active);
};

class LogindSession : public LoginSession {
    Q_OBJECT
public:
    // Listens on `bus` (the system bus). The session is looked up in the background: by this
    // process's id, then by XDG_SESSION_ID, then as logind's "auto" session; until it is found
    // (or when there is no logind) the session counts as active.
    explicit LogindSession(QDBusConnection bus, QObject* parent = nullptr);

    bool isActive() const override { return active_; }
    // The object path of the session followed; empty until it is found.
    QString sessionPath() const { return sessionPath_; }

private slots:
    void onPrepareForSleep(bool start);
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);

private:
    enum class Lookup { byPid, byEnvironment, automatic };
    void lookUp(Lookup step);
    void lookUpFailed(Lookup step, const QString& why);
    void follow(const QString& path);
    void readActive();
    void setActive(bool active);

    QDBusConnection bus_;
    QString sessionPath_;
    bool active_ = true;
};

}  // namespace h8
