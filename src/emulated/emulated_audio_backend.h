// The audio side of the emulated H8, as the audio device layer sees it: the interface's audio
// device (USB, model H8:309C:0018, 16 inputs, 8 outputs, 44.1 to 96 kHz, rate kept in the
// emulated H8's state) and one built-in device. Capturing the interface delivers a synthetic
// signal, a different level on each input channel, from a thread of its own, so the same
// real-time code runs as with a sound server.
#pragma once

#include <QList>
#include <atomic>

#include "emulated/emulated_h8.h"
#include "platform/audio/audio_backend.h"

namespace h8::emulated {

class EmulatedAudioBackend : public AudioBackend {
    Q_OBJECT
public:
    static constexpr uint32_t kBuiltInId = 1;
    static constexpr uint32_t kInterfaceInputs = 16;
    static constexpr uint32_t kInterfaceOutputs = 8;
    static constexpr uint32_t kFramesPerCycle = 256;

    // `model` keeps the interface's sample rate (read once here, written on every change) and
    // must outlive the backend.
    explicit EmulatedAudioBackend(EmulatedH8& model, bool interfaceAttached = true,
                                  QObject* parent = nullptr);
    ~EmulatedAudioBackend() override;

    // The interface's audio device comes and goes with its USB plug; each attachment is a
    // new device with a new id. Posts devicesChanged (queued, as a sound server would).
    void setInterfaceAttached(bool attached);
    bool interfaceAttached() const { return attached_; }
    uint32_t interfaceId() const { return interfaceId_; }
    // The interface's main output volume, 0..1; posts volumeChanged.
    void setVolumeScalar(float volume);
    // A sound server that stops lists nothing; when it runs again, its devices come back with
    // new ids. Posts devicesChanged and availabilityChanged (queued).
    void setServerRunning(bool running);
    bool isAvailable() const override { return running_; }

    QList<AudioDeviceInfo> devices() const override;
    std::optional<AudioDeviceInfo> device(uint32_t id) const override;
    bool setNominalSampleRate(uint32_t id, double rate) override;
    std::unique_ptr<CaptureStream> startCapture(uint32_t id, CaptureSink* sink) override;

    // The synthetic amplitude of input channel c (0-based) before its slow modulation.
    static float channelAmplitude(uint32_t channel);

private:
    AudioDeviceInfo builtIn() const;
    AudioDeviceInfo interface() const;

    EmulatedH8& model_;
    bool attached_;
    bool running_ = true;
    std::atomic<double> rate_;  // the interface's rate; read by the capture thread
    uint32_t interfaceId_ = 100;
    float volume_ = 1.0f;
    double builtInRate_ = 48000;
};

}  // namespace h8::emulated
