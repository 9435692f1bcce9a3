// A seeded random walk over what a user and the world do to the panel (drags, chips, the grid,
// presets, rates, plugs, the sound server, restarts), checking after every step that the four
// places the routing lives agree: the emulated H8's mixer, the panel (chips and grid), the
// routing engine's columns and the stored map with its levels. On a failure it prints the seed
// and the shortest failing sequence it finds by dropping steps.
//
//   H8_STATE_SEED=N H8_STATE_STEPS=M routing_state_test   one walk of M steps from seed N
// Without them the walks below run (a few thousand steps in all).

#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
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
#include "manual_clock.h"
#include "platform/user_defaults.h"
#include "random_preset.h"
#include "routing_agreement.h"
#include "temp_env.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/sections/main_contain_view.h"
#include "view_controller.h"

namespace h8 {
namespace {

enum class Kind {
    drop,      // a handle dragged onto a destination row
    dropPair,  // a linked pair dragged onto a destination pair
    chipDoubleClick,
    chipDragOut,
    gridClick,
    gridScroll,    // a: direction (+1/-1), b: notches, c: big steps
    importPreset,  // a: 0 valid, 1 another model, 2 not a preset
    exportPreset,
    rateFromMenu,  // a: menu item
    rateFromOutside,
    unplugReplug,
    audioDeviceGoesOrReturns,
    soundServerStopsOrStarts,
    restart,
};

struct Step {
    Kind kind;
    int row = 0, col = 0, a = 0, b = 0;
    uint64_t seed = 0;

    std::string text() const {
        static const char* names[] = {"drop",
                                      "dropPair",
                                      "chipDoubleClick",
                                      "chipDragOut",
                                      "gridClick",
                                      "gridScroll",
                                      "importPreset",
                                      "exportPreset",
                                      "rateFromMenu",
                                      "rateFromOutside",
                                      "unplugReplug",
                                      "audioDeviceGoesOrReturns",
                                      "soundServerStopsOrStarts",
                                      "restart"};
        std::ostringstream o;
        o << names[static_cast<int>(kind)] << " row=" << row << " col=" << col << " a=" << a
          << " b=" << b << " seed=" << seed;
        return o.str();
    }
};

Step randomStep(std::mt19937_64& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Edits are common, the world's events rarer.
    static const std::vector<std::pair<Kind, int>> weights = {{Kind::drop, 16},
                                                              {Kind::dropPair, 6},
                                                              {Kind::chipDoubleClick, 8},
                                                              {Kind::chipDragOut, 6},
                                                              {Kind::gridClick, 16},
                                                              {Kind::gridScroll, 14},
                                                              {Kind::importPreset, 5},
                                                              {Kind::exportPreset, 2},
                                                              {Kind::rateFromMenu, 3},
                                                              {Kind::rateFromOutside, 3},
                                                              {Kind::unplugReplug, 4},
                                                              {Kind::audioDeviceGoesOrReturns, 3},
                                                              {Kind::soundServerStopsOrStarts, 2},
                                                              {Kind::restart, 2}};
    int total = 0;
    for (const auto& w : weights) total += w.second;
    int r = pick(0, total - 1);
    Kind kind = weights.front().first;
    for (const auto& w : weights) {
        if (r < w.second) {
            kind = w.first;
            break;
        }
        r -= w.second;
    }
    Step s{kind};
    s.row = pick(1, 12);
    s.col = pick(1, 12);
    s.a = pick(0, 3);
    s.b = pick(1, 120);
    s.seed = rng();
    return s;
}

// One panel, its emulated H8 and its stored state, from scratch.
class World {
public:
    World() {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        audio_ = std::make_unique<emulated::EmulatedAudioBackend>(usb_.model());
        SimplyCoreAudio::setBackend(audio_.get());
        IOUSBHelper::setAudioDeviceSource([this] { return audio_->devices(); });
        usb_.plug();
        launch();
    }
    ~World() {
        closeAlerts();
        window_.reset();
        stopUSBMonitoring();
        NorvShareHelper::shared().audio.reset();
        IOUSBHelper::setAudioDeviceSource(nullptr);
        SimplyCoreAudio::setBackend(nullptr);
        audio_.reset();
    }

