// The panel (window, view controller, routing engine, meters) on the real PipeWire test stack,
// which presents the H8 as a real desktop's session manager does: a USB card device whose
// capture node carries its device id and changes with the card's profile, a webcam's
// microphone listed before it, and a server that can be restarted under the running panel. USB
// is the emulated H8.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <chrono>
#include <thread>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/level_engine.h"
#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_usb_transport.h"
#include "panel_app_test.h"
#include "pipewire_stack.h"
#include "platform/audio/pipewire_backend.h"
#include "platform/clock.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/panels/bottom_view.h"
#include "ui/sections/main_contain_view.h"
#include "ui/widgets/lum_label.h"
#include "view_controller.h"

namespace h8 {
namespace {

using namespace std::chrono_literals;

const QString kH8Uid = QStringLiteral("alsa_card.usb-Norvalt_H8_1234ABCD-00");
const QString kWebcamUid = QStringLiteral("alsa_card.usb-Generic_USB_Webcam_WC0001-02");

class PanelPipeWireTest : public test::PanelAppTest {
protected:
    void SetUp() override {
        H8_USE_PIPEWIRE_STACK(stack_);
        QString error;
        backend_ = PipeWireBackend::createReconnecting(&error);
        ASSERT_TRUE(backend_->isAvailable()) << error.toStdString();
        installApp(*backend_);
        silenceMixer();
        realTime_ = true;  // real audio moves the meters
    }
    void TearDown() override {
        PanelAppTest::TearDown();
        backend_.reset();
        // The next test finds the stack as it was.
        if (stack_.problem.empty()) {
            stackCommand("second-unplug");
            stackCommand("plug");
            stackCommand("profile", "16");
            EXPECT_TRUE(test::resetCardRates(stack_));
        }
    }

    bool stackCommand(const char* command, const char* argument = nullptr) {
        QStringList args{QStringLiteral(H8_SOURCE_DIR "/scripts/pipewire-env.sh"),
                         QString::fromLatin1(command), QString::fromStdString(stack_.dir)};
        if (argument) args.append(QString::fromLatin1(argument));
        QProcess script;
        script.setProcessChannelMode(QProcess::ForwardedChannels);
        script.start(QStringLiteral("bash"), args);
        return script.waitForFinished(30000) && script.exitStatus() == QProcess::NormalExit &&
               script.exitCode() == 0;
    }
    std::string fifo(const char* name) const { return stack_.dir + "/" + name; }

    void launch() {
        usb_.plug();
        launchApp();
    }
    QString boundUid() {
        return controller()->hardwareDevice ? controller()->hardwareDevice->uid().value_or("")
                                            : QString();
    }
    // What the panel's meters show: the level of engine i, 0 for an engine that is not there.
    std::array<double, 16> meters() {
        std::array<double, 16> levels{};
        const auto& engines = NorvShareHelper::shared().inputUnits;
        for (size_t i = 0; engines && i < engines->size() && i < 16; ++i)
            levels[i] = (*engines)[i]->volumeIntensity();
        return levels;
    }
    bool allMetersAlive(size_t count) {
        const auto levels = meters();
        for (size_t i = 0; i < count; ++i) {
            if (levels[i] <= 0.01) return false;
        }
        return true;
    }

