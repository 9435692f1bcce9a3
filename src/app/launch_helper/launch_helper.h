// H8LaunchHelper's whole job: started at login, it starts h8-controller unless that already
// runs, then waits until h8-controller tells it to quit.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace h8 {

class LaunchHelper : public QObject {
    Q_OBJECT
public:
    enum class Next { Quit, Wait };

    // `folder` holds h8-controller; `bus` is the session bus (possibly not connected).
    LaunchHelper(QString folder, QDBusConnection bus);

    // Runs once at launch. Quit: the caller exits at once; Wait: run the event loop until
    // terminate() is called.
    Next launchMainApplication();

public slots:
    // Receives the quit signal; `sender` is the identifier the sender put in it.
    void terminate(const QString& sender);

private:
    void openMainApplication();

    QString folder_;
    QDBusConnection bus_;
};

}  // namespace h8
