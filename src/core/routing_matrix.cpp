#include "core/routing_matrix.h"

#include "core/audio_helper.h"
#include "core/device_controls.h"
#include "core/notification_names.h"
#include "core/share_helper.h"
#include "core/vendor_requests.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"

namespace h8 {
namespace {

bool validCrosspoint(int row, int col) {
    return row >= 1 && row <= kMatrixSources && col >= 1 && col <= kMatrixDestinations;
}

// Route flags [col][row] of the stored map, tolerant of short or malformed maps.
std::vector<Output> storedColumns() {
    return columnsFromStoredMap(NorvShareHelper::shared().channelMapArray());
}

bool storedRouteIsOn(const std::vector<Output>& columns, int row, int col) {
    return static_cast<size_t>(col - 1) < columns.size() && columns[col - 1].enableArray[row - 1];
}

void post(const char* name, const QVariant& object) {
    NotificationCenter::defaultCenter().post(name, object);
}

// Before an import is shown: the routes that are on now (in the engine's columns, in the chips
// and in `previousMap`) and that the newly stored map does not have are switched off on the
// interface.
void switchOffRoutesLeftOut(const RouteChips* chips, const QVariantList& previousMap) {
    const NorvShareHelper& store = NorvShareHelper::shared();
    const std::vector<Output> next = storedColumns();
    const std::vector<Output> previous = columnsFromStoredMap(previousMap);
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        for (int row = 1; row <= kMatrixSources; ++row) {
            if (storedRouteIsOn(next, row, col)) continue;
            bool wasOn = storedRouteIsOn(previous, row, col);
            if (store.audio && static_cast<size_t>(col) <= store.audio->outputUnits().size())
                wasOn = wasOn || store.audio->outputUnits()[col - 1]->enableArray[row - 1];
            if (chips) wasOn = wasOn || chips->hasChip(row, col);
            if (!wasOn) continue;
            NorvaltUSBAudioSetMixer(sourceCodeForRow(row - 1), static_cast<uint16_t>(col - 1),
                                    0xFF);
        }
    }
}

void sendLevel(int row, int col, float volume) {
    NorvaltUSBAudioSetMixer(sourceCodeForRow(row - 1), static_cast<uint16_t>(col - 1),
                            crosspointLevelByte(volume));
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

bool isHardwareSource(int row) {
    return row >= 1 && row <= 4;
}

int crosspointScrollStep(double d) {
    return d > 10 ? 2 : d > 0 ? 1 : d < -10 ? -2 : -1;
}

QString sourceHandleText(int row) {
    return QString::number(isHardwareSource(row) ? row : row - 4);
}

bool dropHits(const QPointF& origin, const QSizeF& floating, const QRectF& target) {
    constexpr double kMargin = 5;
    return origin.x() >= target.left() - kMargin &&
           origin.x() <= target.right() + kMargin - floating.width() &&
           origin.y() >= target.top() - kMargin &&
           origin.y() <= target.bottom() + kMargin - floating.height();
}

// ---- RouteChips ----

RouteChips::RouteChips() {
    NotificationCenter::defaultCenter().addObserver(
        this, notify::kGridViewBtnIsOn, [this](const Notification& n) {
            const auto x = crosspointFromPayload(n.object);
            if (x && validCrosspoint(x->row, x->col)) appendChip(x->row, x->col);
        });
}

RouteChips::~RouteChips() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

const QList<int>& RouteChips::chips(int col) const {
    static const QList<int> none;
    return col >= 1 && col <= kMatrixDestinations ? chips_[col - 1] : none;
}

bool RouteChips::hasChip(int row, int col) const {
    return chips(col).contains(row);
}

void RouteChips::updateIndexQuote(int row, bool add) {
    std::vector<int>& counts = NorvShareHelper::shared().indexQuoteArray;
    if (row < 1 || static_cast<size_t>(row) > counts.size()) return;
    if (add) {
        counts[row - 1] += 1;
        post(notify::kIndexQuoteAddition, row);
    } else {
        counts[row - 1] -= 1;
        if (counts[row - 1] == 0) post(notify::kIndexQuoteSubtraction, row);
    }
}

void RouteChips::appendChip(int row, int col) {
    updateIndexQuote(row, true);
    chips_[col - 1].append(row);
    emit chipsChanged(col);
}

void RouteChips::commit(int row, int col, bool on) {
    if (const auto& engine = NorvShareHelper::shared().audio)
        engine->setStartAndStop(row - 1, col - 1, on);
}

bool RouteChips::drop(int row, int col) {
    if (!validCrosspoint(row, col) || hasChip(row, col)) return false;
    appendChip(row, col);
    post(notify::kDropZoneAddDrag, crosspointPayload(row, col));
    commit(row, col, true);
    emit routeEdited(row, col);
    return true;
}

void RouteChips::removeByDoubleClick(int row, int col) {
    if (!hasChip(row, col)) return;
    updateIndexQuote(row, false);
    post(notify::kMouseExitedChannelLabel, crosspointPayload(row, col));
    post(notify::kDropZoneRemoveDrag, crosspointPayload(row, col));
    chips_[col - 1].removeOne(row);
    emit chipsChanged(col);
    commit(row, col, false);
    emit routeEdited(row, col);
}

void RouteChips::removeByDragOut(int row, int col) {
    if (!hasChip(row, col)) return;
    updateIndexQuote(row, false);
    chips_[col - 1].removeOne(row);
    post(notify::kDropZoneRemoveDrag, crosspointPayload(row, col));
    emit chipsChanged(col);
    commit(row, col, false);
    emit routeEdited(row, col);
}

bool RouteChips::removeForGrid(int row, int col) {
    if (!hasChip(row, col)) return false;
    chips_[col - 1].removeOne(row);
    emit chipsChanged(col);
    commit(row, col, false);
    updateIndexQuote(row, false);
    return true;
}

void RouteChips::recoverLastBuildUI() {
    const std::vector<Output> columns = storedColumns();
    for (size_t d = 0; d < columns.size() && d < kMatrixDestinations; ++d) {
        const int col = static_cast<int>(d) + 1;
        for (int row = 1; row <= kMatrixSources; ++row) {
            if (!columns[d].enableArray[row - 1]) continue;
            appendChip(row, col);
            sendLevel(row, col, storedCrosspointLevel(row, col));
        }
    }
}

void RouteChips::rebuildAfterImport() {
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        chips_[col - 1].clear();
        emit chipsChanged(col);
    }
    std::vector<int>& counts = NorvShareHelper::shared().indexQuoteArray;
    std::fill(counts.begin(), counts.end(), 0);
    recoverLastBuildUI();
}

// ---- CrosspointGrid ----

CrosspointGrid::CrosspointGrid(RouteChips* chips) : chips_(chips) {
    const std::vector<Output> columns = storedColumns();
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        for (int row = 1; row <= kMatrixSources; ++row) {
            on_[index(row, col)] = storedRouteIsOn(columns, row, col);
            // Show the level the device was given (a route's stored level, 100 % when none was
            // stored), so the first scroll step moves on from it instead of jumping from 100.
            volume_[index(row, col)] =
                on_[index(row, col)] ? storedCrosspointLevel(row, col) : 100.0f;
        }
    }
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(this, notify::kDropZoneAddDrag, [this](const Notification& n) {
        const auto x = crosspointFromPayload(n.object);
        if (!x || !validCrosspoint(x->row, x->col)) return;
        set(x->row, x->col, true);
        volume_[index(x->row, x->col)] = 100.0f;
        applyVolume(x->row, x->col);
    });
    center.addObserver(this, notify::kDropZoneRemoveDrag, [this](const Notification& n) {
        const auto x = crosspointFromPayload(n.object);
        if (x && validCrosspoint(x->row, x->col)) set(x->row, x->col, false);
    });
    center.addObserver(this, notify::kEntranceFileSuccess,
                       [this](const Notification&) { changeBtnState(); });
}

