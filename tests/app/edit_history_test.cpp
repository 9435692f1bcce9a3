// Undo and redo of routing and level edits, in-process on the emulated H8: a seeded mix of
// edits undone and redone to the byte, what an undo sends compared with the same change made by
// hand, the history across a re-plug, the keys and the Edit menu; and, on grid and chips alone
// with a clock of its own, scroll gestures and pair drops as single steps.

#include "edit_history.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenuBar>
#include <QTest>
#include <QWheelEvent>
#include <random>
#include <sstream>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/preset_file.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "emulated_panel_test.h"
#include "fake_audio_backend.h"
#include "panel_parts.h"
#include "platform/user_defaults.h"
#include "plugged_interface_test.h"
#include "random_preset.h"
#include "temp_env.h"
#include "ui/matrix/grid_view.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/sections/main_contain_view.h"
#include "ui/sections/matrix_panels.h"
#include "ui/widgets/hover_button.h"
#include "view_controller.h"

namespace h8 {
namespace {

// One notch of the wheel (or `notches` at once) over a grid button.
void wheel(QWidget* button, int notches) {
    QWheelEvent e(QPointF(5, 5), QPointF(button->mapToGlobal(QPoint(5, 5))), QPoint(),
                  QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(button, &e);
}

// The mixer writes among the emulated H8's transfers: (crosspoint, byte).
std::vector<std::pair<int, int>> mixerWritesOf(const emulated::EmulatedH8& model) {
    std::vector<std::pair<int, int>> writes;
    for (const auto& t : model.transfers()) {
        if (t.setup.requestType == 0x40 && t.setup.index == reg::kMixer && !t.data.empty())
            writes.emplace_back(t.setup.value, t.data.back());
    }
    return writes;
}

// What an undo has to put back: the interface's mixer and the routing in the user defaults.
struct Saved {
    std::array<uint8_t, 144> mixer{};
    QVariant map;
    std::array<QVariant, 144> levels;
};

Saved saved(const emulated::EmulatedH8& model) {
    Saved s;
    s.mixer = model.state().mixer;
    s.map = UserDefaults::standard().objectForKey(kChannelMapKey);
    for (int col = 1; col <= 12; ++col) {
        for (int row = 1; row <= 12; ++row) {
            s.levels[(col - 1) * 12 + row - 1] =
                UserDefaults::standard().objectForKey(crosspointLevelKey(row, col));
        }
    }
    return s;
}

// Empty when `a` and `b` are the same to the byte; otherwise what differs.
std::string differences(const Saved& a, const Saved& b) {
    std::ostringstream why;
    for (size_t i = 0; i < a.mixer.size(); ++i) {
        if (a.mixer[i] != b.mixer[i])
            why << "mixer[" << i << "] " << int(a.mixer[i]) << " vs " << int(b.mixer[i]) << "\n";
    }
    if (QJsonDocument::fromVariant(a.map).toJson() != QJsonDocument::fromVariant(b.map).toJson())
        why << "stored map differs\n";
    for (size_t i = 0; i < a.levels.size(); ++i) {
        if (a.levels[i] != b.levels[i]) {
            why << crosspointLevelKey(int(i % 12) + 1, int(i / 12) + 1).toStdString() << " "
                << a.levels[i].toString().toStdString() << " vs "
                << b.levels[i].toString().toStdString() << "\n";
        }
    }
    return why.str();
}

// Empty when chips, grid and the engine's columns show the stored map and levels.
std::string panelDisagreement(const ui::NorvMainContainView* panel, const NorvAudioHelper& engine) {
    std::ostringstream why;
    const std::vector<Output> stored =
        columnsFromStoredMap(NorvShareHelper::shared().channelMapArray());
    for (int col = 1; col <= 12; ++col) {
        for (int row = 1; row <= 12; ++row) {
            const bool on = stored[col - 1].enableArray[row - 1];
            const std::string at = " at " + std::to_string(row) + "," + std::to_string(col) + "\n";
            if (panel->chips()->hasChip(row, col) != on) why << "chip" << at;
            if (panel->routing().isOn(row, col) != on) why << "grid" << at;
            if (on && panel->routing().level(row, col) != storedCrosspointLevel(row, col))
                why << "grid level" << at;
        }
        // The engine's columns store themselves with the next edit: all their rows, also those
        // beyond the mixer's sources that an import may bring, follow the map.
        if (engine.outputUnits()[col - 1]->enableArray != stored[col - 1].enableArray)
            why << "engine column " << col << "\n";
    }
    return why.str();
}

class EditHistoryAppTest : public test::EmulatedPanelTest {
protected:
    // Plugged in at start; returns once the menus are enabled (2 s after the bind). (The waits
    // for events are QTest::qWaitFor under ASSERT_TRUE: a QTRY_ macro that times out only
    // returns, which gtest does not see as a failure.)
    void launch() {
        usb_.plug();
        window_ = std::make_unique<AppDelegate>(usb_, usbInterface_, clock(), &usb_, audio_.get());
        window_->show();
        window_->applicationDidFinishLaunching();
        ASSERT_TRUE(controller()->isBound());
        advance(std::chrono::milliseconds(2000));
        ASSERT_TRUE(editMenu()->isEnabled());
    }
    ui::NorvMainContainView* panel() { return controller()->norvMainContaiView; }
    RoutingModel& routing() { return controller()->routing(); }
    RouteChips* chips() { return panel()->chips(); }
    QMenu* editMenu() {
        for (QAction* a : window_->menuBar()->actions()) {
            if (a->text().remove('&') == "Edit") return a->menu();
        }
        return nullptr;
    }
    ui::HoverButton* button(int row, int col) {
        return (row <= 4 ? panel()->tMidView->gridView : panel()->bMidView->gridView)
            ->button(row, col);
    }
    uint8_t mixer(int row, int col) {
        return usb_.model().state().mixer[sourceCodeForRow(row - 1) + 12 * (col - 1)];
    }
    // The edits of one turn of the event loop become a step when the loop runs.
    static void settle() { QCoreApplication::processEvents(); }

    // A preset of this interface with a random route map (now and then with entries beyond the
    // 12 x 12 mixer, as a hand-edited file may have).
    QString randomPreset(std::mt19937& rng) {
        const QString path = env_.root() + "/random.norv";
        EXPECT_TRUE(test::writePreset(test::presetWithRandomMap(rng), path));
        return path;
    }

    // One random edit as the panel's widgets make it; false when it would change nothing.
    bool randomEdit(std::mt19937& rng, bool import) {
        const auto pick = [&](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(rng);
        };
        const int row = pick(1, 12), col = pick(1, 12);
        if (import) return window_->controller->importPreset(randomPreset(rng)) == nullptr;
        switch (pick(0, 4)) {
            case 0:
                routing().toggle(row, col);
                return true;
            case 1: {
                // A turn of the wheel over a route that is on, one event per notch.
                std::vector<std::pair<int, int>> on;
                for (int c = 1; c <= 12; ++c) {
                    for (int r = 1; r <= 12; ++r) {
                        if (routing().isOn(r, c)) on.emplace_back(r, c);
                    }
                }
                if (on.empty()) return false;
                const auto [r, c] = on[pick(0, static_cast<int>(on.size()) - 1)];
                const int direction = pick(0, 1) ? 1 : -1, notches = pick(1, 30);
                for (int i = 0; i < notches; ++i) {
                    wheel(button(r, c), direction * pick(1, 2));
                    settle();
                }
                return true;
            }
            case 2:
                return routing().drop(row, col);
            case 3: {
                // A linked pair onto a destination pair: one gesture.
                const int top = (row - 1) / 2 * 2 + 1, k = (col - 1) / 2;
                const bool a = routing().drop(top, 2 * k + 1);
                const bool b = routing().drop(top + 1, 2 * k + 2);
                return a || b;
            }
            default: {
                const QList<int>& row_ = chips()->chips(col);
                if (row_.isEmpty()) return false;
                const int source = row_[pick(0, static_cast<int>(row_.size()) - 1)];
                if (pick(0, 1)) {
                    routing().removeChip(source, col, ChipRemoval::doubleClick);
                } else {
                    routing().removeChip(source, col, ChipRemoval::dragOut);
                }
                return true;
            }
        }
    }
};

TEST_F(EditHistoryAppTest, UndoingEveryEditRestoresTheStartAndRedoingRestoresTheEnd) {
    for (const unsigned seed : {1u, 7u, 2024u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        // A stored start of its own: some routes (a few beyond the mixer), some levels, most
        // crosspoints without one.
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        QVariantList map;
        std::bernoulli_distribution routed(0.15), leveled(0.2);
        for (int c = 0; c < 16; ++c) {
            QVariantList rows;
            for (int r = 0; r < 16; ++r) rows.append(routed(rng));
            map.append(QVariant(rows));
        }
        NorvShareHelper::shared().setChannelMapArray(map);
        for (int col = 1; col <= 12; ++col) {
            for (int row = 1; row <= 12; ++row) {
                if (leveled(rng))
                    UserDefaults::standard().setFloat(
                        crosspointLevelKey(row, col),
                        static_cast<float>(std::uniform_int_distribution<int>(0, 100)(rng)));
            }
        }
        ASSERT_NO_FATAL_FAILURE(launch());
        const Saved start = saved(usb_.model());

        constexpr int kEdits = 40;
        const int importAt = std::uniform_int_distribution<int>(5, kEdits - 5)(rng);
        int made = 0;
        for (int i = 0; i < kEdits; ++i) {
            made += randomEdit(rng, i == importAt);
            settle();
        }
        ASSERT_GT(made, kEdits / 2);
        const Saved end = saved(usb_.model());
        ASSERT_NE(differences(start, end), "");

        int undos = 0;
        while (controller()->canUndo()) {
            controller()->undo();
            ASSERT_LE(++undos, kEdits);
        }
        EXPECT_EQ(differences(saved(usb_.model()), start), "");
        EXPECT_EQ(panelDisagreement(panel(), *controller()->audio), "");
        EXPECT_FALSE(window_->undoAction->isEnabled());
        EXPECT_TRUE(window_->redoAction->isEnabled());

        int redos = 0;
        while (controller()->canRedo()) {
            controller()->redo();
            ++redos;
        }
        EXPECT_EQ(redos, undos);
        EXPECT_EQ(differences(saved(usb_.model()), end), "");
        EXPECT_EQ(panelDisagreement(panel(), *controller()->audio), "");

        window_.reset();
        stopUSBMonitoring();
        NorvShareHelper::shared().audio.reset();
    }
}

TEST_F(EditHistoryAppTest, AnUndoSendsWhatTheSameChangeByHandSends) {
    ASSERT_NO_FATAL_FAILURE(launch());
    // Playback 1 → destination 1 (on by default) at 40 %, then its chip double-clicked away.
    routing().setLevel(5, 1, 40);
    settle();
    routing().removeChip(5, 1, ChipRemoval::doubleClick);
    settle();

    usb_.model().clearTransfers();
    controller()->undo();
    const auto undone = mixerWritesOf(usb_.model());
    const QVariantList routesAfterUndo = NorvShareHelper::shared().channelMapArray();
    const Saved afterUndo = saved(usb_.model());
    EXPECT_TRUE(chips()->hasChip(5, 1));
    EXPECT_EQ(mixer(5, 1), crosspointLevelByte(40));

    controller()->redo();
    EXPECT_FALSE(routing().isOn(5, 1));
    // By hand: a click on the grid, then the wheel down to 40 %.
    usb_.model().clearTransfers();
    routing().toggle(5, 1);
    routing().setLevel(5, 1, 40);
    EXPECT_EQ(mixerWritesOf(usb_.model()), undone);
    // The same routes and levels (the undo stores the map as it was: here, never stored).
    EXPECT_EQ(NorvShareHelper::shared().channelMapArray(), routesAfterUndo);
    Saved byHand = saved(usb_.model());
    byHand.map = afterUndo.map;
    EXPECT_EQ(differences(byHand, afterUndo), "");

    // Undoing a route switched on sends what switching it off sends.
    settle();
    usb_.model().clearTransfers();
    controller()->undo();
    const auto offByUndo = mixerWritesOf(usb_.model());
    controller()->redo();
    usb_.model().clearTransfers();
    routing().toggle(5, 1);
    EXPECT_EQ(mixerWritesOf(usb_.model()), offByUndo);
}

TEST_F(EditHistoryAppTest, TheHistoryOutlivesAReplugAndUndoesOnTheInterfaceBoundThen) {
    ASSERT_NO_FATAL_FAILURE(launch());
    routing().toggle(1, 5);  // mic 1 → L1
    settle();
    for (int i = 0; i < 5; ++i) {
        wheel(button(1, 5), -1);
        settle();
    }
    ASSERT_EQ(routing().level(1, 5), 95.0f);
    // Neither a rate change nor a removal clears it.
    window_->clickOutline(window_->sanpleMenu->actions()[3]);
    unplug();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !controller()->isBound(); }));
    EXPECT_FALSE(window_->undoAction->isEnabled());
    EXPECT_FALSE(controller()->canUndo());
    controller()->undo();  // nothing to send to: nothing happens
    EXPECT_EQ(routing().level(1, 5), 95.0f);

