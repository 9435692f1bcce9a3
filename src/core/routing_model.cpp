#include "core/routing_model.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

#include "core/notification_names.h"
#include "core/share_helper.h"
#include "core/vendor_requests.h"
#include "platform/atomic_file.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"

namespace h8 {
namespace {

constexpr int kRows = 16;
constexpr uint8_t kCrosspointOn = 0x80;
constexpr uint8_t kCrosspointOff = 0xFF;

QString plainLevelKey(int row, int col) {
    return QStringLiteral("volume") + QString::number(row) + QString::number(col);
}

template <typename F>
void forEachCrosspoint(F f) {
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        for (int row = 1; row <= kMatrixSources; ++row) f(row, col);
    }
}

}  // namespace

QVariant crosspointPayload(int row, int col) {
    return QVariantMap{{QStringLiteral("row"), row}, {QStringLiteral("col"), col}};
}

std::optional<Crosspoint> crosspointFromPayload(const QVariant& payload) {
    if (payload.typeId() != QMetaType::QVariantMap) return std::nullopt;
    const QVariantMap m = payload.toMap();
    const QVariant row = m.value(QStringLiteral("row")), col = m.value(QStringLiteral("col"));
    if (row.typeId() != QMetaType::Int || col.typeId() != QMetaType::Int) return std::nullopt;
    return Crosspoint{row.toInt(), col.toInt()};
}

QString crosspointLevelKey(int row, int col) {
    if (row == 11 && (col == 1 || col == 2))
        return QStringLiteral("volume11_") + QString::number(col);
    return plainLevelKey(row, col);
}

float storedCrosspointLevel(const UserDefaults& defaults, int row, int col) {
    QString key = crosspointLevelKey(row, col);
    if (!defaults.objectForKey(key).isValid()) key = plainLevelKey(row, col);
    if (!defaults.objectForKey(key).isValid()) return 100.0f;
    const float level = defaults.floatForKey(key);
    // Not a number (a hand-edited preference): silent, as any level out of range.
    return std::isfinite(level) ? level : 0.0f;
}

float storedCrosspointLevel(int row, int col) {
    return storedCrosspointLevel(UserDefaults::standard(), row, col);
}

uint8_t crosspointLevelByte(float percent) {
    if (!std::isfinite(percent) || percent < 0.0f || percent >= 101.0f) return kCrosspointOff;
    return HexPercentageConverter::percentToLevel(static_cast<int>(percent));
}

uint16_t sourceCodeForRow(int row) {
    return mixerSourceForPosition(row);
}

namespace {

// A route's entry as it is meant: a boolean, or (written by hand) the number 0 or 1.
std::optional<bool> switchOf(const QVariant& v) {
    if (v.typeId() == QMetaType::Bool) return v.toBool();
    if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int ||
        v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        if (d == 0 || d == 1) return d == 1;
    }
    return std::nullopt;
}

}  // namespace

std::vector<Output> columnsFromStoredMap(const QVariantList& map) {
    std::vector<Output> columns;
    columns.reserve(map.size());
    for (const QVariant& entry : map) {
        Output column;
        if (entry.typeId() == QMetaType::QVariantList) {
            const QVariantList rows = entry.toList();
            const bool allSwitches = std::all_of(rows.begin(), rows.end(), [](const QVariant& v) {
                return switchOf(v).has_value();
            });
            if (allSwitches) {
                for (qsizetype r = 0; r < rows.size() && r < kRows; ++r) {
                    column.enableArray[r] = *switchOf(rows[r]);
                    column.isStart = column.isStart || column.enableArray[r];
                }
            }
        }
        columns.push_back(column);
    }
    return columns;
}

std::optional<QVariantList> storedMapAsMeant(const QVariant& stored) {
    if (stored.typeId() != QMetaType::QVariantList) return std::nullopt;
    QVariantList map;
    for (const QVariant& entry : stored.toList()) {
        if (entry.typeId() != QMetaType::QVariantList) return std::nullopt;
        QVariantList rows;
        for (const QVariant& v : entry.toList()) {
            const std::optional<bool> on = switchOf(v);
            if (!on) return std::nullopt;
            rows.append(*on);
        }
        map.append(QVariant(rows));
    }
    return map;
}

RoutingModel::RoutingModel(UserDefaults& defaults, NotificationCenter& center, QObject* parent)
    : QObject(parent), defaults_(defaults), center_(center) {
    load();
}

