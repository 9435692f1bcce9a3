// PipeWireBackend against a real PipeWire server: the private stack of scripts/pipewire-env.sh
// with its fake USB cards, the H8 and a webcam (see pipewire_stack.h for how the tests find it).
#include "platform/audio/pipewire_backend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>

#include "manual_clock.h"
#include "pipewire_stack.h"

namespace h8 {
namespace {

using namespace std::chrono_literals;

// The fake H8 as the stack's card presents it: a USB card device with a capture node and a
// playback node; the webcam beside it has a capture node.
const QString kFakeUid = QStringLiteral("alsa_card.usb-Norvalt_H8_1234ABCD-00");
const QString kWebcamUid = QStringLiteral("alsa_card.usb-Generic_USB_Webcam_WC0001-02");

// Keeps per-channel peaks and a frame count; called on PipeWire's real-time thread.
class PeakSink : public CaptureSink {
public:
    void process(const float* samples, uint32_t frames, uint32_t channels) noexcept override {
        channels_.store(channels, std::memory_order_relaxed);
        for (uint32_t c = 0; c < std::min<uint32_t>(channels, kMax); ++c) {
            float peak = peaks_[c].load(std::memory_order_relaxed);
            for (uint32_t i = 0; i < frames; ++i)
                peak = std::max(peak, std::fabs(samples[i * channels + c]));
            peaks_[c].store(peak, std::memory_order_relaxed);
        }
        frames_.fetch_add(frames, std::memory_order_relaxed);
    }

    void resetPeaks() {
        for (auto& p : peaks_) p.store(0.0f);
    }
    float peak(uint32_t c) const { return peaks_[c].load(); }
    uint64_t frames() const { return frames_.load(); }
    uint32_t channels() const { return channels_.load(); }

    // Frames delivered per second of wall-clock time, timed over the next `count` frames; 0
    // when they do not come within 5 s.
    double measureRate(uint64_t count) const;

private:
    static constexpr uint32_t kMax = 64;
    std::array<std::atomic<float>, kMax> peaks_{};
    std::atomic<uint64_t> frames_{0};
    std::atomic<uint32_t> channels_{0};
};

bool waitForFrames(const PeakSink& sink, uint64_t frames, std::chrono::milliseconds timeout = 5s) {
    return QTest::qWaitFor([&] { return sink.frames() >= frames; },
                           static_cast<int>(timeout.count()));
}

double PeakSink::measureRate(uint64_t count) const {
    const auto t0 = std::chrono::steady_clock::now();
    const uint64_t f0 = frames();
    if (!waitForFrames(*this, f0 + count)) return 0;
    const uint64_t f1 = frames();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - t0;
    return static_cast<double>(f1 - f0) / elapsed.count();
}

// Another program changing the graph rate: the stack's own command-line tool.
bool setSettingFromOutside(const QString& key, const QString& value) {
    QProcess tool;
    tool.start(QStringLiteral("pw-metadata"),
               {QStringLiteral("-n"), QStringLiteral("settings"), QStringLiteral("0"), key, value});
    return tool.waitForFinished(5000) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
}

// Runs scripts/pipewire-env.sh with `command` (and `argument`) on the test stack.
bool stackCommand(const test::PipeWireStack& stack, const QString& command,
                  const QString& argument = {}) {
    QStringList args{QStringLiteral(H8_SOURCE_DIR "/scripts/pipewire-env.sh"), command,
                     QString::fromStdString(stack.dir)};
    if (!argument.isEmpty()) args.append(argument);
    QProcess script;
    script.setProcessChannelMode(QProcess::ForwardedChannels);
    script.start(QStringLiteral("bash"), args);
    return script.waitForFinished(30000) && script.exitStatus() == QProcess::NormalExit &&
           script.exitCode() == 0;
}

// A field of the fake card's state: what its nodes themselves hold.
std::string cardField(const test::PipeWireStack& stack, const std::string& key) {
    return test::readCardState(stack)[key];
}

// Another program sets the rate on both of the H8's nodes, as a user's tool would.
bool setH8RateFromOutside(const test::PipeWireStack& stack, uint32_t rate) {
    auto state = test::readCardState(stack);
    test::PipeWireClient other;
    for (const char* node : {"h8_node", "h8_out_node"}) {
        if (state[node].empty() || state[node] == "none") return false;
        if (!other.setNodeRate(static_cast<uint32_t>(std::stoul(state[node])), rate)) return false;
    }
    return true;
}

class PipeWireBackendTest : public testing::Test {
protected:
    void SetUp() override {
        H8_USE_PIPEWIRE_STACK(stack_);
        QString error;
        backend_ = PipeWireBackend::create(&error);
        ASSERT_TRUE(backend_) << error.toStdString();
        auto fake = findByUid(kFakeUid);
        ASSERT_TRUE(fake) << "the fake USB input is not listed";
        fakeId_ = fake->id;
    }

