#include "platform/audio/pipewire_backend.h"

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/props.h>
#include <spa/pod/iter.h>
#include <spa/utils/result.h>

#include <QFileInfo>
#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/diagnostics.h"

namespace h8 {

namespace {

constexpr int64_t kConnectTimeoutNs = 2'000'000'000;
constexpr int64_t kConfirmTimeoutNs = 1'000'000'000;

class LoopLock {
public:
    explicit LoopLock(pw_thread_loop* loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
    ~LoopLock() { pw_thread_loop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pw_thread_loop* loop_;
};

pw::Properties copyProperties(const spa_dict* dict) {
    pw::Properties props;
    if (dict == nullptr) return props;
    const spa_dict_item* item;
    spa_dict_for_each(item, dict) {
        if (item->key != nullptr && item->value != nullptr) {
            props.emplace(item->key, item->value);
        }
    }
    return props;
}

const char* lookup(const spa_dict* dict, const char* key) {
    return dict ? spa_dict_lookup(dict, key) : nullptr;
}

bool isAudioNodeClass(const char* mediaClass) {
    return mediaClass != nullptr && (std::strcmp(mediaClass, "Audio/Source") == 0 ||
                                     std::strcmp(mediaClass, "Audio/Sink") == 0 ||
                                     std::strcmp(mediaClass, "Audio/Duplex") == 0);
}

// The linear volume of the first channel in a Props parameter, if it has channel volumes.
std::optional<float> firstChannelVolume(const spa_pod* param) {
    if (param == nullptr || !spa_pod_is_object_type(param, SPA_TYPE_OBJECT_Props)) {
        return std::nullopt;
    }
    const spa_pod_prop* prop = spa_pod_find_prop(param, nullptr, SPA_PROP_channelVolumes);
    if (prop == nullptr) {
        return std::nullopt;
    }
    float volumes[SPA_AUDIO_MAX_CHANNELS];
    uint32_t n = spa_pod_copy_array(&prop->value, SPA_TYPE_Float, volumes, SPA_AUDIO_MAX_CHANNELS);
    if (n == 0) {
        return std::nullopt;
    }
    return volumes[0];
}

// Device ids of connection `epoch` (0 for the first): the server counts its ids afresh after a
// restart, but a device id must never name two devices within one run.
pw::DeviceModel withEpoch(pw::DeviceModel model, uint32_t epoch) {
    if (epoch == 0) return model;
    const uint32_t offset = epoch << 20;
    for (AudioDeviceInfo& d : model.devices) {
        d.id += offset;
        if (d.inputStreamId != 0) d.inputStreamId += offset;
    }
    QHash<uint32_t, pw::CaptureSource> sources;
    for (auto it = model.captureSources.cbegin(); it != model.captureSources.cend(); ++it) {
        pw::CaptureSource source = it.value();
        source.nodeId += offset;
        sources.insert(it.key() + offset, source);
    }
    model.captureSources = std::move(sources);
    return model;
}

// The server's socket as libpipewire finds it; empty when the environment does not tell.
QString serverSocketPath() {
    QString remote = qEnvironmentVariable("PIPEWIRE_REMOTE");
    if (remote.isEmpty()) remote = QStringLiteral("pipewire-0");
    if (remote.startsWith(QLatin1Char('/'))) return remote;
    for (const char* variable : {"PIPEWIRE_RUNTIME_DIR", "XDG_RUNTIME_DIR", "USERPROFILE"}) {
        const QString dir = qEnvironmentVariable(variable);
        if (!dir.isEmpty()) return dir + QLatin1Char('/') + remote;
    }
    return {};
}

}  // namespace

// The connection to the server: the thread loop, the context and the core. Shared by the
// backend and its capture streams, so that a stream may outlive the backend.
struct PipeWireBackend::Connection {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    bool lost = false;  // under the loop lock

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ~Connection() {
        if (loop != nullptr && core != nullptr) {
            LoopLock lock(loop);
            pw_core_disconnect(core);
        }
        if (loop != nullptr) pw_thread_loop_stop(loop);
        if (context != nullptr) pw_context_destroy(context);
        if (loop != nullptr) pw_thread_loop_destroy(loop);
    }
};

// Everything the PipeWire thread knows of the server. Only touched under the loop lock: by the
// PipeWire thread in its callbacks, and by the main thread while it holds the lock.
struct PipeWireBackend::Registry {
    // A device or node proxy bound to read its full properties.
    struct Bound {
        Registry* registry = nullptr;
        uint32_t id = 0;
        pw_proxy* proxy = nullptr;
        spa_hook listener{};
        std::optional<float> channelVolume;  // from the node's Props, which may come first
        std::optional<uint32_t> rate;        // likewise
        // For a node of a device with a chosen rate: the rate last asked of the node, and the
        // chosen rate it has reported since.
        std::optional<uint32_t> requestedRate;
        std::optional<uint32_t> confirmedRate;
    };

