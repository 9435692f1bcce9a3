// The level computation of the real-time path: 16 channels at 48 kHz, in render cycles of
// 256 frames. Reports nanoseconds per sample (target: under 2 ns) and the allocations made
// inside the timed loop (target: none).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "core/level_engine.h"

namespace {
long g_allocations = 0;
}

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

void BM_LevelMeter16ch(benchmark::State& state) {
    constexpr uint32_t kChannels = 16, kFrames = 256;
    std::vector<float> samples(kChannels * kFrames);
    for (uint32_t f = 0; f < kFrames; ++f) {
        for (uint32_t c = 0; c < kChannels; ++c) {
            samples[f * kChannels + c] =
                0.01f * (c + 1) * std::sin(6.2831853f * 1000.0f * f / 48000.0f);
        }
    }
    h8::LevelMeter meter(kChannels);
    const long before = g_allocations;
    for (auto _ : state) {
        meter.process(samples.data(), kFrames, kChannels);
        benchmark::ClobberMemory();
    }
    state.counters["allocations"] = static_cast<double>(g_allocations - before);
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kChannels * kFrames,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    benchmark::DoNotOptimize(meter.level(3));
}
BENCHMARK(BM_LevelMeter16ch);

}  // namespace

BENCHMARK_MAIN();