    void TearDown() override {
        // The card's nodes keep a rate set on them: leave the H8's to the server again for the
        // tests that follow (without a backend that would set its chosen rate once more).
        backend_.reset();
        if (stack_.problem.empty()) {
            EXPECT_TRUE(test::resetCardRates(stack_));
        }
    }

    std::optional<AudioDeviceInfo> findByUid(const QString& uid) const {
        for (const AudioDeviceInfo& d : backend_->devices()) {
            if (d.uid == uid) return d;
        }
        return std::nullopt;
    }

    test::PipeWireStack stack_;
    std::unique_ptr<PipeWireBackend> backend_;
    uint32_t fakeId_ = 0;
};

// ---- The device list ----

TEST_F(PipeWireBackendTest, ListsTheFakeInterfaceAsAUsbDeviceWithSixteenInputs) {
    auto fake = backend_->device(fakeId_);
    ASSERT_TRUE(fake);
    EXPECT_EQ(fake->name, QStringLiteral("H8"));
    EXPECT_TRUE(fake->uid.contains(QStringLiteral("usb")));
    EXPECT_EQ(fake->transportType, TransportType::usb);
    ASSERT_TRUE(fake->modelUID);
    EXPECT_TRUE(fake->modelUID->endsWith(QStringLiteral(":309C:0018")))
        << fake->modelUID->toStdString();
    EXPECT_EQ(fake->inputChannels, 16u);
    EXPECT_EQ(fake->outputChannels, 2u);
    // Its nodes leave the rate to the server: the graph's.
    EXPECT_EQ(fake->nominalSampleRate, 48000.0);
}

TEST_F(PipeWireBackendTest, TheServerSideHelpersAreNotDevices) {
    // The graph drivers and the backend's own streams are nodes too, but not audio devices.
    PeakSink sink;
    auto stream = backend_->startCapture(fakeId_, &sink);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(waitForFrames(sink, 4800));  // running: the server lists its node by now
    for (const AudioDeviceInfo& d : backend_->devices()) {
        EXPECT_FALSE(d.uid.contains(QStringLiteral("Driver"))) << d.uid.toStdString();
        EXPECT_FALSE(d.uid.contains(QStringLiteral("h8-controller"))) << d.uid.toStdString();
    }
}

TEST_F(PipeWireBackendTest, FollowsADeviceThatAppearsAndDisappears) {
    QSignalSpy changed(backend_.get(), &AudioBackend::devicesChanged);
    // Signals come on the main thread, after devices() already shows the change.
    std::vector<bool> listedWhenSignalled;
    bool offMainThread = false;
    const QString uid = QStringLiteral("h8-test-output-%1").arg(getpid());
    QObject::connect(backend_.get(), &AudioBackend::devicesChanged, backend_.get(), [&] {
        offMainThread |= QThread::currentThread() != qApp->thread();
        listedWhenSignalled.push_back(findByUid(uid).has_value());
    });

    const qsizetype before = backend_->devices().size();
    auto other = std::make_unique<test::PipeWireClient>();
    ASSERT_TRUE(other->connected());
    auto nodeId = other->createSink(uid.toStdString(), 2);
    ASSERT_TRUE(nodeId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return findByUid(uid).has_value(); }, 5000));
    auto added = *findByUid(uid);
    EXPECT_EQ(added.id, *nodeId);
    EXPECT_EQ(added.outputChannels, 2u);
    EXPECT_EQ(added.inputChannels, 0u);
    EXPECT_EQ(added.name, QStringLiteral("H8 test output"));
    EXPECT_FALSE(added.modelUID);  // no USB ids
    ASSERT_FALSE(listedWhenSignalled.empty());
    EXPECT_TRUE(listedWhenSignalled.back());
    EXPECT_TRUE(backend_->device(fakeId_)) << "the other device is still there";
    EXPECT_EQ(backend_->devices().size(), before + 1);
    // An output alone cannot be captured.
    PeakSink sink;
    EXPECT_EQ(backend_->startCapture(added.id, &sink), nullptr);

