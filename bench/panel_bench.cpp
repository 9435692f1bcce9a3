// The panel's cost on the main thread, on the emulated H8 (in-process USB, synthetic audio).
//
//   bench_panel                      Google Benchmark, one tick of each clock with what it
//                                    repaints (target: under 200 µs each):
//       BM_MeterTickUnchanged        16 levels that did not move: nothing may repaint.
//       BM_MeterTickLevelsMove       16 levels moving as music does, a few pixels per tick.
//       BM_MeterTickAllBarsChange    the worst case, every level jumping between 0.2 and 0.9.
//     each with the bars painted straight into the window (argument 1, the panel's default)
//     and with a repaint of each bar that moved (0), with counters per tick: bar_paints (paint
//     events of the bars: none when painted straight in), bar_pixels (the area they repainted)
//     and other_paints (other widgets repainted: nothing under the bars is drawn again; what
//     little shows is a text cursor blinking);
//       BM_PollTick                  the hardware poll with a knob turned on the device (three
//                                    transfers, decoding, the display update and its repaint);
//       BM_PollTickUnchanged         the same with nothing changed on the device.
//     And 100 scroll steps on a crosspoint, with the preferences written per step (0) or
//     gathered (250 ms, the panel's setting).
//   bench_panel --cpu-seconds N      runs the panel as a user would (meters moving, poll
//                                    running) for N seconds (at least 10) and prints the CPU
//                                    time per second of wall time, for the process and for the
//                                    main thread (offscreen; bench/cpu.sh measures the program
//                                    on an X server, target: under 1 % of one core).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <functional>

#include "core/audio_devices.h"
#include "core/audio_helper.h"
#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/clock.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "ui/sections/main_contain_view.h"
#include "ui/strips/level_bar.h"

namespace {

using namespace h8;

struct Rig {
    UsbInterface usbInterface;
    const UsbInterface::Installation installed{usbInterface};
    emulated::EmulatedUsbTransport usb;
    std::unique_ptr<emulated::EmulatedAudioBackend> audio;
    std::unique_ptr<SimplyCoreAudio> simply;
    std::unique_ptr<RoutingModel> routing;
    SystemClock clock;
    std::unique_ptr<HardwareMonitor> monitor;
    std::unique_ptr<HardwarePoller> poller;
    std::unique_ptr<ui::NorvMainContainView> panel;

