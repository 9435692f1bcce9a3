#include "view_controller.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include "core/audio_helper.h"
#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/meter_clock.h"
#include "core/notification_names.h"
#include "core/preset_file.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "edit_history.h"
#include "microphone_access.h"
#include "platform/clock.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "ui/panels/bottom_view.h"
#include "ui/panels/unconnected_view.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/sections/main_contain_view.h"
#include "ui/widgets/lum_label.h"

namespace h8 {
namespace {

constexpr int kPermissionDelayMs = 300;
constexpr int kMenuSyncDelayMs = 2000;

double now() {
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

std::function<void()>& autoStartHandler() {
    static std::function<void()> handler;
    return handler;
}

}  // namespace

ViewController::ViewController(UsbInterface& usb, Clock& clock, QWidget* parent)
    : QWidget(parent),
      simply(std::make_unique<SimplyCoreAudio>()),
      uncontectView(new ui::NorvUnconnectedView(this)),
      usb_(usb),
      clock_(clock),
      routing_(std::make_unique<RoutingModel>(UserDefaults::standard(),
                                              NotificationCenter::defaultCenter())),
      monitor_(std::make_unique<HardwareMonitor>(usb, NorvShareHelper::shared(),
                                                 UserDefaults::standard())),
      poller_(std::make_unique<HardwarePoller>(*monitor_, NorvShareHelper::shared(), clock)),
      menuSync_(clock.createTimer()),
      permissionStep_(clock.createTimer()),
      levelReaders_(clock.createTimer()) {
    levelReaders_->setSingleShot(true);
    connect(levelReaders_.get(), &ClockTimer::timeout, this, [this] { applyExposure(); });
    menuSync_->setSingleShot(true);
    connect(menuSync_.get(), &ClockTimer::timeout, this, [this] {
        if (syncSampleRateMenu) syncSampleRateMenu();
    });
    permissionStep_->setSingleShot(true);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setFixedSize(kWidth, kHeight);
    // The USB notifications are observed before USB monitoring starts, so an interface that
    // is plugged in at start is bound at once.
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(this, notify::kRawDeviceAdded,
                       [this](const Notification& n) { addDeviceFunc(n); });
    center.addObserver(this, notify::kRawDeviceRemoved,
                       [this](const Notification&) { removeDeviceFunc(); });
    // An H8 this user may not open counts as not there; the view says why and what mends it.
    connect(&usb_, &UsbInterface::accessChanged, this, &ViewController::usbAccessChanged);
    connect(&usb_, &UsbInterface::otherUnitsChanged, this, &ViewController::showAudioStatus);
    // Preferences that cannot be written (a full disk, a read-only folder) are said on top of
    // whatever shows, until they are written again.
    saveWarning_ = new QLabel(this);
    saveWarning_->setObjectName(QStringLiteral("saveWarning"));
    saveWarning_->setWordWrap(true);
    saveWarning_->setMargin(6);
    saveWarning_->setStyleSheet(
        QStringLiteral("background: rgb(216, 30, 6); color: white; font-weight: bold;"));
    saveWarning_->hide();
    connect(UserDefaults::standard().notifier(), &UserDefaultsNotifier::saveStateChanged, this,
            &ViewController::showSaveState);
    showSaveState();
    // The status bar tells whether the sound server is missing or only the interface's audio
    // device; the server's state may change after the device list did.
    if (AudioBackend* backend = SimplyCoreAudio::backend()) {
        connect(backend, &AudioBackend::availabilityChanged, this, [this] { showAudioStatus(); });
    }
    checkMicrophonePermission();
}

ViewController::~ViewController() {
    NotificationCenter::defaultCenter().removeObserver(this);
    // The panel and the history work with the routing and the poll, which go with this object
    // (before its child widgets would).
    delete norvMainContaiView;
    delete editHistory_;
}

void ViewController::setAutoStartHandler(std::function<void()> handler) {
    autoStartHandler() = std::move(handler);
}

void ViewController::resizeEvent(QResizeEvent*) {
    uncontectView->setGeometry(rect());
    if (norvMainContaiView) norvMainContaiView->setGeometry(rect());
    showSaveState();
}

void ViewController::setExposed(bool exposed) {
    if (exposed == exposed_) return;
    exposed_ = exposed;
    diag(exposed ? "The window shows: the meters and the poll run"
                 : "Nobody sees the window: no meters, no capture, no poll");
    applyExposure();
    // What changed while nobody looked is read at once, not at the next tick.
    if (exposed && bound_) poller_->tick();
}

void ViewController::applyExposure() {
    if (audio) audio->setCapturing(exposed_ || levelReaders_->isActive());
    if (norvMainContaiView) {
        MeterClock& meters = norvMainContaiView->meters();
        if (exposed_ && !meters.isRunning()) meters.start();
        if (!exposed_ && meters.isRunning()) meters.stop();
    }
    if (exposed_) {
        poller_->resume(HardwarePoller::Pause::hidden);
        // The meters carry the poll while they run; otherwise it has its own timer.
        poller_->start();
    } else {
        poller_->pause(HardwarePoller::Pause::hidden);
        poller_->stop();
    }
}

void ViewController::levelsWanted() {
    if (exposed_) return;
    levelReaders_->start(std::chrono::milliseconds(kLevelReadersLingerMs));
    applyExposure();
}

void ViewController::hardwareStateWanted() {
    if (exposed_ || !bound_) return;
    const std::chrono::nanoseconds now = clock_.now();
    if (lastOnDemandRead_ && now - *lastOnDemandRead_ < std::chrono::milliseconds(kOnDemandReadMs))
        return;
    lastOnDemandRead_ = now;
    poller_->readNow();
}

void ViewController::showSaveState() {
    const QString problem = UserDefaults::standard().saveProblem();
    if (problem.isEmpty()) {
        saveWarning_->hide();
        return;
    }
    saveWarning_->setText(QCoreApplication::translate(
                              "Panel", "设置无法保存：%1\n更改会保留，并在可以写入后立即保存。")
                              .arg(problem));
    saveWarning_->setFixedWidth(width());
    saveWarning_->adjustSize();
    saveWarning_->move(0, 0);
    saveWarning_->show();
    saveWarning_->raise();
}

void ViewController::checkMicrophonePermission() {
    switch (microphoneAuthorizationStatus()) {
        case MicrophoneAuthorization::notDetermined:
            diag("⚠️ 麦克风权限未确定，请求权限...");
            schedulePermissionStep(&ViewController::requestMicrophoneAccess);
            break;
        case MicrophoneAuthorization::restricted:
            diag("🔒 麦克风权限受限");
            schedulePermissionStep(&ViewController::showPermissionRestrictedAlert);
            break;
        case MicrophoneAuthorization::denied:
            diag("❌ 麦克风权限被拒绝");
            schedulePermissionStep(&ViewController::showPermissionDeniedAlert);
            break;
        case MicrophoneAuthorization::authorized:
            diag("✅ 麦克风权限已授权");
            startDeviceMonitoring();
            break;
    }
}

void ViewController::schedulePermissionStep(void (ViewController::*step)()) {
    disconnect(permissionStep_.get(), nullptr, this, nullptr);
    connect(permissionStep_.get(), &ClockTimer::timeout, this, step);
    permissionStep_->start(std::chrono::milliseconds(kPermissionDelayMs));
}

void ViewController::requestMicrophoneAccess() {
    h8::requestMicrophoneAccess([this](bool granted) { handleMicrophoneAccessResult(granted); });
}

void ViewController::handleMicrophoneAccessResult(bool granted) {
    if (granted) {
        diag("✅ 用户授予了麦克风权限");
        startDeviceMonitoring();
    } else {
        diag("❌ 用户拒绝了麦克风权限");
        showPermissionDeniedAlert();
    }
}

void ViewController::showPermissionDeniedAlert() {
    auto* alert = new QMessageBox(QMessageBox::Warning, tr("需要麦克风权限"), tr("需要麦克风权限"),
                                  QMessageBox::NoButton, this);
    alert->setObjectName(QStringLiteral("permissionDeniedAlert"));
    alert->setInformativeText(tr("请在系统设置中允许此应用访问麦克风，以便使用录音功能。"));
    QPushButton* open = alert->addButton(tr("打开系统设置"), QMessageBox::AcceptRole);
    alert->addButton(tr("取消"), QMessageBox::RejectRole);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, open](QAbstractButton* clicked) {
        if (clicked == open) openMicrophonePrivacySettings();
    });
    alert->open();
}