CrosspointGrid::~CrosspointGrid() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

bool CrosspointGrid::isOn(int row, int col) const {
    return validCrosspoint(row, col) && on_[index(row, col)];
}

float CrosspointGrid::volume(int row, int col) const {
    return validCrosspoint(row, col) ? volume_[index(row, col)] : 0.0f;
}

void CrosspointGrid::set(int row, int col, bool on) {
    on_[index(row, col)] = on;
    emit buttonChanged(row, col);
}

void CrosspointGrid::click(int row, int col) {
    if (!validCrosspoint(row, col)) return;
    const bool on = !on_[index(row, col)];
    set(row, col, on);
    if (on) {
        volume_[index(row, col)] = 100.0f;
        applyVolume(row, col);
        post(notify::kGridViewBtnIsOn, crosspointPayload(row, col));
    } else if (chips_) {
        chips_->removeForGrid(row, col);
    }
    if (const auto& engine = NorvShareHelper::shared().audio)
        engine->setStartAndStop(row - 1, col - 1, on);
    emit routeEdited(row, col);
}

void CrosspointGrid::scroll(int row, int col, double deltaY) {
    if (!isOn(row, col)) return;
    setVolume(row, col, volume_[index(row, col)] + crosspointScrollStep(deltaY));
}

void CrosspointGrid::setVolume(int row, int col, float volume) {
    if (!validCrosspoint(row, col)) return;
    volume_[index(row, col)] = std::clamp(volume, 0.0f, 100.0f);
    applyVolume(row, col);
    emit levelEdited(row, col);
}

void CrosspointGrid::applyVolume(int row, int col) {
    const float v = volume_[index(row, col)];
    sendLevel(row, col, v);
    UserDefaults::standard().setFloat(crosspointLevelKey(row, col), v);
    emit buttonChanged(row, col);
}

void CrosspointGrid::changeBtnState() {
    const std::vector<Output> columns = storedColumns();
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        for (int row = 1; row <= kMatrixSources; ++row) {
            const bool on = storedRouteIsOn(columns, row, col);
            // The levels the chips' rebuild sends: the stored ones, as at construction.
            volume_[index(row, col)] = on ? storedCrosspointLevel(row, col) : 100.0f;
            set(row, col, on);
        }
    }
}

MuteStates entranceFileSucces(RouteChips* chips, const QVariantList& previousMap) {
    NorvShareHelper& store = NorvShareHelper::shared();
    store.canReadStatue = false;
    const MuteStates mutes = pushMuteStates();
    applyStoredSampleRate();
    switchOffRoutesLeftOut(chips, previousMap);
    // The engine's columns follow the new map, so that a later edit (which stores them) or a
    // rebuild (which re-sends them) keeps the imported routes.
    if (store.audio) store.audio->restoreColumnsFromStoredMap();
    if (chips) {
        chips->rebuildAfterImport();
    } else {
        resendRouteCrosspoints();
    }
    store.canReadStatue = true;
    return mutes;
}

}  // namespace h8
