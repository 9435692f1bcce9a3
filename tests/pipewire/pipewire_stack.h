// Test helpers for the private PipeWire stack that scripts/pipewire-env.sh starts.
//
// The tests find the stack through the environment that scripts/test.sh exports:
//   H8_TEST_PIPEWIRE_DIR   the stack's folder: the fake H8's 16-channel input reads
//                          $H8_TEST_PIPEWIRE_DIR/usb16.fifo (S16LE, 16 channels, 48 kHz), its
//                          2-channel profile usb2.fifo, the webcam's microphone webcam.fifo
//                          (scripts/pipewire-env.sh tells the whole card)
//   PIPEWIRE_RUNTIME_DIR   the same folder; PipeWire clients find the server's socket there
// Without them the tests skip, except under CI=true, where a missing stack is a failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_proxy;
struct pw_impl_module;

namespace h8::test {

// In a test body: waits, handling events, until `condition` holds, and fails the test (returning
// from it) when it does not within `ms` milliseconds. Qt's QTRY_ macros report only to a QTest
// run: under gtest a condition that never comes would pass unnoticed. Needs <QTest>.
#define H8_ASSERT_EVENTUALLY(condition, ms)                                          \
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(condition); }, (ms))) \
        << "not within " << (ms) << " ms: " #condition

// The stack's folder, or an explanation of why there is none.
struct PipeWireStack {
    std::string dir;
    std::string problem;  // empty when the stack is usable
};
PipeWireStack findPipeWireStack();
bool runningInCi();

// In a test or its SetUp: `stack` becomes the stack; without one the test is skipped (fails
// under CI=true).
#define H8_USE_PIPEWIRE_STACK(stack)                                  \
    do {                                                              \
        (stack) = ::h8::test::findPipeWireStack();                    \
        if (!(stack).problem.empty()) {                               \
            if (::h8::test::runningInCi()) FAIL() << (stack).problem; \
            GTEST_SKIP() << (stack).problem;                          \
        }                                                             \
    } while (false)

// What the fake card shows (DIR/card.state) as key/value pairs: "h8_node" → "41", "h8_rate" →
// "96000" (the rate the node itself holds, "none" without the node), "webcam_rate_writes" → "0";
// empty without the file. scripts/pipewire-env.sh lists the keys.
std::map<std::string, std::string> readCardState(const PipeWireStack& stack);

// The graph rate forced in the server's "settings" metadata ("clock.force-rate"), as the
// stack's pw-metadata reads it: "0" or "" when nothing is forced; absent when it cannot be read.
std::optional<std::string> forcedGraphRate();

// Leaves the rate of the H8's nodes to the server again (their "audio.rate" back to 0), as the
// stack starts, and waits until the card shows it. For tests to leave the stack as they found it.
bool resetCardRates(const PipeWireStack& stack);

// The level of channel c of the signal FifoFeeder writes, as a fraction of full scale.
constexpr float fakeInputLevel(uint32_t channel) {
    return static_cast<float>(channel + 1) / 20.0f;
}

// Writes a 1 kHz sine to the fake input's FIFO, paced to real time, until destroyed: channel c
// at fakeInputLevel(c). What the server does not read in time is dropped.
class FifoFeeder {
public:
    // With `onlyChannel`, every other channel is silent. `channels` interleaved channels (the
    // H8's 16 by default; 2 for its stereo profile and the webcam).
    explicit FifoFeeder(const std::string& fifoPath,
                        std::optional<uint32_t> onlyChannel = std::nullopt, uint32_t channels = 16);
    ~FifoFeeder();
    FifoFeeder(const FifoFeeder&) = delete;
    FifoFeeder& operator=(const FifoFeeder&) = delete;

    // Empty when the FIFO is open for writing.
    const std::string& error() const { return error_; }

private:
    void run();

    int fd_ = -1;
    std::optional<uint32_t> onlyChannel_;
    uint32_t channels_;
    std::string error_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A second PipeWire client, standing for another program: it can add devices of its own, which
// disappear with the client.
class PipeWireClient {
public:
    PipeWireClient();
    ~PipeWireClient();
    PipeWireClient(const PipeWireClient&) = delete;
    PipeWireClient& operator=(const PipeWireClient&) = delete;

    bool connected() const { return core_ != nullptr; }
    // Creates an output (Audio/Sink) named `name` with `channels` channels; its global id once
    // the server has registered it. One per client.
    std::optional<uint32_t> createSink(const std::string& name, uint32_t channels);
    // Sets every channel of the created sink to `linear` volume; true once the server has it.
    bool setSinkVolume(float linear, uint32_t channels);
    // Sets "audio.rate" in the Props of node `nodeId` (any client's node), as a user's tool does
    // with an ALSA node; true once the server has taken the request.
    bool setNodeRate(uint32_t nodeId, uint32_t rate);
    // Adds an input (Audio/Source) named `name` with `channels` channels that reads S16LE from
    // the FIFO `fifoPath` (created if missing): silent while nothing writes to it.
    bool addPipeSource(const std::string& name, const std::string& fifoPath, uint32_t channels);

    struct Listener;

private:
    bool roundTrip();

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_proxy* sink_ = nullptr;
    pw_impl_module* source_ = nullptr;
    Listener* listener_ = nullptr;
};

}  // namespace h8::test
