// The routing engine on a controllable audio backend, with its crosspoint writes landing on
// the emulated H8's mixer.

#include "core/audio_helper.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QTest>

#include "captured_diagnostics.h"
#include "core/notification_names.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "plugged_interface_test.h"
#include "temp_env.h"

namespace h8 {
namespace {

constexpr uint8_t kSilent = 0xFF;

class AudioHelperTest : public test::PluggedInterfaceTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PluggedInterfaceTest::SetUp());
        backend_.setDevices({test::fakeInterface(7, 16)});
        // A mixer with every crosspoint silent, so each write shows.
        emulated::H8State s = usb_.model().state();
        s.mixer.fill(kSilent);
        usb_.model().setState(s);
        usb_.model().clearTransfers();
    }
    void TearDown() override {
        helper_.reset();
        PluggedInterfaceTest::TearDown();
    }

    static UserDefaults& defaults() { return UserDefaults::standard(); }
    AudioDevicePtr h8() { return findH8AudioDevice(SimplyCoreAudio().allDevices()); }
    // The engine on `device` (the interface's by default), following a routing model on what
    // the user defaults hold now.
    void create() { create(h8()); }
    void create(AudioDevicePtr device) {
        newRouting();
        helper_ = std::make_shared<NorvAudioHelper>(std::move(device), *routing_);
    }
    // What a commit of the engine was: the route switched by a command.
    void commit(int row, int col, bool on) { routing_->setRoute(row + 1, col + 1, on); }
    uint8_t mixer(uint16_t source, uint16_t destination) {
        return usb_.model().state().mixer[source + 12 * destination];
    }
    size_t mixerWrites() {
        size_t n = 0;
        for (const auto& t : usb_.model().transfers())
            n += t.setup.index == 0x001E && t.setup.requestType == 0x40;
        return n;
    }
    // A stored map: `routes` lists (row, col) pairs, 0-based, 16 columns of 16 rows.
    static QVariantList map(std::initializer_list<std::pair<int, int>> routes) {
        QVariantList m;
        for (int col = 0; col < 16; ++col) {
            QVariantList rows;
            for (int row = 0; row < 16; ++row) {
                bool on = false;
                for (const auto& [r, c] : routes) on = on || (r == row && c == col);
                rows.append(on);
            }
            m.append(QVariant(rows));
        }
        return m;
    }

    std::shared_ptr<NorvAudioHelper> helper_;
};

TEST_F(AudioHelperTest, FirstBuildRestoresSavedColumnsWithoutSendingThem) {
    store().setChannelMapArray(map({{4, 0}, {1, 7}}));
    create();
    ASSERT_EQ(helper_->inputUnits().size(), 16u);
    ASSERT_EQ(helper_->outputUnits().size(), 12u);  // the mixer's destinations
    EXPECT_TRUE(helper_->outputUnits()[0]->isStart);
    EXPECT_TRUE(helper_->outputUnits()[0]->enableArray[4]);
    EXPECT_TRUE(helper_->outputUnits()[7]->enableArray[1]);
    EXPECT_FALSE(helper_->outputUnits()[3]->isStart);  // all-false saved column stays fresh
    EXPECT_EQ(mixerWrites(), 0u);                      // the interface keeps its own mixer
    EXPECT_TRUE(store().isInit);
    EXPECT_EQ(store().sampleRate, "48000Hz");
    EXPECT_EQ(store().hardwareDevice, helper_->hardwareDevice());
    EXPECT_FLOAT_EQ(store().scalar, 0.5f);
    ASSERT_TRUE(store().inputUnits);
    EXPECT_EQ(store().inputUnits->size(), 16u);
}

TEST_F(AudioHelperTest, DeviceWithoutInputsBuildsNoEnginesButEveryColumn) {
    backend_.setDevices({test::fakeInterface(7, 0)});
    create();
    EXPECT_TRUE(helper_->inputUnits().empty());
    EXPECT_EQ(helper_->outputUnits().size(), 12u);
    EXPECT_EQ(backend_.capturesStarted, 0);
    EXPECT_TRUE(store().isInit);
}