    changed.clear();
    listedWhenSignalled.clear();
    other.reset();  // the server removes what the client created
    ASSERT_TRUE(QTest::qWaitFor([&] { return !findByUid(uid).has_value(); }, 5000));
    EXPECT_GE(changed.count(), 1);
    ASSERT_FALSE(listedWhenSignalled.empty());
    EXPECT_FALSE(listedWhenSignalled.back());
    EXPECT_FALSE(backend_->device(added.id));
    EXPECT_TRUE(backend_->device(fakeId_));
    EXPECT_EQ(backend_->devices().size(), before);
    EXPECT_FALSE(offMainThread);
}

TEST_F(PipeWireBackendTest, ReportsTheMainOutputVolumeAsShownToUsers) {
    const QString uid = QStringLiteral("h8-test-volume-%1").arg(getpid());
    test::PipeWireClient other;
    ASSERT_TRUE(other.createSink(uid.toStdString(), 2));
    // The volume may follow the device's appearance by a moment.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return findByUid(uid) && findByUid(uid)->volumeScalar; }, 5000));
    auto sink = *findByUid(uid);
    EXPECT_FLOAT_EQ(*sink.volumeScalar, 1.0f);

    // Users see the cube root of the linear channel volume: 0.125 shows as 50 %.
    QSignalSpy volume(backend_.get(), &AudioBackend::volumeChanged);
    ASSERT_TRUE(other.setSinkVolume(0.125f, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !volume.isEmpty(); }, 5000));
    EXPECT_EQ(volume.first().at(0).value<uint32_t>(), sink.id);
    ASSERT_TRUE(backend_->device(sink.id)->volumeScalar);
    EXPECT_NEAR(*backend_->device(sink.id)->volumeScalar, 0.5f, 1e-4);
}

// ---- Capture ----

class PipeWireCaptureTest : public PipeWireBackendTest {
protected:
    void SetUp() override {
        PipeWireBackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        feeder_ = std::make_unique<test::FifoFeeder>(stack_.dir + "/usb16.fifo");
        ASSERT_EQ(feeder_->error(), "");
    }

    std::unique_ptr<test::FifoFeeder> feeder_;
};

TEST_F(PipeWireCaptureTest, EachChannelCarriesItsOwnSignal) {
    PeakSink sink;
    auto stream = backend_->startCapture(fakeId_, &sink);
    ASSERT_TRUE(stream);
    // Let the FIFO and the resampler settle, then measure half a second.
    ASSERT_TRUE(waitForFrames(sink, 24000));
    sink.resetPeaks();
    uint64_t before = sink.frames();
    ASSERT_TRUE(waitForFrames(sink, before + 24000));

    EXPECT_EQ(sink.channels(), 16u);
    for (uint32_t c = 0; c < 16; ++c) {
        EXPECT_NEAR(sink.peak(c), test::fakeInputLevel(c), 0.02f) << "channel " << c;
    }
}

TEST_F(PipeWireCaptureTest, CapturesTheChosenDeviceRatherThanTheDefaultInput) {
    // The fake interface is the server's default input; a silent second input must not be
    // mistaken for it.
    const QString uid = QStringLiteral("h8-test-input-%1").arg(getpid());
    test::PipeWireClient other;
    const std::string fifo = stack_.dir + "/test-input-" + std::to_string(getpid()) + ".fifo";
    ASSERT_TRUE(other.addPipeSource(uid.toStdString(), fifo, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return findByUid(uid).has_value(); }, 5000));
    EXPECT_EQ(findByUid(uid)->inputChannels, 2u);

    PeakSink sink;
    auto stream = backend_->startCapture(findByUid(uid)->id, &sink);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(waitForFrames(sink, 24000));
    EXPECT_EQ(sink.channels(), 2u);
    EXPECT_LT(sink.peak(0), 0.001f);
    EXPECT_LT(sink.peak(1), 0.001f);
    stream.reset();
    unlink(fifo.c_str());
}

