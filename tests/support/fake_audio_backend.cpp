#include "fake_audio_backend.h"

namespace h8::test {
namespace {
class FakeCapture : public CaptureStream {
public:
    explicit FakeCapture(FakeAudioBackend* backend) : backend_(backend) {}
    ~FakeCapture() override { backend_->activeSink = nullptr; }

private:
    FakeAudioBackend* backend_;
};
}  // namespace

std::unique_ptr<CaptureStream> FakeAudioBackend::startCapture(uint32_t id, CaptureSink* sink) {
    const auto d = device(id);
    if (!d || d->inputChannels == 0) return nullptr;
    ++capturesStarted;
    activeSink = sink;
    return std::make_unique<FakeCapture>(this);
}

AudioDeviceInfo fakeInterface(uint32_t id, uint32_t inputs) {
    AudioDeviceInfo d;
    d.id = id;
    d.uid = QStringLiteral("alsa_card.usb-Norvalt_H8_1234ABCD-00");
    d.name = QStringLiteral("H8");
    d.modelUID = QStringLiteral("H8:309C:0018");
    d.transportType = TransportType::usb;
    d.inputChannels = inputs;
    d.outputChannels = 8;
    d.nominalSampleRate = 48000;
    d.volumeScalar = 0.5f;
    return d;
}

}  // namespace h8::test
