// Test helper: an audio backend whose device list and properties the test sets directly.
// Changes are signalled synchronously; capture delivers nothing unless the test pushes
// samples with deliver().
#pragma once

#include <QList>
#include <utility>

#include "platform/audio/audio_backend.h"

namespace h8::test {

class FakeAudioBackend : public AudioBackend {
    Q_OBJECT
public:
    QList<AudioDeviceInfo> list;
    bool acceptRates = true;
    bool available = true;  // false: as without a sound server
    int capturesStarted = 0;
    CaptureSink* activeSink = nullptr;

    // Replaces the list and signals the change, and the streams of every device that stays
    // but whose inputs or outputs changed.
    void setDevices(QList<AudioDeviceInfo> devices) {
        const QList<AudioDeviceInfo> before = std::exchange(list, std::move(devices));
        emit devicesChanged();
        for (const AudioDeviceInfo& now : list) {
            for (const AudioDeviceInfo& was : before) {
                if (was.id == now.id && (was.inputChannels != now.inputChannels ||
                                         was.outputChannels != now.outputChannels ||
                                         was.inputStreamId != now.inputStreamId)) {
                    emit streamsChanged(now.id);
                }
            }
        }
    }
    void setRate(uint32_t id, double rate) {
        for (AudioDeviceInfo& d : list) {
            if (d.id == id) d.nominalSampleRate = rate;
        }
        emit nominalSampleRateChanged(id);
    }
    void deliver(const float* samples, uint32_t frames, uint32_t channels) {
        if (activeSink) activeSink->process(samples, frames, channels);
    }

    // The sound server stops (the list empties) or starts again with `devices`.
    void setAvailable(bool on, QList<AudioDeviceInfo> devices = {}) {
        available = on;
        setDevices(std::move(devices));
        emit availabilityChanged();
    }

    bool isAvailable() const override { return available; }
    QList<AudioDeviceInfo> devices() const override { return list; }
    std::optional<AudioDeviceInfo> device(uint32_t id) const override {
        for (const AudioDeviceInfo& d : list) {
            if (d.id == id) return d;
        }
        return std::nullopt;
    }
    bool setNominalSampleRate(uint32_t id, double rate) override {
        if (!acceptRates || !device(id)) return false;
        setRate(id, rate);
        return true;
    }
    std::unique_ptr<CaptureStream> startCapture(uint32_t id, CaptureSink* sink) override;
};

// An H8-like device: USB, model H8:309C:0018, `inputs` channels, 48 kHz.
AudioDeviceInfo fakeInterface(uint32_t id, uint32_t inputs = 16);

}  // namespace h8::test
