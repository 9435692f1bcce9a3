// The audio device layer, the level engines, the routing engine and h8ctl on the real PipeWire
// stack of scripts/pipewire-env.sh with its fake 16-channel USB input.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <chrono>
#include <thread>

#include "core/audio_devices.h"
#include "core/audio_helper.h"
#include "core/level_engine.h"
#include "core/notification_names.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "pipewire_stack.h"
#include "platform/audio/pipewire_backend.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"

namespace h8 {
namespace {

using namespace std::chrono_literals;

class AudioLayerPipeWireTest : public testing::Test {
protected:
    void SetUp() override {
        H8_USE_PIPEWIRE_STACK(stack_);
        QString error;
        backend_ = PipeWireBackend::create(&error);
        ASSERT_TRUE(backend_) << error.toStdString();
        SimplyCoreAudio::setBackend(backend_.get());
        simply_ = std::make_unique<SimplyCoreAudio>();
        device_ = findH8AudioDevice(simply_->allDevices());
        ASSERT_TRUE(device_) << "the fake interface is not found as an H8";
    }
    void TearDown() override {
        simply_.reset();
        SimplyCoreAudio::setBackend(nullptr);
        backend_.reset();
        // A rate set on the card's nodes stays there: leave it to the server again.
        if (stack_.problem.empty()) {
            EXPECT_TRUE(test::resetCardRates(stack_));
        }
    }
    QString fifo() const { return QString::fromStdString(stack_.dir) + "/usb16.fifo"; }

    test::TempEnv env_;
    test::PipeWireStack stack_;
    std::unique_ptr<PipeWireBackend> backend_;
    std::unique_ptr<SimplyCoreAudio> simply_;
    AudioDevicePtr device_;
};

TEST_F(AudioLayerPipeWireTest, EachEngineReadsItsOwnChannelAndNoOther) {
    ASSERT_EQ(device_->channels(Scope::input), 16u);
    std::vector<std::unique_ptr<Engine>> engines;
    for (int i = 0; i < 16; ++i) engines.push_back(std::make_unique<Engine>(device_, i));
    for (auto& e : engines) ASSERT_TRUE(e->start());

    for (uint32_t active : {0u, 6u, 15u}) {
        test::FifoFeeder feeder(fifo().toStdString(), active);
        ASSERT_TRUE(feeder.error().empty()) << feeder.error();
        // Wait for the signal, then for the silence of the previous round to reach the others.
        const bool heard = QTest::qWaitFor(
            [&] {
                if (engines[active]->volumeIntensity() <= 0.01) return false;
                for (int i = 0; i < 16; ++i) {
                    if (static_cast<uint32_t>(i) != active && engines[i]->volumeIntensity() != 0.0)
                        return false;
                }
                return true;
            },
            8000);
        ASSERT_TRUE(heard) << "channel " << active;
        // A meter that must stay at zero has no event to wait for: look at several moments a
        // few render cycles apart.
        for (int sample = 0; sample < 5; ++sample) {
            std::this_thread::sleep_for(30ms);
            for (int i = 0; i < 16; ++i) {
                if (static_cast<uint32_t>(i) == active) {
                    EXPECT_GT(engines[i]->volumeIntensity(), 0.01) << "channel " << i;
                } else {
                    EXPECT_EQ(engines[i]->volumeIntensity(), 0.0)
                        << "channel " << i << " while " << active << " plays";
                }
            }
        }
    }
    for (auto& e : engines) e->stop();
}

TEST_F(AudioLayerPipeWireTest, RoutingEngineBuildsOneEnginePerInputOfTheInterface) {
    UserDefaults::setStandard(nullptr);
    NorvShareHelper::shared().resetForTesting();
    RoutingModel routing(UserDefaults::standard(), NotificationCenter::defaultCenter());
    auto helper = std::make_shared<NorvAudioHelper>(device_, routing);
    EXPECT_EQ(helper->inputUnits().size(), 16u);
    EXPECT_EQ(helper->outputUnits().size(), 12u);  // one per mixer destination
    EXPECT_EQ(NorvShareHelper::shared().sampleRate, "48000Hz");
    for (const auto& e : helper->inputUnits()) EXPECT_TRUE(e->isRunning());
}

TEST_F(AudioLayerPipeWireTest, AddingAndRemovingADevicePostsTheLists) {
    QList<Notification> changes;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        &observer, notify::kDeviceListChanged, [&](const Notification& n) { changes.append(n); });
    uint32_t addedId = 0;
    {
        test::PipeWireClient other;
        ASSERT_TRUE(other.connected());
        ASSERT_TRUE(other.createSink("h8-test-extra-sink", 2));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (const auto& n : changes) {
                    const AudioDeviceList added = audioDeviceListFrom(n.userInfo["addedDevices"]);
                    for (const auto& d : added) {
                        if (d->cachedDeviceName().contains("h8-test-extra-sink") ||
                            d->uid().value_or("").contains("h8-test-extra-sink")) {
                            addedId = d->id();
                        }
                    }
                }
                return addedId != 0;
            },
            5000));
        changes.clear();
    }
    // The sink goes with its client.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const auto& n : changes) {
                for (const auto& d : audioDeviceListFrom(n.userInfo["removedDevices"])) {
                    if (d->id() == addedId) return true;
                }
            }
            return false;
        },
        5000));
    for (const auto& n : changes) {
        EXPECT_TRUE(audioDeviceListFrom(n.userInfo["addedDevices"]).isEmpty());
    }
}

