#include "panel_service.h"

#include <QDBusMetaType>
#include <QFileInfo>
#include <cmath>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/hardware_monitor.h"
#include "core/notification_names.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "edit_history.h"
#include "emulated/physical_controls.h"
#include "platform/dbus/application_adaptor.h"
#include "platform/dbus/bus_names.h"
#include "platform/notification_center.h"
#include "view_controller.h"

namespace h8 {

QDBusArgument& operator<<(QDBusArgument& argument, const BusRoute& route) {
    argument.beginStructure();
    argument << route.source << route.destination << route.level;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, BusRoute& route) {
    argument.beginStructure();
    argument >> route.source >> route.destination >> route.level;
    argument.endStructure();
    return argument;
}

namespace {

const QList<uint> kSampleRates = {44100, 48000, 88200, 96000};

// The properties of org.h8controller.H8Controller1 and where each is read; a property with no
// panel (or no H8 bound, for what the H8 reports) has the value of an empty panel.
struct Property {
    const char* name;
    QVariant (*read)(const ViewController* c);
};

const HardwareState& hardwareOf(const ViewController* c) {
    static const HardwareState none;
    return c ? c->hardware().state() : none;
}

bool bound(const ViewController* c) {
    return c && c->isBound();
}

const Property kProperties[] = {
    {"Bound", [](const ViewController* c) { return QVariant(bound(c)); }},
    {"Name",
     [](const ViewController* c) {
         return QVariant(bound(c) ? NorvShareHelper::shared().deviceName : QString());
     }},
    {"Serial",
     [](const ViewController* c) {
         return QVariant(bound(c) ? NorvShareHelper::shared().deviceSn : QString());
     }},
    {"Firmware",
     [](const ViewController* c) {
         return QVariant(bound(c) ? NorvShareHelper::shared().deviceVersion : QString());
     }},
    {"FirmwareCode",
     [](const ViewController* c) {
         return QVariant::fromValue<qlonglong>(bound(c) ? NorvShareHelper::shared().firmware : 0);
     }},
    {"SampleRate",
     [](const ViewController* c) {
         if (!bound(c)) return QVariant::fromValue<uint>(0);
         const AudioDevicePtr& device = NorvShareHelper::shared().hardwareDevice;
         const std::optional<double> rate = device ? device->nominalSampleRate() : std::nullopt;
         return QVariant::fromValue<uint>(rate ? static_cast<uint>(*rate) : 0);
     }},
    {"SampleRates", [](const ViewController*) { return QVariant::fromValue(kSampleRates); }},
    {"Routes",
     [](const ViewController* c) {
         BusRouteList routes;
         if (c) {
             const RoutingModel& routing = c->routing();
             for (int col = 1; col <= kMatrixDestinations; ++col) {
                 for (int row = 1; row <= kMatrixSources; ++row) {
                     if (routing.isOn(row, col))
                         routes.append({static_cast<uint>(row), static_cast<uint>(col),
                                        static_cast<double>(routing.level(row, col))});
                 }
             }
         }
         return QVariant::fromValue(routes);
     }},
    {"Input1Muted",
     [](const ViewController* c) { return QVariant(hardwareOf(c).inputMute1 == 1); }},
    {"Input2Muted",
     [](const ViewController* c) { return QVariant(hardwareOf(c).inputMute2 == 1); }},
    {"HeadphonesMuted",
     [](const ViewController* c) { return QVariant(hardwareOf(c).headphoneMute == 1); }},
    {"OtgVolume",
     [](const ViewController* c) {
         return QVariant::fromValue<uint>(static_cast<uint>(std::lround(hardwareOf(c).otgVolume)));
     }},
    {"Input1Gain", [](const ViewController* c) { return QVariant(hardwareOf(c).input1Gain); }},
    {"Input2Gain", [](const ViewController* c) { return QVariant(hardwareOf(c).input2Gain); }},
    {"Phantom1", [](const ViewController* c) { return QVariant(hardwareOf(c).phantom1 == 1); }},
    {"Phantom2", [](const ViewController* c) { return QVariant(hardwareOf(c).phantom2 == 1); }},
    {"Instrument1",
     [](const ViewController* c) { return QVariant(hardwareOf(c).instrument1 == 1); }},
    {"Instrument2",
     [](const ViewController* c) { return QVariant(hardwareOf(c).instrument2 == 1); }},
    {"InputType1",
     [](const ViewController* c) {
         return QVariant::fromValue<uint>(static_cast<uint>(hardwareOf(c).inputType1));
     }},
    {"InputType2",
     [](const ViewController* c) {
         return QVariant::fromValue<uint>(static_cast<uint>(hardwareOf(c).inputType2));
     }},
    {"HeadphoneLevel",
     [](const ViewController* c) { return QVariant(hardwareOf(c).headphoneLevel); }},
    {"OtgConnected",
     [](const ViewController* c) { return QVariant(hardwareOf(c).otgConnected.value_or(false)); }},
    {"CanUndo", [](const ViewController* c) { return QVariant(c && c->canUndo()); }},
    {"CanRedo", [](const ViewController* c) { return QVariant(c && c->canRedo()); }},
};

BusError invalid(const QString& message) {
    return {bus::kErrorInvalidArgument, message};
}

BusError ioError() {
    return {bus::kErrorIo, QStringLiteral("The H8 did not answer a request")};
}

BusResult checkCrosspoint(uint source, uint destination) {
    if (source < 1 || source > kMatrixSources)
        return invalid(QStringLiteral("Source %1 is outside 1-12").arg(source));
    if (destination < 1 || destination > kMatrixDestinations)
        return invalid(QStringLiteral("Destination %1 is outside 1-12").arg(destination));
    return std::nullopt;
}

}  // namespace

// ---- the service ----

PanelService::PanelService(QDBusConnection bus, Target target, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), target_(std::move(target)) {
    qDBusRegisterMetaType<BusRoute>();
    qDBusRegisterMetaType<BusRouteList>();
    new H8ControllerAdaptor(this);
    new ApplicationAdaptor(this, [this](const QString& token) { showWindow(token); });
    if (target_.isEmulated()) new EmulatedH8Adaptor(this);
}

PanelService::~PanelService() {
    NotificationCenter::defaultCenter().removeObserver(this);
    if (bus_.isConnected()) bus_.unregisterObject(target_.objectPath());
}

bool PanelService::registerObject(QString* error) {
    if (!bus_.registerObject(target_.objectPath(), this, QDBusConnection::ExportAdaptors)) {
        *error = bus_.lastError().message();
        if (error->isEmpty()) *error = QStringLiteral("the path is taken");
        return false;
    }
    return true;
}

void PanelService::attach(AppDelegate* window, emulated::EmulatedH8* model) {
    window_ = window;
    model_ = model;
    ViewController* c = controller();
    if (!c) return;
    // Whatever changes the state the properties show: an edit (from the window, the bus or the
    // undo history), a read of the interface, a bind or a removal, the sample rate, a preset.
    RoutingModel& routing = c->routing();
    connect(&routing, &RoutingModel::routeChanged, this, &PanelService::scheduleAnnounce);
    connect(&routing, &RoutingModel::levelChanged, this, &PanelService::scheduleAnnounce);
    connect(&routing, &RoutingModel::mapReplaced, this, &PanelService::scheduleAnnounce);
    connect(&routing, &RoutingModel::storedMapChanged, this, &PanelService::scheduleAnnounce);
    connect(&c->hardware(), &HardwareMonitor::stateChanged, this, &PanelService::scheduleAnnounce);
    connect(c, &ViewController::undoStateChanged, this, &PanelService::scheduleAnnounce);
    NotificationCenter& center = NotificationCenter::defaultCenter();
    for (const char* name :
         {notify::kRawDeviceAdded, notify::kRawDeviceRemoved, notify::kChangeSampleRate,
          notify::kDeviceListChanged, notify::kInitFinish, notify::kEntranceFileSuccess}) {
        center.addObserver(this, name, [this](const Notification&) { scheduleAnnounce(); });
    }
    announced_ = properties();
}

ViewController* PanelService::controller() const {
    return window_ ? window_->controller : nullptr;
}

QVariant PanelService::value(const char* name) const {
    for (const Property& p : kProperties) {
        if (qstrcmp(p.name, name) == 0) return p.read(controller());
    }
    return {};
}

QVariant PanelService::valueForClient(const char* name) {
    if (ViewController* c = controller()) c->hardwareStateWanted();
    return value(name);
}

QVariantMap PanelService::properties() const {
    QVariantMap all;
    for (const Property& p : kProperties) all.insert(QLatin1String(p.name), p.read(controller()));
    return all;
}

void PanelService::scheduleAnnounce() {
    if (announceQueued_) return;
    announceQueued_ = true;
    QMetaObject::invokeMethod(this, &PanelService::announce, Qt::QueuedConnection);
}

void PanelService::announce() {
    announceQueued_ = false;
    if (!window_) return;
    const QVariantMap now = properties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (announced_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    }
    announced_ = now;
    if (!changed.isEmpty()) emit propertiesChanged(changed);
    if (bus_.isConnected())
        emitPropertiesChanged(bus_, target_.objectPath(), QString::fromLatin1(bus::kInterface),
                              changed);
}

BusResult PanelService::needBound() const {
    if (bound(controller())) return std::nullopt;
    return BusError{bus::kErrorNotConnected, QStringLiteral("No H8 is connected")};
}

void PanelService::finishEdit() {
    if (EditHistory* history = controller()->editHistory()) history->endStep();
    announce();
}

BusResult PanelService::setRoute(uint source, uint destination, bool on) {
    if (auto refused = checkCrosspoint(source, destination)) return refused;
    if (auto refused = needBound()) return refused;
    const bool ok = controller()->routing().setRoute(static_cast<int>(source),
                                                     static_cast<int>(destination), on);
    finishEdit();
    return ok ? BusResult() : ioError();
}

BusResult PanelService::setLevel(uint source, uint destination, double level) {
    if (auto refused = checkCrosspoint(source, destination)) return refused;
    if (!std::isfinite(level) || level < 0 || level > 100)
        return invalid(QStringLiteral("Level %1 is outside 0-100").arg(level));
    if (auto refused = needBound()) return refused;
    const bool ok = controller()->routing().setLevel(
        static_cast<int>(source), static_cast<int>(destination), static_cast<float>(level));
    finishEdit();
    return ok ? BusResult() : ioError();
}

BusResult PanelService::setMute(const QString& target, bool muted) {
    if (target != QLatin1String("input1") && target != QLatin1String("input2") &&
        target != QLatin1String("headphones"))
        return invalid(
            QStringLiteral("Mute target '%1' is not input1, input2 or headphones").arg(target));
    if (auto refused = needBound()) return refused;
    HardwareMonitor& monitor = controller()->hardware();
    const bool ok = target == QLatin1String("headphones")
                        ? monitor.setHeadphoneMute(muted)
                        : monitor.setInputMute(target == QLatin1String("input1") ? 1 : 2, muted);
    announce();
    return ok ? BusResult() : ioError();
}

BusResult PanelService::setOtgVolume(uint percent) {
    if (percent > 100)
        return invalid(QStringLiteral("OTG volume %1 is outside 0-100").arg(percent));
    if (auto refused = needBound()) return refused;
    const bool ok = controller()->hardware().setOtgVolume(static_cast<int>(percent));
    announce();
    return ok ? BusResult() : ioError();
}

BusResult PanelService::setSampleRate(uint rate) {
    if (!kSampleRates.contains(rate))
        return BusError{
            bus::kErrorUnsupportedRate,
            QStringLiteral("%1 Hz is not offered (44100, 48000, 88200 or 96000)").arg(rate)};
    if (auto refused = needBound()) return refused;
    const AudioDevicePtr device = NorvShareHelper::shared().hardwareDevice;
    if (!device)
        return BusError{bus::kErrorNoSoundServer,
                        QStringLiteral("The sound server lists no H8: the sample rate cannot "
                                       "be set")};
    window_->chooseSampleRate(static_cast<int>(rate));
    announce();
    if (device->nominalSampleRate() != static_cast<double>(rate))
        return BusError{bus::kErrorIo,
                        QStringLiteral("The sound server did not accept %1 Hz").arg(rate)};
    return std::nullopt;
}

BusResult PanelService::importPreset(const QString& path) {
    if (!QFileInfo(path).isAbsolute())
        return invalid(QStringLiteral("The preset's path '%1' is not absolute").arg(path));
    if (!QFileInfo(path).isFile()) return invalid(QStringLiteral("No preset file '%1'").arg(path));
    if (auto refused = needBound()) return refused;
    if (controller()->applyPreset(path) != NorvExportFileHelper::ImportResult::applied)
        return BusError{bus::kErrorPresetRejected, NorvExportFileHelper::mismatchMessage()};
    finishEdit();
    return std::nullopt;
}

BusResult PanelService::exportPreset(const QString& path) {
    if (!QFileInfo(path).isAbsolute())
        return invalid(QStringLiteral("The preset's path '%1' is not absolute").arg(path));
    if (auto refused = needBound()) return refused;
    QString error;
    if (!NorvExportFileHelper::shared().exportFile(path, &error))
        return BusError{bus::kErrorIo, QStringLiteral("Cannot write the preset: %1").arg(error)};
    return std::nullopt;
}

BusResult PanelService::undo() {
    if (auto refused = needBound()) return refused;
    if (!controller()->canUndo())
        return BusError{bus::kErrorNothingToUndo, QStringLiteral("Nothing to undo")};
    controller()->undo();
    announce();
    return std::nullopt;
}

BusResult PanelService::redo() {
    if (auto refused = needBound()) return refused;
    if (!controller()->canRedo())
        return BusError{bus::kErrorNothingToUndo, QStringLiteral("Nothing to redo")};
    controller()->redo();
    announce();
    return std::nullopt;
}

BusResult PanelService::refresh() {
    if (auto refused = needBound()) return refused;
    // Nothing is read while a knob turns or a preset is applied: the state is the panel's own.
    if (controller()->hardware().poll() == false) return ioError();
    announce();
    return std::nullopt;
}

BusResult PanelService::inputLevels(QList<double>* levels) {
    if (auto refused = needBound()) return refused;
    // While nobody sees the window the capture runs only for such readers.
    controller()->levelsWanted();
    const std::shared_ptr<NorvAudioHelper>& audio = controller()->audio;
    if (!audio || !audio->hardwareDevice())
        return BusError{bus::kErrorNoSoundServer,
                        QStringLiteral("The sound server lists no H8: no input levels")};
    for (const std::shared_ptr<Engine>& engine : audio->inputUnits())
        levels->append(engine->volumeIntensity());
    return std::nullopt;
}

BusResult PanelService::setEmulatedControl(const QString& control, const QString& value) {
    QString error;
    const std::optional<emulated::PhysicalControl> c =
        emulated::parsePhysicalControl(control, value, &error);
    if (!c) return invalid(error);
    if (!model_) return invalid(QStringLiteral("No emulated H8"));
    emulated::applyPhysicalControl(*model_, *c);
    return std::nullopt;
}

void PanelService::showWindow(const QString& token) {
    if (window_) window_->bringToFront(token);
}

// ---- the adaptors ----

H8ControllerAdaptor::H8ControllerAdaptor(PanelService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

void H8ControllerAdaptor::reply(const QDBusMessage& message, const BusResult& result) {
    if (!result) return;
    message.setDelayedReply(true);
    service_->connection().send(
        message.createErrorReply(QString::fromLatin1(result->name), result->message));
}

void H8ControllerAdaptor::SetRoute(uint source, uint destination, bool on,
                                   const QDBusMessage& message) {
    reply(message, service_->setRoute(source, destination, on));
}

void H8ControllerAdaptor::SetLevel(uint source, uint destination, double level,
                                   const QDBusMessage& message) {
    reply(message, service_->setLevel(source, destination, level));
}

void H8ControllerAdaptor::SetMute(const QString& target, bool muted, const QDBusMessage& message) {
    reply(message, service_->setMute(target, muted));
}

void H8ControllerAdaptor::SetOtgVolume(uint percent, const QDBusMessage& message) {
    reply(message, service_->setOtgVolume(percent));
}

void H8ControllerAdaptor::SetSampleRate(uint rate, const QDBusMessage& message) {
    reply(message, service_->setSampleRate(rate));
}

void H8ControllerAdaptor::ImportPreset(const QString& path, const QDBusMessage& message) {
    reply(message, service_->importPreset(path));
}

void H8ControllerAdaptor::ExportPreset(const QString& path, const QDBusMessage& message) {
    reply(message, service_->exportPreset(path));
}

void H8ControllerAdaptor::Undo(const QDBusMessage& message) {
    reply(message, service_->undo());
}

void H8ControllerAdaptor::Redo(const QDBusMessage& message) {
    reply(message, service_->redo());
}

void H8ControllerAdaptor::Refresh(const QDBusMessage& message) {
    reply(message, service_->refresh());
}

QList<double> H8ControllerAdaptor::GetInputLevels(const QDBusMessage& message) {
    QList<double> levels;
    reply(message, service_->inputLevels(&levels));
    return levels;
}

void H8ControllerAdaptor::ShowWindow() {
    service_->showWindow(QString());
}

EmulatedH8Adaptor::EmulatedH8Adaptor(PanelService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

void EmulatedH8Adaptor::SetControl(const QString& control, const QString& value,
                                   const QDBusMessage& message) {
    const BusResult result = service_->setEmulatedControl(control, value);
    if (!result) return;
    message.setDelayedReply(true);
    service_->connection().send(
        message.createErrorReply(QString::fromLatin1(result->name), result->message));
}

}  // namespace h8
