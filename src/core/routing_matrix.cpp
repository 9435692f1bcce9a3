#include "core/routing_matrix.h"

#include "core/notification_names.h"
#include "platform/notification_center.h"

namespace h8 {

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

RouteChips::RouteChips(const RoutingModel& model, std::vector<int>& counts,
                       NotificationCenter& center, QObject* parent)
    : QObject(parent), model_(model), counts_(counts), center_(center) {
    connect(&model_, &RoutingModel::routeChanged, this, &RouteChips::follow);
    connect(&model_, &RoutingModel::mapReplaced, this, &RouteChips::rebuildAfterImport);
}

const QList<int>& RouteChips::chips(int col) const {
    static const QList<int> none;
    return col >= 1 && col <= kMatrixDestinations ? chips_[col - 1] : none;
}

bool RouteChips::hasChip(int row, int col) const {
    return chips(col).contains(row);
}

void RouteChips::updateIndexQuote(int row, bool add) {
    if (row < 1 || static_cast<size_t>(row) > counts_.size()) return;
    if (add) {
        counts_[row - 1] += 1;
        center_.post(notify::kIndexQuoteAddition, row);
    } else {
        counts_[row - 1] -= 1;
        if (counts_[row - 1] == 0) center_.post(notify::kIndexQuoteSubtraction, row);
    }
}

void RouteChips::follow(int row, int col, bool on) {
    if (on == hasChip(row, col)) return;
    updateIndexQuote(row, on);
    if (on) {
        chips_[col - 1].append(row);
    } else {
        chips_[col - 1].removeOne(row);
    }
    emit chipsChanged(col);
}

void RouteChips::recoverLastBuildUI() {
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        for (int row = 1; row <= kMatrixSources; ++row) {
            if (model_.isOn(row, col)) follow(row, col, true);
        }
    }
}

void RouteChips::rebuildAfterImport() {
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        chips_[col - 1].clear();
        emit chipsChanged(col);
    }
    std::fill(counts_.begin(), counts_.end(), 0);
    recoverLastBuildUI();
}

}  // namespace h8