    void apply(const Step& s) {
        ui::NorvMainContainView* panel = controller()->norvMainContaiView;
        const bool editable = controller()->isBound() && panel && !panel->isHidden();
        RouteChips* chips = panel ? panel->chips() : nullptr;
        RoutingModel& routing = controller()->routing();
        std::mt19937_64 rng(s.seed);
        switch (s.kind) {
            case Kind::drop:
                if (editable) routing.drop(s.row, s.col);
                break;
            case Kind::dropPair: {
                if (!editable) break;
                const int top = (s.row - 1) / 2 * 2 + 1, k = (s.col - 1) / 2;
                if (!chips->hasChip(top, 2 * k + 1)) routing.drop(top, 2 * k + 1);
                if (!chips->hasChip(top + 1, 2 * k + 2)) routing.drop(top + 1, 2 * k + 2);
                break;
            }
            case Kind::chipDoubleClick:
            case Kind::chipDragOut: {
                if (!editable) break;
                // The chip at position `row` of destination `col`'s row, if it has that many.
                const QList<int>& row = chips->chips(s.col);
                if (row.isEmpty()) break;
                const int source = row[(s.row - 1) % row.size()];
                if (s.kind == Kind::chipDoubleClick) {
                    routing.removeChip(source, s.col, ChipRemoval::doubleClick);
                } else {
                    routing.removeChip(source, s.col, ChipRemoval::dragOut);
                }
                break;
            }
            case Kind::gridClick:
                if (editable) routing.toggle(s.row, s.col);
                break;
            case Kind::gridScroll: {
                if (!editable) break;
                // Up or down, by small or large notches, often far enough to hit 0 or 100.
                const double delta = (s.a % 2 ? 1.0 : -1.0) * (s.a >= 2 ? 15.0 : 3.0);
                for (int i = 0; i < s.b && routing.isOn(s.row, s.col); ++i)
                    routing.setLevel(s.row, s.col,
                                     routing.level(s.row, s.col) + crosspointScrollStep(delta));
                break;
            }
            case Kind::importPreset:
                if (editable) importPreset(s.a, rng);
                break;
            case Kind::exportPreset:
                if (editable) {
                    NorvExportFileHelper::shared().exportFile(env_.root() + "/export.norv");
                }
                break;
            case Kind::rateFromMenu:
                if (editable && NorvShareHelper::shared().hardwareDevice) {
                    settle();  // past the guard time after an arrival
                    window_->clickOutline(window_->sanpleMenu->actions()[s.a]);
                }
                break;
            case Kind::rateFromOutside: {
                settle();
                static const double rates[] = {44100, 48000, 88200, 96000};
                audio_->setNominalSampleRate(audio_->interfaceId(), rates[s.a]);
                break;
            }
            case Kind::unplugReplug:
                if (usb_.isPlugged()) {
                    usb_.unplug();
                    audio_->setInterfaceAttached(false);
                } else {
                    audio_->setInterfaceAttached(true);
                    usb_.plug();
                }
                break;
            case Kind::audioDeviceGoesOrReturns:
                audio_->setInterfaceAttached(!audio_->interfaceAttached());
                break;
            case Kind::soundServerStopsOrStarts:
                audio_->setServerRunning(!audio_->isAvailable());
                break;
            case Kind::restart:
                closeAlerts();
                window_.reset();
                stopUSBMonitoring();
                NorvShareHelper::shared().audio.reset();
                NorvShareHelper::shared().resetForTesting();
                UserDefaults::setStandard(nullptr);  // read back from the file
                SimplyCoreAudio::setBackend(audio_.get());
                launch();
                break;
        }
        pump();
        closeAlerts();
    }

    // Empty when the four places agree; otherwise what disagrees.
    std::string check() {
        const emulated::H8State device = usb_.model().state();
        std::ostringstream why;
        why << routingDisagreements(*controller(), usb_.isPlugged() ? &device : nullptr);
        for (const auto& t : usb_.model().transfers()) {
            if (t.setup.requestType == 0x40 && t.setup.index == reg::kMixer &&
                t.setup.value >= 144) {
                why << "a mixer write outside the 12 x 12 mixer: " << t.setup.value << "\n";
            }
        }
        usb_.model().clearTransfers();
        return why.str();
    }

private:
    ViewController* controller() { return window_->controller; }

