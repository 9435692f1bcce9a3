#include "app_delegate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QMenuBar>
#include <QTimer>
#include <QWindow>

#include "core/notification_names.h"
#include "core/preset_file.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/notification_center.h"
#include "screen_fit.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/widgets/images.h"
#include "view_controller.h"

namespace h8 {
namespace {
double rateOf(const QString& title) {
    QString t = title;
    return t.remove(QStringLiteral("Hz")).toDouble();
}
}  // namespace

AppDelegate::AppDelegate(UsbTransport& usb, UsbInterface& usbInterface, Clock& clock,
                         emulated::EmulatedUsbTransport* sim,
                         emulated::EmulatedAudioBackend* simAudio)
    : controller(new ViewController(usbInterface, clock, this)),
      usb_(usb),
      usbInterface_(usbInterface),
      sim_(sim),
      simAudio_(simAudio) {
    setWindowTitle(QStringLiteral("H8 Controller"));
    setCentralWidget(controller);
    controller->syncSampleRateMenu = [this] { syncSampleRateMenu(); };
    controller->disableMainMenu = [this] { setMainMenuEnabled(false); };
    controller->audioDeviceChanged = [this] { updateSampleRateMenu(); };
    // The poster may still be updating the device; the menu reads it once that code is done.
    NotificationCenter::defaultCenter().addObserver(
        this, notify::kChangeSampleRate, [this](const Notification&) {
            QMetaObject::invokeMethod(
                this, [this] { updateSampleRateMenu(); }, Qt::QueuedConnection);
        });

    // Ctrl+O, Ctrl+S and Ctrl+Q whatever the desktop's key scheme: the standard Quit key is
    // empty in some of them.
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    file->addAction(tr("&Open…"), QKeySequence(Qt::CTRL | Qt::Key_O), this, [this] {
        ui::importPreset(QApplication::activeWindow(),
                         [this](const QString& f) { controller->importPreset(f); });
    });
    file->addAction(tr("&Save…"), QKeySequence(Qt::CTRL | Qt::Key_S), this, [this] {
        ui::exportPreset(QApplication::activeWindow(), [this](const QString& f) { savePreset(f); });
    });
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), qApp, &QApplication::quit);
    mainMenus_.append(file);

    editMenu_ = menuBar()->addMenu(tr("&Edit"));
    undoAction = editMenu_->addAction(tr("撤销"));
    undoAction->setShortcuts(QKeySequence::Undo);
    // Ctrl+Shift+Z whatever the platform's redo keys are (Ctrl+Y on some).
    QList<QKeySequence> redoKeys = QKeySequence::keyBindings(QKeySequence::Redo);
    const QKeySequence ctrlShiftZ(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
    if (!redoKeys.contains(ctrlShiftZ)) redoKeys.prepend(ctrlShiftZ);
    redoAction = editMenu_->addAction(tr("重做"));
    redoAction->setShortcuts(redoKeys);
    connect(undoAction, &QAction::triggered, controller, &ViewController::undo);
    connect(redoAction, &QAction::triggered, controller, &ViewController::redo);
    connect(controller, &ViewController::undoStateChanged, this, &AppDelegate::updateEditActions);
    updateEditActions();
    mainMenus_.append(editMenu_);
    if (sim_) buildSimulationMenu();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // On a screen too small for the window, the controller scrolls inside one that fits.
    screenFit_ = std::make_unique<ScreenFit>(*this, *controller);
    screenFit_->update();
}