void ViewController::showPermissionRestrictedAlert() {
    auto* alert = new QMessageBox(QMessageBox::Critical, tr("麦克风访问受限"), tr("麦克风访问受限"),
                                  QMessageBox::NoButton, this);
    alert->setObjectName(QStringLiteral("permissionRestrictedAlert"));
    alert->setInformativeText(tr("麦克风访问受到限制，可能是由于家长控制或企业策略导致。"));
    alert->addButton(tr("确定"), QMessageBox::AcceptRole);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
}

void ViewController::openMicrophonePrivacySettings() {
    // The desktop's own settings, where one is known; otherwise nothing happens.
    const QList<QStringList> candidates = {
        {"gnome-control-center", "privacy"}, {"systemsettings", "kcm_pulseaudio"}, {"pavucontrol"}};
    for (const QStringList& c : candidates) {
        if (QStandardPaths::findExecutable(c.first()).isEmpty()) continue;
        QProcess::startDetached(c.first(), c.mid(1));
        return;
    }
    diag("No settings application for the microphone was found on this desktop");
}

void ViewController::startDeviceMonitoring() {
    NotificationCenter::defaultCenter().addObserver(
        this, notify::kDeviceListChanged,
        [this](const Notification& n) { handleDeviceListChanged(n); });
    UserDefaults::standard().setBool(QStringLiteral("startup"), true);
    if (autoStartHandler()) autoStartHandler()();
}

