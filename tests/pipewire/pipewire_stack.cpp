#include "pipewire_stack.h"

#include <fcntl.h>
#include <pipewire/impl-module.h>
#include <pipewire/pipewire.h>
#include <poll.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace h8::test {

PipeWireStack findPipeWireStack() {
    const char* dir = std::getenv("H8_TEST_PIPEWIRE_DIR");
    if (dir == nullptr || *dir == '\0') {
        return {{},
                "H8_TEST_PIPEWIRE_DIR is not set: run scripts/test.sh, or "
                "`source scripts/pipewire-env.sh start DIR` before running this test"};
    }
    std::string socket = std::string(dir) + "/pipewire-0";
    struct stat st {};
    if (stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return {dir, "no PipeWire server socket at " + socket + " (is the stack running?)"};
    }
    return {dir, {}};
}

bool runningInCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

std::map<std::string, std::string> readCardState(const PipeWireStack& stack) {
    std::map<std::string, std::string> state;
    std::ifstream file(stack.dir + "/card.state");
    std::string field;
    while (file >> field) {
        const size_t equals = field.find('=');
        if (equals != std::string::npos) state[field.substr(0, equals)] = field.substr(equals + 1);
    }
    return state;
}

std::optional<std::string> forcedGraphRate() {
    FILE* tool = popen("pw-metadata -n settings 0 clock.force-rate 2>/dev/null", "r");
    if (tool == nullptr) return std::nullopt;
    std::string out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, tool) != nullptr) out += buffer;
    if (pclose(tool) != 0) return std::nullopt;
    // update: id:0 key:'clock.force-rate' value:'96000' type:''
    const std::string key = "key:'clock.force-rate' value:'";
    const size_t at = out.find(key);
    if (at == std::string::npos) return std::string();
    const size_t start = at + key.size();
    return out.substr(start, out.find('\'', start) - start);
}

bool resetCardRates(const PipeWireStack& stack) {
    auto state = readCardState(stack);
    PipeWireClient client;
    for (const char* node : {"h8_node", "h8_out_node"}) {
        const std::string id = state[node];
        if (id.empty() || id == "none") continue;
        if (!client.setNodeRate(static_cast<uint32_t>(std::stoul(id)), 0)) return false;
    }
    // The card answers in its own time; its state file tells when.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        state = readCardState(stack);
        const bool reset = (state["h8_rate"] == "0" || state["h8_rate"] == "none") &&
                           (state["h8_out_rate"] == "0" || state["h8_out_rate"] == "none");
        if (reset) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// ---- FifoFeeder ----

namespace {
constexpr uint32_t kRate = 48000;
constexpr uint32_t kBlockFrames = kRate / 100;  // 10 ms
constexpr double kToneHz = 1000.0;
}  // namespace

FifoFeeder::FifoFeeder(const std::string& fifoPath, std::optional<uint32_t> onlyChannel,
                       uint32_t channels)
    : onlyChannel_(onlyChannel), channels_(channels) {
    // Non-blocking: opening fails at once instead of hanging when nothing reads the FIFO.
    fd_ = open(fifoPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = "cannot open " + fifoPath + ": " + std::strerror(errno);
        return;
    }
    // A deeper pipe than the default 64 KiB (40 ms here) rides out a busy machine's stalls.
    fcntl(fd_, F_SETPIPE_SZ, 256 * 1024);
    thread_ = std::thread([this] { run(); });
}

FifoFeeder::~FifoFeeder() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
}

