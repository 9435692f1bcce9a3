// Scripted use of the running panel, for end-to-end checks and screenshots: a file of simple
// commands, one per line, run in order once the window is up (--automation FILE).
//
//   wait MS                 let the event loop run for MS milliseconds
//   wait-bound MS           wait (at most MS) until the interface is bound (with or without its
//                           audio device), else fail
//   wait-unbound MS         wait (at most MS) until the disconnected view shows, else fail
//   drag ROW COL            drag the handle of source ROW (1-12) onto destination row COL (1-12)
//                           with real mouse events
//   print-state             print "state: bound=… audio=… disconnected=… menu=… engine=… panel=…"
//   screenshot FILE         save the window as a PNG
//   screenshot-alert FILE   save the alert that is showing as a PNG
//   quit                    quit with status 0 (a failed step quits with status 3)
#pragma once

#include <QObject>
#include <QStringList>

namespace h8 {

class AppDelegate;

class Automation : public QObject {
    Q_OBJECT
public:
    Automation(AppDelegate& window, const QStringList& script);
    void start();

private:
    void next();
    void fail(const QString& why);
    bool drag(int row, int col);

    AppDelegate& window_;
    QStringList script_;
    int line_ = 0;
};

}  // namespace h8