TEST_F(AudioHelperTest, CommitSendsTheCrosspointAndStoresTheMap) {
    create();
    test::CapturedDiagnostics diag;
    commit(0, 4, true);  // mic 1 to L1: source code 8, destination 4
    EXPECT_EQ(mixer(8, 4), 0x80);
    EXPECT_TRUE(diag.contains("setStartAndStop  row ==0 col ===4 state ===1"));
    commit(11, 2, true);  // playback 8: source code 7
    EXPECT_EQ(mixer(7, 2), 0x80);
    commit(0, 4, false);
    EXPECT_EQ(mixer(8, 4), kSilent);
    const Output& col4 = *helper_->outputUnits()[4];
    EXPECT_TRUE(col4.isStart);  // an off never un-starts a column
    EXPECT_FALSE(col4.enableArray[0]);

    // Off in a column that never started: the write goes out, the column is unchanged.
    commit(3, 9, false);
    EXPECT_EQ(mixer(11, 9), kSilent);
    EXPECT_FALSE(helper_->outputUnits()[9]->isStart);

    const QVariantList stored = *defaults().arrayForKey(kChannelMapKey);
    ASSERT_EQ(stored.size(), 16);
    EXPECT_TRUE(stored[2].toList()[11].toBool());
    EXPECT_FALSE(stored[4].toList()[0].toBool());
    EXPECT_EQ(stored[2].toList()[11].typeId(), QMetaType::Bool);
}

TEST_F(AudioHelperTest, RebuildResendsEnabledRoutesWithTheirStoredLevels) {
    store().setChannelMapArray(map({}));
    create();
    commit(4, 0, true);  // playback 1 → H1, level 100
    commit(5, 1, true);  // playback 2 → H2, level 1
    commit(0, 5, true);  // mic 1 → L2, level 50
    commit(1, 6, true);  // mic 2 → L3, 100
    commit(2, 7, true);  // OTG 3 → L4, explicitly 0: silent
    routing_->setLevel(5, 1, 100);
    routing_->setLevel(6, 2, 1);
    routing_->setLevel(1, 6, 50.7f);  // truncated to 50
    routing_->setLevel(3, 8, 0);
    usb_.model().clearTransfers();

    // A rate change from the user (well after the last arrival) rebuilds.
    store().timestamp = QDateTime::currentMSecsSinceEpoch() / 1000.0 - 10;
    int rateNotifications = 0;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        &observer, notify::kChangeSampleRate, [&](const Notification&) { ++rateNotifications; });
    ASSERT_TRUE(h8()->setNominalSampleRate(96000));
    QCoreApplication::sendPostedEvents();  // the rebuild is queued to the main loop
    EXPECT_EQ(store().sampleRate, "96000Hz");
    EXPECT_EQ(rateNotifications, 1);

    EXPECT_EQ(mixer(0, 0), 0x81);  // 100 %
    EXPECT_EQ(mixer(1, 1), 0xFE);  // 1 %
    EXPECT_EQ(mixer(8, 5), 0xC0);  // 50 %
    EXPECT_EQ(mixer(9, 6), 0x81);  // no stored level: 100 %, not silent
    EXPECT_EQ(mixer(10, 7), kSilent);
    EXPECT_EQ(mixerWrites(), 5u);
    EXPECT_TRUE(helper_->outputUnits()[5]->enableArray[0]);
}

TEST_F(AudioHelperTest, RateChangesWhileSettlingOrUninitialisedAreIgnored) {
    create();
    int builds = 0;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(&observer, notify::kChangeSampleRate,
                                                    [&](const Notification&) { ++builds; });
    store().timestamp = QDateTime::currentMSecsSinceEpoch() / 1000.0 - 1;  // just arrived
    backend_.setRate(7, 96000);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(builds, 0);
    EXPECT_EQ(store().sampleRate, "48000Hz");

    store().timestamp = QDateTime::currentMSecsSinceEpoch() / 1000.0 - 10;
    store().isInit = false;  // removed
    backend_.setRate(7, 44100);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(builds, 0);

    // Without any recorded arrival or removal the change is taken.
    store().timestamp.reset();
    store().isInit = true;
    backend_.setRate(7, 88200);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(store().sampleRate, "88200Hz");
}

