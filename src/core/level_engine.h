// Input level engines and routing columns.
//
// An Engine measures one input channel of the interface's audio device. The engines of one
// device share one capture (LevelMeter + the backend's capture stream): after every render
// cycle the real-time thread computes the level of each channel from that cycle's samples and
// stores it as one relaxed 64-bit atomic, without locks or allocation. The main thread reads
// the levels twenty times a second.
//
// An Output is one column of the routing matrix: which source rows feed that destination.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/audio_devices.h"
#include "platform/audio/audio_backend.h"

namespace h8 {

// The level of one render cycle from the sum of the squares of its samples: the square root,
// quartered above 2, halved above 1, clamped to 0..1 (NaN gives 0). Not a calibrated RMS: it
// grows with the render size.
double levelFromSumOfSquares(double sumOfSquares) noexcept;

// Per-channel levels of one device, written on the real-time thread.
class LevelMeter final : public CaptureSink {
public:
    static constexpr uint32_t kMaxChannels = 64;

    explicit LevelMeter(uint32_t channels);

    uint32_t channelCount() const { return count_; }
    double level(uint32_t channel) const noexcept;
    void setLevel(uint32_t channel, double value) noexcept;

    // One render cycle: frames × channels interleaved samples. Channels beyond the meter's
    // count are ignored; meter channels the cycle does not carry keep their level.
    void process(const float* interleaved, uint32_t frames, uint32_t channels) noexcept override;

private:
    uint32_t count_;
    std::unique_ptr<std::atomic<double>[]> levels_;
};

// The capture of one device that its engines share; capture runs while at least one of its
// engines is started.
class DeviceCapture;

class Engine {
public:
    // An engine for device channel `index`. An index the device does not have (or a device
    // without inputs) gives an engine that stays at level 0.
    Engine(AudioDevicePtr device, int index);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    int index() const { return index_; }
    const AudioDevicePtr& device() const { return device_; }
    bool hasChannel() const;

    // The latest level, 0..1.
    double volumeIntensity() const noexcept;
    void setVolumeIntensity(double value) noexcept;

    void prepare() {}
    // Starts the device's capture if it is not running yet. False when capture cannot start
    // (the engine then stays at 0).
    bool start();
    void stop();
    bool isRunning() const { return running_; }

private:
    AudioDevicePtr device_;
    int index_;
    std::shared_ptr<DeviceCapture> capture_;
    bool running_ = false;
};

struct Output {
    std::vector<bool> enableArray = std::vector<bool>(16, false);
    bool isStart = false;
};

}  // namespace h8