void RoutingModel::load() {
    const QVariant stored = defaults_.objectForKey(QString::fromLatin1(kChannelMapKey));
    std::optional<QVariantList> readable = storedMapAsMeant(stored);
    if (stored.isValid() && !readable) {
        // A map this program cannot read (edited by hand, say) is kept beside the preferences
        // before the default map takes its place, and never read as "every route off": that
        // would silence the interface at its next bind.
        const QString copy = defaults_.filePath() + ".unreadable-map-" +
                             QDateTime::currentDateTime().toString("yyyyMMdd'T'HHmmss") + ".json";
        const QJsonValue value = QJsonValue::fromVariant(stored);
        const QByteArray bytes = value.isArray()
                                     ? QJsonDocument(value.toArray()).toJson()
                                     : QJsonDocument(QJsonObject{{kChannelMapKey, value}}).toJson();
        QString error;
        if (writeFileAtomically(copy, bytes, &error))
            diag("The stored route map is not a list of on/off switches; kept it in " +
                 copy.toStdString() + " and using the default map");
        else
            diag("The stored route map is not a list of on/off switches (and cannot be kept: " +
                 error.toStdString() + "); using the default map");
    }
    const QVariantList map = readable ? *readable : NorvShareHelper::defaultChannelMap();
    const std::vector<Output> columns = columnsFromStoredMap(map);
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        const Output fresh;
        const Output& c = static_cast<size_t>(col) <= columns.size() ? columns[col - 1] : fresh;
        for (int row = 1; row <= kMatrixSources; ++row)
            on_[index(row, col)] = c.enableArray[row - 1];
        for (int r = 0; r < 4; ++r) extraRows_[col - 1][r] = c.enableArray[kMatrixSources + r];
    }
    extraColumns_ = map.mid(kMatrixDestinations);
    forEachCrosspoint([this](int row, int col) {
        level_[index(row, col)] = storedCrosspointLevel(defaults_, row, col);
    });
}

bool RoutingModel::isOn(int row, int col) const {
    return valid(row, col) && on_[index(row, col)];
}

float RoutingModel::level(int row, int col) const {
    return valid(row, col) ? level_[index(row, col)] : 0.0f;
}

std::vector<bool> RoutingModel::column(int col) const {
    std::vector<bool> rows(kRows, false);
    if (col < 1 || col > kMatrixDestinations) return rows;
    for (int row = 1; row <= kMatrixSources; ++row) rows[row - 1] = on_[index(row, col)];
    for (int r = 0; r < 4; ++r) rows[kMatrixSources + r] = extraRows_[col - 1][r];
    return rows;
}

QVariantList RoutingModel::storedMap() const {
    QVariantList map;
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        QVariantList rows;
        for (bool b : column(col)) rows.append(b);
        map.append(QVariant(rows));
    }
    return map + extraColumns_;
}

void RoutingModel::post(const char* name, int row, int col) {
    center_.post(name, crosspointPayload(row, col));
}

void RoutingModel::switchRoute(int row, int col, bool on, float levelWhenOn) {
    const int i = index(row, col);
    if (on) level_[i] = levelWhenOn;
    if (on_[i] == on) return;
    on_[i] = on;
    emit routeChanged(row, col, on);
}

bool RoutingModel::writeCrosspoint(int row, int col, uint8_t gain) {
    sent_[index(row, col)] = gain;
    return NorvaltUSBAudioSetMixer(sourceCodeForRow(row - 1), static_cast<uint16_t>(col - 1), gain);
}

bool RoutingModel::sendLevel(int row, int col) {
    return writeCrosspoint(row, col, crosspointLevelByte(level_[index(row, col)]));
}

std::optional<uint8_t> RoutingModel::lastSent(int row, int col) const {
    return valid(row, col) ? sent_[index(row, col)] : std::nullopt;
}

bool RoutingModel::resend(int row, int col) {
    const std::optional<uint8_t> gain = lastSent(row, col);
    return gain && writeCrosspoint(row, col, *gain);
}

void RoutingModel::storeLevel(int row, int col) {
    defaults_.setFloat(crosspointLevelKey(row, col), level_[index(row, col)]);
}

void RoutingModel::storeMap() {
    defaults_.setObject(kChannelMapKey, storedMap());
    emit storedMapChanged();
}