    test::PipeWireStack stack_;
    std::unique_ptr<PipeWireBackend> backend_;
};

TEST_F(PanelPipeWireTest, BindsTheH8OnceWithTheWebcamListedFirstAndNeverMetersTheWebcam) {
    // The webcam comes first in the server's list.
    const QList<AudioDeviceInfo> listed = backend_->devices();
    qsizetype webcamAt = -1, h8At = -1;
    for (qsizetype i = 0; i < listed.size(); ++i) {
        if (listed[i].uid == kWebcamUid) webcamAt = i;
        if (listed[i].uid == kH8Uid) h8At = i;
    }
    ASSERT_GE(webcamAt, 0);
    ASSERT_GT(h8At, webcamAt);

    launch();
    H8_ASSERT_EVENTUALLY(boundUid() == kH8Uid, 3000);
    EXPECT_EQ(NorvShareHelper::shared().inputUnits->size(), 16u);

    // The webcam talks (and something records it), the H8's inputs are silent: no H8 meter
    // moves. First the H8 plays out whatever an earlier test left in its FIFO: wait until its
    // meters have read 0 for half a second.
    QElapsedTimer silentSince;
    silentSince.start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (double level : meters()) {
                if (level != 0.0) silentSince.restart();
            }
            return silentSince.elapsed() >= 500;
        },
        10000));
    test::FifoFeeder webcamVoice(fifo("webcam.fifo"), std::nullopt, 2);
    ASSERT_TRUE(webcamVoice.error().empty()) << webcamVoice.error();
    AudioDevicePtr webcam;
    for (const AudioDevicePtr& d : SimplyCoreAudio().allDevices()) {
        if (d->uid() == kWebcamUid) webcam = d;
    }
    ASSERT_TRUE(webcam);
    Engine recorder(webcam, 0);
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.volumeIntensity() > 0.01; }, 8000));
    // The panel's meters must stay at zero: nothing to wait for but several meter ticks.
    for (int sample = 0; sample < 10; ++sample) {
        QTest::qWait(50);
        for (double level : meters()) ASSERT_EQ(level, 0.0);
    }
    recorder.stop();
    EXPECT_EQ(binds_, 1);
    EXPECT_EQ(boundUid(), kH8Uid);
}

// Two H8s on the sound server, the other one (another unit, on another port) listed first:
// the panel meters the unit whose USB side it opened, and says that another is connected.
TEST_F(PanelPipeWireTest, OfTwoH8sTheUnitOpenedOnUsbIsMeteredThoughTheOtherIsListedFirst) {
    const QString otherUid = QStringLiteral("alsa_card.usb-Norvalt_H8_5678EF01-00");
    // The server hands out the lowest free ids, and lists by id: the second H8 plugged in while
    // the first is away takes its place in the list, and the first comes back after it.
    ASSERT_TRUE(stackCommand("unplug"));
    ASSERT_TRUE(stackCommand("second-plug"));
    ASSERT_TRUE(stackCommand("plug"));
    qsizetype otherAt = -1, h8At = -1;
    H8_ASSERT_EVENTUALLY(
        [&] {
            const QList<AudioDeviceInfo> listed = backend_->devices();
            for (qsizetype i = 0; i < listed.size(); ++i) {
                if (listed[i].uid == otherUid) otherAt = i;
                if (listed[i].uid == kH8Uid) h8At = i;
            }
            return otherAt >= 0 && h8At >= 0;
        }(),
        5000);
    ASSERT_LT(otherAt, h8At);

    test::FifoFeeder all16(fifo("usb16.fifo"));
    ASSERT_TRUE(all16.error().empty()) << all16.error();
    launch();
    H8_ASSERT_EVENTUALLY(boundUid() == kH8Uid, 5000);
    EXPECT_EQ(NorvShareHelper::shared().inputUnits->size(), 16u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return allMetersAlive(16); }, 8000));
    EXPECT_TRUE(controller()->norvMainContaiView->bottomVew->toolTip().contains(
        QStringLiteral("另一台 H8 已连接，未使用。")));

    // The other one goes: nothing changes for the unit in use.
    ASSERT_TRUE(stackCommand("second-unplug"));
    H8_ASSERT_EVENTUALLY(!controller()->norvMainContaiView->bottomVew->toolTip().contains(
                             QStringLiteral("另一台 H8 已连接，未使用。")),
                         5000);
    EXPECT_EQ(boundUid(), kH8Uid);
    EXPECT_EQ(binds_, 1);
}

// How many capture streams of the panel the server has ("h8-controller.capture"), as pw-dump
// lists them; absent when pw-dump cannot be run.
std::optional<int> ourStreams() {
    QProcess dump;
    dump.start(QStringLiteral("pw-dump"), {});
    if (!dump.waitForFinished(10000) || dump.exitCode() != 0) return std::nullopt;
    return static_cast<int>(dump.readAllStandardOutput().count("\"h8-controller.capture\""));
}