// The fitting (a member) goes before the window's widgets, which it watches and may hold.
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    startUSBMonitoring(usb_, usbInterface_);
    QMenu* settings = new QMenu(tr("设置"), this);
    const QList<QAction*> bar = menuBar()->actions();
    menuBar()->insertMenu(bar.value(bar.indexOf(editMenu_->menuAction()) + 1), settings);
    sanpleMenu = settings->addMenu(tr("采样率"));
    auto* group = new QActionGroup(this);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    for (const char* title : kSampleRates) {
        QAction* item = sanpleMenu->addAction(QString::fromLatin1(title));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, item] { clickOutline(item); });
    }
    if (loginItem_.isOn && loginItem_.set) {
        loginItemAction = settings->addAction(tr("登录时启动"));
        loginItemAction->setCheckable(true);
        loginItemAction->setChecked(loginItem_.isOn());
        // The entry may change behind our back (desktop settings): read it whenever the menu
        // opens.
        connect(settings, &QMenu::aboutToShow, this,
                [this] { loginItemAction->setChecked(loginItem_.isOn()); });
        connect(loginItemAction, &QAction::triggered, this, [this](bool on) {
            loginItem_.set(on);
            loginItemAction->setChecked(loginItem_.isOn());
        });
    }
    mainMenus_.append(settings);
    // Disabled until the sample-rate sync after a bind (the "Simulation" menu stays usable, to
    // plug the emulated interface in).
    setMainMenuEnabled(false);
}

void AppDelegate::setMainMenuEnabled(bool enabled) {
    for (QMenu* menu : mainMenus_) menu->setEnabled(enabled);
    mainMenusEnabled_ = enabled;
    updateEditActions();
}

void AppDelegate::updateEditActions() {
    undoAction->setEnabled(mainMenusEnabled_ && controller->canUndo());
    redoAction->setEnabled(mainMenusEnabled_ && controller->canRedo());
}

void AppDelegate::clickOutline(QAction* item) {
    NorvShareHelper& store = NorvShareHelper::shared();
    if (!store.hardwareDevice) {
        item->setChecked(item == lastItem);
        return;
    }
    store.sampleRate = item->text();
    NotificationCenter::defaultCenter().post(notify::kChangeSampleRate);
    const double rate = rateOf(item->text());
    if (store.hardwareDevice->nominalSampleRate() == rate) {
        item->setChecked(item == lastItem);  // nothing changes: the check stays where it was
        return;
    }
    store.hardwareDevice->setNominalSampleRate(rate);
    if (lastItem && lastItem != item) lastItem->setChecked(false);
    item->setChecked(true);
    lastItem = item;
}

QMessageBox* AppDelegate::savePreset(const QString& path) {
    QString error;
    if (NorvExportFileHelper::shared().exportFile(path, &error)) return nullptr;
    return ui::showPresetSaveFailedAlert(this, error);
}

bool AppDelegate::chooseSampleRate(int hz) {
    if (!sanpleMenu) return false;
    for (QAction* item : sanpleMenu->actions()) {
        if (rateOf(item->text()) != hz) continue;
        clickOutline(item);
        return true;
    }
    return false;
}

