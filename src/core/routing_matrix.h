// What the panel shows of the routing model, without widgets: the route chips of the twelve
// destination rows, in the order the user made them, with the per-source counts that light the
// source handles; and the helpers the matrix widgets share (drop test, scroll step, texts).
//
// The chips follow the model: a route switched on appends its chip, one switched off removes
// it, a preset's new map rebuilds them all. Nothing else changes them. Main thread only.
#pragma once

#include <QList>
#include <QObject>
#include <QRectF>
#include <array>
#include <vector>

#include "core/routing_model.h"

namespace h8 {

class NotificationCenter;

bool isHardwareSource(int row);

// The level change of one scroll-wheel step with vertical delta d: +2 above 10, +1 above 0,
// -2 below -10, otherwise -1 (a zero delta lowers the level).
int crosspointScrollStep(double deltaY);
// The number on a source's handle and chips: 1-4 for the inputs, 1-8 for playback.
QString sourceHandleText(int row);

// The drop test: a floating view of size `floating` whose top-left corner lies at `origin` in
// the target's coordinates hits the target when it lies inside the target's bounds enlarged by
// 5 points on every side.
bool dropHits(const QPointF& origin, const QSizeF& floating, const QRectF& targetBounds);

class RouteChips : public QObject {
    Q_OBJECT
public:
    // Follows `model`; `counts` (the store's per-source counts, 12 entries) and the count
    // notifications on `center` follow the chips. No chip until recoverLastBuildUI().
    RouteChips(const RoutingModel& model, std::vector<int>& counts, NotificationCenter& center,
               QObject* parent = nullptr);

    // The sources shown as chips in destination `col`, in their order in the row.
    const QList<int>& chips(int col) const;
    bool hasChip(int row, int col) const;

    // Shows every route of the model as a chip, counting each (the panel's first build).
    void recoverLastBuildUI();

signals:
    void chipsChanged(int col);

private:
    // Adds one to the source's count and posts "indexQuoteAdditionName"; subtracting posts
    // "indexQuoteSubtractionName" only when the count reaches exactly 0.
    void updateIndexQuote(int row, bool add);
    void follow(int row, int col, bool on);
    // After a preset import: every chip removed, every count zeroed without notifications (a
    // source that lost its chips keeps its light), then the chips of the new map.
    void rebuildAfterImport();

    const RoutingModel& model_;
    std::vector<int>& counts_;
    NotificationCenter& center_;
    std::array<QList<int>, kMatrixDestinations> chips_;
};

}  // namespace h8
