#include "core/audio_helper.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

#include "core/notification_names.h"
#include "core/share_helper.h"
#include "core/vendor_requests.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"

namespace h8 {
namespace {

// Sample-rate changes this soon after an arrival or removal of the interface are the
// device settling, not the user's choice.
constexpr double kRateChangeGuardSeconds = 3.0;

float roundedScalar(const AudioDevicePtr& device) {
    const float v = device ? device->volumeScalar().value_or(0.0f) : 0.0f;
    return std::round(v * 100.0f) / 100.0f;
}

std::string address(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

}  // namespace

NorvAudioHelper::NorvAudioHelper(AudioDevicePtr hardwareDevice, RoutingModel& routing,
                                 bool capturing)
    : hardwareDevice_(std::move(hardwareDevice)), capturing_(capturing), routing_(&routing) {
    NorvShareHelper& store = NorvShareHelper::shared();
    routing.setCommitsRoutes(true);
    connect(&routing, &RoutingModel::storedMapChanged, this, &NorvAudioHelper::followRouting);
    store.scalar = roundedScalar(hardwareDevice_);
    addListeners();
    NotificationCenter::defaultCenter().addObserver(
        this, notify::kRawDeviceRemoved, [this](const Notification&) { removeDeviceFunc(); });
    diagTrace("The  address of the class is ===: " + address(this));
    store.hardwareDevice = hardwareDevice_;
    publishSampleRate();
    buildUnit(true);
}

NorvAudioHelper::~NorvAudioHelper() {
    for (const auto& engine : inputUnits_) engine->stop();
    if (routing_) routing_->setCommitsRoutes(false);
}

void NorvAudioHelper::addListeners() {
    removeDeviceFunc();
    if (!hardwareDevice_) return;
    // Tied to this object: a listener can never call into a destroyed engine.
    sampleListener_ = hardwareDevice_->addPropertyListener(AudioDevice::Property::nominalSampleRate,
                                                           this, [this] { sampleCallBack(); });
    volumeListener_ = hardwareDevice_->addPropertyListener(AudioDevice::Property::volume, this,
                                                           [this] { volumeCallBack(); });
    streamsListener_ =
        hardwareDevice_->addPropertyListener(AudioDevice::Property::streams, this, [this] {
            // A profile switch of the interface: other inputs, same routes.
            if (NorvShareHelper::shared().isInit) rebuildEngines();
        });
}

void NorvAudioHelper::publishSampleRate() {
    if (!hardwareDevice_) return;
    const std::optional<double> rate = hardwareDevice_->nominalSampleRate();
    if (!rate) return;
    NorvShareHelper::shared().sampleRate = sampleRateText(*rate);
    NotificationCenter::defaultCenter().post(notify::kChangeSampleRate);
}

void NorvAudioHelper::setHardwareDevice(AudioDevicePtr device) {
    hardwareDevice_ = std::move(device);
    NorvShareHelper::shared().hardwareDevice = hardwareDevice_;
    addListeners();
}

void NorvAudioHelper::attachAudioDevice(AudioDevicePtr device) {
    setHardwareDevice(std::move(device));
    NorvShareHelper::shared().scalar = roundedScalar(hardwareDevice_);
    publishSampleRate();
    rebuildEngines();
}

void NorvAudioHelper::detachAudioDevice() {
    setHardwareDevice(nullptr);
    rebuildEngines();
}

void NorvAudioHelper::rebuildEngines() {
    for (const auto& engine : inputUnits_) {
        engine->setVolumeIntensity(0);
        engine->stop();
    }
    inputUnits_.clear();
    const uint32_t n = hardwareDevice_ ? hardwareDevice_->channels(Scope::input) : 0;
    for (uint32_t i = 0; i < n; ++i)
        inputUnits_.push_back(std::make_shared<Engine>(hardwareDevice_, static_cast<int>(i)));
    bool captureFailed = false;
    for (const auto& engine : inputUnits_) {
        engine->prepare();
        if (capturing_ && !engine->start()) captureFailed = true;
    }
    // Meters then stay at zero; routing works all the same.
    if (captureFailed)
        diag("Input levels are not available: the audio capture of the interface did not start");
    publishUnits();
}

void NorvAudioHelper::setCapturing(bool capturing) {
    if (capturing == capturing_) return;
    capturing_ = capturing;
    bool captureFailed = false;
    for (const auto& engine : inputUnits_) {
        if (!capturing) {
            engine->stop();
            engine->setVolumeIntensity(0);
        } else if (!engine->start()) {
            captureFailed = true;
        }
    }
    if (captureFailed)
        diag("Input levels are not available: the audio capture of the interface did not start");
}

void NorvAudioHelper::publishUnits() {
    NorvShareHelper& store = NorvShareHelper::shared();
    store.inputUnits = inputUnits_;
    store.outputUnits = outputUnits_;
}

void NorvAudioHelper::buildUnit(bool restoreSaved) {
    NorvShareHelper& store = NorvShareHelper::shared();
    const std::vector<std::shared_ptr<Output>> previous = std::move(outputUnits_);
    outputUnits_.clear();
    // The columns are the mixer's destinations: their number never follows the audio device,
    // whose input count changes with its profile (and is 0 without a sound server).
    for (size_t i = 0; i < static_cast<size_t>(kColumns); ++i) {
        outputUnits_.push_back(std::make_shared<Output>());
        if (i < previous.size()) outputUnits_[i]->isStart = previous[i]->isStart;
    }
    followRouting();
    rebuildEngines();
    store.logInfo(QStringLiteral("初始化unit正常"));
    if (!restoreSaved && routing_) routing_->sendRoutes();
    publishUnits();
    store.isInit = true;
    diagTrace("444444");
    store.logInfo(QStringLiteral("初始化完毕"));
}

void NorvAudioHelper::followRouting() {
    if (!routing_) return;
    for (int col = 1; col <= static_cast<int>(outputUnits_.size()); ++col) {
        Output& column = *outputUnits_[col - 1];
        column.enableArray = routing_->column(col);
        column.isStart = column.isStart ||
                         std::find(column.enableArray.begin(), column.enableArray.end(), true) !=
                             column.enableArray.end();
    }
}

void NorvAudioHelper::sampleCallBack() {
    diagTrace("执行了sampleCallBack");
    diagTrace("The  address of the class is ---: " + address(this));
    NorvShareHelper& store = NorvShareHelper::shared();
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    // Without a recorded arrival or removal there is nothing to guard against.
    const bool settled = !store.timestamp || now - *store.timestamp > kRateChangeGuardSeconds;
    if (!settled || !store.isInit) return;
    diagTrace("执行了changeSampleRate");
    diagTrace("The  address of the class is ++: " + address(this));
    QMetaObject::invokeMethod(
        this, [this] { changeSampleRate(); }, Qt::QueuedConnection);
}

void NorvAudioHelper::changeSampleRate() {
    publishSampleRate();
    buildUnit(false);
}

void NorvAudioHelper::volumeCallBack() {
    NorvShareHelper::shared().scalar = roundedScalar(hardwareDevice_);
}

void NorvAudioHelper::removeDeviceFunc() {
    AudioDevice::removePropertyListener(sampleListener_);
    AudioDevice::removePropertyListener(volumeListener_);
    AudioDevice::removePropertyListener(streamsListener_);
}

}  // namespace h8