TEST_F(AudioHelperTest, RemovalDropsTheListeners) {
    create();
    NotificationCenter::defaultCenter().post(notify::kRawDeviceRemoved);
    store().timestamp.reset();
    backend_.setRate(7, 96000);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(store().sampleRate, "48000Hz");
}

TEST_F(AudioHelperTest, CorruptStoredMapsNeverBreakABuild) {
    const QList<QVariant> corrupt = {
        QVariant(QVariantList{}),                              // empty
        QVariant(QVariantList{QVariant(QVariantList{true})}),  // short column
        QVariant(QVariantList{QVariant("x"), QVariant(3),
                              QVariant(QVariantMap{{"a", 1}})}),  // wrong types
        QVariant(QVariantList{QVariant(QVariantList{1, 0, 1})}),  // numbers, not booleans
        QVariant(QVariantList{QVariant(QVariantList{true, "yes", false})}),  // mixed
    };
    for (const QVariant& value : corrupt) {
        defaults().setObject(kChannelMapKey, value);
        create();
        EXPECT_EQ(helper_->outputUnits().size(), 12u);
        helper_->buildUnit(true);
        helper_->buildUnit(false);
    }
    // The short column was taken as far as it goes.
    defaults().setObject(kChannelMapKey, QVariantList{QVariant(QVariantList{false, true})});
    create();
    EXPECT_TRUE(helper_->outputUnits()[0]->enableArray[1]);
    EXPECT_FALSE(helper_->outputUnits()[0]->enableArray[15]);
    // A hand edit's 0 and 1 are off and on.
    defaults().setObject(kChannelMapKey, QVariantList{QVariant(QVariantList{1, 0, 1})});
    create();
    EXPECT_TRUE(helper_->outputUnits()[0]->isStart);
    EXPECT_TRUE(helper_->outputUnits()[0]->enableArray[2]);
    EXPECT_FALSE(helper_->outputUnits()[0]->enableArray[1]);
    // A map that cannot be read is not "every route off": the default map is used.
    defaults().setObject(kChannelMapKey, QVariantList{QVariant(QVariantList{1, 2})});
    create();
    EXPECT_TRUE(helper_->outputUnits()[0]->enableArray[4]);  // playback 1 -> headphones 1
}

// A map with a route into each of the 12 destinations and levels for them.
QVariantList routesToEveryDestination() {
    QVariantList m;
    for (int col = 0; col < 16; ++col) {
        QVariantList rows;
        for (int row = 0; row < 16; ++row) rows.append(col < 12 && row == (col + 4) % 12);
        m.append(QVariant(rows));
    }
    return m;
}

TEST_F(AudioHelperTest, FewerInputsThanDestinationsLoseNoStoredRoute) {
    // A profile with 2 inputs (or none without a sound server) must not cut the route map to
    // its input count: the mixer has 12 destinations whatever the audio device reports.
    for (uint32_t inputs : {2u, 0u}) {
        store().setChannelMapArray(routesToEveryDestination());
        defaults().setFloat(crosspointLevelKey(11 + 1, 7 + 1), 50.0f);
        backend_.setDevices({test::fakeInterface(7, inputs)});
        create();
        commit(0, 0, true);  // one edit: mic 1 into destination 1
        const std::vector<Output> stored = columnsFromStoredMap(store().channelMapArray());
        ASSERT_EQ(stored.size(), 16u) << inputs << " inputs";
        EXPECT_TRUE(stored[0].enableArray[0]);
        for (int col = 0; col < 12; ++col) {
            EXPECT_TRUE(stored[col].enableArray[(col + 4) % 12]) << "destination " << col;
        }
        EXPECT_FLOAT_EQ(defaults().floatForKey(crosspointLevelKey(12, 8)), 50.0f);
        // A rebuild (a rate change) re-sends every kept route, at its stored level.
        usb_.model().clearTransfers();
        helper_->buildUnit(false);
        EXPECT_EQ(mixerWrites(), 13u);
        EXPECT_EQ(mixer(7, 7), 0xC0);  // row 11 (playback 8) at 50 %
        helper_.reset();
    }
}

