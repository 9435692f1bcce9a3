// The undo history of the routing matrix. Every edit of the routing model — a source dropped on
// a destination row, a chip removed, a grid click, a crosspoint level scrolled, a preset
// imported — is one step holding the routing state before and after it: the stored route map
// and the stored crosspoint levels. Undo and redo bring the interface to a step's state through
// the model's toggle() and setLevel(), the calls the user's clicks and scrolls go through, so
// the interface gets the requests it would get from a user making the change by hand; the
// stored map and levels are then put back exactly as they were.
//
// What one turn of the event loop edits is one step (a linked pair dropped is two routes, one
// gesture). Level changes of one crosspoint that follow each other with pauses of at most
// kGesturePause, with no other edit, undo or redo in between, are one step too: one turn of the
// scroll wheel.
//
// A preset import is one step for its routes; the mutes, names and sample rate it brought are
// not part of the routing and stay as they are on undo.
//
// The history belongs to the panel: removal and arrival of the interface leave it alone, and an
// undo after a re-plug goes to the interface bound then. Main thread only.
#pragma once

#include <QObject>
#include <QUndoStack>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/routing_model.h"

namespace h8 {

class EditHistory : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kGesturePause{600};

    // Records the edits `chips` and `grid` report and the imports; undo and redo edit through
    // them. `engine` gets its routing columns back from a restored map (for the map entries
    // beyond the 12 x 12 mixer that an import may have brought).
    EditHistory(RoutingModel& routing, Clock clock, QObject* parent = nullptr);
    ~EditHistory() override;

    bool canUndo() const;
    bool canRedo() const;
    void undo();
    void redo();
    // Makes the edits so far one step now, and the next edit the start of another whatever
    // follows (a command from another program is one step, even when the next one sets the
    // same crosspoint's level a moment later).
    void endStep();

signals:
    // canUndo() or canRedo() may have changed.
    void changed();

private:
    class Step;
    using State = RoutingModel::Snapshot;
    struct Pending {
        std::vector<Crosspoint> levels;  // crosspoints whose level was set
        bool routes = false;             // a route was switched
        bool import = false;
    };

    void noteRoute();
    void noteLevel(int row, int col);
    void noteImport();
    void schedule();
    // Turns the edits of this turn of the event loop into a step (or into the scroll gesture
    // they continue).
    void flush();
    // Brings model, interface and stored state to `target`: toggles for the routes that differ,
    // then setLevel() for the routes whose level differs, for those in `resend` and, with
    // `levelOnSwitchOn`, for those just switched on.
    void apply(const State& target, const std::vector<Crosspoint>& resend, bool levelOnSwitchOn);

    RoutingModel& routing_;
    Clock clock_;
    QUndoStack stack_;
    std::unique_ptr<State> current_;  // the state after the last step, undo or redo
    std::optional<Pending> pending_;
    bool flushQueued_ = false;
    bool applying_ = false;
    Step* gesture_ = nullptr;  // the scroll step that further level changes may extend
};

}  // namespace h8