    PipeWireBackend* backend;  // only as the target of queued calls to the main thread
    Connection* connection;
    uint32_t epoch;     // of the backend's connection this registry belongs to
    int readySeq = -1;  // the sync whose answer means the initial list has arrived
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    spa_hook coreListener{};
    bool coreHooked = false;
    // Error lines: at most kErrorsPerWindow per kErrorWindowNs, then a count of the rest.
    static constexpr int kErrorsPerWindow = 5;
    static constexpr int64_t kErrorWindowNs = 60'000'000'000;
    int errorsInWindow = 0;
    int errorsHidden = 0;
    int64_t errorWindowStart = 0;
    pw_metadata* settings = nullptr;
    uint32_t settingsId = SPA_ID_INVALID;
    spa_hook settingsListener{};

    std::map<uint32_t, std::unique_ptr<Bound>> bound;
    // Objects whose full properties have arrived.
    std::map<uint32_t, pw::DeviceObject> devices;
    std::map<uint32_t, pw::NodeObject> nodes;
    pw::GraphSettings graph;
    // Rates chosen through setNominalSampleRate, by device uid: set on the device's nodes
    // whenever they come (again), until another program sets another rate on them.
    std::map<std::string, uint32_t, std::less<>> chosenRates;

    // Round trips to the server.
    int waitSeq = -1;
    bool waitDone = false;

    // Changes are handed to the main thread once it has taken the initial list.
    bool publishing = false;
    uint64_t generation = 0;
    pw::DeviceModel published;

    Registry(PipeWireBackend* b, Connection* c, uint32_t e) : backend(b), connection(c), epoch(e) {}

    void start();
    void stop();
    // Sends a sync to the server and waits, releasing the lock, until it comes back. False when
    // `deadline` passes first or the connection is lost.
    bool roundTrip(const timespec& deadline);
    // Recomputes the device list and hands it to the main thread when it differs.
    void changed();
    pw::DeviceModel currentModel() const {
        return withEpoch(pw::buildDeviceModel(devices, nodesAsShown(), graph), epoch);
    }
    // The nodes as the device list shows them: a node of a device with a chosen rate that has
    // not said its rate yet, or leaves it to the server, is about to be given the chosen one and
    // counts at it. Otherwise a re-plugged device would first show the server's rate, then the
    // chosen one, a change that is the device settling rather than anyone's choice.
    std::map<uint32_t, pw::NodeObject> nodesAsShown() const;
    // Queues a call of the backend's `method`(epoch) on the main thread.
    void tellMainThread(void (PipeWireBackend::*method)(uint32_t));
    void dropObjects();

    // The uid of the device a node belongs to, as the device model names it (the node's own
    // name for a node without a known device); empty when it has none.
    std::string uidOfNode(uint32_t nodeId) const;
    // Asks the node for `rate` through its Props; false when the request cannot be sent.
    bool requestRate(Bound& b, uint32_t rate);
    // Sets the chosen rate on every node of a device with one that does not have it yet.
    void applyChosenRates();