void ViewController::handleDeviceListChanged(const Notification& n) {
    if (!n.userInfo.contains(QStringLiteral("addedDevices"))) return;
    const AudioDeviceList added =
        audioDeviceListFrom(n.userInfo.value(QStringLiteral("addedDevices")));
    const AudioDeviceList removed =
        audioDeviceListFrom(n.userInfo.value(QStringLiteral("removedDevices")));
    if (hardwareDevice) {
        for (const AudioDevicePtr& d : removed) {
            if (*d == *hardwareDevice) audioDeviceGone();
        }
    }
    // Another H8 coming or going changes nothing but the status bar's note.
    showAudioStatus();
    if (h8AudioDevices(added).isEmpty()) return;
    if (hardwareDevice) {
        diag("Another H8's audio device is listed; it is ignored while this one is in use");
        return;
    }
    // Without USB access nothing of the panel could reach the interface: it is not bound; nor
    // while another user's session is the active one.
    if (!bound_ && (usb_.isAccessDenied() || !sessionActive_)) return;
    // Only the H8 is ever bound: other USB sound cards coming and going change nothing. Bound on
    // USB, it is the audio device of the same unit; before USB is open, the first H8 listed (the
    // USB side checks it when it opens the interface).
    const AudioDevicePtr device = bound_ && usb_.isAttached()
                                      ? findH8AudioDevice(added, usb_.usbSerial(), usb_.portPath())
                                      : findH8AudioDevice(added);
    if (!device) {
        diag("Another H8's audio device is listed; it is ignored while this one is in use");
        return;
    }
    if (bound_) {
        attachAudioDevice(device);
    } else {
        hardwareDevice = device;
        deviceDidBecomeReady();
    }
}

void ViewController::attachAudioDevice(const AudioDevicePtr& device) {
    hardwareDevice = device;
    diag("The interface's audio device is listed: input levels and the sample rate are available");
    if (audio) audio->attachAudioDevice(device);
    showAudioStatus();
    if (audioDeviceChanged) audioDeviceChanged();
}

void ViewController::audioDeviceGone() {
    hardwareDevice.reset();
    // Bound through the audio side alone (no USB access): the interface is gone.
    if (!usb_.isAttached()) {
        removeDeviceFunc();
        return;
    }
    diag(
        "The interface's audio device went away: input levels and the sample rate are "
        "unavailable until the sound server lists it again");
    if (audio) audio->detachAudioDevice();
    showAudioStatus();
    if (audioDeviceChanged) audioDeviceChanged();
}

QString ViewController::audioUnavailableReason() const {
    if (hardwareDevice) return {};
    // Short enough for its share of the status bar; the tooltip says the rest.
    if (!SimplyCoreAudio::isAvailable())
        return QCoreApplication::translate("Panel", "无声音服务器：无电平");
    return QCoreApplication::translate("Panel", "未列出音频设备：无电平");
}

void ViewController::showAudioStatus() {
    if (!norvMainContaiView) return;
    const QString reason = audioUnavailableReason();
    QString details =
        reason.isEmpty()
            ? QString()
            : reason + QStringLiteral("\n") +
                  QCoreApplication::translate(
                      "Panel", "电平表和采样率不可用；混音、静音、增益和预设照常工作。");
    // A second H8 is left alone; the status bar says it is there.
    const bool another = usb_.otherUnits() > 0 || h8AudioDevices(simply->allDevices()).size() > 1;
    if (another) {
        if (!details.isEmpty()) details += QStringLiteral("\n");
        details += QCoreApplication::translate("Panel", "另一台 H8 已连接，未使用。");
    }
    norvMainContaiView->bottomVew->setAudioNote(reason, details);
    norvMainContaiView->bottomVew->setToolTip(details);
}

