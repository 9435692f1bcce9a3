#include "core/audio_helper.h"

#include <QDateTime>
#include <cmath>

#include "core/notification_names.h"
#include "core/share_helper.h"
#include "core/vendor_requests.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"

namespace h8 {
namespace {

constexpr int kRows = 16;
constexpr int kMixerSources = 12;
constexpr uint8_t kCrosspointOn = 0x80;
constexpr uint8_t kCrosspointOff = 0xFF;
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

namespace {
QString plainLevelKey(int row, int col) {
    return QStringLiteral("volume") + QString::number(row) + QString::number(col);
}
}  // namespace

QString crosspointLevelKey(int row, int col) {
    if (row == 11 && (col == 1 || col == 2))
        return QStringLiteral("volume11_") + QString::number(col);
    return plainLevelKey(row, col);
}

float storedCrosspointLevel(int row, int col) {
    QString key = crosspointLevelKey(row, col);
    UserDefaults& defaults = UserDefaults::standard();
    // Until its own key is written, a level stored under the shared key (by an earlier
    // version) still counts: nothing that was stored is lost.
    if (!defaults.objectForKey(key).isValid()) key = plainLevelKey(row, col);
    if (!defaults.objectForKey(key).isValid()) return 100.0f;
    const float level = defaults.floatForKey(key);
    // Not a number (a hand-edited preference): silent, as any level out of range.
    return std::isfinite(level) ? level : 0.0f;
}

uint8_t crosspointLevelByte(float percent) {
    if (!std::isfinite(percent) || percent < 0.0f || percent >= 101.0f) return kCrosspointOff;
    return HexPercentageConverter::percentToLevel(static_cast<int>(percent));
}

uint16_t sourceCodeForRow(int row) {
    return mixerSourceForPosition(row);
}

std::vector<Output> columnsFromStoredMap(const QVariantList& map) {
    std::vector<Output> columns;
    columns.reserve(map.size());
    for (const QVariant& entry : map) {
        Output column;
        if (entry.typeId() == QMetaType::QVariantList) {
            const QVariantList rows = entry.toList();
            bool allBooleans = true;
            for (const QVariant& v : rows)
                allBooleans = allBooleans && v.typeId() == QMetaType::Bool;
            if (allBooleans) {
                for (qsizetype r = 0; r < rows.size() && r < kRows; ++r) {
                    column.enableArray[r] = rows[r].toBool();
                    column.isStart = column.isStart || rows[r].toBool();
                }
            }
        }
        columns.push_back(column);
    }
    return columns;
}

QVariantList storedMapFromColumns(const std::vector<std::shared_ptr<Output>>& columns) {
    QVariantList map;
    for (const auto& column : columns) {
        QVariantList rows;
        for (bool b : column->enableArray) rows.append(b);
        map.append(QVariant(rows));
    }
    return map;
}

QVariantList mergedStoredMap(const std::vector<std::shared_ptr<Output>>& columns,
                             const QVariantList& stored) {
    QVariantList map = storedMapFromColumns(columns);
    for (qsizetype i = map.size(); i < stored.size(); ++i) map.append(stored[i]);
    return map;
}

bool commitCrosspoint(std::vector<std::shared_ptr<Output>>& columns, int row, int col, bool on) {
    const bool sent = NorvaltUSBAudioSetMixer(sourceCodeForRow(row), static_cast<uint16_t>(col),
                                              on ? kCrosspointOn : kCrosspointOff);
    if (col < 0 || static_cast<size_t>(col) >= columns.size() || row < 0 || row >= kRows)
        return sent;
    Output& column = *columns[col];
    if (column.isStart) {
        column.enableArray[row] = on;
    } else if (on) {
        column.isStart = true;
        column.enableArray[row] = true;
    }
    return sent;
}

NorvAudioHelper::NorvAudioHelper(AudioDevicePtr hardwareDevice)
    : hardwareDevice_(std::move(hardwareDevice)) {
    NorvShareHelper& store = NorvShareHelper::shared();
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
        if (!engine->start()) captureFailed = true;
    }
    // Meters then stay at zero; routing works all the same.
    if (captureFailed)
        diag("Input levels are not available: the audio capture of the interface did not start");
    publishUnits();
}

void NorvAudioHelper::publishUnits() {
    NorvShareHelper& store = NorvShareHelper::shared();
    store.inputUnits = inputUnits_;
    store.outputUnits = outputUnits_;
}

void NorvAudioHelper::buildUnit(bool restoreSaved) {
    NorvShareHelper& store = NorvShareHelper::shared();
    const std::vector<Output> saved = columnsFromStoredMap(store.channelMapArray());

    const std::vector<std::shared_ptr<Output>> previous = std::move(outputUnits_);
    outputUnits_.clear();
    // The columns are the mixer's destinations: their number never follows the audio device,
    // whose input count changes with its profile (and is 0 without a sound server).
    for (int i = 0; i < kColumns; ++i) outputUnits_.push_back(std::make_shared<Output>());
    rebuildEngines();
    store.logInfo(QStringLiteral("初始化unit正常"));

    for (uint32_t i = 0; i < static_cast<uint32_t>(kColumns); ++i) {
        Output& column = *outputUnits_[i];
        // Routes of the previous build are kept and re-sent with their stored levels.
        if (i < previous.size() && previous[i]->isStart) {
            column.isStart = true;
            column.enableArray = previous[i]->enableArray;
            // Only the mixer's 12 sources: rows beyond them (a hand-edited or imported map)
            // would alias the hardware inputs' source codes.
            for (int j = 0; j < kMixerSources && j < static_cast<int>(column.enableArray.size());
                 ++j) {
                if (!column.enableArray[j]) continue;
                const float level = storedCrosspointLevel(j + 1, static_cast<int>(i) + 1);
                NorvaltUSBAudioSetMixer(sourceCodeForRow(j), static_cast<uint16_t>(i),
                                        crosspointLevelByte(level));
            }
        }
        if (restoreSaved && i < saved.size() && saved[i].isStart) {
            column.isStart = true;
            column.enableArray = saved[i].enableArray;
        }
    }

    publishUnits();
    store.isInit = true;
    diagTrace("444444");
    store.logInfo(QStringLiteral("初始化完毕"));
}

void NorvAudioHelper::setStartAndStop(int row, int col, bool on) {
    diagTracef("setStartAndStop  row ==%d col ===%d state ===%d", row, col, on ? 1 : 0);
    commitCrosspoint(outputUnits_, row, col, on);
    NorvShareHelper& store = NorvShareHelper::shared();
    store.setChannelMapArray(mergedStoredMap(outputUnits_, store.channelMapArray()));
}

void NorvAudioHelper::restoreColumnsFromStoredMap() {
    const std::vector<Output> stored =
        columnsFromStoredMap(NorvShareHelper::shared().channelMapArray());
    for (size_t i = 0; i < outputUnits_.size(); ++i) {
        Output& column = *outputUnits_[i];
        const Output fresh;
        const Output& from = i < stored.size() ? stored[i] : fresh;
        column.enableArray = from.enableArray;
        column.isStart = column.isStart || from.isStart;
    }
}

void NorvAudioHelper::switchOffCrosspointsThatAreOff() {
    for (int col = 0; col < kColumns; ++col) {
        const Output& column = *outputUnits_[col];
        for (int row = 0; row < kMixerSources; ++row) {
            if (!column.enableArray[row])
                NorvaltUSBAudioSetMixer(sourceCodeForRow(row), static_cast<uint16_t>(col),
                                        kCrosspointOff);
        }
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