TEST_F(PipeWireCaptureTest, TheSinkIsNotCalledAfterTheStreamIsGone) {
    PeakSink sink;
    auto stream = backend_->startCapture(fakeId_, &sink);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(waitForFrames(sink, 4800));
    stream.reset();
    uint64_t after = sink.frames();
    // A second stream of the same input: by the time it has its frames, the first one would
    // have been called again too.
    PeakSink witness;
    auto second = backend_->startCapture(fakeId_, &witness);
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitForFrames(witness, 9600));
    EXPECT_EQ(sink.frames(), after);
}

TEST_F(PipeWireCaptureTest, AStreamMayOutliveItsBackend) {
    PeakSink sink;
    auto stream = backend_->startCapture(fakeId_, &sink);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(waitForFrames(sink, 4800));
    backend_.reset();
    uint64_t now = sink.frames();
    EXPECT_TRUE(waitForFrames(sink, now + 4800)) << "capture stopped with the backend";
    stream.reset();
}

TEST_F(PipeWireCaptureTest, NothingToCaptureFromUnknownDevices) {
    PeakSink sink;
    EXPECT_EQ(backend_->startCapture(fakeId_ + 100000, &sink), nullptr);
    EXPECT_EQ(backend_->startCapture(fakeId_, nullptr), nullptr);
}

// ---- The sample rate ----

TEST_F(PipeWireCaptureTest, TheRateIsSetOnTheInterfacesOwnNodesAndNowhereElse) {
    const auto webcam = findByUid(kWebcamUid);
    ASSERT_TRUE(webcam);
    const std::string webcamWrites = cardField(stack_, "webcam_rate_writes");
    ASSERT_FALSE(webcamWrites.empty()) << "the card shows no webcam";
    QSignalSpy rateChanged(backend_.get(), &AudioBackend::nominalSampleRateChanged);
    bool offMainThread = false;
    QObject::connect(backend_.get(), &AudioBackend::nominalSampleRateChanged, backend_.get(),
                     [&] { offMainThread |= QThread::currentThread() != qApp->thread(); });

    ASSERT_TRUE(backend_->setNominalSampleRate(fakeId_, 96000));
    EXPECT_EQ(backend_->device(fakeId_)->nominalSampleRate, 96000.0);
    ASSERT_EQ(rateChanged.size(), 1);
    EXPECT_EQ(rateChanged.first().at(0).value<uint32_t>(), fakeId_);
    EXPECT_FALSE(offMainThread);
    // Both of the H8's nodes hold it, as the card itself says.
    H8_ASSERT_EVENTUALLY(cardField(stack_, "h8_rate") == std::string("96000"), 2000);
    EXPECT_EQ(cardField(stack_, "h8_out_rate"), "96000");

    // The webcam's node was never written to, the server's settings force nothing, and the
    // graph keeps its clock.
    EXPECT_EQ(cardField(stack_, "webcam_rate"), "0");
    EXPECT_EQ(cardField(stack_, "webcam_rate_writes"), webcamWrites);
    EXPECT_EQ(backend_->device(webcam->id)->nominalSampleRate, 48000.0);
    const auto forced = test::forcedGraphRate();
    ASSERT_TRUE(forced) << "pw-metadata cannot read the settings";
    EXPECT_TRUE(*forced == "" || *forced == "0") << *forced;
    PeakSink sink;
    auto stream = backend_->startCapture(fakeId_, &sink);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(waitForFrames(sink, 9600));
    EXPECT_NEAR(sink.measureRate(48000), 48000.0, 4800.0);

    // Setting the rate it already has changes nothing and still succeeds.
    rateChanged.clear();
    ASSERT_TRUE(backend_->setNominalSampleRate(fakeId_, 96000));
    EXPECT_TRUE(rateChanged.isEmpty());
}