    void onGlobal(uint32_t id, const char* type, const spa_dict* props);
    void onGlobalRemove(uint32_t id);
    void onDeviceInfo(Bound& b, const pw_device_info* info);
    void onNodeInfo(Bound& b, const pw_node_info* info);
    void onNodeParam(Bound& b, uint32_t paramId, const spa_pod* param);
    void onNodeRate(Bound& b, uint32_t rate);
    void onSetting(uint32_t subject, const char* key, const char* value);
    void onCoreDone(uint32_t id, int seq);
    void onCoreError(uint32_t id, int res, const char* message);
};

namespace {

using Registry = PipeWireBackend::Registry;

const pw_registry_events kRegistryEvents = {
    .version = PW_VERSION_REGISTRY_EVENTS,
    .global =
        [](void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
            static_cast<Registry*>(data)->onGlobal(id, type, props);
        },
    .global_remove = [](void* data,
                        uint32_t id) { static_cast<Registry*>(data)->onGlobalRemove(id); },
};

const pw_device_events kDeviceEvents = {
    .version = PW_VERSION_DEVICE_EVENTS,
    .info =
        [](void* data, const pw_device_info* info) {
            auto* b = static_cast<Registry::Bound*>(data);
            b->registry->onDeviceInfo(*b, info);
        },
    .param = nullptr,
};

const pw_node_events kNodeEvents = {
    .version = PW_VERSION_NODE_EVENTS,
    .info =
        [](void* data, const pw_node_info* info) {
            auto* b = static_cast<Registry::Bound*>(data);
            b->registry->onNodeInfo(*b, info);
        },
    .param =
        [](void* data, int, uint32_t id, uint32_t, uint32_t, const spa_pod* param) {
            auto* b = static_cast<Registry::Bound*>(data);
            b->registry->onNodeParam(*b, id, param);
        },
};

const pw_metadata_events kMetadataEvents = {
    .version = PW_VERSION_METADATA_EVENTS,
    .property =
        [](void* data, uint32_t subject, const char* key, const char*, const char* value) {
            static_cast<Registry*>(data)->onSetting(subject, key, value);
            return 0;
        },
};

const pw_core_events kCoreEvents = {
    .version = PW_VERSION_CORE_EVENTS,
    .info = nullptr,
    .done = [](void* data, uint32_t id,
               int seq) { static_cast<Registry*>(data)->onCoreDone(id, seq); },
    .ping = nullptr,
    .error =
        [](void* data, uint32_t id, int, int res, const char* message) {
            static_cast<Registry*>(data)->onCoreError(id, res, message);
        },
    .remove_id = nullptr,
    .bound_id = nullptr,
    .add_mem = nullptr,
    .remove_mem = nullptr,
};

}  // namespace

void Registry::start() {
    pw_core_add_listener(connection->core, &coreListener, &kCoreEvents, this);
    coreHooked = true;
    registry = pw_core_get_registry(connection->core, PW_VERSION_REGISTRY, 0);
    if (registry == nullptr) {
        // Nothing will be listed; the sync that follows still answers, so callers go on.
        diagf("PipeWire: cannot read the server's objects: %s", std::strerror(errno));
        return;
    }
    pw_registry_add_listener(registry, &registryListener, &kRegistryEvents, this);
}

void Registry::stop() {
    publishing = false;
    dropObjects();
    if (registry != nullptr) {
        spa_hook_remove(&registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        registry = nullptr;
    }
    if (coreHooked) {
        spa_hook_remove(&coreListener);
        coreHooked = false;
    }
}

void Registry::dropObjects() {
    for (auto& [id, b] : bound) {
        spa_hook_remove(&b->listener);
        pw_proxy_destroy(b->proxy);
    }
    bound.clear();
    devices.clear();
    nodes.clear();
    if (settings != nullptr) {
        spa_hook_remove(&settingsListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(settings));
        settings = nullptr;
        settingsId = SPA_ID_INVALID;
    }
    graph = {};
}

bool Registry::roundTrip(const timespec& deadline) {
    if (connection->lost) return false;
    waitDone = false;
    waitSeq = pw_core_sync(connection->core, PW_ID_CORE, 0);
    if (waitSeq < 0) return false;
    while (!waitDone && !connection->lost) {
        timespec until = deadline;
        if (pw_thread_loop_timed_wait_full(connection->loop, &until) != 0 && !waitDone) {
            return false;
        }
    }
    return waitDone;
}

void Registry::changed() {
    if (!publishing) return;
    pw::DeviceModel model = currentModel();
    if (model == published) return;
    published = model;
    uint64_t gen = ++generation;
    auto copy = std::make_shared<const pw::DeviceModel>(std::move(model));
    PipeWireBackend* target = backend;
    const uint32_t e = epoch;
    // With the backend as context, the call is dropped if the backend is destroyed first.
    QMetaObject::invokeMethod(
        target, [target, e, gen, copy] { target->apply(e, gen, *copy); }, Qt::QueuedConnection);
}

void Registry::tellMainThread(void (PipeWireBackend::*method)(uint32_t)) {
    PipeWireBackend* target = backend;
    const uint32_t e = epoch;
    QMetaObject::invokeMethod(
        target, [target, method, e] { (target->*method)(e); }, Qt::QueuedConnection);
}

void Registry::onGlobal(uint32_t id, const char* type, const spa_dict* props) {
    const char* mediaClass = lookup(props, PW_KEY_MEDIA_CLASS);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0) {
        if (mediaClass == nullptr || std::strcmp(mediaClass, "Audio/Device") != 0) return;
        // The registry announces only some properties; the bound proxy reports them all.
        auto b = std::make_unique<Bound>();
        b->registry = this;
        b->id = id;
        b->proxy =
            static_cast<pw_proxy*>(pw_registry_bind(registry, id, type, PW_VERSION_DEVICE, 0));
        if (b->proxy == nullptr) return;
        pw_device_add_listener(reinterpret_cast<pw_device*>(b->proxy), &b->listener, &kDeviceEvents,
                               b.get());
        bound[id] = std::move(b);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        if (!isAudioNodeClass(mediaClass)) return;
        auto b = std::make_unique<Bound>();
        b->registry = this;
        b->id = id;
        b->proxy = static_cast<pw_proxy*>(pw_registry_bind(registry, id, type, PW_VERSION_NODE, 0));
        if (b->proxy == nullptr) return;
        auto* node = reinterpret_cast<pw_node*>(b->proxy);
        pw_node_add_listener(node, &b->listener, &kNodeEvents, b.get());
        // Nodes report their rate setting in Props, outputs their volume too; the server
        // repeats them on every change.
        uint32_t ids[] = {SPA_PARAM_Props};
        if (pw_node_subscribe_params(node, ids, 1) < 0) {
            diagf("PipeWire: cannot follow the rate and volume of node %u", id);
        }
        bound[id] = std::move(b);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
        const char* name = lookup(props, PW_KEY_METADATA_NAME);
        if (settings != nullptr || name == nullptr || std::strcmp(name, "settings") != 0) return;
        settings =
            static_cast<pw_metadata*>(pw_registry_bind(registry, id, type, PW_VERSION_METADATA, 0));
        if (settings == nullptr) return;
        settingsId = id;
        pw_metadata_add_listener(settings, &settingsListener, &kMetadataEvents, this);
    }
}

void Registry::onGlobalRemove(uint32_t id) {
    // Every object's removal is announced; only the ones tracked here matter.
    if (auto it = bound.find(id); it != bound.end()) {
        spa_hook_remove(&it->second->listener);
        pw_proxy_destroy(it->second->proxy);
        bound.erase(it);
        devices.erase(id);
        nodes.erase(id);
        changed();
    } else if (id == settingsId) {
        spa_hook_remove(&settingsListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(settings));
        settings = nullptr;
        settingsId = SPA_ID_INVALID;
        graph = {};
        changed();
    }
}

void Registry::onDeviceInfo(Bound& b, const pw_device_info* info) {
    if ((info->change_mask & PW_DEVICE_CHANGE_MASK_PROPS) == 0) return;
    devices[b.id].props = copyProperties(info->props);
    changed();
    // Its nodes may have come first.
    applyChosenRates();
}

void Registry::onNodeInfo(Bound& b, const pw_node_info* info) {
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) == 0) return;
    pw::NodeObject& node = nodes[b.id];
    node.props = copyProperties(info->props);
    node.channelVolume = b.channelVolume;
    node.rate = b.rate;
    changed();
    applyChosenRates();
}

void Registry::onNodeParam(Bound& b, uint32_t paramId, const spa_pod* param) {
    if (paramId != SPA_PARAM_Props) return;
    // Props may come as several objects (converter and device); only one has channel volumes,
    // and only one names the node's rate.
    if (auto rate = pw::rateFromProps(param)) onNodeRate(b, *rate);
    auto volume = firstChannelVolume(param);
    if (!volume || volume == b.channelVolume) return;
    b.channelVolume = volume;
    if (auto it = nodes.find(b.id); it != nodes.end()) {
        it->second.channelVolume = volume;
        changed();
    }
}

void Registry::onNodeRate(Bound& b, uint32_t rate) {
    b.rate = rate;
    if (auto it = nodes.find(b.id); it != nodes.end()) {
        it->second.rate = rate;
        changed();
        auto chosen = chosenRates.find(uidOfNode(b.id));
        if (chosen != chosenRates.end()) {
            if (rate == chosen->second) {
                b.confirmedRate = rate;
            } else if (b.confirmedRate == chosen->second) {
                // The node had the chosen rate, and another program has set another since: that
                // one is the device's rate from now on, also for its nodes to come.
                diagf("PipeWire: another program set %s to %u Hz", chosen->first.c_str(), rate);
                chosenRates.erase(chosen);
            }
        }
        applyChosenRates();
    }
    // setNominalSampleRate waits for the nodes' answers.
    pw_thread_loop_signal(connection->loop, false);
}

std::map<uint32_t, pw::NodeObject> Registry::nodesAsShown() const {
    if (chosenRates.empty()) return nodes;
    std::map<uint32_t, pw::NodeObject> shown = nodes;
    for (auto& [id, node] : shown) {
        if (node.rate.value_or(0) != 0) continue;
        if (auto chosen = chosenRates.find(uidOfNode(id)); chosen != chosenRates.end()) {
            node.rate = chosen->second;
        }
    }
    return shown;
}

std::string Registry::uidOfNode(uint32_t nodeId) const {
    auto node = nodes.find(nodeId);
    if (node == nodes.end()) return {};
    const pw::Properties& props = node->second.props;
    if (auto owner = props.find("device.id"); owner != props.end()) {
        auto device = devices.end();
        if (auto deviceId = pw::parseUnsigned(owner->second)) device = devices.find(*deviceId);
        if (device != devices.end()) {
            auto name = device->second.props.find("device.name");
            return name != device->second.props.end() ? name->second : std::string();
        }
    }
    auto name = props.find("node.name");
    return name != props.end() ? name->second : std::string();
}

bool Registry::requestRate(Bound& b, uint32_t rate) {
    uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* param = pw::buildRateProps(&builder, rate);
    if (param == nullptr) return false;
    int res = pw_node_set_param(reinterpret_cast<pw_node*>(b.proxy), SPA_PARAM_Props, 0, param);
    if (res < 0) {
        diagf("PipeWire: cannot set the rate of node %u: %s", b.id, spa_strerror(res));
        return false;
    }
    b.requestedRate = rate;
    return true;
}

void Registry::applyChosenRates() {
    if (chosenRates.empty()) return;
    for (const auto& [id, node] : nodes) {
        auto b = bound.find(id);
        // Only nodes that have said they take a rate are asked for one.
        if (b == bound.end() || !b->second->rate) continue;
        auto chosen = chosenRates.find(uidOfNode(id));
        if (chosen == chosenRates.end()) continue;
        const uint32_t rate = chosen->second;
        // Asked once per node: a node that keeps another rate is not asked over and over.
        if (*b->second->rate == rate || b->second->requestedRate == rate) continue;
        if (requestRate(*b->second, rate)) {
            diagf("PipeWire: setting node %u of %s to the chosen %u Hz", id, chosen->first.c_str(),
                  rate);
        }
    }
}

void Registry::onSetting(uint32_t subject, const char* key, const char* value) {
    if (subject != PW_ID_CORE) return;
    if (key == nullptr) {  // all properties were cleared
        graph = {};
    } else if (std::strcmp(key, "clock.rate") == 0) {
        graph.clockRate = pw::parseUnsigned(value ? value : "").value_or(0);
    } else if (std::strcmp(key, "clock.force-rate") == 0) {
        graph.forceRate = pw::parseUnsigned(value ? value : "").value_or(0);
    } else {
        return;
    }
    changed();
}

void Registry::onCoreDone(uint32_t id, int seq) {
    if (id != PW_ID_CORE) return;
    if (seq == waitSeq) {
        waitDone = true;
        pw_thread_loop_signal(connection->loop, false);
    }
    if (seq == readySeq) {
        readySeq = -1;
        tellMainThread(&PipeWireBackend::sessionReady);
    }
}

void Registry::onCoreError(uint32_t id, int res, const char* message) {
    // A capture whose node the session manager removed (a profile switch) draws a burst of
    // errors until the capture is made anew: a few lines tell the story, the rest would only
    // fill the log.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t nowNs = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    if (errorsInWindow > 0 && nowNs - errorWindowStart > kErrorWindowNs) {
        if (errorsHidden > 0) diagf("PipeWire: %d more errors were not shown", errorsHidden);
        errorsInWindow = 0;
        errorsHidden = 0;
    }
    if (errorsInWindow == 0) errorWindowStart = nowNs;
    if (errorsInWindow < kErrorsPerWindow) {
        ++errorsInWindow;
        diagf("PipeWire: error on object %u: %s (%s)", id, message ? message : "",
              spa_strerror(res));
    } else {
        ++errorsHidden;
    }
    if (id == PW_ID_CORE && res == -EPIPE) {
        // The server went away: no devices any more, and nothing will answer.
        connection->lost = true;
        dropObjects();
        changed();
        pw_thread_loop_signal(connection->loop, false);
        tellMainThread(&PipeWireBackend::connectionLost);
    }
}