    // Back with a mixer that forgot everything: the rebuild sends the routes, the undo the rest.
    emulated::H8State s = usb_.model().state();
    s.mixer.fill(0xFF);
    usb_.model().setState(s);
    replug();
    ASSERT_TRUE(QTest::qWaitFor([this] { return controller()->isBound(); }, 5000));
    advance(std::chrono::milliseconds(2000));  // the menus, 2 s after the bind
    ASSERT_TRUE(window_->undoAction->isEnabled());
    EXPECT_EQ(mixer(1, 5), crosspointLevelByte(95));
    usb_.model().clearTransfers();
    window_->undoAction->trigger();  // the scroll
    EXPECT_EQ(routing().level(1, 5), 100.0f);
    EXPECT_EQ(mixer(1, 5), crosspointLevelByte(100));
    window_->undoAction->trigger();  // the click
    EXPECT_EQ(mixer(1, 5), 0xFF);
    EXPECT_FALSE(
        columnsFromStoredMap(NorvShareHelper::shared().channelMapArray())[4].enableArray[0]);
    EXPECT_FALSE(mixerWritesOf(usb_.model()).empty());
    EXPECT_FALSE(window_->undoAction->isEnabled());
    window_->redoAction->trigger();
    EXPECT_EQ(mixer(1, 5), 0x80);  // switched on, as the click did
    EXPECT_TRUE(chips()->hasChip(1, 5));
}

TEST_F(EditHistoryAppTest, KeysAndTheEditMenuUndoAndRedoWhileThereIsSomethingToUndoOrRedo) {
    ASSERT_NO_FATAL_FAILURE(launch());
    const QList<QAction*> items = editMenu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), "撤销");
    EXPECT_EQ(items[1]->text(), "重做");
    EXPECT_FALSE(window_->undoAction->isEnabled());
    EXPECT_FALSE(window_->redoAction->isEnabled());
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));

    routing().toggle(6, 3);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window_->undoAction->isEnabled(); }));
    EXPECT_FALSE(window_->redoAction->isEnabled());
    QTest::keyClick(window_.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(routing().isOn(6, 3));
    EXPECT_FALSE(window_->undoAction->isEnabled());
    EXPECT_TRUE(window_->redoAction->isEnabled());
    QTest::keyClick(window_.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(routing().isOn(6, 3));
    EXPECT_EQ(mixer(6, 3), 0x80);

    items[0]->trigger();
    EXPECT_FALSE(chips()->hasChip(6, 3));
    items[1]->trigger();
    EXPECT_TRUE(chips()->hasChip(6, 3));
    // An edit after an undo drops what there was to redo.
    items[0]->trigger();
    routing().toggle(7, 3);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window_->redoAction->isEnabled(); }));
    EXPECT_FALSE(controller()->canRedo());

    // Unbound: nothing is undone, by key or menu.
    unplug();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !controller()->isBound(); }));
    EXPECT_FALSE(window_->undoAction->isEnabled());
    QTest::keyClick(window_.get(), Qt::Key_Z, Qt::ControlModifier);
    items[0]->trigger();
    EXPECT_TRUE(routing().isOn(7, 3));
}