TEST_F(PipeWireBackendTest, FollowsRateChangesMadeByOtherPrograms) {
    QSignalSpy rateChanged(backend_.get(), &AudioBackend::nominalSampleRateChanged);
    ASSERT_TRUE(setH8RateFromOutside(stack_, 44100));
    H8_ASSERT_EVENTUALLY(backend_->device(fakeId_)->nominalSampleRate == 44100.0, 5000);
    EXPECT_FALSE(rateChanged.isEmpty());

    // Back to the server's choice: the graph's rate, which another program may force.
    ASSERT_TRUE(setH8RateFromOutside(stack_, 0));
    H8_ASSERT_EVENTUALLY(backend_->device(fakeId_)->nominalSampleRate == 48000.0, 5000);
    ASSERT_TRUE(setSettingFromOutside(QStringLiteral("clock.force-rate"), QStringLiteral("44100")));
    H8_ASSERT_EVENTUALLY(backend_->device(fakeId_)->nominalSampleRate == 44100.0, 5000);
    ASSERT_TRUE(setSettingFromOutside(QStringLiteral("clock.force-rate"), QStringLiteral("0")));
    H8_ASSERT_EVENTUALLY(backend_->device(fakeId_)->nominalSampleRate == 48000.0, 5000);
}

TEST_F(PipeWireBackendTest, TheChosenRateComesBackWithTheInterfacesNewNodes) {
    // Whatever happens below, the tests that follow find the H8 as the stack starts it.
    auto restore = qScopeGuard([&] {
        stackCommand(stack_, QStringLiteral("plug"));
        stackCommand(stack_, QStringLiteral("profile"), QStringLiteral("16"));
    });
    const std::string webcamWrites = cardField(stack_, "webcam_rate_writes");
    ASSERT_TRUE(backend_->setNominalSampleRate(fakeId_, 96000));

    // Re-plugged: a new device with new nodes, which the card makes with the rate left to the
    // server; the backend sets the chosen one on them.
    ASSERT_TRUE(stackCommand(stack_, QStringLiteral("unplug")));
    H8_ASSERT_EVENTUALLY(!findByUid(kFakeUid), 5000);
    ASSERT_TRUE(stackCommand(stack_, QStringLiteral("plug")));
    H8_ASSERT_EVENTUALLY(findByUid(kFakeUid) && findByUid(kFakeUid)->outputChannels == 2 &&
                             findByUid(kFakeUid)->nominalSampleRate == 96000.0,
                         5000);
    H8_ASSERT_EVENTUALLY(cardField(stack_, "h8_rate") == std::string("96000"), 2000);
    H8_ASSERT_EVENTUALLY(cardField(stack_, "h8_out_rate") == std::string("96000"), 2000);

    // A profile switch brings a new capture node: it gets the rate too.
    ASSERT_TRUE(stackCommand(stack_, QStringLiteral("profile"), QStringLiteral("2")));
    H8_ASSERT_EVENTUALLY(cardField(stack_, "h8_rate") == std::string("96000"), 5000);
    H8_ASSERT_EVENTUALLY(findByUid(kFakeUid) && findByUid(kFakeUid)->inputChannels == 2 &&
                             findByUid(kFakeUid)->nominalSampleRate == 96000.0,
                         5000);

    // Another program chooses another rate: that choice stands, and the next nodes are left to
    // the server rather than given the old rate.
    ASSERT_TRUE(setH8RateFromOutside(stack_, 44100));
    H8_ASSERT_EVENTUALLY(findByUid(kFakeUid) && findByUid(kFakeUid)->nominalSampleRate == 44100.0,
                         5000);
    ASSERT_TRUE(stackCommand(stack_, QStringLiteral("unplug")));
    H8_ASSERT_EVENTUALLY(!findByUid(kFakeUid), 5000);
    ASSERT_TRUE(stackCommand(stack_, QStringLiteral("plug")));
    H8_ASSERT_EVENTUALLY(findByUid(kFakeUid) && findByUid(kFakeUid)->outputChannels == 2, 5000);
    // A capture made now starts after the backend has read the new nodes' Props (the server
    // answers in order), when it would have set a rate.
    PeakSink sink;
    auto stream = backend_->startCapture(findByUid(kFakeUid)->id, &sink);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(waitForFrames(sink, 4800));
    EXPECT_EQ(findByUid(kFakeUid)->nominalSampleRate, 48000.0);
    EXPECT_EQ(cardField(stack_, "h8_rate"), "0");
    EXPECT_EQ(cardField(stack_, "h8_out_rate"), "0");

    // The webcam was never touched.
    EXPECT_EQ(cardField(stack_, "webcam_rate"), "0");
    EXPECT_EQ(cardField(stack_, "webcam_rate_writes"), webcamWrites);
}