// A hidden window keeps no stream on the server (the H8's nodes may suspend); shown again, the
// meters come back.
TEST_F(PanelPipeWireTest, AHiddenWindowKeepsNoCaptureStreamOnTheServer) {
    test::FifoFeeder all16(fifo("usb16.fifo"));
    ASSERT_TRUE(all16.error().empty()) << all16.error();
    launch();
    H8_ASSERT_EVENTUALLY(boundUid() == kH8Uid, 3000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return allMetersAlive(16); }, 8000));
    ASSERT_TRUE(ourStreams()) << "pw-dump cannot be run";
    EXPECT_GT(*ourStreams(), 0);

    window_->hide();
    H8_ASSERT_EVENTUALLY(ourStreams() == 0, 5000);
    window_->show();
    H8_ASSERT_EVENTUALLY(ourStreams() > 0, 5000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return allMetersAlive(16); }, 8000));
    EXPECT_EQ(binds_, 1);
}

TEST_F(PanelPipeWireTest, MetersFollowTheProfileOfTheCard) {
    ASSERT_TRUE(stackCommand("profile", "2"));
    H8_ASSERT_EVENTUALLY(
        findH8AudioDevice(SimplyCoreAudio().allDevices()) &&
            findH8AudioDevice(SimplyCoreAudio().allDevices())->channels(Scope::input) == 2,
        5000);
    launch();
    H8_ASSERT_EVENTUALLY(boundUid() == kH8Uid, 3000);
    EXPECT_EQ(NorvShareHelper::shared().inputUnits->size(), 2u);
    const size_t writes = mixerWrites();

    // 2 → 16: the capture is made anew and all 16 meters come alive.
    test::FifoFeeder all16(fifo("usb16.fifo"));
    ASSERT_TRUE(all16.error().empty()) << all16.error();
    ASSERT_TRUE(stackCommand("profile", "16"));
    H8_ASSERT_EVENTUALLY(NorvShareHelper::shared().inputUnits->size() == size_t{16}, 5000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return allMetersAlive(16); }, 8000));

    // 16 → 2: the two left carry the stereo input; the other meters fall to 0.
    test::FifoFeeder stereo(fifo("usb2.fifo"), std::nullopt, 2);
    ASSERT_TRUE(stackCommand("profile", "2"));
    H8_ASSERT_EVENTUALLY(NorvShareHelper::shared().inputUnits->size() == size_t{2}, 5000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return allMetersAlive(2); }, 8000));
    const auto levels = meters();
    for (size_t i = 2; i < 16; ++i) EXPECT_EQ(levels[i], 0.0) << "meter " << i;

    // The card keeps its routes through every switch; nothing was sent to the interface.
    EXPECT_EQ(binds_, 1);
    EXPECT_EQ(mixerWrites(), writes);
}