void FifoFeeder::run() {
    std::vector<int16_t> block(kBlockFrames * channels_);
    const auto start = std::chrono::steady_clock::now();
    uint64_t written = 0;  // frames
    while (!stop_) {
        for (uint32_t i = 0; i < kBlockFrames; ++i) {
            double s = std::sin(2.0 * M_PI * kToneHz * static_cast<double>(written + i) / kRate);
            for (uint32_t c = 0; c < channels_; ++c) {
                const bool silent = onlyChannel_ && *onlyChannel_ != c;
                block[i * channels_ + c] =
                    silent ? 0 : static_cast<int16_t>(std::lround(fakeInputLevel(c) * s * 32767.0));
            }
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
        size_t left = block.size() * sizeof(int16_t);
        while (left > 0 && !stop_) {
            ssize_t n = write(fd_, bytes, left);
            if (n > 0) {
                bytes += n;
                left -= static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                // The server reads only while the input is in use.
                pollfd p{fd_, POLLOUT, 0};
                poll(&p, 1, 20);
            }
        }
        written += kBlockFrames;
        // Stay at most 100 ms ahead of real time.
        auto due = start + std::chrono::microseconds(written * 1'000'000 / kRate) -
                   std::chrono::milliseconds(100);
        std::this_thread::sleep_until(due);
    }
}

// ---- PipeWireClient ----

struct PipeWireClient::Listener {
    pw_thread_loop* loop = nullptr;
    spa_hook core{};
    spa_hook proxy{};
    int waitSeq = -1;
    bool done = false;
    bool failed = false;
    std::optional<uint32_t> boundId;

    static void onDone(void* data, uint32_t id, int seq) {
        auto* self = static_cast<Listener*>(data);
        if (id == PW_ID_CORE && seq == self->waitSeq) {
            self->done = true;
            pw_thread_loop_signal(self->loop, false);
        }
    }
    static void onError(void* data, uint32_t, int, int, const char*) {
        auto* self = static_cast<Listener*>(data);
        self->failed = true;
        pw_thread_loop_signal(self->loop, false);
    }
    static void onBound(void* data, uint32_t globalId) {
        auto* self = static_cast<Listener*>(data);
        self->boundId = globalId;
        pw_thread_loop_signal(self->loop, false);
    }
};

namespace {
const pw_core_events kCoreEvents = {
    .version = PW_VERSION_CORE_EVENTS,
    .info = nullptr,
    .done = PipeWireClient::Listener::onDone,
    .ping = nullptr,
    .error = PipeWireClient::Listener::onError,
    .remove_id = nullptr,
    .bound_id = nullptr,
    .add_mem = nullptr,
    .remove_mem = nullptr,
};
const pw_proxy_events kProxyEvents = {
    .version = PW_VERSION_PROXY_EVENTS,
    .destroy = nullptr,
    .bound = PipeWireClient::Listener::onBound,
    .removed = nullptr,
    .done = nullptr,
    .error = nullptr,
};
}  // namespace

PipeWireClient::PipeWireClient() {
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("h8-test-client", nullptr);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    listener_ = new Listener;
    listener_->loop = loop_;
    pw_thread_loop_start(loop_);
    pw_thread_loop_lock(loop_);
    core_ = pw_context_connect(context_, nullptr, 0);
    if (core_ != nullptr) {
        pw_core_add_listener(core_, &listener_->core, &kCoreEvents, listener_);
    }
    pw_thread_loop_unlock(loop_);
}

PipeWireClient::~PipeWireClient() {
    pw_thread_loop_lock(loop_);
    if (source_ != nullptr) pw_impl_module_destroy(source_);
    if (sink_ != nullptr) {
        spa_hook_remove(&listener_->proxy);
        pw_proxy_destroy(sink_);
    }
    if (core_ != nullptr) {
        spa_hook_remove(&listener_->core);
        // The server destroys the objects this client created when it goes.
        pw_core_disconnect(core_);
    }
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
    delete listener_;
}

bool PipeWireClient::roundTrip() {
    listener_->done = false;
    listener_->waitSeq = pw_core_sync(core_, PW_ID_CORE, 0);
    timespec deadline{};
    pw_thread_loop_get_time(loop_, &deadline, 2'000'000'000);
    while (!listener_->done && !listener_->failed) {
        if (pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) break;
    }
    return listener_->done && !listener_->failed;
}

std::optional<uint32_t> PipeWireClient::createSink(const std::string& name, uint32_t channels) {
    if (core_ == nullptr || sink_ != nullptr) return std::nullopt;
    pw_thread_loop_lock(loop_);
    std::string channelCount = std::to_string(channels);
    // Without positions the server leaves the sink's channels unconfigured.
    std::string positions;
    for (uint32_t c = 0; c < channels; ++c) positions += (c ? ",AUX" : "AUX") + std::to_string(c);
    pw_properties* props = pw_properties_new(
        "factory.name", "support.null-audio-sink", PW_KEY_NODE_NAME, name.c_str(),
        PW_KEY_NODE_DESCRIPTION, "H8 test output", PW_KEY_MEDIA_CLASS, "Audio/Sink",
        PW_KEY_AUDIO_CHANNELS, channelCount.c_str(), "audio.position", positions.c_str(),
        PW_KEY_OBJECT_LINGER, "false", nullptr);
    sink_ = static_cast<pw_proxy*>(pw_core_create_object(core_, "adapter", PW_TYPE_INTERFACE_Node,
                                                         PW_VERSION_NODE, &props->dict, 0));
    pw_properties_free(props);
    std::optional<uint32_t> id;
    if (sink_ != nullptr) {
        pw_proxy_add_listener(sink_, &listener_->proxy, &kProxyEvents, listener_);
        if (roundTrip()) id = listener_->boundId;
    }
    pw_thread_loop_unlock(loop_);
    return id;
}

bool PipeWireClient::setSinkVolume(float linear, uint32_t channels) {
    if (sink_ == nullptr) return false;
    pw_thread_loop_lock(loop_);
    std::vector<float> volumes(channels, linear);
    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    auto* param = static_cast<spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props, SPA_PROP_channelVolumes,
        SPA_POD_Array(sizeof(float), SPA_TYPE_Float, channels, volumes.data())));
    pw_node_set_param(reinterpret_cast<pw_node*>(sink_), SPA_PARAM_Props, 0, param);
    bool ok = roundTrip();
    pw_thread_loop_unlock(loop_);
    return ok;
}

