// The routing matrix as the panel edits it, without widgets: the route chips of the twelve
// destination rows with the per-source reference counts, and the crosspoint grid with its
// buttons and levels. Widgets render these models and forward the user's actions; the models
// post the panel notifications, send the level writes and call the routing engine's commit,
// in the order the device expects (level write first, then the commit).
//
// Numbering: a source is its 1-based `row` (1-4 hardware inputs M1 M2 O3 O4, 5-12 playback
// O1-O8), a destination its 1-based `col` (1-12: H1 H2 O3 O4 L1-L8). Main thread only.
#pragma once

#include <QList>
#include <QObject>
#include <QRectF>
#include <QVariant>
#include <array>
#include <optional>

#include "core/device_controls.h"

namespace h8 {

inline constexpr int kMatrixSources = 12;
inline constexpr int kMatrixDestinations = 12;

struct Crosspoint {
    int row = 0;  // source, 1-12
    int col = 0;  // destination, 1-12
    bool operator==(const Crosspoint&) const = default;
};

// The {"row", "col"} object of the panel notifications, and back (nothing for anything that is
// not a map with integer "row" and "col").
QVariant crosspointPayload(int row, int col);
std::optional<Crosspoint> crosspointFromPayload(const QVariant& payload);

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
    // Observes "gridViewBtnIsOnName" (a grid button switched on by a click adds its chip).
    RouteChips();
    ~RouteChips() override;

    // The sources shown as chips in destination `col`, in their order in the row.
    const QList<int>& chips(int col) const;
    bool hasChip(int row, int col) const;

    // Adds one to the source's count and posts "indexQuoteAdditionName"; subtracting posts
    // "indexQuoteSubtractionName" only when the count reaches exactly 0.
    void updateIndexQuote(int row, bool add);

    // A source dropped on a destination row: adds the chip (counting it), posts
    // "dropZoneAddDragName" and commits the route on. False (nothing changes) when the row
    // already shows that source.
    bool drop(int row, int col);
    // A chip double-clicked: uncounts it, posts "mouseExitedChannelLabel" and
    // "dropZoneRemoveDragName", removes it and commits the route off.
    void removeByDoubleClick(int row, int col);
    // A chip dragged out of its row: uncounts it, removes it, posts "dropZoneRemoveDragName"
    // and commits the route off.
    void removeByDragOut(int row, int col);
    // A chip removed because its grid button was switched off: uncounts and removes it (the
    // grid commits).
    bool removeForGrid(int row, int col);

    // Rebuilds the chips from the stored route map (first 12 destinations) and re-sends the
    // stored level of every route to the device.
    void recoverLastBuildUI();
    // After a preset import: every chip removed, every count zeroed without notifications,
    // then recoverLastBuildUI().
    void rebuildAfterImport();

signals:
    void chipsChanged(int col);
    // After a drop or a removal by double-click or drag-out changed a route (the edits of the
    // user; removeForGrid, the grid's half of a click, does not count).
    void routeEdited(int row, int col);

private:
    void appendChip(int row, int col);
    void commit(int row, int col, bool on);

    std::array<QList<int>, kMatrixDestinations> chips_;
};

class CrosspointGrid : public QObject {
    Q_OBJECT
public:
    // Button states from the stored route map, levels from the stored crosspoint levels (100
    // for a route without one, and for routes that are off). Observes
    // "dropZoneAddDragName", "dropZoneRemoveDragName" and "entranceFileSuccesName".
    explicit CrosspointGrid(RouteChips* chips);
    ~CrosspointGrid() override;

    bool isOn(int row, int col) const;
    float volume(int row, int col) const;

    // A click on a button (it toggles).
    void click(int row, int col);
    // The scroll wheel over a button, with the vertical delta: only while the button is on.
    void scroll(int row, int col, double deltaY);
    // Sends the button's level to the device and stores it under "volume<row><col>".
    void applyVolume(int row, int col);
    // Sets a button's level (clamped to 0..100) and applies it.
    void setVolume(int row, int col, float volume);
    // Every button on where the stored route map says so, off elsewhere, with the stored levels
    // (no request).
    void changeBtnState();

signals:
    void buttonChanged(int row, int col);
    // After click() switched a route, and after setVolume() (the scroll wheel's way in) sent a
    // level: the edits of the user.
    void routeEdited(int row, int col);
    void levelEdited(int row, int col);

private:
    void set(int row, int col, bool on);
    int index(int row, int col) const { return (col - 1) * kMatrixSources + (row - 1); }

    RouteChips* chips_;
    std::array<bool, kMatrixSources * kMatrixDestinations> on_{};
    std::array<float, kMatrixSources * kMatrixDestinations> volume_{};
};

// Brings the device and the chips in line with a preset that was just imported: pauses the
// hardware poll, sends the mute states, applies the sample rate, switches off on the device the
// routes that were on (in the routing engine, the chips or `previousMap`, the map stored before
// the import) and that the new map has not, takes the engine's columns from the new map,
// rebuilds the chips (or, with no chips, re-sends the routes' crosspoints), resumes the poll.
// Returns the mute states sent.
MuteStates entranceFileSucces(RouteChips* chips, const QVariantList& previousMap = {});

}  // namespace h8