TEST_F(AudioHelperTest, ProfileSwitchRestartsTheCaptureAndKeepsTheRoutes) {
    backend_.setDevices({test::fakeInterface(7, 2)});
    create();
    commit(4, 1, true);
    ASSERT_EQ(helper_->inputUnits().size(), 2u);
    const size_t writes = mixerWrites();
    const int captures = backend_.capturesStarted;

    AudioDeviceInfo wide = test::fakeInterface(7, 16);
    wide.inputStreamId = 2;
    backend_.setDevices({wide});
    ASSERT_EQ(helper_->inputUnits().size(), 16u);
    ASSERT_TRUE(store().inputUnits);
    EXPECT_EQ(store().inputUnits->size(), 16u);
    EXPECT_EQ(backend_.capturesStarted, captures + 1);
    // The new capture carries 16 channels: the upper meters come alive.
    std::vector<float> frame(16, 0.5f);
    backend_.deliver(frame.data(), 1, 16);
    EXPECT_GT(helper_->inputUnits()[15]->volumeIntensity(), 0.0);
    // Routes and the interface's mixer are left alone.
    EXPECT_EQ(mixerWrites(), writes);
    EXPECT_TRUE(helper_->outputUnits()[1]->enableArray[4]);

    // Back to 2: the engines of the other channels are gone, so their meters read 0.
    backend_.setDevices({test::fakeInterface(7, 2)});
    EXPECT_EQ(helper_->inputUnits().size(), 2u);
    EXPECT_EQ(store().inputUnits->size(), 2u);
    EXPECT_EQ(mixerWrites(), writes);
}

TEST_F(AudioHelperTest, EveryReattachFollowsRateChangesOfTheNewDevice) {
    create();
    for (uint32_t id : {8u, 9u, 10u}) {
        NotificationCenter::defaultCenter().post(notify::kRawDeviceRemoved);
        backend_.setDevices({test::fakeInterface(id, 16)});
        helper_->setHardwareDevice(h8());
        helper_->buildUnit(false);
        store().timestamp.reset();
        backend_.setRate(id, 88200);
        QTRY_COMPARE(store().sampleRate, QStringLiteral("88200Hz"));
        backend_.setRate(id, 48000);
        QTRY_COMPARE(store().sampleRate, QStringLiteral("48000Hz"));
    }
}

TEST_F(AudioHelperTest, BoundOnUsbAloneTheAudioSideAttachesWithoutResendingRoutes) {
    store().setChannelMapArray(map({{4, 0}, {5, 1}}));
    store().sampleRate.clear();
    create(nullptr);
    EXPECT_TRUE(helper_->inputUnits().empty());
    EXPECT_EQ(helper_->outputUnits().size(), 12u);
    EXPECT_TRUE(helper_->outputUnits()[1]->enableArray[5]);
    EXPECT_TRUE(store().isInit);
    EXPECT_TRUE(store().sampleRate.isEmpty());
    commit(6, 2, true);  // routing works without the audio side
    EXPECT_EQ(mixer(2, 2), 0x80);

    const size_t writes = mixerWrites();
    helper_->attachAudioDevice(h8());
    EXPECT_EQ(helper_->inputUnits().size(), 16u);
    EXPECT_EQ(store().sampleRate, "48000Hz");
    EXPECT_EQ(mixerWrites(), writes);
    store().timestamp.reset();
    backend_.setRate(7, 96000);
    QTRY_COMPARE(store().sampleRate, QStringLiteral("96000Hz"));

    const size_t afterRateChange = mixerWrites();
    helper_->detachAudioDevice();
    EXPECT_TRUE(helper_->inputUnits().empty());
    EXPECT_FALSE(store().hardwareDevice);
    EXPECT_EQ(mixerWrites(), afterRateChange);
    EXPECT_TRUE(helper_->outputUnits()[2]->enableArray[6]);
}

TEST_F(AudioHelperTest, RowsMapToDeviceSourceCodes) {
    for (int row = 0; row < 4; ++row) EXPECT_EQ(sourceCodeForRow(row), row + 8);
    for (int row = 4; row < 16; ++row) EXPECT_EQ(sourceCodeForRow(row), row - 4);
    EXPECT_EQ(crosspointLevelKey(5, 1), "volume51");
    EXPECT_EQ(crosspointLevelKey(1, 12), "volume112");
}

}  // namespace
}  // namespace h8