    Rig() {
        usb.plug();
        startUSBMonitoring(usb, usbInterface);
        audio = std::make_unique<emulated::EmulatedAudioBackend>(usb.model());
        SimplyCoreAudio::setBackend(audio.get());
        simply = std::make_unique<SimplyCoreAudio>();
        routing = std::make_unique<RoutingModel>(UserDefaults::standard(),
                                                 NotificationCenter::defaultCenter());
        NorvShareHelper::shared().audio =
            std::make_shared<NorvAudioHelper>(findH8AudioDevice(simply->allDevices()), *routing);
        monitor = std::make_unique<HardwareMonitor>(usbInterface, NorvShareHelper::shared(),
                                                    UserDefaults::standard());
        poller = std::make_unique<HardwarePoller>(*monitor, NorvShareHelper::shared(), clock);
        panel = std::make_unique<ui::NorvMainContainView>(
            ui::PanelContext{*routing, *poller, clock, NorvShareHelper::shared(),
                             UserDefaults::standard(), NotificationCenter::defaultCenter()});
        panel->show();
        QApplication::processEvents();
    }
    ~Rig() {
        panel.reset();
        poller.reset();
        monitor.reset();
        NorvShareHelper::shared().audio.reset();
        simply.reset();
        SimplyCoreAudio::setBackend(nullptr);
        stopUSBMonitoring();
    }
};

Rig* g_rig = nullptr;

// Counts the paint events and the repainted area of the level bars and of every other widget.
class PaintCounter : public QObject {
public:
    PaintCounter() { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    long barPaints = 0, barPixels = 0, otherPaints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        if (!qobject_cast<ui::LevelBar*>(watched)) {
            ++otherPaints;
            return false;
        }
        ++barPaints;
        for (const QRect& r : static_cast<QPaintEvent*>(event)->region())
            barPixels += r.width() * r.height();
        return false;
    }
};

// Levels set by the benchmark only; the engines' capture is stopped.
class FixedLevels {
public:
    FixedLevels() : engines_(*NorvShareHelper::shared().inputUnits) {
        g_rig->panel->meters().stop();
        g_rig->poller->stop();
        for (const auto& e : engines_) e->stop();
    }
    ~FixedLevels() {
        for (const auto& e : engines_) e->start();
    }
    void set(const std::function<double(size_t)>& level) {
        for (size_t i = 0; i < engines_.size(); ++i) engines_[i]->setVolumeIntensity(level(i));
    }

private:
    const std::vector<std::shared_ptr<Engine>>& engines_;
};

void meterTicks(benchmark::State& state, const std::function<double(size_t, int64_t)>& level) {
    FixedLevels levels;
    g_rig->panel->setMetersPaintDirectly(state.range(0) != 0);
    int64_t tick = 0;
    levels.set([&](size_t i) { return level(i, tick); });
    g_rig->panel->timerFired();
    QApplication::processEvents();
    PaintCounter paints;
    for (auto _ : state) {
        state.PauseTiming();
        ++tick;
        levels.set([&](size_t i) { return level(i, tick); });
        state.ResumeTiming();
        g_rig->panel->timerFired();
        QApplication::processEvents();  // the repaint of the bars that changed
    }
    const auto perTick = [&](long n) { return double(n) / std::max<int64_t>(1, tick); };
    state.counters["bar_paints"] = perTick(paints.barPaints);
    state.counters["bar_pixels"] = perTick(paints.barPixels);
    state.counters["other_paints"] = perTick(paints.otherPaints);
    g_rig->panel->setMetersPaintDirectly(true);
}

void BM_MeterTickUnchanged(benchmark::State& state) {
    meterTicks(state, [](size_t i, int64_t) { return 0.2 + 0.04 * i; });
}
BENCHMARK(BM_MeterTickUnchanged)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// Each level swells slowly around its own value, as the emulated H8's inputs do: most bars
// move by a few pixels per tick.
void BM_MeterTickLevelsMove(benchmark::State& state) {
    meterTicks(state, [](size_t i, int64_t tick) {
        return (0.1 + 0.05 * i) * (0.7 + 0.3 * std::sin(0.126 * tick + i));
    });
}
BENCHMARK(BM_MeterTickLevelsMove)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// The worst case: every one of the 16 levels jumps on every tick, so every bar repaints most of
// itself.
void BM_MeterTickAllBarsChange(benchmark::State& state) {
    meterTicks(state, [](size_t i, int64_t tick) { return tick % 2 ? 0.9 : 0.2 + 0.01 * i; });
}
BENCHMARK(BM_MeterTickAllBarsChange)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_PollTick(benchmark::State& state) {
    g_rig->panel->meters().stop();
    g_rig->poller->stop();
    int code = 0;
    for (auto _ : state) {
        // A knob moved on the device each time, so the display really changes.
        state.PauseTiming();
        g_rig->usb.model().setGainCode(1, static_cast<uint8_t>(code++ % 250));
        g_rig->usb.model().clearTransfers();
        state.ResumeTiming();
        g_rig->poller->tick();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PollTick)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_PollTickUnchanged(benchmark::State& state) {
    g_rig->panel->meters().stop();
    g_rig->poller->stop();
    g_rig->poller->tick();
    QApplication::processEvents();
    PaintCounter paints;
    for (auto _ : state) {
        state.PauseTiming();
        g_rig->usb.model().clearTransfers();
        state.ResumeTiming();
        g_rig->poller->tick();
        QApplication::processEvents();
    }
    state.counters["paints"] = double(paints.barPaints + paints.otherPaints) / state.iterations();
}
BENCHMARK(BM_PollTickUnchanged)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int measureCpu(int seconds) {
    QApplication::processEvents();
    const double processBefore = cpuSeconds(RUSAGE_SELF), threadBefore = cpuSeconds(RUSAGE_THREAD);
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QApplication::exec();
    const double elapsed = wall.elapsed() / 1000.0;
    const double process = (cpuSeconds(RUSAGE_SELF) - processBefore) / elapsed * 100;
    const double mainThread = (cpuSeconds(RUSAGE_THREAD) - threadBefore) / elapsed * 100;
    std::printf(
        "panel running %.1f s: CPU %.2f %% of one core (main thread %.2f %%, process incl. the "
        "emulated audio thread %.2f %%)\n",
        elapsed, mainThread, mainThread, process);
    return 0;
}

// 100 scroll-wheel steps on a crosspoint that is on: 100 level writes to the interface and 100
// changes of the stored level. Argument: the preferences' write delay in ms (0: a file write
// per step, as before bursts were gathered; 250: the panel's setting, one write at the end).
void BM_ScrollHundredSteps(benchmark::State& state) {
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setWriteDelay(static_cast<int>(state.range(0)));
    RoutingModel& routing = *g_rig->routing;
    if (!routing.isOn(5, 1)) routing.toggle(5, 1);
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i)
            routing.setLevel(5, 1, routing.level(5, 1) + crosspointScrollStep(i % 2 ? 1.0 : -1.0));
        defaults.flush();
    }
    defaults.setWriteDelay(0);
}
BENCHMARK(BM_ScrollHundredSteps)->Arg(0)->Arg(250)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir scratch;
    qputenv("H8_CONFIG_DIR", (scratch.path() + "/config").toUtf8());
    qputenv("H8_LOG_DIR", (scratch.path() + "/logs").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("H8_BENCH_NO_LOG")) NorvShareHelper::disableLogFile();
    Rig rig;
    g_rig = &rig;
    if (argc == 3 && std::strcmp(argv[1], "--cpu-seconds") == 0)
        return measureCpu(std::max(10, std::atoi(argv[2])));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