bool RoutingModel::commit(int row, int col, bool on) {
    if (!commitsRoutes_) return true;
    diagTracef("setStartAndStop  row ==%d col ===%d state ===%d", row - 1, col - 1, on ? 1 : 0);
    const bool sent = writeCrosspoint(row, col, on ? kCrosspointOn : kCrosspointOff);
    // Stored on every commit, also when nothing changed.
    storeMap();
    return sent;
}

bool RoutingModel::drop(int row, int col) {
    if (!valid(row, col) || isOn(row, col)) return false;
    switchRoute(row, col, true, 100.0f);
    post(notify::kDropZoneAddDrag, row, col);
    sendLevel(row, col);
    storeLevel(row, col);
    commit(row, col, true);
    return true;
}

bool RoutingModel::removeChip(int row, int col, ChipRemoval how) {
    if (!isOn(row, col)) return false;
    switchRoute(row, col, false, 0);
    if (how == ChipRemoval::doubleClick) post(notify::kMouseExitedChannelLabel, row, col);
    post(notify::kDropZoneRemoveDrag, row, col);
    commit(row, col, false);
    return true;
}

void RoutingModel::toggle(int row, int col) {
    if (!valid(row, col)) return;
    const bool on = !isOn(row, col);
    if (on) {
        switchRoute(row, col, true, 100.0f);
        sendLevel(row, col);
        storeLevel(row, col);
        post(notify::kGridViewBtnIsOn, row, col);
    } else {
        switchRoute(row, col, false, 0);
        commit(row, col, false);
    }
    commit(row, col, on);
}

bool RoutingModel::setRoute(int row, int col, bool on) {
    if (!valid(row, col)) return false;
    bool ok = true;
    switchRoute(row, col, on, 100.0f);
    if (on) {
        ok = sendLevel(row, col);
        storeLevel(row, col);
    }
    return commit(row, col, on) && ok;
}

bool RoutingModel::setLevel(int row, int col, float level) {
    if (!valid(row, col)) return false;
    level_[index(row, col)] = std::clamp(level, 0.0f, 100.0f);
    const bool ok = !isOn(row, col) || sendLevel(row, col);
    storeLevel(row, col);
    emit levelChanged(row, col, level_[index(row, col)]);
    return ok;
}

void RoutingModel::replaceMap(const std::optional<QVariantList>& map) {
    const std::array<bool, kMatrixCrosspoints> before = on_;
    if (map) {
        defaults_.setObject(kChannelMapKey, *map);
        const std::array<float, kMatrixCrosspoints> levels = level_;
        load();
        level_ = levels;
    }
    forEachCrosspoint([&](int row, int col) {
        if (before[index(row, col)] && !on_[index(row, col)])
            writeCrosspoint(row, col, kCrosspointOff);
    });
    emit mapReplaced();
    emit storedMapChanged();
    sendRoutes();
}

void RoutingModel::sendRoutes() {
    forEachCrosspoint([this](int row, int col) {
        if (on_[index(row, col)]) sendLevel(row, col);
    });
}

void RoutingModel::sendOffs() {
    forEachCrosspoint([this](int row, int col) {
        if (!on_[index(row, col)]) writeCrosspoint(row, col, kCrosspointOff);
    });
}

RoutingModel::Snapshot RoutingModel::snapshot() const {
    Snapshot s;
    s.map = defaults_.objectForKey(kChannelMapKey);
    forEachCrosspoint([&](int row, int col) {
        const int i = index(row, col);
        s.levelValues[i] = defaults_.objectForKey(crosspointLevelKey(row, col));
        s.on[i] = on_[i];
        s.levels[i] = level_[i];
    });
    return s;
}

void RoutingModel::restore(const Snapshot& s) {
    const auto put = [this](const QString& key, const QVariant& value) {
        // An invalid value removes the key; each write may be a file write.
        if (defaults_.objectForKey(key) != value) defaults_.setObject(key, value);
    };
    put(kChannelMapKey, s.map);
    forEachCrosspoint([&](int row, int col) {
        put(crosspointLevelKey(row, col), s.levelValues[index(row, col)]);
    });
    const std::array<bool, kMatrixCrosspoints> before = on_;
    load();
    if (on_ != before) emit mapReplaced();
    emit storedMapChanged();
}

}  // namespace h8