TEST_F(PipeWireBackendTest, RefusesRatesItCannotSet) {
    QSignalSpy rateChanged(backend_.get(), &AudioBackend::nominalSampleRateChanged);
    EXPECT_FALSE(backend_->setNominalSampleRate(fakeId_ + 100000, 96000));
    EXPECT_FALSE(backend_->setNominalSampleRate(fakeId_, 0));
    EXPECT_FALSE(backend_->setNominalSampleRate(fakeId_, -48000));
    EXPECT_FALSE(backend_->setNominalSampleRate(fakeId_, 44100.5));
    EXPECT_FALSE(backend_->setNominalSampleRate(fakeId_, std::nan("")));
    // Refused here, nothing went to the server: a signal could only be one already queued.
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(rateChanged.isEmpty());
    EXPECT_EQ(backend_->device(fakeId_)->nominalSampleRate, 48000.0);
    EXPECT_EQ(cardField(stack_, "h8_rate"), "0");

    // A device whose node takes no rate of its own: refused, and the graph is not forced
    // instead.
    const QString uid = QStringLiteral("h8-test-fixed-rate-%1").arg(getpid());
    test::PipeWireClient other;
    ASSERT_TRUE(other.createSink(uid.toStdString(), 2));
    H8_ASSERT_EVENTUALLY(findByUid(uid).has_value(), 5000);
    EXPECT_FALSE(backend_->setNominalSampleRate(findByUid(uid)->id, 96000));
    const auto forced = test::forcedGraphRate();
    ASSERT_TRUE(forced);
    EXPECT_TRUE(*forced == "" || *forced == "0") << *forced;
}

// ---- Connecting ----

TEST(PipeWireBackendConnect, FailsQuicklyWithAReasonWhenNoServerAnswers) {
    QByteArray saved = qgetenv("PIPEWIRE_REMOTE");
    qputenv("PIPEWIRE_REMOTE", "h8-test-no-such-server");
    QString error;
    auto start = std::chrono::steady_clock::now();
    auto backend = PipeWireBackend::create(&error);
    auto elapsed = std::chrono::steady_clock::now() - start;
    if (saved.isNull()) {
        qunsetenv("PIPEWIRE_REMOTE");
    } else {
        qputenv("PIPEWIRE_REMOTE", saved);
    }
    EXPECT_EQ(backend, nullptr);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(error.contains(QLatin1Char('\n')));
    EXPECT_LT(elapsed, 3s);
}

// ---- Long runs: no server at first, and a server that restarts ----

class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const QByteArray& value)
        : name_(name), saved_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~EnvironmentVariable() { restore(); }
    void restore() {
        if (saved_.isNull()) {
            qunsetenv(name_);
        } else {
            qputenv(name_, saved_);
        }
    }

private:
    const char* name_;
    QByteArray saved_;
};

std::optional<AudioDeviceInfo> listedH8(const AudioBackend& backend) {
    for (const AudioDeviceInfo& d : backend.devices()) {
        if (isUsbModel(d.transportType, d.modelUID, 0x309C, 0x0018)) return d;
    }
    return std::nullopt;
}

