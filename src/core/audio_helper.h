// The routing engine: binds the interface's audio device, builds one level engine and one
// routing column per input channel, commits crosspoints to the interface's hardware mixer,
// keeps the route map in the user defaults and restores it after a rebuild, and follows the
// device's sample rate and main volume. Main thread only.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <memory>
#include <vector>

#include "core/audio_devices.h"
#include "core/level_engine.h"

namespace h8 {

// The user-defaults key of a crosspoint level: "volume" + source row (1-12) + destination
// col (1-12), e.g. "volume51". Two pairs of crosspoints would share a key that way ("volume111"
// is source 1 to destination 11 and source 11 to destination 1; likewise "volume112"): the key
// keeps its meaning for source 1, and sources 11 to destinations 1 and 2 get keys of their own,
// "volume11_1" and "volume11_2".
QString crosspointLevelKey(int row, int col);

// The stored level (0..100) of a crosspoint that is on. A level that was never stored counts
// as 100 %, the level a new route gets from the grid; an explicitly stored 0 stays silent.
float storedCrosspointLevel(int row, int col);

// The gain byte for a crosspoint level in percent: 0xFF (off) for 0, below 0, above 100 and for
// anything that is not a finite number (a hand-edited preference), else the mixer's scale.
uint8_t crosspointLevelByte(float percent);

// The device source code of a route-map row (0-based): rows 0-3 are the hardware inputs
// (codes 8-11), rows 4 and above the playback channels (codes 0-11).
uint16_t sourceCodeForRow(int row);

// Columns of a stored route map, tolerant of whatever is stored: an entry that is not a list,
// or holds anything but booleans, is an empty column; lists are cut or padded to 16 rows.
std::vector<Output> columnsFromStoredMap(const QVariantList& map);
QVariantList storedMapFromColumns(const std::vector<std::shared_ptr<Output>>& columns);
// The map to store after an edit: `columns` in place of the stored map's first entries, and
// the stored entries beyond them kept as they were, so that storing never shrinks the map.
QVariantList mergedStoredMap(const std::vector<std::shared_ptr<Output>>& columns,
                             const QVariantList& stored);

// Switches one crosspoint on (0x80) or off (0xFF) on the device and records it in `columns`
// (a column that never started ignores an off). Does not store the map. Returns whether the
// device took the write.
bool commitCrosspoint(std::vector<std::shared_ptr<Output>>& columns, int row, int col, bool on);

class NorvAudioHelper : public QObject {
    Q_OBJECT
public:
    // One routing column per destination of the interface's mixer, whatever the audio device
    // reports as its input count (none at all without a sound server).
    static constexpr int kColumns = 12;

    // Registers the sample-rate, volume and stream listeners on the device, publishes the
    // device and its sample rate in the store and performs the first build, restoring the
    // saved routes. `hardwareDevice` may be null: the interface is then bound on USB alone (no
    // meters, no rate) until attachAudioDevice().
    explicit NorvAudioHelper(AudioDevicePtr hardwareDevice);
    ~NorvAudioHelper() override;

    // Tears down and rebuilds the engines and routing columns. Routes of the previous columns
    // are carried over and re-sent to the device with their stored levels; with restoreSaved
    // the stored route map is restored too (the device keeps its own mixer for those).
    void buildUnit(bool restoreSaved);

    // The interface's audio device appeared or went while the interface stays bound on USB
    // (a sound server started, stopped or restarted): listeners and level engines follow it;
    // the routes stay as they are and nothing is sent to the interface.
    void attachAudioDevice(AudioDevicePtr device);
    void detachAudioDevice();

    // Switches one crosspoint on or off, records it in its column and stores the route map.
    void setStartAndStop(int row, int col, bool on);

    // After an import: every column's routes taken from the stored map (nothing is sent).
    void restoreColumnsFromStoredMap();

    // Switches off on the interface every crosspoint of the mixer that no column has on (after
    // edits made while the interface could not be reached, whose offs went nowhere).
    void switchOffCrosspointsThatAreOff();

    // Re-attach to an interface that came back: the new device (null for one bound on USB
    // alone), with its listeners registered anew.
    void setHardwareDevice(AudioDevicePtr device);

    // Republishes the sample rate and rebuilds (after the device's rate changed).
    void changeSampleRate();

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

    std::vector<std::shared_ptr<Engine>> inputUnits_;
    std::vector<std::shared_ptr<Output>> outputUnits_;
    AudioDevicePtr hardwareDevice_;
    QMetaObject::Connection sampleListener_;
    QMetaObject::Connection volumeListener_;
    QMetaObject::Connection streamsListener_;
};

}  // namespace h8
