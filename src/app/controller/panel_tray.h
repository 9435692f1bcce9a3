// The panel in the desktop's tray, and what it says while its window is hidden.
//
// PanelTray shows an icon whenever the desktop has a tray host (it may come after the panel, at
// login): its tooltip and look say whether the H8 is bound, and its menu shows the window,
// switches the headphone mute and quits. While the icon is there, closing the window only
// hides it; without one, closing quits as it always did.
//
// HiddenProblems tells the user, once, through a desktop notification, of a problem that the
// hidden window would have shown: no access to the H8's USB device, preferences that cannot be
// saved.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace h8 {

class DesktopNotifications;
class PanelService;
class TrayHost;
class UserDefaults;
class UsbInterface;

class PanelTray : public QObject {
    Q_OBJECT
public:
    // `service` gives the state and takes the edits (as the session bus does); `window` is the
    // one the icon shows; `host` says whether a tray is there.
    PanelTray(PanelService& service, QWidget& window, TrayHost& host, QObject* parent = nullptr);
    ~PanelTray() override;

    // Whether the icon is shown, so that closing the window keeps the panel running.
    bool active() const { return icon_ != nullptr; }

    // What the icon says (its tooltip), and its menu; for the tests and the screen reader.
    QString toolTip() const;
    QMenu* menu() const { return menu_.get(); }
    QAction* showAction() const { return show_; }
    QAction* headphoneMuteAction() const { return headphoneMute_; }
    QAction* quitAction() const { return quit_; }

signals:
    void activeChanged(bool active);

private:
    void hostChanged(bool available);
    // Follows the panel's state: the tooltip, the icon's look, the mute item.
    void refresh();

    PanelService& service_;
    QWidget& window_;
    std::unique_ptr<QMenu> menu_;
    QAction* show_;
    QAction* headphoneMute_;
    QAction* quit_;
    QSystemTrayIcon* icon_ = nullptr;
};

class HiddenProblems : public QObject {
    Q_OBJECT
public:
    HiddenProblems(QWidget& window, UsbInterface& usb, UserDefaults& defaults,
                   DesktopNotifications& notifications, QObject* parent = nullptr);

private:
    void checkAccess();
    void checkSaving();

    QWidget& window_;
    UsbInterface& usb_;
    UserDefaults& defaults_;
    DesktopNotifications& notifications_;
    // Each problem is told once while it lasts; told again only after it went away.
    bool toldAccess_ = false;
    bool toldSaving_ = false;
};

}  // namespace h8
