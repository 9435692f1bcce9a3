// The level formula, the per-channel meter with its real-time rules (no allocation), and the
// engines' handling of channels a device does not have.

#include "core/level_engine.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "fake_audio_backend.h"

// Counts the allocations made on the calling thread while counting is switched on.
namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (t_counting) ++t_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace h8 {
namespace {

TEST(LevelFormulaTest, ScalesAndClampsAsTheMetersExpect) {
    EXPECT_DOUBLE_EQ(levelFromSumOfSquares(0), 0);
    EXPECT_DOUBLE_EQ(levelFromSumOfSquares(1.5 * 1.5), 0.75);   // only the halving applies
    EXPECT_DOUBLE_EQ(levelFromSumOfSquares(2.0 * 2.0), 1.0);    // 2 is not above 2
    EXPECT_DOUBLE_EQ(levelFromSumOfSquares(3.0 * 3.0), 0.75);   // quartered, not above 1
    EXPECT_DOUBLE_EQ(levelFromSumOfSquares(5.0 * 5.0), 0.625);  // 1.25, then halved
    EXPECT_DOUBLE_EQ(levelFromSumOfSquares(10.0 * 10.0), 1.0);  // 1.25 after both, clamped
    EXPECT_DOUBLE_EQ(levelFromSumOfSquares(std::nan("")), 0);
    EXPECT_DOUBLE_EQ(levelFromSumOfSquares(-1), 0);
}

std::vector<float> ramp(uint32_t frames, uint32_t channels, const std::vector<float>& amplitude) {
    std::vector<float> s(static_cast<size_t>(frames) * channels);
    for (uint32_t f = 0; f < frames; ++f) {
        for (uint32_t c = 0; c < channels; ++c)
            s[f * channels + c] = amplitude[c] * ((f % 2) ? 1.0f : -1.0f);
    }
    return s;
}

TEST(LevelMeterTest, EachChannelSeesOnlyItsOwnSamples) {
    LevelMeter meter(4);
    // 100 frames of ±a: sum of squares 100 a², level 10 a (below 1 for a < 0.1).
    const std::vector<float> samples = ramp(100, 4, {0.01f, 0.0f, 0.05f, 0.08f});
    meter.process(samples.data(), 100, 4);
    EXPECT_NEAR(meter.level(0), 0.1, 1e-6);
    EXPECT_DOUBLE_EQ(meter.level(1), 0.0);
    EXPECT_NEAR(meter.level(2), 0.5, 1e-6);
    EXPECT_NEAR(meter.level(3), 0.8, 1e-6);
    EXPECT_DOUBLE_EQ(meter.level(4), 0.0);  // no such channel

    // A cycle with more channels than the meter: the extra ones are ignored. One with fewer:
    // the channels it does not carry keep their level.
    const std::vector<float> six = ramp(100, 6, {0.02f, 0.02f, 0.02f, 0.02f, 0.09f, 0.09f});
    meter.process(six.data(), 100, 6);
    EXPECT_NEAR(meter.level(3), 0.2, 1e-6);
    const std::vector<float> one = ramp(100, 1, {0.03f});
    meter.process(one.data(), 100, 1);
    EXPECT_NEAR(meter.level(0), 0.3, 1e-6);
    EXPECT_NEAR(meter.level(3), 0.2, 1e-6);
}

// The interface's 16 channels and a stereo device take their own, vectorised path: each count,
// with a meter as wide as the cycle or narrower, gives the levels of the plain sum of squares.
TEST(LevelMeterTest, EveryChannelCountGivesThePlainSumsLevels) {
    for (uint32_t channels : {1u, 2u, 3u, 15u, 16u, 17u}) {
        for (uint32_t count : {channels, channels - 1}) {
            if (count == 0) continue;
            SCOPED_TRACE(testing::Message() << channels << " channels, meter of " << count);
            const uint32_t frames = 256;
            std::vector<float> samples(size_t(frames) * channels);
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = 0.004f * float(i % channels + 1) * std::sin(0.37f * float(i));
            LevelMeter meter(count);
            meter.process(samples.data(), frames, channels);
            for (uint32_t c = 0; c < count; ++c) {
                double sum = 0;
                for (uint32_t f = 0; f < frames; ++f) {
                    const double x = samples[size_t(f) * channels + c];
                    sum += x * x;
                }
                EXPECT_DOUBLE_EQ(meter.level(c), levelFromSumOfSquares(sum)) << "channel " << c;
            }
        }
    }
}

TEST(LevelMeterTest, RealTimePathAllocatesNothing) {
    LevelMeter meter(16);
    const std::vector<float> samples = ramp(1024, 16, std::vector<float>(16, 0.01f));
    t_allocations = 0;
    t_counting = true;
    for (int cycle = 0; cycle < 100; ++cycle) meter.process(samples.data(), 1024, 16);
    const double level = meter.level(5);
    t_counting = false;
    EXPECT_EQ(t_allocations, 0);
    EXPECT_GT(level, 0.0);
}

class EngineTest : public testing::Test {
protected:
    void SetUp() override { SimplyCoreAudio::setBackend(&backend_); }
    void TearDown() override { SimplyCoreAudio::setBackend(nullptr); }
    AudioDevicePtr device(uint32_t inputs) {
        backend_.setDevices({test::fakeInterface(7, inputs)});
        return SimplyCoreAudio().allDevices().value(0);
    }
    test::FakeAudioBackend backend_;
};

TEST_F(EngineTest, EnginesOfOneDeviceShareOneCaptureAndReadTheirChannel) {
    const AudioDevicePtr d = device(4);
    std::vector<std::unique_ptr<Engine>> engines;
    for (int i = 0; i < 4; ++i) engines.push_back(std::make_unique<Engine>(d, i));
    for (auto& e : engines) EXPECT_TRUE(e->start());
    EXPECT_EQ(backend_.capturesStarted, 1);

    const std::vector<float> samples = ramp(100, 4, {0.0f, 0.04f, 0.0f, 0.07f});
    backend_.deliver(samples.data(), 100, 4);
    EXPECT_DOUBLE_EQ(engines[0]->volumeIntensity(), 0.0);
    EXPECT_NEAR(engines[1]->volumeIntensity(), 0.4, 1e-6);
    EXPECT_NEAR(engines[3]->volumeIntensity(), 0.7, 1e-6);

    // Stopping sets nothing by itself; the routing engine zeroes the level first.
    engines[1]->setVolumeIntensity(0);
    EXPECT_DOUBLE_EQ(engines[1]->volumeIntensity(), 0.0);
    for (auto& e : engines) e->stop();
    EXPECT_EQ(backend_.activeSink, nullptr);  // the capture ended with its last engine
}

TEST_F(EngineTest, ChannelsTheDeviceDoesNotHaveStayAtZero) {
    const AudioDevicePtr mono = device(1);
    Engine odd(mono, 1);
    EXPECT_FALSE(odd.hasChannel());
    EXPECT_FALSE(odd.start());
    EXPECT_DOUBLE_EQ(odd.volumeIntensity(), 0.0);
    odd.setVolumeIntensity(0.5);  // ignored, no crash
    odd.stop();

    const AudioDevicePtr none = device(0);
    Engine zero(none, 0);
    EXPECT_FALSE(zero.start());
    Engine noDevice(nullptr, 0);
    EXPECT_FALSE(noDevice.start());
    EXPECT_DOUBLE_EQ(noDevice.volumeIntensity(), 0.0);
}

}  // namespace
}  // namespace h8
