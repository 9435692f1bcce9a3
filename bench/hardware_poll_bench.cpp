// One tick of the hardware-state poll against the in-process emulated H8: the three control
// transfers (hardware state, OTG port, headphone mute) and the decoding into the store.
// Target: under 20 µs per tick.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "core/device_controls.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_usb_transport.h"

namespace {

void BM_HardwarePollTick(benchmark::State& state) {
    QTemporaryDir dir;
    qputenv("H8_CONFIG_DIR", dir.path().toUtf8());
    h8::emulated::EmulatedUsbTransport usb;
    usb.model().setGainCode(1, 120);
    usb.model().setPhantomPower(1, true);
    usb.plug();
    h8::UsbInterface usbInterface;
    const h8::UsbInterface::Installation installed(usbInterface);
    if (!h8::startUSBMonitoring(usb, usbInterface)) {
        state.SkipWithError("the emulated H8 was not bound");
        return;
    }
    for (auto _ : state) {
        auto poll = h8::pollHardwareState(usbInterface);
        benchmark::DoNotOptimize(poll);
    }
    h8::stopUSBMonitoring();
}
BENCHMARK(BM_HardwarePollTick)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    h8::NorvShareHelper::disableLogFile();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
