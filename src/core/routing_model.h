// The routing of the interface's 12 × 12 hardware mixer: which source feeds which destination,
// at which level. One object holds it, and every change of it goes through one of its calls: a
// source dropped on a destination, a chip removed, a grid click, a level step, a command, a
// preset import, undo and redo. Each call sends the interface what that edit sends (the level
// write, then the commit), stores the route map and the levels in the user defaults and tells
// its followers through typed signals: the route chips, the grid, the routing engine's columns
// and the undo history derive their state from it.
//
// Numbering: a source is its 1-based `row` (1-4 hardware inputs M1 M2 O3 O4, 5-12 playback
// O1-O8), a destination its 1-based `col` (1-12: H1 H2 O3 O4 L1-L8). Main thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/level_engine.h"

namespace h8 {

class NotificationCenter;
class UserDefaults;

inline constexpr int kMatrixSources = 12;
inline constexpr int kMatrixDestinations = 12;
inline constexpr int kMatrixCrosspoints = kMatrixSources * kMatrixDestinations;

// The user-defaults key of a crosspoint level: "volume" + source row (1-12) + destination
// col (1-12), e.g. "volume51". Two pairs of crosspoints would share a key that way ("volume111"
// is source 1 to destination 11 and source 11 to destination 1; likewise "volume112"): the key
// keeps its meaning for source 1, and sources 11 to destinations 1 and 2 get keys of their own,
// "volume11_1" and "volume11_2".
QString crosspointLevelKey(int row, int col);

// The stored level (0..100) of a crosspoint. A level that was never stored counts as 100 %, the
// level a new route gets; an explicitly stored 0 stays silent. Until its own key is written, a
// level stored under the shared key (by an earlier version) still counts.
float storedCrosspointLevel(const UserDefaults& defaults, int row, int col);
float storedCrosspointLevel(int row, int col);  // in the standard user defaults

// The gain byte for a crosspoint level in percent: 0xFF (off) for 0, below 0, above 100 and for
// anything that is not a finite number (a hand-edited preference), else the mixer's scale.
uint8_t crosspointLevelByte(float percent);

// The device source code of a route-map row (0-based): rows 0-3 are the hardware inputs
// (codes 8-11), rows 4 and above the playback channels (codes 0-11).
uint16_t sourceCodeForRow(int row);

// Columns of a stored route map, tolerant of whatever is stored: an entry that is not a list,
// or holds anything but booleans (or the numbers 0 and 1), is an empty column; lists are cut
// or padded to 16 rows.
std::vector<Output> columnsFromStoredMap(const QVariantList& map);

// A stored route map as it is meant: a list of lists of booleans, where a hand-edited 0 or 1
// counts as off or on. Nothing when it is anything else (strings, other numbers, no lists).
std::optional<QVariantList> storedMapAsMeant(const QVariant& stored);

struct Crosspoint {
    int row = 0;  // source, 1-12
    int col = 0;  // destination, 1-12
    bool operator==(const Crosspoint&) const = default;
};

// The {"row", "col"} object of the panel notifications, and back (nothing for anything that is
// not a map with integer "row" and "col").
QVariant crosspointPayload(int row, int col);
std::optional<Crosspoint> crosspointFromPayload(const QVariant& payload);

// How a route chip was removed: by a double-click (also the keyboard's Delete and a screen
// reader's "remove" action) or by dragging it out of its row.
enum class ChipRemoval { doubleClick, dragOut };

class RoutingModel : public QObject {
    Q_OBJECT
public:
    // Reads the route map (the default one when none is stored) and the levels from `defaults`;
    // posts the panel notifications on `center`. Both must outlive the model.
    RoutingModel(UserDefaults& defaults, NotificationCenter& center, QObject* parent = nullptr);

    bool isOn(int row, int col) const;
    // The crosspoint's level, 0..100: the one stored, 100 when none is.
    float level(int row, int col) const;

    // The route map as it is stored: the 12 destinations of 16 rows each (the rows beyond the 12
    // sources, and the entries beyond the 12 destinations, as the stored map had them).
    QVariantList storedMap() const;
    // Destination `col` (1-12) as the routing engine keeps it: the route of each of 16 rows.
    std::vector<bool> column(int col) const;

    // Whether switching a route commits it: the crosspoint's on (0x80) or off (0xFF) write, the
    // line "setStartAndStop …" and the stored map. The panel's model commits once the routing
    // engine exists; before that a switch changes only what the panel shows (and a route
    // switched on still gets its level write). h8ctl's model commits from the start.
    void setCommitsRoutes(bool commits) { commitsRoutes_ = commits; }
    bool commitsRoutes() const { return commitsRoutes_; }

