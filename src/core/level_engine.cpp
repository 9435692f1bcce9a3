#include "core/level_engine.h"

#include <QHash>
#include <algorithm>
#include <cmath>

namespace h8 {

double levelFromSumOfSquares(double s) noexcept {
    double level = std::sqrt(s);
    if (level > 2.0) level *= 0.25;
    if (level > 1.0) level *= 0.5;
    if (!(level >= 0.0)) return 0.0;  // negative or NaN
    return level > 1.0 ? 1.0 : level;
}

LevelMeter::LevelMeter(uint32_t channels)
    : count_(std::min(channels, kMaxChannels)),
      levels_(new std::atomic<double>[count_ ? count_ : 1]) {
    for (uint32_t c = 0; c < count_; ++c) levels_[c].store(0.0, std::memory_order_relaxed);
}

double LevelMeter::level(uint32_t channel) const noexcept {
    return channel < count_ ? levels_[channel].load(std::memory_order_relaxed) : 0.0;
}

void LevelMeter::setLevel(uint32_t channel, double value) noexcept {
    if (channel < count_) levels_[channel].store(value, std::memory_order_relaxed);
}

namespace {

// The sum of squares of the first n channels of each frame, into sums[0..n). Inlined where
// it is called with a constant count, the compiler keeps the sums in registers and handles
// several channels per instruction (a 16-channel interface's cycle in about half the time).
[[gnu::always_inline]] inline void sumSquares(const float* interleaved, uint32_t frames,
                                              uint32_t channels, uint32_t n,
                                              double* sums) noexcept {
    for (uint32_t f = 0; f < frames; ++f) {
        const float* frame = interleaved + static_cast<size_t>(f) * channels;
        for (uint32_t c = 0; c < n; ++c) {
            const double x = frame[c];
            sums[c] += x * x;
        }
    }
}

}  // namespace

void LevelMeter::process(const float* interleaved, uint32_t frames, uint32_t channels) noexcept {
    if (!interleaved || channels == 0) return;
    const uint32_t n = std::min(channels, count_);
    double sums[kMaxChannels] = {};
    if (channels == 16 && n == 16)
        sumSquares(interleaved, frames, 16, 16, sums);
    else if (channels == 2 && n == 2)
        sumSquares(interleaved, frames, 2, 2, sums);
    else
        sumSquares(interleaved, frames, channels, n, sums);
    for (uint32_t c = 0; c < n; ++c) {
        levels_[c].store(levelFromSumOfSquares(sums[c]), std::memory_order_relaxed);
    }
}

// ---- DeviceCapture ----

class DeviceCapture {
public:
    DeviceCapture(uint32_t deviceId, uint32_t channels, uint32_t streamId)
        : deviceId_(deviceId), streamId_(streamId), meter_(channels) {}

    LevelMeter& meter() { return meter_; }

    bool retain() {
        if (users_++ == 0 && !stream_) {
            AudioBackend* backend = SimplyCoreAudio::backend();
            if (backend) stream_ = backend->startCapture(deviceId_, &meter_);
        }
        return stream_ != nullptr;
    }
    void release() {
        if (users_ > 0 && --users_ == 0) stream_.reset();
    }

    // The capture shared by the engines of one device; a new one once all of them are gone, or
    // once the device's inputs were replaced (other channel count or stream): the engines of an
    // earlier build may still hold the old one, which keeps its own size until they go.
    static std::shared_ptr<DeviceCapture> forDevice(const AudioDevice& device) {
        static QHash<uint32_t, std::weak_ptr<DeviceCapture>> captures;
        const uint32_t channels = device.channels(Scope::input);
        const uint32_t streamId = device.inputStreamId();
        std::shared_ptr<DeviceCapture> capture = captures.value(device.id()).lock();
        if (!capture ||
            capture->meter_.channelCount() != std::min(channels, LevelMeter::kMaxChannels) ||
            capture->streamId_ != streamId) {
            capture = std::make_shared<DeviceCapture>(device.id(), channels, streamId);
            // Devices come and go with new ids over a long run: forget the ones nobody holds.
            captures.removeIf([](const auto& entry) { return entry.value().expired(); });
            captures.insert(device.id(), capture);
        }
        return capture;
    }

private:
    uint32_t deviceId_;
    uint32_t streamId_;
    LevelMeter meter_;
    int users_ = 0;
    std::unique_ptr<CaptureStream> stream_;
};

Engine::Engine(AudioDevicePtr device, int index) : device_(std::move(device)), index_(index) {
    if (device_) capture_ = DeviceCapture::forDevice(*device_);
}

Engine::~Engine() {
    stop();
}

bool Engine::hasChannel() const {
    return capture_ && index_ >= 0 &&
           static_cast<uint32_t>(index_) < capture_->meter().channelCount();
}

double Engine::volumeIntensity() const noexcept {
    return hasChannel() ? capture_->meter().level(static_cast<uint32_t>(index_)) : 0.0;
}

void Engine::setVolumeIntensity(double value) noexcept {
    if (hasChannel()) capture_->meter().setLevel(static_cast<uint32_t>(index_), value);
}

bool Engine::start() {
    if (!hasChannel()) return false;
    if (running_) return true;
    running_ = true;
    return capture_->retain();
}

void Engine::stop() {
    if (!running_) return;
    running_ = false;
    capture_->release();
}

}  // namespace h8
