// The content of the application's window: the disconnected view until the interface is
// bound, then the main panel. It watches for the interface through the USB notifications and
// the audio device list, binds its audio device (creating the routing engine and the panel the
// first time, reusing them later), tears the audio side down on removal, and runs the
// microphone permission flow at start.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "core/audio_devices.h"
#include "core/preset_file.h"

class QLabel;
class QMessageBox;

namespace h8 {
class Clock;
class ClockTimer;
class EditHistory;
class HardwareMonitor;
class HardwarePoller;
class NorvAudioHelper;
class RoutingModel;
class UsbInterface;
struct Notification;
namespace ui {
class NorvMainContainView;
class NorvUnconnectedView;
}  // namespace ui

class ViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 945;
    static constexpr int kHeight = 750;

    // `usb` is the interface's control path (whether it is attached); `clock` times the poll,
    // the meters and the delayed steps of a bind and of the start. Both must outlive it.
    ViewController(UsbInterface& usb, Clock& clock, QWidget* parent = nullptr);
    ~ViewController() override;

    // Set by the application: called 2 s after each bind (sample-rate menu, menu enabled) and
    // on removal (menu disabled).
    std::function<void()> syncSampleRateMenu;
    std::function<void()> disableMainMenu;
    // Set by the application: called when the bound interface's audio device came or went
    // while the interface stays bound (the sample-rate menu follows it).
    std::function<void()> audioDeviceChanged;
    // Registers launch at login once microphone access is granted. Set before the controller is
    // created: with access already granted that happens during the construction.
    static void setAutoStartHandler(std::function<void()> handler);

    void addDeviceFunc(const Notification& notification);
    void removeDeviceFunc();
    void checkMicrophonePermission();
    void requestMicrophoneAccess();
    void handleMicrophoneAccessResult(bool granted);
    void showPermissionDeniedAlert();
    void showPermissionRestrictedAlert();
    void openMicrophonePrivacySettings();
    void startDeviceMonitoring();
    void handleDeviceListChanged(const Notification& notification);
    void deviceDidBecomeReady();
    void setupMainContainerView();

    // Whether the login session the panel runs in is the active one. Made inactive (a switch
    // to another user), the panel unbinds and says why, and binds nothing until it is active
    // again; letting go of the USB device, and opening it again, is the caller's part.
    void setSessionActive(bool active);
    bool isSessionActive() const { return sessionActive_; }

    // True from a bind until the next removal, with or without the audio device: without a
    // sound server (or before it lists the interface) the interface is bound on USB alone.
    bool isBound() const { return bound_; }
    // Why levels and rate are missing while bound on USB alone; empty when the audio device is
    // bound. Shown in the status bar.
    QString audioUnavailableReason() const;

    // The routing of the interface's mixer: every edit goes through it.
    RoutingModel& routing() const { return *routing_; }
    // The hardware poll (paused while no interface is bound) and what it reads.
    HardwarePoller& poller() const { return *poller_; }
    HardwareMonitor& hardware() const { return *monitor_; }

    // Whether anybody sees the panel (the window shown and exposed). While nobody does, there
    // is no meter clock, no capture and no poll: nothing wakes the program but the interface,
    // the sound server and the session bus. Shown again, the poll reads at once and the
    // meters run (reading silence until the capture delivers).
    void setExposed(bool exposed);
    bool isExposed() const { return exposed_; }
    // A reader of the levels while nobody sees the panel (the session bus): the capture runs
    // until such reads have stopped for kLevelReadersLingerMs.
    static constexpr int kLevelReadersLingerMs = 5000;
    void levelsWanted();
    // A reader of the hardware state while nobody sees the panel: one read now, at most one
    // per kOnDemandReadMs (a GetAll asks for every property at once).
    static constexpr int kOnDemandReadMs = 500;
    void hardwareStateWanted();

    // Imports the preset `path` as File → Open does: applied to the interface, the routing and
    // the panel; a preset of another model (or a file that is not a preset) shows the mismatch
    // alert on the window and changes nothing. Returns the alert when one was shown (it closes
    // itself when dismissed).
    QMessageBox* importPreset(const QString& path);
    // The same without the alert, for callers that report the mismatch themselves.
    NorvExportFileHelper::ImportResult applyPreset(const QString& path);

    // The undo history of the routing matrix (null until the panel is built at the first bind).
    // Undo and redo need an interface to send to: while none is bound there is nothing to undo.
    EditHistory* editHistory() const { return editHistory_; }
    bool canUndo() const;
    bool canRedo() const;
    void undo();
    void redo();

    std::shared_ptr<NorvAudioHelper> audio;
    AudioDevicePtr hardwareDevice;
    std::unique_ptr<SimplyCoreAudio> simply;
    ui::NorvMainContainView* norvMainContaiView = nullptr;
    AudioDeviceList alldevice;
    ui::NorvUnconnectedView* uncontectView;

signals:
    // canUndo() or canRedo() may have changed (an edit, an undo, a bind or a removal).
    void undoStateChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Runs `step` of the permission flow shortly after the start (the window shows first).
    void schedulePermissionStep(void (ViewController::*step)());
    // The bound interface's audio device appeared (a sound server started) or went (it
    // stopped or restarted) while the interface stays bound.
    void attachAudioDevice(const AudioDevicePtr& device);
    void audioDeviceGone();
    // The USB session found (or stopped finding) an H8 this user may not open.
    void usbAccessChanged();
    void showNoAccess();
    // Shows or hides the line that says the preferences cannot be saved, and why.
    void showSaveState();
    void showAudioStatus();
    // The disconnected view's text for an interface that is not bound.
    void showUnboundReason();

    // Applies exposed_ to what the panel runs: the meter clock, the capture, the poll.
    void applyExposure();

    UsbInterface& usb_;
    Clock& clock_;
    bool exposed_ = true;
    std::optional<std::chrono::nanoseconds> lastOnDemandRead_;
    std::unique_ptr<RoutingModel> routing_;
    std::unique_ptr<HardwareMonitor> monitor_;
    std::unique_ptr<HardwarePoller> poller_;
    bool bound_ = false;
    bool sessionActive_ = true;
    EditHistory* editHistory_ = nullptr;
    std::unique_ptr<ClockTimer> menuSync_;  // 2 s after a bind; a removal before then cancels it
    std::unique_ptr<ClockTimer> permissionStep_;
    std::unique_ptr<ClockTimer> levelReaders_;  // single shot: the last level reader has gone  //
                                                // the permission flow's step, 0.3 s after start
    bool boundBeforeUsb_ = false;
    QLabel* saveWarning_ = nullptr;  // the last bind came from the audio side with USB not yet open
};

}  // namespace h8