    // ---- the edits (false: nothing changed, nothing was sent) ----

    // A source dropped on a destination row (or chosen from its handle's menu): on at 100 %,
    // posting "dropZoneAddDragName". False when the route is on already.
    bool drop(int row, int col);
    // A chip removed: the route off, posting "mouseExitedChannelLabel" (double-click only) and
    // "dropZoneRemoveDragName". False when the route is off.
    bool removeChip(int row, int col, ChipRemoval how);
    // A click on a grid button: switches the route. On, it gets 100 % and "gridViewBtnIsOnName"
    // is posted; off, the commit goes out twice (once for the chip the click removes, once for
    // the button), as the panel has always sent it.
    void toggle(int row, int col);
    // A command: the route on (at 100 %, its level write then the commit) or off (the commit),
    // sent and stored even when the route is so already. Returns whether the interface took
    // every write.
    bool setRoute(int row, int col, bool on);
    // A crosspoint's level (kept within 0..100), stored, and sent while the route is on (sent to
    // a route that is off, it would make the crosspoint audible behind the route map's back).
    // Returns whether the interface took it (true when nothing was sent).
    bool setLevel(int row, int col, float level);

    // A preset imported: `map` (when the preset has one) becomes the stored route map as it is;
    // the routes that were on and are not any more are switched off on the interface, then
    // every route that is on gets its level. The levels stay.
    void replaceMap(const std::optional<QVariantList>& map);

    // ---- the interface brought in line (after a bind, a rate change) ----

    // Sends the level of every route that is on, destination by destination.
    void sendRoutes();
    // Switches off every crosspoint whose route is off (edits made while the interface could
    // not be reached, a restart in between: the interface must play the stored map).
    void sendOffs();

    // The gain byte last written to a crosspoint by this model (a level write or a commit,
    // whichever went last: 0x80 and 0x81 both mean full level), also when the interface did
    // not take it; nothing when none was written. What the interface should hold, to compare
    // with what it reads back.
    std::optional<uint8_t> lastSent(int row, int col) const;
    // Writes the crosspoint's lastSent() byte again; false when there is none or the interface
    // did not take it.
    bool resend(int row, int col);

    // ---- the undo history's view: the stored values exactly as they are ----

    struct Snapshot {
        QVariant map;                                          // invalid: no map stored
        std::array<QVariant, kMatrixCrosspoints> levelValues;  // invalid where none stored
        std::array<bool, kMatrixCrosspoints> on{};
        std::array<float, kMatrixCrosspoints> levels{};
        bool isOn(int row, int col) const { return on[index(row, col)]; }
        float level(int row, int col) const { return levels[index(row, col)]; }
    };
    Snapshot snapshot() const;
    // Puts the stored values of `s` back exactly (after the edits that brought the interface to
    // it) and takes the model's state from them.
    void restore(const Snapshot& s);

    static int index(int row, int col) { return (col - 1) * kMatrixSources + (row - 1); }
    static bool valid(int row, int col) {
        return row >= 1 && row <= kMatrixSources && col >= 1 && col <= kMatrixDestinations;
    }

signals:
    // A route was switched (a route switched on has its level, 100 %, in place already).
    void routeChanged(int row, int col, bool on);
    // A level was set by setLevel().
    void levelChanged(int row, int col, float level);
    // A preset replaced the whole map (before its routes' levels are sent).
    void mapReplaced();
    // The stored map was written (the routing engine's columns follow it).
    void storedMapChanged();

private:
    void load();
    void switchRoute(int row, int col, bool on, float levelWhenOn);
    bool sendLevel(int row, int col);
    // Every crosspoint write goes through here, which keeps the byte in sent_.
    bool writeCrosspoint(int row, int col, uint8_t gain);
    void storeLevel(int row, int col);
    bool commit(int row, int col, bool on);
    void storeMap();
    void post(const char* name, int row, int col);

    UserDefaults& defaults_;
    NotificationCenter& center_;
    bool commitsRoutes_ = false;
    std::array<std::optional<uint8_t>, kMatrixCrosspoints> sent_{};
    std::array<bool, kMatrixCrosspoints> on_{};
    std::array<float, kMatrixCrosspoints> level_{};
    // What the stored map holds beyond the mixer: rows 13-16 of each destination, and the
    // entries after the twelfth.
    std::array<std::array<bool, 4>, kMatrixDestinations> extraRows_{};
    QVariantList extraColumns_;
};

}  // namespace h8
