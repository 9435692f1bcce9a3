#include "edit_history.h"

#include <QMetaObject>
#include <algorithm>
#include <array>

namespace h8 {
namespace {

bool contains(const std::vector<Crosspoint>& list, Crosspoint x) {
    return std::find(list.begin(), list.end(), x) != list.end();
}

template <typename F>
void forEachCrosspoint(F f) {
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        for (int row = 1; row <= kMatrixSources; ++row) f(row, col);
    }
}

}  // namespace

class EditHistory::Step : public QUndoCommand {
public:
    using Time = std::chrono::steady_clock::time_point;

    Step(EditHistory& history, const State& before, const State& after, Pending edits, Time at)
        : history_(history), before_(before), after_(after), edits_(std::move(edits)), last_(at) {}

    // Pushed once the edit is made: the first redo has nothing left to do.
    void redo() override {
        if (!made_) {
            made_ = true;
            return;
        }
        // Repeats the edit: the crosspoints whose level was set get it again, and after an
        // import every route gets its level, as the import's rebuild sent it.
        std::vector<Crosspoint> resend = edits_.levels;
        if (edits_.import) {
            forEachCrosspoint([&](int row, int col) {
                if (after_.isOn(row, col)) resend.push_back({row, col});
            });
        }
        history_.apply(after_, resend, false);
    }
    // A route switched back on gets its level as well: the interface then plays the level that
    // is stored and shown, the one a rebuild after an arrival sends too.
    void undo() override { history_.apply(before_, edits_.levels, true); }

    bool isGesture() const { return edits_.levels.size() == 1 && !edits_.routes && !edits_.import; }
    bool continues(const Pending& edits, Time at) const {
        return isGesture() && edits.levels == edits_.levels && !edits.routes && !edits.import &&
               at - last_ <= kGesturePause;
    }
    void extend(const State& after, Time at) {
        after_ = after;
        last_ = at;
    }

private:
    EditHistory& history_;
    const State before_;
    State after_;
    const Pending edits_;
    Time last_;
    bool made_ = false;
};

EditHistory::EditHistory(RoutingModel& routing, Clock clock, QObject* parent)
    : QObject(parent),
      routing_(routing),
      clock_(std::move(clock)),
      current_(std::make_unique<State>(routing.snapshot())) {
    connect(&routing_, &RoutingModel::routeChanged, this, [this] { noteRoute(); });
    connect(&routing_, &RoutingModel::levelChanged, this,
            [this](int row, int col) { noteLevel(row, col); });
    // The state before the import is current_.
    connect(&routing_, &RoutingModel::mapReplaced, this, [this] { noteImport(); });
}

EditHistory::~EditHistory() {
    // The steps refer to this object.
    stack_.clear();
}

bool EditHistory::canUndo() const {
    return pending_ || stack_.canUndo();
}

bool EditHistory::canRedo() const {
    // An edit not yet made a step drops the steps to redo.
    return !pending_ && stack_.canRedo();
}

void EditHistory::undo() {
    flush();
    if (!stack_.canUndo()) return;
    gesture_ = nullptr;
    stack_.undo();
    emit changed();
}

void EditHistory::redo() {
    flush();
    if (!stack_.canRedo()) return;
    gesture_ = nullptr;
    stack_.redo();
    emit changed();
}

void EditHistory::noteRoute() {
    if (applying_) return;
    if (!pending_) pending_ = Pending{};
    pending_->routes = true;
    schedule();
}

void EditHistory::noteLevel(int row, int col) {
    if (applying_) return;
    if (!pending_) pending_ = Pending{};
    if (!contains(pending_->levels, {row, col})) pending_->levels.push_back({row, col});
    schedule();
}

void EditHistory::noteImport() {
    if (applying_) return;
    if (!pending_) pending_ = Pending{};
    pending_->import = true;
    schedule();
}

void EditHistory::schedule() {
    if (flushQueued_) return;
    flushQueued_ = true;
    QMetaObject::invokeMethod(this, &EditHistory::flush, Qt::QueuedConnection);
}

void EditHistory::endStep() {
    flush();
    gesture_ = nullptr;
}

void EditHistory::flush() {
    flushQueued_ = false;
    if (!pending_) return;
    const Pending edits = std::move(*pending_);
    pending_.reset();
    auto after = std::make_unique<State>(routing_.snapshot());
    const auto at = clock_();
    if (gesture_ && gesture_->continues(edits, at)) {
        gesture_->extend(*after, at);
    } else {
        auto* step = new Step(*this, *current_, *after, edits, at);
        gesture_ = step->isGesture() ? step : nullptr;
        stack_.push(step);  // drops the steps that were undone
    }
    current_ = std::move(after);
    emit changed();
}

void EditHistory::apply(const State& target, const std::vector<Crosspoint>& resend,
                        bool levelOnSwitchOn) {
    applying_ = true;
    std::vector<Crosspoint> switchedOn;
    forEachCrosspoint([&](int row, int col) {
        const bool on = target.isOn(row, col);
        if (routing_.isOn(row, col) == on) return;
        routing_.toggle(row, col);
        if (on) switchedOn.push_back({row, col});
    });
    forEachCrosspoint([&](int row, int col) {
        if (!target.isOn(row, col)) return;
        const float level = target.level(row, col);
        if (routing_.level(row, col) != level || contains(resend, {row, col}) ||
            (levelOnSwitchOn && contains(switchedOn, {row, col}))) {
            routing_.setLevel(row, col, level);
        }
    });
    // The toggles stored the map as the model has it and a level for every route they switched
    // on; the step's stored values are put back as they were (with what the map holds beyond
    // the mixer).
    routing_.restore(target);
    applying_ = false;
    current_ = std::make_unique<State>(routing_.snapshot());
}

}  // namespace h8
