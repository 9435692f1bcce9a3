// The audio backend on the PipeWire sound server: lists the server's audio devices, follows
// their appearance and removal, sets a device's sample rate and captures input channels.
//
// Threads: PipeWire's events arrive on a thread of its own, which keeps its copy of the server's
// objects under the thread-loop lock and hands every change to the main thread as a complete
// new device list. The main thread's list, which devices() and device() read, is only touched
// on the main thread, and the signals are emitted there after it has been updated. Capture
// callbacks run on PipeWire's real-time data thread.
#pragma once

#include <QHash>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <string>

#include "platform/audio/audio_backend.h"
#include "platform/audio/pipewire_model.h"
#include "platform/clock.h"

namespace h8 {

class PipeWireBackend final : public AudioBackend {
    Q_OBJECT
public:
    // Connects to the server (PIPEWIRE_REMOTE / PIPEWIRE_RUNTIME_DIR / XDG_RUNTIME_DIR) and
    // returns once the server's devices are known, so that devices() is complete. Null, with a
    // one-line reason in `error`, when no server answers within two seconds.
    static std::unique_ptr<PipeWireBackend> create(QString* error = nullptr);
    // The same for a program that runs for long: never null. Without a server (`error` then
    // says why) and whenever the server goes away, the list is empty and the backend keeps
    // trying to connect in the background, with growing pauses up to kMaxRetryMs; devices
    // appear once the server is back. Devices of a new connection get new ids. The pauses run
    // on `clock` (the real time without one), which must outlive the backend.
    static std::unique_ptr<PipeWireBackend> createReconnecting(QString* error = nullptr,
                                                               Clock* clock = nullptr);
    ~PipeWireBackend() override;

    static constexpr int kFirstRetryMs = 250;
    static constexpr int kMaxRetryMs = 5000;

    bool isAvailable() const override { return registry_ != nullptr && ready_; }
    // Times the backend looked for a server since it was created (tests: no busy loop).
    int connectionAttempts() const { return attempts_; }

    QList<AudioDeviceInfo> devices() const override;
    std::optional<AudioDeviceInfo> device(uint32_t id) const override;
    // Sets the rate on the device's own nodes, as their Props "audio.rate" (the runtime setting
    // ALSA nodes take), and returns once every one of them reports it; other devices and the
    // graph's settings are left alone. False when the device has no node that takes a rate.
    // The rate is remembered by the device's uid and set again whenever its nodes come anew (a
    // re-plug, a profile switch, a server restart), until another program sets another rate
    // on them.
    bool setNominalSampleRate(uint32_t id, double rate) override;
    // Captures the device's widest input node in its own channel order, at the graph rate.
    std::unique_ptr<CaptureStream> startCapture(uint32_t id, CaptureSink* sink) override;

    // Implementation details, defined in the source file.
    struct Connection;
    struct Registry;

private:
    PipeWireBackend() = default;

    // Opens a connection and starts following the server's objects. With `wait`, returns once
    // the initial list is known (at most 2 s); otherwise at once, the list following later.
    bool openSession(bool wait, QString* error);
    void closeSession();
    // Main thread, queued from the PipeWire thread of connection `epoch`.
    void sessionReady(uint32_t epoch);
    void connectionLost(uint32_t epoch);
    void scheduleRetry();
    void retry();

    // Takes a new device list from the PipeWire thread; lists of an older connection, or older
    // than the current one, are ignored.
    void apply(uint32_t epoch, uint64_t generation, const pw::DeviceModel& model);

    std::shared_ptr<Connection> connection_;
    std::unique_ptr<Registry> registry_;  // PipeWire-thread state, under the thread-loop lock

    // Main-thread state.
    uint32_t epoch_ = 0;  // counts connections; part of every device id after the first
    bool ready_ = false;  // the current connection's initial list has arrived
    bool reconnect_ = false;
    int attempts_ = 0;
    int retryDelayMs_ = kFirstRetryMs;
    SystemClock systemClock_;
    std::unique_ptr<ClockTimer> retryTimer_;
    std::unique_ptr<ClockTimer> answerTimer_;  // a server that accepts but never answers
    uint64_t generation_ = 0;
    pw::DeviceModel model_;
    // The rates set through setNominalSampleRate, by device uid, kept across connections: the
    // registry of the current connection holds the live copy.
    std::map<std::string, uint32_t, std::less<>> chosenRates_;
};

}  // namespace h8