    void launch() {
        window_ = std::make_unique<AppDelegate>(usb_, usbInterface_, clock_, &usb_, audio_.get());
        window_->show();
        window_->applicationDidFinishLaunching();
        pump();
    }
    // Lets queued work (device lists, rate changes, rebuilds) run.
    static void pump() {
        for (int i = 0; i < 4; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }
    // As if the few seconds after an arrival had passed, so that rate changes are taken.
    static void settle() {
        NorvShareHelper& store = NorvShareHelper::shared();
        store.timestamp = QDateTime::currentMSecsSinceEpoch() / 1000.0 - 10;
    }
    static void closeAlerts() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) box->done(0);
        }
        QCoreApplication::processEvents();
    }

    // A preset with a random map (sometimes with entries beyond the 12 x 12 mixer, as a
    // hand-edited file may have), of this model, another model, or not a preset at all.
    void importPreset(int variant, std::mt19937_64& rng) {
        const QString path = env_.root() + "/import.norv";
        if (variant == 2) {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(200, 'x')) != 200) return;
        } else {
            QJsonObject o = test::presetWithRandomMap(rng);
            if (variant == 1) o["name"] = QStringLiteral("H9");
            if (!test::writePreset(o, path)) return;
        }
        window_->controller->importPreset(path);
    }

    test::TempEnv env_;
    UsbInterface usbInterface_;
    const UsbInterface::Installation installed_{usbInterface_};
    test::ManualClock clock_;  // the poll and the meters stay still: the walk moves the world
    emulated::EmulatedUsbTransport usb_;
    std::unique_ptr<emulated::EmulatedAudioBackend> audio_;
    std::unique_ptr<AppDelegate> window_;
};

// Runs `steps` in a fresh world; the index of the first step after which the check fails (and
// what failed), or -1.
int replay(const std::vector<Step>& steps, std::string* why) {
    World world;
    if (std::string w = world.check(); !w.empty()) {
        *why = w;
        return 0;
    }
    for (size_t i = 0; i < steps.size(); ++i) {
        world.apply(steps[i]);
        if (std::string w = world.check(); !w.empty()) {
            *why = w;
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Drops steps while the sequence still fails: long runs of steps first, then shorter ones,
// down to single steps (a failing sequence is cut after its first failing step).
std::vector<Step> shrink(std::vector<Step> steps) {
    QElapsedTimer clock;
    clock.start();
    size_t chunk = std::max<size_t>(1, steps.size() / 2);
    while (clock.elapsed() < 180000) {
        bool smaller = false;
        for (size_t start = 0; start < steps.size() && clock.elapsed() < 180000;) {
            std::vector<Step> fewer = steps;
            const size_t end = std::min(steps.size(), start + chunk);
            fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(start),
                        fewer.begin() + static_cast<std::ptrdiff_t>(end));
            std::string why;
            const int failed = replay(fewer, &why);
            if (failed >= 0) {
                fewer.resize(std::min(fewer.size(), static_cast<size_t>(failed) + 1));
                steps = fewer;
                smaller = true;
            } else {
                start += chunk;
            }
        }
        if (chunk == 1 && !smaller) break;
        if (!smaller) chunk = std::max<size_t>(1, chunk / 2);
    }
    return steps;
}

void walk(uint64_t seed, int count) {
    std::mt19937_64 rng(seed);
    std::vector<Step> steps;
    std::string why;
    int failed = -1;
    {
        World world;
        why = world.check();
        if (!why.empty()) failed = 0;
        for (int i = 0; failed < 0 && i < count; ++i) {
            steps.push_back(randomStep(rng));
            world.apply(steps.back());
            why = world.check();
            if (!why.empty()) failed = i;
        }
    }
    if (failed < 0) return;
    const std::vector<Step> shortest = shrink(steps);
    std::string shortWhy;
    replay(shortest, &shortWhy);
    std::ostringstream report;
    report << "seed " << seed << ": the routing disagrees after step " << failed + 1 << ":\n"
           << why << "shortest failing sequence (" << shortest.size() << " steps):\n";
    for (const Step& s : shortest) report << "  " << s.text() << "\n";
    report << "which ends in:\n" << shortWhy;
    ADD_FAILURE() << report.str();
}

TEST(RoutingStateTest, FourPlacesAgreeAfterEveryStepOfRandomWalks) {
    const QByteArray seed = qgetenv("H8_STATE_SEED");
    const int steps = qEnvironmentVariableIntValue("H8_STATE_STEPS");
    if (!seed.isEmpty()) {
        walk(seed.toULongLong(), steps > 0 ? steps : 1000);
        return;
    }
    for (uint64_t s : {1u, 2u, 3u}) walk(s, steps > 0 ? steps : 1000);
}

}  // namespace
}  // namespace h8