void AppDelegate::bringToFront(const QString& token) {
    // Qt's Wayland client hands $XDG_ACTIVATION_TOKEN to the compositor with the next
    // activation request (and then clears it).
    if (!token.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void AppDelegate::closeEvent(QCloseEvent* event) {
    if (closeHides_ && closeHides_()) {
        // The panel goes on in the tray: the window comes back from its icon, the desktop's
        // launcher or a second start.
        event->ignore();
        hide();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

bool AppDelegate::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    switch (event->type()) {
        case QEvent::Show:
            if (windowHandle() && windowHandle() != watchedWindow_) {
                watchedWindow_ = windowHandle();
                watchedWindow_->installEventFilter(this);
            }
            [[fallthrough]];
        case QEvent::Hide:
        case QEvent::WindowStateChange:
            updateExposure();
            break;
        default:
            break;
    }
    return handled;
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ && event->type() == QEvent::Expose) {
        // Not exposed: covered, or unmapped, as far as the platform tells.
        exposedByPlatform_ = watchedWindow_->isExposed();
        updateExposure();
    }
    return QMainWindow::eventFilter(watched, event);
}

void AppDelegate::updateExposure() {
    const bool exposed = isVisible() && !isMinimized() && exposedByPlatform_;
    if (controller) controller->setExposed(exposed);
}

void AppDelegate::syncSampleRateMenu() {
    updateSampleRateMenu();
    setMainMenuEnabled(true);
}

void AppDelegate::updateSampleRateMenu() {
    if (!sanpleMenu) return;
    const NorvShareHelper& store = NorvShareHelper::shared();
    sanpleMenu->setEnabled(store.hardwareDevice != nullptr);
    const auto rate =
        store.hardwareDevice ? store.hardwareDevice->nominalSampleRate() : std::nullopt;
    if (!rate) return;
    for (QAction* item : sanpleMenu->actions()) {
        const bool current = rateOf(item->text()) == *rate;
        item->setChecked(current);
        if (current) lastItem = item;
    }
}

void AppDelegate::buildSimulationMenu() {
    QMenu* menu = menuBar()->addMenu(tr("Simulation"));
    QAction* plugged = menu->addAction(tr("H8 plugged in"));
    plugged->setObjectName(QStringLiteral("simPlugged"));
    plugged->setCheckable(true);
    plugged->setChecked(true);
    connect(plugged, &QAction::toggled, this, [this](bool on) {
        if (on) {
            simAudio_->setInterfaceAttached(true);
            sim_->plug();
        } else {
            sim_->unplug();
            simAudio_->setInterfaceAttached(false);
        }
    });
    QAction* server = menu->addAction(tr("Sound server running"));
    server->setCheckable(true);
    server->setChecked(simAudio_->isAvailable());
    connect(server, &QAction::toggled, this, [this](bool on) { simAudio_->setServerRunning(on); });
    menu->addSeparator();
    emulated::EmulatedH8& model = sim_->model();
    const auto toggle = [&](const QString& title, bool initial, std::function<void(bool)> apply) {
        QAction* a = menu->addAction(title);
        a->setCheckable(true);
        a->setChecked(initial);
        connect(a, &QAction::toggled, this, apply);
    };
    const emulated::H8State s = model.state();
    toggle(tr("OTG device connected"), s.otgPlugged,
           [&model](bool on) { model.setOtgPlugged(on); });
    toggle(tr("Input 1: 48 V"), s.switchBits & 0x02,
           [&model](bool on) { model.setPhantomPower(1, on); });
    toggle(tr("Input 2: 48 V"), s.switchBits & 0x01,
           [&model](bool on) { model.setPhantomPower(2, on); });
    toggle(tr("Input 1: instrument"), s.switchBits & 0x08,
           [&model](bool on) { model.setInstrumentMode(1, on); });
    toggle(tr("Input 2: instrument"), s.switchBits & 0x04,
           [&model](bool on) { model.setInstrumentMode(2, on); });
    toggle(tr("Input 1: jack plugged"), s.switchBits & 0x20,
           [&model](bool on) { model.setInputType(1, on); });
    toggle(tr("Input 2: jack plugged"), s.switchBits & 0x10,
           [&model](bool on) { model.setInputType(2, on); });
    menu->addSeparator();
    const auto knob = [&](const QString& title, std::function<uint8_t()> get,
                          std::function<void(uint8_t)> set) {
        QMenu* sub = menu->addMenu(title);
        sub->addAction(tr("Turn up"), this,
                       [get, set] { set(static_cast<uint8_t>(std::min(255, get() + 16))); });
        sub->addAction(tr("Turn down"), this,
                       [get, set] { set(static_cast<uint8_t>(std::max(0, get() - 16))); });
    };
    knob(
        tr("Input 1 gain"), [&model] { return model.state().gainCode[0]; },
        [&model](uint8_t v) { model.setGainCode(1, v); });
    knob(
        tr("Input 2 gain"), [&model] { return model.state().gainCode[1]; },
        [&model](uint8_t v) { model.setGainCode(2, v); });
    knob(
        tr("Headphone level"), [&model] { return model.state().headphoneLevelCode; },
        [&model](uint8_t v) { model.setHeadphoneLevelCode(v); });
}

}  // namespace h8
