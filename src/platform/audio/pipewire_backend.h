// The audio backend on the PipeWire sound server: lists the server's audio devices, follows
// their appearance and removal, sets the graph's sample rate and captures input channels.
//
// Threads: PipeWire's events arrive on a thread of its own, which keeps its copy of the server's
// objects under the thread-loop lock and hands every change to the main thread as a complete
// new device list. The main thread's list, which devices() and device() read, is only touched
// on the main thread, and the signals are emitted there after it has been updated. Capture
// callbacks run on PipeWire's real-time data thread.
#pragma once

#include "platform/audio/audio_backend.h"
#include "platform/audio/pipewire_model.h"

#include <QHash>
#include <QString>
#include <memory>

namespace h8 {

class PipeWireBackend final : public AudioBackend {
    Q_OBJECT
public:
    // Connects to the server (PIPEWIRE_REMOTE / PIPEWIRE_RUNTIME_DIR / XDG_RUNTIME_DIR) and
    // returns once the server's devices are known, so that devices() is complete. Null, with a
    // one-line reason in `error`, when no server answers within two seconds.
    static std::unique_ptr<PipeWireBackend> create(QString* error = nullptr);
    ~PipeWireBackend() override;

    QList<AudioDeviceInfo> devices() const override;
    std::optional<AudioDeviceInfo> device(uint32_t id) const override;
    // The graph has one rate for all devices: this forces it for the whole server (the
    // "clock.force-rate" setting) and returns once the server has confirmed it.
    bool setNominalSampleRate(uint32_t id, double rate) override;
    // Captures the device's widest input node in its own channel order, at the graph rate.
    std::unique_ptr<CaptureStream> startCapture(uint32_t id, CaptureSink* sink) override;

    // Lets the server choose the graph rate again (undoes setNominalSampleRate). True once the
    // server has confirmed it.
    bool releaseNominalSampleRate();

    // Implementation details, defined in the source file.
    struct Connection;
    struct Registry;

private:
    explicit PipeWireBackend(std::shared_ptr<Connection> connection);

    bool writeForceRate(uint32_t rate);
    // Takes a new device list from the PipeWire thread; older lists than the current are ignored.
    void apply(uint64_t generation, const pw::DeviceModel& model);

    std::shared_ptr<Connection> connection_;
    std::unique_ptr<Registry> registry_;  // PipeWire-thread state, under the thread-loop lock

    // Main-thread state.
    uint64_t generation_ = 0;
    pw::DeviceModel model_;
};

}  // namespace h8
