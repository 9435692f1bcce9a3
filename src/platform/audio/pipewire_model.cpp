#include "platform/audio/pipewire_model.h"

#include <spa/param/audio/raw-types.h>
#include <spa/param/param.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>
#include <spa/pod/parser.h>
#include <spa/utils/keys.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace h8::pw {

namespace {

constexpr uint32_t kDefaultGraphRate = 48000;

std::string_view lookup(const Properties& props, std::string_view key) {
    auto it = props.find(key);
    return it == props.end() ? std::string_view{} : std::string_view{it->second};
}

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

std::optional<uint16_t> parseUsbId(std::string_view value) {
    if (value.starts_with("0x") || value.starts_with("0X")) {
        value.remove_prefix(2);
    }
    if (value.empty() || value.size() > 4) {
        return std::nullopt;
    }
    uint16_t id = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), id, 16);
    if (ec != std::errc{} || end != value.data() + value.size()) {
        return std::nullopt;
    }
    return id;
}

enum class NodeRole { none, input, output, duplex };

NodeRole roleOf(const Properties& props) {
    std::string_view mediaClass = lookup(props, "media.class");
    if (mediaClass == "Audio/Source") return NodeRole::input;
    if (mediaClass == "Audio/Sink") return NodeRole::output;
    if (mediaClass == "Audio/Duplex") return NodeRole::duplex;
    return NodeRole::none;
}

bool hasInput(NodeRole role) {
    return role == NodeRole::input || role == NodeRole::duplex;
}

bool hasOutput(NodeRole role) {
    return role == NodeRole::output || role == NodeRole::duplex;
}

uint32_t channelCount(const Properties& props) {
    if (auto channels = parseUnsigned(lookup(props, "audio.channels"))) {
        return *channels;
    }
    // Without audio.channels the position list is the next best count.
    std::string_view positions = lookup(props, "audio.position");
    if (positions.empty()) {
        return 0;
    }
    return static_cast<uint32_t>(parseChannelPositions(positions, 0).size());
}

CaptureSource captureSourceOf(uint32_t nodeId, const Properties& props) {
    CaptureSource source;
    source.nodeId = nodeId;
    // The serial is unique for the server's lifetime; the name is the fallback.
    std::string_view serial = lookup(props, "object.serial");
    source.target = text(serial.empty() ? lookup(props, "node.name") : serial);
    source.channels = channelCount(props);
    source.positions = parseChannelPositions(lookup(props, "audio.position"), source.channels);
    return source;
}

// Fills the fields that come from the properties of a device or of a lone node.
void describe(AudioDeviceInfo& info, const Properties& props, std::string_view uidKey,
              std::string_view descriptionKey) {
    info.uid = text(lookup(props, uidKey));
    if (info.uid.isEmpty()) {
        info.uid = QStringLiteral("pipewire-%1").arg(info.id);
    }
    info.name = text(lookup(props, descriptionKey));
    if (info.name.isEmpty()) {
        info.name = info.uid;
    }
    std::string_view product = lookup(props, "device.product.name");
    info.modelUID =
        modelUidFrom(product.empty() ? info.name : text(product), lookup(props, "device.vendor.id"),
                     lookup(props, "device.product.id"));
    info.transportType = transportFromProperties(props);
    info.serial = text(lookup(props, "device.serial"));
    info.busPath = text(lookup(props, "device.bus-path"));
}

struct Entry {
    AudioDeviceInfo info;
    std::optional<CaptureSource> capture;
    bool volumeFromSink = false;
    bool rateFromNode = false;
};