// Grid and chips alone, on the emulated H8, with a clock the test moves.
class GridHistoryTest : public test::PluggedInterfaceTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PluggedInterfaceTest::SetUp());
        backend_.setDevices({test::fakeInterface(7, 16)});
        createEngine();
        chips_ = std::make_unique<RouteChips>(*routing_, store().indexQuoteArray,
                                              NotificationCenter::defaultCenter());
        parts_ = std::make_unique<test::PanelParts>(usbInterface_, routing_.get());
        view_ = std::make_unique<ui::NorvGridView>(
            parts_->context(), QStringList{"O1", "O2", "O3", "O4", "O5", "O6", "O7", "O8"});
        history_ = std::make_unique<EditHistory>(*routing_, [this] { return now_; });
    }
    void TearDown() override {
        history_.reset();
        view_.reset();
        parts_.reset();
        chips_.reset();
        PluggedInterfaceTest::TearDown();
    }
    // Notches of the wheel over a grid button, the event loop run after each, `gap` apart.
    void scroll(int row, int col, int notches, std::chrono::milliseconds gap) {
        for (int i = 0; i < std::abs(notches); ++i) {
            now_ += gap;
            wheel(view_->button(row, col), notches < 0 ? -1 : 1);
            QCoreApplication::processEvents();
        }
    }
    int undoAll() {
        int n = 0;
        while (history_->canUndo()) {
            history_->undo();
            ++n;
        }
        return n;
    }
    uint8_t mixer(int row, int col) {
        return usb_.model().state().mixer[sourceCodeForRow(row - 1) + 12 * (col - 1)];
    }

    static constexpr std::chrono::milliseconds kQuick = EditHistory::kGesturePause / 4;

    std::chrono::steady_clock::time_point now_{};
    std::unique_ptr<RouteChips> chips_;
    std::unique_ptr<test::PanelParts> parts_;
    std::unique_ptr<ui::NorvGridView> view_;
    std::unique_ptr<EditHistory> history_;
};