namespace {

// Capture of one input node. The process callback runs on PipeWire's real-time data thread.
class PipeWireCaptureStream final : public CaptureStream {
public:
    PipeWireCaptureStream(std::shared_ptr<PipeWireBackend::Connection> connection,
                          CaptureSink* sink, uint32_t channels)
        : connection_(std::move(connection)), sink_(sink), channels_(channels) {}

    ~PipeWireCaptureStream() override {
        if (stream_ != nullptr) {
            // Returns once the data thread has left the process callback for good.
            LoopLock lock(connection_->loop);
            spa_hook_remove(&listener_);
            pw_stream_destroy(stream_);
        }
    }

    PipeWireCaptureStream(const PipeWireCaptureStream&) = delete;
    PipeWireCaptureStream& operator=(const PipeWireCaptureStream&) = delete;

    bool start(const pw::CaptureSource& source) {
        LoopLock lock(connection_->loop);
        if (connection_->lost) return false;
        QByteArray target = source.target.toUtf8();
        pw_properties* props =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                              PW_KEY_MEDIA_ROLE, "Production", PW_KEY_NODE_NAME,
                              "h8-controller.capture", PW_KEY_TARGET_OBJECT, target.constData(),
                              // Capture this device or nothing: never fall back to another input.
                              PW_KEY_NODE_DONT_RECONNECT, "true",
                              // Channel c of the stream is channel c of the device.
                              PW_KEY_STREAM_DONT_REMIX, "true", nullptr);
        stream_ = pw_stream_new(connection_->core, "H8 Controller capture", props);
        if (stream_ == nullptr) return false;
        pw_stream_add_listener(stream_, &listener_, &kEvents, this);