void addNode(Entry& entry, uint32_t nodeId, const NodeObject& node, NodeRole role) {
    // Nodes come in id order: the first one with a rate of its own gives the device's.
    if (!entry.rateFromNode && node.rate.value_or(0) != 0) {
        entry.info.nominalSampleRate = *node.rate;
        entry.rateFromNode = true;
    }
    uint32_t channels = channelCount(node.props);
    if (hasInput(role)) {
        entry.info.inputChannels += channels;
        // A device with several inputs is captured through its widest one.
        if (!entry.capture || channels > entry.capture->channels) {
            entry.capture = captureSourceOf(nodeId, node.props);
        }
    }
    if (hasOutput(role)) {
        entry.info.outputChannels += channels;
        // The main output volume is that of the first output (lowest id) that reports one.
        if (!entry.volumeFromSink && node.channelVolume) {
            float linear = std::max(0.0f, *node.channelVolume);
            entry.info.volumeScalar = std::clamp(std::cbrt(linear), 0.0f, 1.0f);
            entry.volumeFromSink = true;
        }
    }
}

}  // namespace

uint32_t GraphSettings::rate() const {
    if (forceRate != 0) return forceRate;
    if (clockRate != 0) return clockRate;
    return kDefaultGraphRate;
}

std::optional<uint32_t> parseUnsigned(std::string_view value) {
    uint32_t result = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), result);
    if (value.empty() || ec != std::errc{} || end != value.data() + value.size()) {
        return std::nullopt;
    }
    return result;
}

std::optional<TransportType> transportFromProperties(const Properties& props) {
    // The machine's own audio is "Built-In" whatever bus it sits on.
    if (lookup(props, "device.form-factor") == "internal") {
        return TransportType::builtIn;
    }
    std::string_view bus = lookup(props, "device.bus");
    if (bus == "usb") return TransportType::usb;
    if (bus == "pci") return TransportType::pci;
    if (bus == "bluetooth") return TransportType::bluetooth;
    if (bus == "firewire" || bus == "ieee1394") return TransportType::fireWire;
    if (bus == "thunderbolt") return TransportType::thunderbolt;
    if (bus == "platform") return TransportType::builtIn;
    std::string_view api = lookup(props, "device.api");
    if (api == "bluez5") return TransportType::bluetooth;
    // ALSA cards that no bus claims are the board's own codecs.
    if (api == "alsa" && bus.empty()) return TransportType::builtIn;
    if (lookup(props, "node.virtual") == "true") return TransportType::virtualDevice;
    return std::nullopt;
}

std::optional<QString> modelUidFrom(const QString& product, std::string_view vendorId,
                                    std::string_view productId) {
    auto vendor = parseUsbId(vendorId);
    auto model = parseUsbId(productId);
    if (!vendor || !model) {
        return std::nullopt;
    }
    auto hex = [](uint16_t id) {
        return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')).toUpper();
    };
    return product + u':' + hex(*vendor) + u':' + hex(*model);
}

std::vector<uint32_t> parseChannelPositions(std::string_view value, uint32_t channels) {
    std::vector<uint32_t> positions;
    bool known = true;
    size_t i = 0;
    while (i < value.size()) {
        size_t start = value.find_first_not_of(" ,[]\t\n", i);
        if (start == std::string_view::npos) break;
        size_t end = value.find_first_of(" ,[]\t\n", start);
        if (end == std::string_view::npos) end = value.size();
        std::string_view name = value.substr(start, end - start);
        i = end;

        uint32_t position = SPA_AUDIO_CHANNEL_UNKNOWN;
        for (const spa_type_info* type = spa_type_audio_channel; type->name != nullptr; ++type) {
            std::string_view full = type->name;
            std::string_view shortName = full.substr(full.rfind(':') + 1);
            if (shortName == name) {
                position = type->type;
                break;
            }
        }
        known = known && position != SPA_AUDIO_CHANNEL_UNKNOWN;
        positions.push_back(position);
    }
    if (channels == 0 && known) {
        return positions;
    }
    if (!known || positions.size() != channels) {
        positions.clear();
        for (uint32_t c = 0; c < channels; ++c) {
            positions.push_back(SPA_AUDIO_CHANNEL_AUX0 + c);
        }
    }
    return positions;
}