bool PipeWireClient::setNodeRate(uint32_t nodeId, uint32_t rate) {
    if (core_ == nullptr) return false;
    pw_thread_loop_lock(loop_);
    bool ok = false;
    auto* registry = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    if (registry != nullptr) {
        auto* node = static_cast<pw_node*>(
            pw_registry_bind(registry, nodeId, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
        if (node != nullptr) {
            // The key/value struct ALSA nodes read their runtime settings from.
            uint8_t buffer[256];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
            spa_pod_frame object;
            spa_pod_frame params;
            spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
            spa_pod_builder_prop(&builder, SPA_PROP_params, 0);
            spa_pod_builder_push_struct(&builder, &params);
            spa_pod_builder_string(&builder, "audio.rate");
            spa_pod_builder_int(&builder, static_cast<int32_t>(rate));
            spa_pod_builder_pop(&builder, &params);
            auto* param = static_cast<spa_pod*>(spa_pod_builder_pop(&builder, &object));
            ok = pw_node_set_param(node, SPA_PARAM_Props, 0, param) >= 0 && roundTrip();
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(node));
        }
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    }
    pw_thread_loop_unlock(loop_);
    return ok;
}

bool PipeWireClient::addPipeSource(const std::string& name, const std::string& fifoPath,
                                   uint32_t channels) {
    if (core_ == nullptr || source_ != nullptr) return false;
    std::string positions;
    for (uint32_t c = 0; c < channels; ++c) positions += " AUX" + std::to_string(c);
    // The same kind of node as the stack's fake interface, but running in this process.
    std::string args =
        "{ tunnel.mode = source pipe.filename = \"" + fifoPath +
        "\" audio.format = S16LE audio.rate = 48000 audio.channels = " + std::to_string(channels) +
        " audio.position = [" + positions + " ] stream.props = { node.name = \"" + name +
        "\" node.description = \"H8 test input\" media.class = Audio/Source } }";
    pw_thread_loop_lock(loop_);
    source_ =
        pw_context_load_module(context_, "libpipewire-module-pipe-tunnel", args.c_str(), nullptr);
    pw_thread_loop_unlock(loop_);
    return source_ != nullptr;
}

}  // namespace h8::test