struct Result {
    int exitCode;
    QString out, err;
};

Result h8ctl(const QStringList& args) {
    QProcess p;
    p.start(H8CTL_PATH, args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

TEST_F(AudioLayerPipeWireTest, H8ctlRateAndMonitorNeedOnlyTheSoundServer) {
    const std::string webcamWrites = test::readCardState(stack_)["webcam_rate_writes"];
    // No USB access at all here: only the sound server sees the interface.
    Result r = h8ctl({"rate", "96000"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "96000Hz\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return device_->nominalSampleRate() == 96000.0; }, 3000));
    // The H8's own nodes keep the rate after h8ctl has gone; the next h8ctl reads it there.
    EXPECT_EQ(h8ctl({"rate"}).out, "96000Hz\n");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            auto state = test::readCardState(stack_);
            return state["h8_rate"] == "96000" && state["h8_out_rate"] == "96000";
        },
        3000))
        << "the H8's nodes do not hold 96000 Hz";
    auto card = test::readCardState(stack_);
    // Nothing else was touched: not the webcam's node, not the server's settings.
    EXPECT_EQ(card["webcam_rate"], "0");
    EXPECT_EQ(card["webcam_rate_writes"], webcamWrites);
    const auto forced = test::forcedGraphRate();
    ASSERT_TRUE(forced) << "pw-metadata cannot read the settings";
    EXPECT_TRUE(*forced == "" || *forced == "0") << *forced;
    ASSERT_TRUE(test::resetCardRates(stack_));

    {
        // The webcam's microphone, listed before the H8, talks: h8ctl meters the H8, not it.
        test::FifoFeeder webcam(stack_.dir + "/webcam.fifo", std::nullopt, 2);
        ASSERT_TRUE(webcam.error().empty()) << webcam.error();
        r = h8ctl({"--json", "monitor", "--seconds", "1"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        ASSERT_GE(lines.size(), 10);
        for (const QString& line : lines) {
            const QJsonDocument sample = QJsonDocument::fromJson(line.toUtf8());
            // What an earlier test left in the H8's FIFO plays first: look past it.
            if (sample["t"].toDouble() < 0.4) continue;
            const QJsonArray levels = sample["levels"].toArray();
            ASSERT_EQ(levels.size(), 16) << line.toStdString();
            for (const QJsonValue& level : levels)
                ASSERT_EQ(level.toDouble(), 0.0) << line.toStdString();
        }
    }

    test::FifoFeeder feeder(fifo().toStdString());
    r = h8ctl({"--json", "monitor", "--seconds", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 10);
    EXPECT_TRUE(lines.last().contains("\"levels\":["));
    // With the H8 fed, its levels show.
    const QJsonArray last = QJsonDocument::fromJson(lines.last().toUtf8())["levels"].toArray();
    ASSERT_EQ(last.size(), 16);
    EXPECT_GT(last[15].toDouble(), 0.0);
}

}  // namespace
}  // namespace h8