DeviceModel buildDeviceModel(const std::map<uint32_t, DeviceObject>& devices,
                             const std::map<uint32_t, NodeObject>& nodes,
                             const GraphSettings& graph) {
    std::map<uint32_t, Entry> entries;
    for (const auto& [id, device] : devices) {
        Entry& entry = entries[id];
        entry.info.id = id;
        describe(entry.info, device.props, "device.name", "device.description");
    }
    for (const auto& [id, node] : nodes) {
        NodeRole role = roleOf(node.props);
        if (role == NodeRole::none) {
            continue;
        }
        auto owner = parseUnsigned(lookup(node.props, "device.id"));
        if (owner && devices.contains(*owner)) {
            addNode(entries[*owner], id, node, role);
            continue;
        }
        // A node without a (known) device stands for a device of its own.
        Entry& entry = entries[id];
        entry.info.id = id;
        describe(entry.info, node.props, "node.name", "node.description");
        addNode(entry, id, node, role);
    }

    DeviceModel model;
    for (auto& [id, entry] : entries) {
        if (!entry.rateFromNode) entry.info.nominalSampleRate = graph.rate();
        if (entry.capture) entry.info.inputStreamId = entry.capture->nodeId;
        model.devices.append(entry.info);
        if (entry.capture && entry.capture->channels > 0) {
            model.captureSources.insert(id, *entry.capture);
        }
    }
    return model;
}

std::optional<uint32_t> rateFromProps(const spa_pod* param) {
    if (param == nullptr || !spa_pod_is_object_type(param, SPA_TYPE_OBJECT_Props)) {
        return std::nullopt;
    }
    const spa_pod_prop* prop = spa_pod_find_prop(param, nullptr, SPA_PROP_params);
    if (prop == nullptr || !spa_pod_is_struct(&prop->value)) return std::nullopt;
    // Pairs of a string key and a value, as ALSA nodes read and write them.
    spa_pod_parser parser;
    spa_pod_frame frame;
    spa_pod_parser_pod(&parser, &prop->value);
    if (spa_pod_parser_push_struct(&parser, &frame) < 0) return std::nullopt;
    for (;;) {
        const char* key = nullptr;
        spa_pod* value = nullptr;
        if (spa_pod_parser_get_string(&parser, &key) < 0 ||
            spa_pod_parser_get_pod(&parser, &value) < 0) {
            return std::nullopt;
        }
        if (std::string_view(key) != SPA_KEY_AUDIO_RATE) continue;
        int32_t i = 0;
        int64_t l = 0;
        const char* text = nullptr;
        if (spa_pod_get_int(value, &i) >= 0) {
            return i >= 0 ? std::optional<uint32_t>(static_cast<uint32_t>(i)) : std::nullopt;
        }
        if (spa_pod_get_long(value, &l) >= 0) {
            return l >= 0 && l <= UINT32_MAX ? std::optional<uint32_t>(static_cast<uint32_t>(l))
                                             : std::nullopt;
        }
        if (spa_pod_get_string(value, &text) >= 0) return parseUnsigned(text);
        return std::nullopt;
    }
}

const spa_pod* buildRateProps(spa_pod_builder* builder, uint32_t rate) {
    spa_pod_frame object;
    spa_pod_frame params;
    spa_pod_builder_push_object(builder, &object, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    spa_pod_builder_prop(builder, SPA_PROP_params, 0);
    spa_pod_builder_push_struct(builder, &params);
    spa_pod_builder_string(builder, SPA_KEY_AUDIO_RATE);
    // ALSA nodes read an integer; rates above INT32_MAX do not exist.
    spa_pod_builder_int(builder, static_cast<int32_t>(std::min<uint32_t>(rate, INT32_MAX)));
    spa_pod_builder_pop(builder, &params);
    // Null when the builder ran out of room.
    return static_cast<const spa_pod*>(spa_pod_builder_pop(builder, &object));
}

}  // namespace h8::pw
