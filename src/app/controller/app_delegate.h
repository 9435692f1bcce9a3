// The application's main window: the view controller as its content, the File menu (open and
// save presets), the Edit menu (undo and redo of routing and level edits), the settings menu
// with the sample-rate items, and with --simulate a "Simulation" menu to unplug and re-plug the
// emulated H8 and turn its physical controls. The menus are disabled until the interface is
// bound.
#pragma once

#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <functional>
#include <memory>

class QMessageBox;
class QWindow;

namespace h8 {

class Clock;
class ScreenFit;
class UsbInterface;
class UsbTransport;
class ViewController;
namespace emulated {
class EmulatedUsbTransport;
class EmulatedAudioBackend;
}  // namespace emulated

class AppDelegate : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kSampleRates[] = {"44100Hz", "48000Hz", "88200Hz", "96000Hz"};

    // `usb` finds the interface, `usbInterface` is its control path (the installed one), `clock`
    // times the panel; `sim` and `simAudio` are the emulated H8 when running with --simulate
    // (else null).
    AppDelegate(UsbTransport& usb, UsbInterface& usbInterface, Clock& clock,
                emulated::EmulatedUsbTransport* sim, emulated::EmulatedAudioBackend* simAudio);
    ~AppDelegate() override;

    // Whether the panel starts at login, and the user's choice of it. Without one (a demo on
    // the emulated H8) the settings menu has no such item.
    struct LoginItem {
        std::function<bool()> isOn;
        std::function<void(bool)> set;
    };
    void setLoginItem(LoginItem item) { loginItem_ = std::move(item); }

    // Starts USB monitoring (an interface that is already attached is bound at once) and builds
    // the settings menu, disabled until the interface is bound.
    void applicationDidFinishLaunching();
    void clickOutline(QAction* item);
    void syncSampleRateMenu();
    // The sample-rate menu follows the bound audio device: enabled only while there is one,
    // its check on the device's current rate (also when another program changed it).
    void updateSampleRateMenu();
    void setMainMenuEnabled(bool enabled);
    // Saves the preset `path` as File → Save does; a file that cannot be written shows an alert
    // with the reason (returned; it closes itself when dismissed).
    QMessageBox* savePreset(const QString& path);
    // The sample-rate menu's item for `hz` chosen, as a click on it does; false when the menu
    // has no such item (or is not built yet).
    bool chooseSampleRate(int hz);
    // Shows the window, restored and raised, and asks for the focus; `token` is the startup
    // token of whoever asked (a second start, the desktop), which a Wayland compositor wants
    // before it moves the focus.
    void bringToFront(const QString& token);

    // Fits the window to a screen too small for it: the controller then scrolls inside.
    ScreenFit& screenFit() const { return *screenFit_; }

    // The emulated H8's transport with --simulate, else null.
    emulated::EmulatedUsbTransport* emulatedUsb() const { return sim_; }

    ViewController* controller;
    QMenu* sanpleMenu = nullptr;
    QAction* lastItem = nullptr;
    QAction* loginItemAction = nullptr;  // "登录时启动", when there is a login item
    QAction* undoAction;                 // "撤销", Ctrl+Z
    QAction* redoAction;                 // "重做", Ctrl+Shift+Z

    // Whether closing the window only hides it (asked at each close: while the panel has a
    // tray icon to bring it back). Without it, closing quits the program.
    void setCloseHides(std::function<bool()> hides) { closeHides_ = std::move(hides); }

    // Tells the controller whether anybody sees the window: shown, not minimized and, where
    // the platform says so, exposed. Also run once after the start (a start in the background
    // never shows it).
    void updateExposure();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildSimulationMenu();
    // Undo and redo are enabled with the menus, and only when there is something to undo/redo.
    void updateEditActions();

    UsbTransport& usb_;
    UsbInterface& usbInterface_;
    emulated::EmulatedUsbTransport* sim_;
    emulated::EmulatedAudioBackend* simAudio_;
    QList<QMenu*> mainMenus_;  // the menus the interface's presence switches
    QMenu* editMenu_;
    bool mainMenusEnabled_ = true;
    LoginItem loginItem_;
    std::function<bool()> closeHides_;
    QWindow* watchedWindow_ = nullptr;  // whose Expose events are followed
    bool exposedByPlatform_ = true;     // what the last Expose event said
    std::unique_ptr<ScreenFit> screenFit_;
};

}  // namespace h8
