// Scripted use of the running panel, for end-to-end checks and screenshots: a file of simple
// commands, one per line, run in order once the window is up (--automation FILE).
//
//   wait MS                 let the event loop run for MS milliseconds
//   wait-bound MS           wait (at most MS) until the interface is bound (with or without its
//                           audio device), else fail
//   wait-unbound MS         wait (at most MS) until the disconnected view shows, else fail
//   wait-ticks N MS         wait (at most MS) until N more meter ticks have moved a meter
//   wait-arrivals N MS      wait (at most MS) until the interface arrived N times since the
//                           script started (the arrival at launch does not count) and is bound
//   drag ROW COL            drag the handle of source ROW (1-12) onto destination row COL (1-12)
//                           with real mouse events
//   chip-double-click ROW COL  double-click the chip of source ROW in destination row COL
//   chip-drag-out ROW COL   drag that chip out of its row and release it below the panel
//   mode rows|grid          click the upper matrix panel's button for the rows or the grid
//   grid-click ROW COL      click the grid's crosspoint of source ROW and destination COL (the
//                           grid must be showing)
//   grid-scroll ROW COL N   turn the wheel N notches over that crosspoint (N < 0: down)
//   unplug, plug            switch the "Simulation" menu's "H8 plugged in" (with --simulate)
//   wait-menu MS            wait (at most MS) until the menus are enabled (2 s after a bind)
//   wait-settled MS         wait (at most MS) until 3 s have passed since the last arrival or
//                           removal, from when a sample-rate change is the user's own
//   rate HZ                 choose HZ in the sample-rate menu and wait until the routing engine
//                           has rebuilt for it
//   print-state             print "state: bound=… audio=… disconnected=… menu=… engine=… panel=…
//                           alerts=N" (N: the alerts showing)
//   check-routing           print "routing: agrees", or "routing: disagrees" and a line for each
//                           place and crosspoint where the stored map, the grid, the chips, the
//                           engine and the emulated H8's mixer differ
//   hide                    hide the window (as a window manager may)
//   minimize                minimize the window (on Wayland Qt only learns of it when the
//                           compositor stops answering the window's frames)
//   wait-unseen MS          wait (at most MS) until nobody sees the window (its meters, capture
//                           and poll stop), else fail
//   wait-presented MS       wait (at most MS) until the display server has shown the window's
//                           last frame (on Wayland: its frame callback), else fail
//   wait-shown MS           wait (at most MS) until the window shows again, else fail
//   print TEXT              print TEXT on a line of its own
//   meters 0|1              0: stop the capture and the meter clock, after one last tick that
//                           paints the bars empty as ticks do (the window then stays put); 1: run
//   fail-writes ENOSPC|EROFS|off
//                           every file write fails with that error from now on (off: works)
//   wait-file PATH MS       wait (at most MS) until PATH exists, else fail
//   import FILE             import the preset FILE as File → Open does
//   measure-gaps MS         let the event loop run for MS milliseconds and print
//                           "gaps: longest=N ms", the longest time the main thread did not answer
//   scroll top|bottom       scroll the panel to its top or bottom (on a screen too small for
//                           the window, where it scrolls; elsewhere nothing)
//   print-fit               print "fit: scrolls=0|1 window=WxH free=WxH" (the window with its
//                           frame, and its screen's free area)
//   screenshot FILE         save the window as a PNG
//   screenshot-alert FILE   save the alert that is showing as a PNG
//   sim-set CONTROL VALUE   turn a physical control of the emulated H8 as `h8ctl sim-set` does
//                           (with --simulate; "mixer-reset on" loses its crosspoints)
//   wait-resumed N MS       wait (at most MS) until N crosspoint checks after a wake-up have
//                           finished since the start
//   print-reason            print "reason: " and the disconnected view's text
//   quit                    quit with status 0 (a failed step quits with status 3)
#pragma once

#include <QObject>
#include <QStringList>

namespace h8 {

class AppDelegate;
class LoginSessionFollower;

class Automation : public QObject {
    Q_OBJECT
public:
    Automation(AppDelegate& window, const QStringList& script);
    ~Automation() override;
    void start();
    // What wait-resumed watches (none: it fails).
    void setLoginSessionFollower(LoginSessionFollower* follower) { follower_ = follower; }

private:
    void next();
    void fail(const QString& why);
    bool drag(int row, int col);
    bool chipGesture(int row, int col, bool doubleClick);
    bool gridGesture(int row, int col, int notches);
    bool switchPlugged(bool on);
    bool chooseRate(int hz);
    bool menusEnabled() const;
    void measureGaps(int ms);

    AppDelegate& window_;
    QStringList script_;
    int line_ = 0;
    int arrivals_ = 0;
    int rateNotices_ = 0;
    LoginSessionFollower* follower_ = nullptr;
};

}  // namespace h8