TEST_F(PanelPipeWireTest, TheRateMenuSetsTheH8sOwnRateWhichItsNewNodesGetAfterARePlug) {
    const std::string webcamWrites = test::readCardState(stack_)["webcam_rate_writes"];
    launch();
    H8_ASSERT_EVENTUALLY(boundUid() == kH8Uid, 3000);
    H8_ASSERT_EVENTUALLY(window_->sanpleMenu->isEnabled(), 3000);
    ui::LumLabel* rate = controller()->norvMainContaiView->bottomVew->samplel;

    ASSERT_TRUE(window_->chooseSampleRate(96000));
    H8_ASSERT_EVENTUALLY(rate->text() == QStringLiteral("采样率:96000Hz"), 5000);
    // On the H8's capture and playback nodes, nowhere else. The card writes its state file
    // after it has answered the server.
    H8_ASSERT_EVENTUALLY(test::readCardState(stack_)["h8_rate"] == "96000", 3000);
    H8_ASSERT_EVENTUALLY(test::readCardState(stack_)["h8_out_rate"] == "96000", 3000);
    auto card = test::readCardState(stack_);
    EXPECT_EQ(card["webcam_rate"], "0");
    EXPECT_EQ(card["webcam_rate_writes"], webcamWrites);
    const auto forced = test::forcedGraphRate();
    ASSERT_TRUE(forced) << "pw-metadata cannot read the settings";
    EXPECT_TRUE(*forced == "" || *forced == "0") << *forced;

    // The card goes and comes back while the panel runs (its USB side stays): the new nodes
    // start with the rate left to the server and get the chosen one again.
    ASSERT_TRUE(stackCommand("unplug"));
    H8_ASSERT_EVENTUALLY(!controller()->hardwareDevice, 5000);
    EXPECT_TRUE(controller()->isBound());
    // Well past the time in which rate changes count as the device settling.
    NorvShareHelper::shared().timestamp = NorvShareHelper::shared().timestamp.value_or(0) - 10;
    ASSERT_TRUE(stackCommand("plug"));
    H8_ASSERT_EVENTUALLY(boundUid() == kH8Uid, 5000);
    H8_ASSERT_EVENTUALLY(test::readCardState(stack_)["h8_rate"] == std::string("96000"), 5000);
    H8_ASSERT_EVENTUALLY(test::readCardState(stack_)["h8_out_rate"] == std::string("96000"), 5000);
    H8_ASSERT_EVENTUALLY(rate->text() == QStringLiteral("采样率:96000Hz"), 5000);
    H8_ASSERT_EVENTUALLY(window_->sanpleMenu->actions()[3]->isChecked(), 5000);
    EXPECT_EQ(test::readCardState(stack_)["webcam_rate_writes"], webcamWrites);
    EXPECT_EQ(binds_, 1);
}

TEST_F(PanelPipeWireTest, AServerRestartUnderTheRunningPanelBringsMetersAndRateBack) {
    launch();
    H8_ASSERT_EVENTUALLY(boundUid() == kH8Uid, 3000);
    H8_ASSERT_EVENTUALLY(window_->sanpleMenu->isEnabled(), 3000);
    controller()->norvMainContaiView->routing().drop(5, 1);  // playback 1 → destination 1
    const size_t writes = mixerWrites();
    ui::LumLabel* rate = controller()->norvMainContaiView->bottomVew->samplel;

    // Whatever happens below, the tests that follow find the server running.
    auto restart = qScopeGuard([this] { stackCommand("start-server"); });
    ASSERT_TRUE(stackCommand("stop-server"));
    H8_ASSERT_EVENTUALLY(!controller()->hardwareDevice, 5000);
    EXPECT_TRUE(controller()->isBound());
    EXPECT_FALSE(controller()->norvMainContaiView->isHidden());
    EXPECT_FALSE(window_->sanpleMenu->isEnabled());
    EXPECT_TRUE(rate->text().contains(QStringLiteral("无声音服务器")));

    test::FifoFeeder all16(fifo("usb16.fifo"));
    ASSERT_TRUE(stackCommand("start-server"));
    restart.dismiss();
    H8_ASSERT_EVENTUALLY(boundUid() == kH8Uid, PipeWireBackend::kMaxRetryMs + 8000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return allMetersAlive(16); }, 8000));
    EXPECT_TRUE(window_->sanpleMenu->isEnabled());
    H8_ASSERT_EVENTUALLY(rate->text() == QStringLiteral("采样率:48000Hz"), 3000);
    // The interface kept its mixer all along: nothing is re-sent for a sound server restart.
    EXPECT_EQ(mixerWrites(), writes);
    EXPECT_EQ(binds_, 1);

    // Another program changes the rate of the H8's nodes: the panel follows it again.
    NorvShareHelper::shared().timestamp = NorvShareHelper::shared().timestamp.value_or(0) - 10;
    auto card = test::readCardState(stack_);
    test::PipeWireClient other;
    for (const char* node : {"h8_node", "h8_out_node"})
        ASSERT_TRUE(other.setNodeRate(static_cast<uint32_t>(std::stoul(card[node])), 96000));
    H8_ASSERT_EVENTUALLY(rate->text() == QStringLiteral("采样率:96000Hz"), 5000);
    H8_ASSERT_EVENTUALLY(window_->sanpleMenu->actions()[3]->isChecked(), 5000);

    EXPECT_EQ(binds_, 1);
}

}  // namespace
}  // namespace h8
