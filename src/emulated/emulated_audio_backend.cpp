#include "emulated/emulated_audio_backend.h"

#include <pthread.h>
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace h8::emulated {
namespace {

bool isInterfaceRate(double rate) {
    return rate == 44100 || rate == 48000 || rate == 88200 || rate == 96000;
}

// Renders the synthetic input signal in real time on its own thread: every cycle of
// kFramesPerCycle frames at the current rate goes to the sink. Like a sound server with a
// period of several cycles, the thread wakes about every kWakePeriodMs and delivers the cycles of
// that period one after the other, instead of waking for each cycle (5.8 ms at 44.1 kHz). The
// period stays under the panel's 50 ms meter tick, so every tick sees new levels.
//
// The signal is synthetic, so nothing is lost when a wake-up comes late: the thread lets the
// kernel delay each one by up to kWakeSlackMs (its timer slack), which lets it serve the wake-up
// together with the next timer of another thread, usually the panel's meter tick, rather than
// wake the machine twice. It then delivers the cycles it owes in one go.
class SyntheticCapture final : public CaptureStream {
public:
    static constexpr double kWakePeriodMs = 48;
    static constexpr unsigned long kWakeSlackMs = 50;

    SyntheticCapture(CaptureSink* sink, uint32_t channels, const std::atomic<double>& rate)
        : sink_(sink),
          channels_(std::min(channels, EmulatedAudioBackend::kInterfaceInputs)),
          rate_(rate),
          buffer_(static_cast<size_t>(EmulatedAudioBackend::kFramesPerCycle) * channels) {
        for (uint32_t c = 0; c < channels_; ++c) {
            phaseSin_[c] = std::sin(double(c));
            phaseCos_[c] = std::cos(double(c));
            amplitude_[c] = EmulatedAudioBackend::channelAmplitude(c);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~SyntheticCapture() override {
        {
            // Woken at once rather than after its (slack) sleep: a capture stops on the main
            // thread.
            const std::lock_guard lock(sleep_);
            stop_.store(true);
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    static constexpr double kTwoPi = 6.283185307179586;
    static constexpr double kCarrierHz = 440.0;

    // One cycle starting at `t` seconds of signal.
    void render(double t, double rate) {
        const uint32_t frames = EmulatedAudioBackend::kFramesPerCycle;
        // A slow swell per channel (constant over one short cycle), so the meters move:
        // 0.7 + 0.3 sin(2π·0.4·t + c), with sin(a + c) = sin a cos c + cos a sin c.
        float gain[EmulatedAudioBackend::kInterfaceInputs];
        const double swellSin = std::sin(kTwoPi * 0.4 * t), swellCos = std::cos(kTwoPi * 0.4 * t);
        for (uint32_t c = 0; c < channels_; ++c) {
            const double swell = 0.7 + 0.3 * (swellSin * phaseCos_[c] + swellCos * phaseSin_[c]);
            gain[c] = static_cast<float>(amplitude_[c] * swell);
        }
        // The carrier sin(2π·440·(t + f/rate)) by rotating a unit phasor one frame's angle at
        // a time: two sin/cos per cycle instead of one sin per frame, the same samples to
        // within float precision over a cycle.
        const double step = kTwoPi * kCarrierHz / rate;
        const double stepCos = std::cos(step), stepSin = std::sin(step);
        double re = std::cos(kTwoPi * kCarrierHz * t), im = std::sin(kTwoPi * kCarrierHz * t);
        float carrier[EmulatedAudioBackend::kFramesPerCycle];
        for (uint32_t f = 0; f < frames; ++f) {
            carrier[f] = static_cast<float>(im);
            const double nextRe = re * stepCos - im * stepSin;
            im = re * stepSin + im * stepCos;
            re = nextRe;
        }
        // The interface's 16 inputs as a constant count.
        if (channels_ == EmulatedAudioBackend::kInterfaceInputs)
            fill(carrier, gain, EmulatedAudioBackend::kInterfaceInputs);
        else
            fill(carrier, gain, channels_);
        sink_->process(buffer_.data(), frames, channels_);
    }

    // Frame f, channel c: gain[c] · carrier[f]. Inlined with a constant count, a frame is a
    // few vector multiplications.
    [[gnu::always_inline]] void fill(const float* carrier, const float* gain, uint32_t channels) {
        for (uint32_t f = 0; f < EmulatedAudioBackend::kFramesPerCycle; ++f) {
            float* frame = buffer_.data() + static_cast<size_t>(f) * channels;
            for (uint32_t c = 0; c < channels; ++c) frame[c] = gain[c] * carrier[f];
        }
    }

    void run() {
        pthread_setname_np(pthread_self(), "h8-emu-audio");
        prctl(PR_SET_TIMERSLACK, kWakeSlackMs * 1'000'000UL);
        using Clock = std::chrono::steady_clock;
        auto next = Clock::now();
        double t = 0;  // seconds of signal rendered
        while (!stop_.load(std::memory_order_relaxed)) {
            const double rate = rate_.load(std::memory_order_relaxed);
            const uint32_t frames = EmulatedAudioBackend::kFramesPerCycle;
            const auto cycles = static_cast<uint32_t>(
                std::max(1.0, std::floor(kWakePeriodMs / 1000 * rate / frames)));
            for (uint32_t i = 0; i < cycles; ++i) {
                render(t, rate);
                t += frames / rate;
            }
            next += std::chrono::microseconds(static_cast<int64_t>(cycles * frames * 1e6 / rate));
            std::unique_lock lock(sleep_);
            wake_.wait_until(lock, next, [this] { return stop_.load(); });
        }
    }

    CaptureSink* sink_;
    uint32_t channels_;
    const std::atomic<double>& rate_;
    std::vector<float> buffer_;
    double phaseSin_[EmulatedAudioBackend::kInterfaceInputs] = {};  // each channel's swell phase
    double phaseCos_[EmulatedAudioBackend::kInterfaceInputs] = {};
    double amplitude_[EmulatedAudioBackend::kInterfaceInputs] = {};
    std::atomic<bool> stop_{false};
    std::mutex sleep_;  // guards the sleep against a stop that would go unseen
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace

EmulatedAudioBackend::EmulatedAudioBackend(EmulatedH8& model, bool interfaceAttached,
                                           QObject* parent)
    : AudioBackend(parent),
      model_(model),
      attached_(interfaceAttached),
      rate_(model.state().sampleRate) {}

EmulatedAudioBackend::~EmulatedAudioBackend() = default;

float EmulatedAudioBackend::channelAmplitude(uint32_t channel) {
    // Levels from about 0.1 to 0.85 on the meters for a 256-frame cycle.
    return static_cast<float>((0.1 + 0.05 * channel) / std::sqrt(kFramesPerCycle / 2.0));
}

AudioDeviceInfo EmulatedAudioBackend::builtIn() const {
    AudioDeviceInfo d;
    d.id = kBuiltInId;
    d.uid = QStringLiteral("alsa_card.pci-0000_00_1f.3");
    d.name = QStringLiteral("Built-in Audio");
    d.transportType = TransportType::builtIn;
    d.inputChannels = 2;
    d.outputChannels = 2;
    d.nominalSampleRate = builtInRate_;
    return d;
}

AudioDeviceInfo EmulatedAudioBackend::interface() const {
    AudioDeviceInfo d;
    d.id = interfaceId_;
    d.uid = QStringLiteral("alsa_card.usb-Norvalt_H8_1234ABCD-00");
    d.name = EmulatedH8::productName();
    d.modelUID = QStringLiteral("H8:309C:0018");
    d.transportType = TransportType::usb;
    d.inputChannels = kInterfaceInputs;
    d.outputChannels = kInterfaceOutputs;
    d.nominalSampleRate = rate_.load();
    d.volumeScalar = volume_;
    return d;
}

QList<AudioDeviceInfo> EmulatedAudioBackend::devices() const {
    if (!running_) return {};
    QList<AudioDeviceInfo> list{builtIn()};
    if (attached_) list.append(interface());
    return list;
}

std::optional<AudioDeviceInfo> EmulatedAudioBackend::device(uint32_t id) const {
    if (!running_) return std::nullopt;
    if (id == kBuiltInId) return builtIn();
    if (attached_ && id == interfaceId_) return interface();
    return std::nullopt;
}

void EmulatedAudioBackend::setInterfaceAttached(bool attached) {
    if (attached == attached_) return;
    attached_ = attached;
    if (attached) ++interfaceId_;
    QMetaObject::invokeMethod(
        this, [this] { emit devicesChanged(); }, Qt::QueuedConnection);
}

void EmulatedAudioBackend::setServerRunning(bool running) {
    if (running == running_) return;
    running_ = running;
    if (running) ++interfaceId_;
    QMetaObject::invokeMethod(
        this,
        [this] {
            emit devicesChanged();
            emit availabilityChanged();
        },
        Qt::QueuedConnection);
}

void EmulatedAudioBackend::setVolumeScalar(float volume) {
    volume_ = volume;
    const uint32_t id = interfaceId_;
    QMetaObject::invokeMethod(
        this, [this, id] { emit volumeChanged(id); }, Qt::QueuedConnection);
}

bool EmulatedAudioBackend::setNominalSampleRate(uint32_t id, double rate) {
    if (!running_) return false;
    if (id == kBuiltInId && (rate == 44100 || rate == 48000)) {
        builtInRate_ = rate;
    } else if (attached_ && id == interfaceId_ && isInterfaceRate(rate)) {
        H8State s = model_.state();
        s.sampleRate = static_cast<uint32_t>(rate);
        model_.setState(s);
        rate_.store(rate);
    } else {
        return false;
    }
    QMetaObject::invokeMethod(
        this, [this, id] { emit nominalSampleRateChanged(id); }, Qt::QueuedConnection);
    return true;
}

std::unique_ptr<CaptureStream> EmulatedAudioBackend::startCapture(uint32_t id, CaptureSink* sink) {
    if (!sink || !running_ || !attached_ || id != interfaceId_) return nullptr;
    return std::make_unique<SyntheticCapture>(sink, kInterfaceInputs, rate_);
}

}  // namespace h8::emulated
