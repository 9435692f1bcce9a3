// The panel's cost on the main thread, on the emulated H8 (in-process USB, synthetic audio).
//
//   bench_panel                      Google Benchmark: one meter tick (16 levels to 16 bars and
//                                    the repaint of what changed) and one poll tick (three
//                                    transfers, decoding, the display update and its repaint).
//                                    Target: under 200 µs each. And 100 scroll steps on a
//                                    crosspoint, with the preferences written per step (0) or
//                                    gathered (250 ms, the panel's setting).
//   bench_panel --cpu-seconds N      runs the panel as a user would (meters moving, poll
//                                    running) for N seconds (at least 10) and prints the CPU
//                                    time per second of wall time, for the process and for the
//                                    main thread. Target: under 2 % of one core.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "core/audio_devices.h"
#include "core/audio_helper.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/user_defaults.h"
#include "ui/sections/main_contain_view.h"

namespace {

using namespace h8;

struct Rig {
    emulated::EmulatedUsbTransport usb;
    std::unique_ptr<emulated::EmulatedAudioBackend> audio;
    std::unique_ptr<SimplyCoreAudio> simply;
    std::unique_ptr<ui::NorvMainContainView> panel;

    Rig() {
        usb.plug();
        startUSBMonitoring(usb);
        audio = std::make_unique<emulated::EmulatedAudioBackend>(usb.model());
        SimplyCoreAudio::setBackend(audio.get());
        simply = std::make_unique<SimplyCoreAudio>();
        NorvShareHelper::shared().audio =
            std::make_shared<NorvAudioHelper>(findH8AudioDevice(simply->allDevices()));
        panel = std::make_unique<ui::NorvMainContainView>();
        panel->show();
        QApplication::processEvents();
    }
    ~Rig() {
        panel.reset();
        NorvShareHelper::shared().audio.reset();
        simply.reset();
        SimplyCoreAudio::setBackend(nullptr);
        stopUSBMonitoring();
    }
};

Rig* g_rig = nullptr;

void BM_MeterTick(benchmark::State& state) {
    g_rig->panel->timer->stop();
    g_rig->panel->stateTimer->stop();
    for (auto _ : state) {
        g_rig->panel->timerFired();
        QApplication::processEvents();  // the repaint of the bars that changed
    }
}
BENCHMARK(BM_MeterTick)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// The worst case: every one of the 16 levels changes on every tick, so every bar repaints.
void BM_MeterTickAllBarsChange(benchmark::State& state) {
    g_rig->panel->timer->stop();
    g_rig->panel->stateTimer->stop();
    const auto& engines = *NorvShareHelper::shared().inputUnits;
    for (const auto& e : engines) e->stop();  // levels come from here only
    bool high = false;
    for (auto _ : state) {
        state.PauseTiming();
        high = !high;
        for (size_t i = 0; i < engines.size(); ++i)
            engines[i]->setVolumeIntensity(high ? 0.9 : 0.2 + 0.01 * i);
        state.ResumeTiming();
        g_rig->panel->timerFired();
        QApplication::processEvents();
    }
    for (const auto& e : engines) e->start();
}
BENCHMARK(BM_MeterTickAllBarsChange)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_PollTick(benchmark::State& state) {
    g_rig->panel->timer->stop();
    g_rig->panel->stateTimer->stop();
    int code = 0;
    for (auto _ : state) {
        // A knob moved on the device each time, so the display really changes.
        state.PauseTiming();
        g_rig->usb.model().setGainCode(1, static_cast<uint8_t>(code++ % 250));
        g_rig->usb.model().clearTransfers();
        state.ResumeTiming();
        g_rig->panel->timerStateFired();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PollTick)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

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
    CrosspointGrid* grid = g_rig->panel->grid();
    if (!grid->isOn(5, 1)) grid->click(5, 1);
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i) grid->scroll(5, 1, i % 2 ? 1.0 : -1.0);
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