void ViewController::usbAccessChanged() {
    if (!sessionActive_) return;
    if (usb_.isAccessDenied()) {
        // Bound through the audio device list before the USB side found it cannot open the
        // interface: nothing the panel does would reach it.
        if (bound_ && !usb_.isAttached()) removeDeviceFunc();
        if (!bound_) showNoAccess();
    } else if (!bound_) {
        showUnboundReason();
    }
}

void ViewController::showUnboundReason() {
    uncontectView->setAdvice({});
    if (!sessionActive_) {
        uncontectView->label->setText(QCoreApplication::translate(
            "Panel", "此会话未处于活动状态，H8 已释放给当前用户。切换回此会话后将自动重新连接。"));
        return;
    }
    uncontectView->label->setText(
        QCoreApplication::translate("Panel", "当前设备未连接，请连接设备后使用！"));
    if (usb_.isAccessDenied()) showNoAccess();
}

void ViewController::setSessionActive(bool active) {
    if (active == sessionActive_) return;
    sessionActive_ = active;
    diag(active ? "The login session is active again: binding the interface as on an arrival"
                : "The login session is no longer active (another user's session may own the "
                  "H8): the interface is released");
    // Bound through the audio side alone there is no USB removal to unbind the panel.
    if (!active && bound_) removeDeviceFunc();
    if (!bound_) showUnboundReason();
}

void ViewController::showNoAccess() {
    diag("No access to the H8's USB device: showing how to grant it");
    uncontectView->label->setText(QCoreApplication::translate("Panel", "无法访问 H8 的 USB 设备"));
    // The commands as blocks to copy, the long one over two lines (a line that ends in "&&"
    // goes on in the shell).
    const auto block = [](QString command) {
        command.replace(QStringLiteral(" && sudo udevadm control"),
                        QStringLiteral(" &&\n    sudo udevadm control"));
        return QStringLiteral("<pre>%1</pre>").arg(command.toHtmlEscaped());
    };
    uncontectView->setAdvice(
        QCoreApplication::translate(
            "Panel",
            "当前用户无权打开 H8（USB 309c:0018）。请安装 udev 规则：\n%1\n或安装软件包：\n%2\n"
            "获得权限后几秒内即可连接，无需重新插拔。")
            .toHtmlEscaped()
            .replace('\n', QStringLiteral("<br>"))
            .arg(block(QLatin1String(kUdevRuleInstallCommand)),
                 block(QLatin1String(kPackageInstallCommand))));
}

void ViewController::addDeviceFunc(const Notification& n) {
    NorvShareHelper& store = NorvShareHelper::shared();
    if (!sessionActive_) return;
    poller_->resume(HardwarePoller::Pause::unbound);
    uncontectView->setAdvice({});
    uncontectView->label->setText(QCoreApplication::translate("Panel", "初始化中..."));
    store.timestamp = now();
    if (bound_) {
        // Bound through the audio device list before the USB side was open: the crosspoints
        // sent by that rebuild, and by every edit since, went nowhere. Rebuild once more now
        // that they can arrive (which sends the routes that are on), and switch off the rest.
        if (boundBeforeUsb_ && audio) {
            boundBeforeUsb_ = false;
            // The audio side bound the first H8 it saw; the USB side opened this unit. With two
            // H8s they can differ: the meters follow the unit that is bound.
            const QString serial = usb_.usbSerial();
            if (hardwareDevice && hardwareDevice->unit(serial, usb_.portPath()) == Unit::other) {
                diag("The audio device bound first is another H8; following the one opened");
                const AudioDevicePtr same =
                    findH8AudioDevice(simply->allDevices(), serial, usb_.portPath());
                if (same && same->unit(serial, usb_.portPath()) == Unit::same)
                    attachAudioDevice(same);
                else
                    audioDeviceGone();
            }
            audio->buildUnit(false);
            routing_->sendOffs();
        }
        return;
    }
    const QVariant uid = n.userInfo.value(QStringLiteral("uid"));
    if (uid.typeId() != QMetaType::QString) return;
    alldevice = simply->allDevices();
    // The H8's audio device when the sound server lists it; otherwise (no sound server, or not
    // listed yet) the interface is bound on USB alone and its audio device attached later.
    AudioDeviceList named;
    for (const AudioDevicePtr& device : alldevice) {
        if (!uid.toString().isEmpty() && device->uid() == uid.toString()) named.append(device);
    }
    hardwareDevice = findH8AudioDevice(named);
    deviceDidBecomeReady();
}

