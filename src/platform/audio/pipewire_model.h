// How PipeWire's objects become the audio devices the panel shows. Pure functions over plain
// copies of the objects' properties, so they can run on any thread and be tested without a
// sound server. PipeWireBackend feeds them from its registry.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio/audio_backend.h"

struct spa_pod;
struct spa_pod_builder;

namespace h8::pw {

using Properties = std::map<std::string, std::string, std::less<>>;

// A PipeWire device of class Audio/Device.
struct DeviceObject {
    Properties props;
};

// A PipeWire node of class Audio/Source, Audio/Sink or Audio/Duplex.
struct NodeObject {
    Properties props;
    std::optional<float> channelVolume;  // linear volume of the first channel, when known
    // The node's own rate setting ("audio.rate" in its Props, as ALSA nodes have it): 0 leaves
    // the rate to the server; absent while unknown or for a node that takes no such setting.
    std::optional<uint32_t> rate;
};

// The graph clock settings from the server's "settings" metadata (0 = not set). A node that
// leaves its rate to the server runs at the graph's.
struct GraphSettings {
    uint32_t clockRate = 0;
    uint32_t forceRate = 0;

    // The rate the graph runs at: the forced rate, else the configured rate, else 48 kHz.
    uint32_t rate() const;
};

// What a capture stream needs to know about a device's input node.
struct CaptureSource {
    uint32_t nodeId = 0;
    QString target;  // value for the stream's target.object
    uint32_t channels = 0;
    std::vector<uint32_t> positions;  // SPA channel positions, one per channel

    bool operator==(const CaptureSource&) const = default;
};

struct DeviceModel {
    QList<AudioDeviceInfo> devices;                 // ordered by PipeWire global id
    QHash<uint32_t, CaptureSource> captureSources;  // by device id; only devices with an input

    bool operator==(const DeviceModel&) const = default;
};

// Groups nodes under their devices (through the node's device.id) and describes every device
// and every Audio/Source or Audio/Sink node that belongs to no device. Keys are global ids. A
// device's rate is the first (lowest id) of its nodes' own rates that is set, else the graph's.
DeviceModel buildDeviceModel(const std::map<uint32_t, DeviceObject>& devices,
                             const std::map<uint32_t, NodeObject>& nodes,
                             const GraphSettings& graph);

// The transport a device's (or lone node's) properties tell, if any.
std::optional<TransportType> transportFromProperties(const Properties& props);

// "<product>:<VVVV>:<PPPP>" from the product name and the vendor and product ids as PipeWire
// gives them ("0x309c"); absent when either id is missing or not a 16-bit hexadecimal number.
std::optional<QString> modelUidFrom(const QString& product, std::string_view vendorId,
                                    std::string_view productId);

// Parses an audio.position value ("[ AUX0 AUX1 ]", "FL,FR") into SPA channel positions. When
// the value is missing, lists a different number of channels, or names an unknown position,
// gives AUX0..AUXn-1 so that each channel still keeps its own index.
std::vector<uint32_t> parseChannelPositions(std::string_view value, uint32_t channels);

// Parses a decimal unsigned property value; absent when it is not one.
std::optional<uint32_t> parseUnsigned(std::string_view value);

// The "audio.rate" of a Props param: ALSA nodes list their runtime settings as key/value pairs
// in its SPA_PROP_params struct. Absent when `param` is no Props object, lists no such key, or
// gives a value that is not a rate (an integer, a long or a decimal string from 0 to 2^32 - 1).
// A node reports several Props objects (its converter's and its own); only one names it.
std::optional<uint32_t> rateFromProps(const spa_pod* param);

// The Props param that sets a node's "audio.rate" (0 leaves it to the server), built into
// `builder`; null when it does not fit.
const spa_pod* buildRateProps(spa_pod_builder* builder, uint32_t rate);

}  // namespace h8::pw