TEST(PipeWireBackendReconnect, WithoutAServerItKeepsLookingCalmlyAndAttachesWhenOneAppears) {
    test::PipeWireStack stack;
    H8_USE_PIPEWIRE_STACK(stack);
    EnvironmentVariable remote("PIPEWIRE_REMOTE", "h8-test-no-such-server");
    QString error;
    test::ManualClock clock;
    auto backend = PipeWireBackend::createReconnecting(&error, &clock);
    ASSERT_TRUE(backend);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(backend->isAvailable());
    EXPECT_TRUE(backend->devices().isEmpty());
    // Growing pauses: a handful of looks in 3 s, not a busy loop.
    clock.advance(3s);
    EXPECT_GE(backend->connectionAttempts(), 3);
    EXPECT_LE(backend->connectionAttempts(), 6);

    // The server "starts": the next look finds it, without anyone asking.
    QSignalSpy available(backend.get(), &AudioBackend::availabilityChanged);
    remote.restore();
    // Up to its next look (the server's answer then comes in real time).
    const int looks = backend->connectionAttempts();
    ASSERT_TRUE(clock.advanceUntil([&] { return backend->connectionAttempts() > looks; }, 10ms,
                                   std::chrono::milliseconds(PipeWireBackend::kMaxRetryMs)));
    ASSERT_TRUE(available.wait(5000));
    EXPECT_TRUE(backend->isAvailable());
    H8_ASSERT_EVENTUALLY(listedH8(*backend).has_value(), 3000);
}

TEST(PipeWireBackendReconnect, AServerRestartBringsTheDevicesBackWithNewIdsAndTheChosenRate) {
    test::PipeWireStack stack;
    H8_USE_PIPEWIRE_STACK(stack);
    QString error;
    auto backend = PipeWireBackend::createReconnecting(&error);
    ASSERT_TRUE(backend->isAvailable()) << error.toStdString();
    const auto before = listedH8(*backend);
    ASSERT_TRUE(before);
    QSignalSpy availability(backend.get(), &AudioBackend::availabilityChanged);
    const std::string webcamWrites = cardField(stack, "webcam_rate_writes");
    auto resetRates = qScopeGuard([&] {
        backend.reset();
        EXPECT_TRUE(test::resetCardRates(stack));
    });
    ASSERT_TRUE(backend->setNominalSampleRate(before->id, 88200));

    // Whatever happens below, the tests that follow find the server running.
    auto restart = qScopeGuard([&] { stackCommand(stack, QStringLiteral("start-server")); });
    ASSERT_TRUE(stackCommand(stack, QStringLiteral("stop-server")));
    H8_ASSERT_EVENTUALLY(!backend->isAvailable(), 5000);
    EXPECT_TRUE(backend->devices().isEmpty());
    const int attemptsWhileDown = backend->connectionAttempts();

    ASSERT_TRUE(stackCommand(stack, QStringLiteral("start-server")));
    restart.dismiss();
    H8_ASSERT_EVENTUALLY(backend->isAvailable(), PipeWireBackend::kMaxRetryMs + 5000);
    H8_ASSERT_EVENTUALLY(listedH8(*backend).has_value(), 5000);
    const auto after = listedH8(*backend);
    EXPECT_NE(after->id, before->id);  // never the id of the device that went
    EXPECT_EQ(after->uid, before->uid);
    // The server made the card's nodes anew, with the rate left to it; the backend set the
    // chosen one on them again, and on the webcam's nothing.
    H8_ASSERT_EVENTUALLY(listedH8(*backend) && listedH8(*backend)->nominalSampleRate == 88200.0,
                         5000);
    H8_ASSERT_EVENTUALLY(cardField(stack, "h8_rate") == std::string("88200"), 2000);
    H8_ASSERT_EVENTUALLY(cardField(stack, "h8_out_rate") == std::string("88200"), 2000);
    EXPECT_EQ(cardField(stack, "webcam_rate"), "0");
    EXPECT_EQ(cardField(stack, "webcam_rate_writes"), webcamWrites);
    EXPECT_GE(availability.size(), 2);
    // While the server was down, at most one look per pause.
    EXPECT_LE(backend->connectionAttempts() - attemptsWhileDown, 8);
    // Capture works on the new connection.
    PeakSink sink;
    auto capture = backend->startCapture(after->id, &sink);
    ASSERT_TRUE(capture);
    EXPECT_TRUE(waitForFrames(sink, 4800));
}

}  // namespace
}  // namespace h8
