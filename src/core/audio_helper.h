// The routing engine: binds the interface's audio device, builds one level engine per input
// channel and one routing column per destination, re-sends the routes after a rebuild, and
// follows the device's sample rate and main volume. Its columns follow the routing model (it
// lets the model commit routes while it exists). Main thread only.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "core/audio_devices.h"
#include "core/level_engine.h"
#include "core/routing_model.h"

namespace h8 {

class NorvAudioHelper : public QObject {
    Q_OBJECT
public:
    // One routing column per destination of the interface's mixer, whatever the audio device
    // reports as its input count (none at all without a sound server).
    static constexpr int kColumns = 12;

    // Registers the sample-rate, volume and stream listeners on the device, publishes the
    // device and its sample rate in the store and performs the first build, taking the columns
    // from `routing` (which must outlive the engine). `hardwareDevice` may be null: the
    // interface is then bound on USB alone (no meters, no rate) until attachAudioDevice().
    // `capturing`: whether the level engines capture from the start (see setCapturing).
    NorvAudioHelper(AudioDevicePtr hardwareDevice, RoutingModel& routing, bool capturing = true);
    ~NorvAudioHelper() override;

    // Tears down and rebuilds the engines and routing columns. Without restoreSaved (a re-bind,
    // a rate change) the routes are re-sent to the device with their levels; with it (the first
    // build) the device keeps its own mixer.
    void buildUnit(bool restoreSaved);

    // The interface's audio device appeared or went while the interface stays bound on USB
    // (a sound server started, stopped or restarted): listeners and level engines follow it;
    // the routes stay as they are and nothing is sent to the interface.
    void attachAudioDevice(AudioDevicePtr device);
    void detachAudioDevice();

    // Re-attach to an interface that came back: the new device (null for one bound on USB
    // alone), with its listeners registered anew.
    void setHardwareDevice(AudioDevicePtr device);

    // Republishes the sample rate and rebuilds (after the device's rate changed).
    void changeSampleRate();

    // Whether the level engines capture: off while nobody looks at the levels (the window
    // hidden), so that the interface's input nodes may suspend; the engines stay, at 0, and
    // capture again when switched back on.
    void setCapturing(bool capturing);
    bool isCapturing() const { return capturing_; }

    const std::vector<std::shared_ptr<Engine>>& inputUnits() const { return inputUnits_; }
    const std::vector<std::shared_ptr<Output>>& outputUnits() const { return outputUnits_; }
    const AudioDevicePtr& hardwareDevice() const { return hardwareDevice_; }

private:
    void sampleCallBack();
    void volumeCallBack();
    void removeDeviceFunc();
    void publishSampleRate();
    void addListeners();
    // Stops the level engines and starts new ones for the device's current inputs.
    void rebuildEngines();
    void publishUnits();
    // The columns from the routing model: each its routes; a column that ever had a route is
    // started, and stays so.
    void followRouting();

    std::vector<std::shared_ptr<Engine>> inputUnits_;
    std::vector<std::shared_ptr<Output>> outputUnits_;
    AudioDevicePtr hardwareDevice_;
    bool capturing_;
    QPointer<RoutingModel> routing_;  // the panel's; it may go before the engine
    QMetaObject::Connection sampleListener_;
    QMetaObject::Connection volumeListener_;
    QMetaObject::Connection streamsListener_;
};

}  // namespace h8