void ViewController::deviceDidBecomeReady() {
    NorvShareHelper& store = NorvShareHelper::shared();
    bound_ = true;
    boundBeforeUsb_ = !usb_.isAttached();
    if (!audio) {
        audio = std::make_shared<NorvAudioHelper>(hardwareDevice, *routing_,
                                                  exposed_ || levelReaders_->isActive());
        store.audio = audio;
        setupMainContainerView();
        // The first build leaves the interface's mixer as it is: the routes go out now.
        routing_->sendRoutes();
    } else {
        audio->setHardwareDevice(hardwareDevice);
        if (const auto rate = hardwareDevice ? hardwareDevice->nominalSampleRate() : std::nullopt) {
            store.sampleRate = sampleRateText(*rate);
            NotificationCenter::defaultCenter().post(notify::kChangeSampleRate);
        }
        audio->buildUnit(false);
    }
    // The builds above send the routes that are on; the interface may still have others on
    // (edits made while it could not be reached, a restart in between): the stored map is
    // what it must play.
    if (usb_.isAttached()) routing_->sendOffs();
    uncontectView->hide();
    if (norvMainContaiView) norvMainContaiView->show();
    showAudioStatus();
    if (!hardwareDevice)
        diag("Bound on USB alone (" + audioUnavailableReason().toStdString() +
             "): no input levels, no sample rate; the mixer works");
    NotificationCenter::defaultCenter().post(notify::kInitFinish);
    menuSync_->start(std::chrono::milliseconds(kMenuSyncDelayMs));
    emit undoStateChanged();
}

void ViewController::setupMainContainerView() {
    if (norvMainContaiView) return;
    norvMainContaiView =
        new ui::NorvMainContainView({*routing_, *poller_, clock_, NorvShareHelper::shared(),
                                     UserDefaults::standard(), NotificationCenter::defaultCenter()},
                                    this);
    norvMainContaiView->setGeometry(rect());
    norvMainContaiView->show();
    norvMainContaiView->raise();
    saveWarning_->raise();
    // Nothing is being edited at first: the name fields take focus only when clicked.
    norvMainContaiView->setFocusPolicy(Qt::ClickFocus);
    norvMainContaiView->setFocus();
    editHistory_ = new EditHistory(*routing_, &std::chrono::steady_clock::now, this);
    connect(editHistory_, &EditHistory::changed, this, &ViewController::undoStateChanged);
    // Built while nobody looks (a bind in the background): its meters do not run either.
    applyExposure();
}

QMessageBox* ViewController::importPreset(const QString& path) {
    if (applyPreset(path) == NorvExportFileHelper::ImportResult::applied) return nullptr;
    return ui::showPresetMismatchAlert(this);
}

NorvExportFileHelper::ImportResult ViewController::applyPreset(const QString& path) {
    // No readout while the preset is applied.
    poller_->pause(HardwarePoller::Pause::preset);
    const NorvExportFileHelper::ImportResult result =
        NorvExportFileHelper::shared().importFile(path, *routing_);
    poller_->resume(HardwarePoller::Pause::preset);
    if (result == NorvExportFileHelper::ImportResult::applied && norvMainContaiView)
        norvMainContaiView->showMuteStates();
    return result;
}

bool ViewController::canUndo() const {
    return bound_ && editHistory_ && editHistory_->canUndo();
}

bool ViewController::canRedo() const {
    return bound_ && editHistory_ && editHistory_->canRedo();
}

void ViewController::undo() {
    if (canUndo()) editHistory_->undo();
}

void ViewController::redo() {
    if (canRedo()) editHistory_->redo();
}

void ViewController::removeDeviceFunc() {
    NorvShareHelper& store = NorvShareHelper::shared();
    poller_->pause(HardwarePoller::Pause::unbound);
    // A bind less than 2 s ago must not enable the menus of an interface that is gone.
    menuSync_->stop();
    uncontectView->show();
    uncontectView->raise();
    saveWarning_->raise();
    if (norvMainContaiView) norvMainContaiView->hide();
    showUnboundReason();
    if (disableMainMenu) disableMainMenu();
    store.timestamp = now();
    store.isInit = false;
    // Whatever the user changed last is on disk before anything else can go wrong.
    UserDefaults::standard().flush();
    bound_ = false;
    hardwareDevice.reset();
    store.hardwareDevice.reset();
    if (store.inputUnits) {
        for (const auto& engine : *store.inputUnits) {
            engine->setVolumeIntensity(0);
            engine->stop();
        }
    }
    emit undoStateChanged();
}

}  // namespace h8