        // The device's own channel positions: anything else makes the server remap channels.
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;  // interleaved
        info.rate = 0;                       // follow the graph
        info.channels = channels_;
        for (uint32_t c = 0; c < channels_; ++c) {
            info.position[c] = source.positions[c];
        }
        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[] = {
            spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        auto flags = static_cast<pw_stream_flags>(
            PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
        int res = pw_stream_connect(stream_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1);
        if (res < 0) {
            diagf("PipeWire: cannot capture %s: %s", target.constData(), spa_strerror(res));
            spa_hook_remove(&listener_);
            pw_stream_destroy(stream_);
            stream_ = nullptr;
            return false;
        }
        return true;
    }

private:
    // Real-time data thread: no locks, no allocation, no logging.
    static void onProcess(void* data) {
        auto* self = static_cast<PipeWireCaptureStream*>(data);
        pw_buffer* b = pw_stream_dequeue_buffer(self->stream_);
        if (b == nullptr) return;
        const spa_buffer* buf = b->buffer;
        if (buf->n_datas > 0 && buf->datas[0].data != nullptr && buf->datas[0].chunk != nullptr) {
            const spa_data& d = buf->datas[0];
            uint32_t offset = std::min(d.chunk->offset, d.maxsize);
            uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
            uint32_t frames = size / (sizeof(float) * self->channels_);
            if (frames > 0) {
                const auto* samples =
                    reinterpret_cast<const float*>(static_cast<const uint8_t*>(d.data) + offset);
                self->sink_->process(samples, frames, self->channels_);
            }
        }
        pw_stream_queue_buffer(self->stream_, b);
    }

    static void onStateChanged(void*, pw_stream_state, pw_stream_state state, const char* error) {
        if (state == PW_STREAM_STATE_ERROR) {
            diagf("PipeWire: capture stopped: %s", error ? error : "unknown error");
        }
    }

    static constexpr pw_stream_events kEvents = {
        .version = PW_VERSION_STREAM_EVENTS,
        .destroy = nullptr,
        .state_changed = onStateChanged,
        .control_info = nullptr,
        .io_changed = nullptr,
        .param_changed = nullptr,
        .add_buffer = nullptr,
        .remove_buffer = nullptr,
        .process = onProcess,
        .drained = nullptr,
        .command = nullptr,
        .trigger_done = nullptr,
    };

    std::shared_ptr<PipeWireBackend::Connection> connection_;
    CaptureSink* sink_;
    uint32_t channels_;
    pw_stream* stream_ = nullptr;
    spa_hook listener_{};
};

}  // namespace

PipeWireBackend::~PipeWireBackend() {
    if (registry_) {
        LoopLock lock(connection_->loop);
        registry_->stop();
    }
    registry_.reset();
    // The connection closes here, or with the last capture stream still running.
    connection_.reset();
}

std::unique_ptr<PipeWireBackend> PipeWireBackend::create(QString* error) {
    std::unique_ptr<PipeWireBackend> backend(new PipeWireBackend());
    if (!backend->openSession(true, error)) return nullptr;
    return backend;
}

std::unique_ptr<PipeWireBackend> PipeWireBackend::createReconnecting(QString* error, Clock* clock) {
    std::unique_ptr<PipeWireBackend> backend(new PipeWireBackend());
    PipeWireBackend* b = backend.get();
    b->reconnect_ = true;
    Clock& time = clock ? *clock : b->systemClock_;
    b->retryTimer_ = time.createTimer();
    b->answerTimer_ = time.createTimer();
    b->retryTimer_->setSingleShot(true);
    b->answerTimer_->setSingleShot(true);
    connect(b->retryTimer_.get(), &ClockTimer::timeout, b, &PipeWireBackend::retry);
    connect(b->answerTimer_.get(), &ClockTimer::timeout, b, [b] {
        if (b->ready_) return;
        b->closeSession();
        b->scheduleRetry();
    });
    ++b->attempts_;
    if (!b->openSession(true, error)) b->scheduleRetry();
    return backend;
}

bool PipeWireBackend::openSession(bool wait, QString* error) {
    auto fail = [error](const QString& reason) {
        if (error != nullptr) *error = reason;
        return false;
    };
    static std::once_flag initialized;
    std::call_once(initialized, [] { pw_init(nullptr, nullptr); });

    auto connection = std::make_shared<Connection>();
    connection->loop = pw_thread_loop_new("h8-pipewire", nullptr);
    if (connection->loop == nullptr)
        return fail(QStringLiteral("cannot create the PipeWire thread"));
    // client-rt.conf raises the priority of the real-time data thread where it may.
    pw_properties* props = pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr);
    connection->context = pw_context_new(pw_thread_loop_get_loop(connection->loop), props, 0);
    if (connection->context == nullptr)
        return fail(QStringLiteral("cannot create a PipeWire context"));
    if (pw_thread_loop_start(connection->loop) < 0)
        return fail(QStringLiteral("cannot start the PipeWire thread"));
    {
        LoopLock lock(connection->loop);
        connection->core = pw_context_connect(connection->context, nullptr, 0);
        if (connection->core == nullptr) {
            return fail(QStringLiteral("no PipeWire server: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
        }
    }

    auto registry = std::make_unique<Registry>(this, connection.get(), epoch_);
    // The devices of the new connection get the rates chosen before.
    registry->chosenRates = chosenRates_;
    uint64_t generation = 0;
    pw::DeviceModel model;
    {
        LoopLock lock(connection->loop);
        registry->start();
        if (wait) {
            timespec deadline{};
            pw_thread_loop_get_time(connection->loop, &deadline, kConnectTimeoutNs);
            // The first round trip brings the registry's objects, the second the properties of
            // the objects bound while the first came in.
            if (!registry->roundTrip(deadline) || !registry->roundTrip(deadline)) {
                registry->stop();
                return fail(QStringLiteral("the PipeWire server did not answer within 2 s"));
            }
            registry->publishing = true;
            registry->published = registry->currentModel();
            generation = ++registry->generation;
            model = registry->published;
        } else {
            // The list follows through changed(); the answer to this sync means it is complete.
            registry->publishing = true;
            registry->readySeq = pw_core_sync(connection->core, PW_ID_CORE, 0);
        }
    }
    connection_ = std::move(connection);
    registry_ = std::move(registry);
    if (wait) {
        generation_ = generation;
        const bool listChanged = model_.devices != model.devices;
        model_ = std::move(model);
        ready_ = true;
        if (listChanged) emit devicesChanged();
    }
    return true;
}

void PipeWireBackend::closeSession() {
    if (answerTimer_) answerTimer_->stop();
    if (registry_) {
        LoopLock lock(connection_->loop);
        chosenRates_ = registry_->chosenRates;
        registry_->stop();
    }
    registry_.reset();
    connection_.reset();
    ready_ = false;
    // Whatever the old connection still has queued for the main thread is ignored from now on.
    ++epoch_;
    generation_ = 0;
    if (!model_.devices.isEmpty()) {
        model_ = {};
        emit devicesChanged();
    }
}

void PipeWireBackend::sessionReady(uint32_t epoch) {
    if (epoch != epoch_ || !registry_ || ready_) return;
    ready_ = true;
    if (answerTimer_) answerTimer_->stop();
    retryDelayMs_ = kFirstRetryMs;
    diagTrace("PipeWire: connected to the sound server");
    emit availabilityChanged();
}

void PipeWireBackend::connectionLost(uint32_t epoch) {
    if (epoch != epoch_) return;
    const bool wasReady = ready_;
    closeSession();
    if (wasReady) {
        diag(
            "PipeWire: the sound server went away; levels and sample rate are unavailable until it "
            "is back");
        emit availabilityChanged();
    }
    if (reconnect_) scheduleRetry();
}

void PipeWireBackend::scheduleRetry() {
    if (!reconnect_) return;
    retryTimer_->start(std::chrono::milliseconds(retryDelayMs_));
    retryDelayMs_ = std::min(retryDelayMs_ * 2, kMaxRetryMs);
}

void PipeWireBackend::retry() {
    if (registry_) return;
    ++attempts_;
    // No socket, no server: nothing to try until one appears.
    const QString socket = serverSocketPath();
    if (!socket.isEmpty() && !QFileInfo::exists(socket)) {
        scheduleRetry();
        return;
    }
    if (!openSession(false, nullptr)) {
        scheduleRetry();
        return;
    }
    answerTimer_->start(std::chrono::milliseconds(kConnectTimeoutNs / 1'000'000));
}

QList<AudioDeviceInfo> PipeWireBackend::devices() const {
    return model_.devices;
}

std::optional<AudioDeviceInfo> PipeWireBackend::device(uint32_t id) const {
    for (const AudioDeviceInfo& info : model_.devices) {
        if (info.id == id) return info;
    }
    return std::nullopt;
}

bool PipeWireBackend::setNominalSampleRate(uint32_t id, double rate) {
    const std::optional<AudioDeviceInfo> info = device(id);
    if (!info || !registry_) return false;
    if (!(rate >= 1.0 && rate <= 1'000'000.0) ||
        rate != static_cast<double>(static_cast<uint32_t>(rate))) {
        return false;
    }
    const auto hz = static_cast<uint32_t>(rate);
    const std::string uid = info->uid.toStdString();
    uint64_t generation = 0;
    pw::DeviceModel model;
    {
        LoopLock lock(connection_->loop);
        Registry& registry = *registry_;
        if (connection_->lost) return false;
        // The device's nodes that take a rate.
        std::vector<uint32_t> targets;
        for (const auto& [nodeId, node] : registry.nodes) {
            auto b = registry.bound.find(nodeId);
            if (b != registry.bound.end() && b->second->rate && registry.uidOfNode(nodeId) == uid) {
                targets.push_back(nodeId);
            }
        }
        if (targets.empty()) return false;

        std::optional<uint32_t> previous;
        if (auto it = registry.chosenRates.find(uid); it != registry.chosenRates.end()) {
            previous = it->second;
        }
        auto fail = [&] {
            if (previous) {
                registry.chosenRates[uid] = *previous;
            } else {
                registry.chosenRates.erase(uid);
            }
            return false;
        };
        registry.chosenRates[uid] = hz;
        for (uint32_t nodeId : targets) {
            Registry::Bound& b = *registry.bound[nodeId];
            if (b.rate == hz) {
                b.confirmedRate = hz;
            } else if (!registry.requestRate(b, hz)) {
                return fail();
            }
        }
        // Each node reports its Props anew once it has taken the rate.
        auto allReport = [&] {
            for (uint32_t nodeId : targets) {
                auto b = registry.bound.find(nodeId);
                if (b == registry.bound.end() || b->second->rate != hz) return false;
            }
            return true;
        };
        timespec deadline{};
        pw_thread_loop_get_time(connection_->loop, &deadline, kConfirmTimeoutNs);
        while (!allReport()) {
            timespec until = deadline;
            if (connection_->lost ||
                pw_thread_loop_timed_wait_full(connection_->loop, &until) != 0) {
                if (allReport()) break;
                diagf("PipeWire: %s did not take %u Hz within 1 s", uid.c_str(), hz);
                return fail();
            }
        }
        chosenRates_ = registry.chosenRates;
        generation = registry.generation;
        model = registry.published;
    }
    // Show the new rate at once rather than when the queued update arrives.
    apply(epoch_, generation, model);
    return true;
}

std::unique_ptr<CaptureStream> PipeWireBackend::startCapture(uint32_t id, CaptureSink* sink) {
    auto it = model_.captureSources.constFind(id);
    if (!connection_ || sink == nullptr || it == model_.captureSources.constEnd()) return nullptr;
    const pw::CaptureSource& source = *it;
    uint32_t channels = std::min<uint32_t>(source.channels, SPA_AUDIO_MAX_CHANNELS);
    if (channels == 0 || source.positions.size() < channels) return nullptr;
    auto stream = std::make_unique<PipeWireCaptureStream>(connection_, sink, channels);
    if (!stream->start(source)) return nullptr;
    return stream;
}

void PipeWireBackend::apply(uint32_t epoch, uint64_t generation, const pw::DeviceModel& model) {
    if (epoch != epoch_ || generation <= generation_) return;  // an older list than the one shown
    generation_ = generation;
    const QList<AudioDeviceInfo> before = model_.devices;
    model_ = model;
    const QList<AudioDeviceInfo> after = model_.devices;

    // Rate and volume changes have signals of their own.
    auto sameDevice = [](AudioDeviceInfo a, AudioDeviceInfo b) {
        a.nominalSampleRate = b.nominalSampleRate;
        a.volumeScalar = b.volumeScalar;
        return a == b;
    };
    bool listChanged = before.size() != after.size() ||
                       !std::equal(before.begin(), before.end(), after.begin(), sameDevice);
    if (listChanged) emit devicesChanged();
    for (const AudioDeviceInfo& now : after) {
        auto was = std::find_if(before.begin(), before.end(),
                                [&](const auto& d) { return d.id == now.id; });
        if (was == before.end()) continue;
        if (was->inputChannels != now.inputChannels || was->outputChannels != now.outputChannels ||
            was->inputStreamId != now.inputStreamId) {
            emit streamsChanged(now.id);
        }
        if (was->nominalSampleRate != now.nominalSampleRate) emit nominalSampleRateChanged(now.id);
        if (was->volumeScalar != now.volumeScalar) emit volumeChanged(now.id);
    }
}

}  // namespace h8