// Playback 1 → destination 1 and playback 2 → destination 2 are on by default, at 100 %.
TEST_F(GridHistoryTest, OneTurnOfTheWheelIsOneStep) {
    scroll(5, 1, -12, kQuick);
    ASSERT_EQ(routing_->level(5, 1), 88.0f);
    EXPECT_EQ(undoAll(), 1);
    EXPECT_EQ(routing_->level(5, 1), 100.0f);
    EXPECT_EQ(mixer(5, 1), crosspointLevelByte(100));
    history_->redo();
    EXPECT_EQ(routing_->level(5, 1), 88.0f);
    EXPECT_EQ(mixer(5, 1), crosspointLevelByte(88));
    EXPECT_EQ(UserDefaults::standard().floatForKey(crosspointLevelKey(5, 1)), 88.0f);
}

TEST_F(GridHistoryTest, APauseAnotherCrosspointAnotherEditOrAnUndoEndsTheGesture) {
    const auto pause = EditHistory::kGesturePause + std::chrono::milliseconds(1);
    scroll(5, 1, -3, kQuick);  // 97
    scroll(5, 1, -1, pause);   // 96, a new turn
    scroll(5, 1, -2, kQuick);  // 94
    EXPECT_EQ(undoAll(), 2);
    EXPECT_EQ(routing_->level(5, 1), 100.0f);
    history_->redo();
    EXPECT_EQ(routing_->level(5, 1), 97.0f);
    history_->redo();
    EXPECT_EQ(routing_->level(5, 1), 94.0f);
    undoAll();

    scroll(5, 1, -2, kQuick);
    scroll(6, 2, -2, kQuick);
    scroll(5, 1, -2, kQuick);
    EXPECT_EQ(undoAll(), 3);

    scroll(5, 1, -2, kQuick);
    routing_->toggle(7, 2);
    QCoreApplication::processEvents();
    scroll(5, 1, -2, kQuick);
    EXPECT_EQ(undoAll(), 3);

    scroll(5, 1, -2, kQuick);
    routing_->toggle(7, 2);
    QCoreApplication::processEvents();
    history_->undo();
    scroll(5, 1, -2, kQuick);
    EXPECT_EQ(undoAll(), 2);
    EXPECT_EQ(routing_->level(5, 1), 100.0f);
    EXPECT_FALSE(routing_->isOn(7, 2));
}

TEST_F(GridHistoryTest, ALinkedPairDroppedIsOneStep) {
    // What the drag handle does for a pair: both drops in one event.
    routing_->drop(5, 3);
    routing_->drop(6, 4);
    QCoreApplication::processEvents();
    routing_->drop(7, 5);
    QCoreApplication::processEvents();
    history_->undo();
    history_->undo();
    EXPECT_FALSE(history_->canUndo());
    EXPECT_FALSE(chips_->hasChip(5, 3));
    EXPECT_FALSE(chips_->hasChip(6, 4));
    EXPECT_EQ(mixer(6, 4), 0xFF);
    history_->redo();
    EXPECT_TRUE(chips_->hasChip(5, 3));
    EXPECT_TRUE(chips_->hasChip(6, 4));
    EXPECT_FALSE(chips_->hasChip(7, 5));
}

}  // namespace
}  // namespace h8
