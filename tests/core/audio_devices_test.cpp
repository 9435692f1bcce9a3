// The audio device layer over a controllable backend: shared monitoring, the device-list
// notification, wrapper identity, property reads, and finding the interface.

#include "core/audio_devices.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "core/notification_names.h"
#include "fake_audio_backend.h"
#include "platform/notification_center.h"

namespace h8 {
namespace {

using test::FakeAudioBackend;
using test::fakeInterface;

AudioDeviceInfo plainDevice(uint32_t id, const QString& uid) {
    AudioDeviceInfo d;
    d.id = id;
    d.uid = uid;
    d.name = uid;
    return d;
}

class AudioDevicesTest : public testing::Test {
protected:
    void SetUp() override {
        backend_.list = {plainDevice(1, "builtin")};
        SimplyCoreAudio::setBackend(&backend_);
        NotificationCenter::defaultCenter().addObserver(
            &observer_, notify::kDeviceListChanged,
            [this](const Notification& n) { changes_.append(n); });
    }
    void TearDown() override { SimplyCoreAudio::setBackend(nullptr); }

    static QList<uint32_t> ids(const AudioDeviceList& list) {
        QList<uint32_t> result;
        for (const auto& d : list) result.append(d->id());
        return result;
    }

    FakeAudioBackend backend_;
    QObject observer_;
    QList<Notification> changes_;
};

TEST_F(AudioDevicesTest, MonitoringRunsWhileAnyEntryObjectExists) {
    {
        auto first = std::make_unique<SimplyCoreAudio>();
        {
            SimplyCoreAudio second;
            EXPECT_EQ(SimplyCoreAudio::instanceCount(), 2);
        }
        backend_.setDevices({plainDevice(1, "builtin"), fakeInterface(7)});
        ASSERT_EQ(changes_.size(), 1);  // still monitored through the first
    }
    EXPECT_EQ(SimplyCoreAudio::instanceCount(), 0);
    backend_.setDevices({plainDevice(1, "builtin")});
    EXPECT_EQ(changes_.size(), 1);  // no one listens any more
}

TEST_F(AudioDevicesTest, ListChangesReportAddedAndRemovedOnce) {
    SimplyCoreAudio audio;
    backend_.setDevices({plainDevice(1, "builtin"), fakeInterface(7)});
    backend_.setDevices({plainDevice(1, "builtin")});
    backend_.setDevices({plainDevice(1, "builtin")});  // nothing changed: two empty lists
    ASSERT_EQ(changes_.size(), 3);

    const auto added = [&](int i) {
        return ids(audioDeviceListFrom(changes_[i].userInfo["addedDevices"]));
    };
    const auto removed = [&](int i) {
        return ids(audioDeviceListFrom(changes_[i].userInfo["removedDevices"]));
    };
    EXPECT_EQ(added(0), QList<uint32_t>{7});
    EXPECT_TRUE(removed(0).isEmpty());
    EXPECT_TRUE(added(1).isEmpty());
    EXPECT_EQ(removed(1), QList<uint32_t>{7});
    EXPECT_TRUE(changes_[2].userInfo.contains("addedDevices"));
    EXPECT_TRUE(added(2).isEmpty());
    EXPECT_TRUE(removed(2).isEmpty());
}

TEST_F(AudioDevicesTest, SameDeviceYieldsTheSameWrapper) {
    SimplyCoreAudio audio;
    backend_.setDevices({plainDevice(1, "builtin"), fakeInterface(7)});
    const AudioDeviceList a = audio.allDevices();
    const AudioDeviceList b = audio.allDevices();
    ASSERT_EQ(a.size(), 2);
    EXPECT_EQ(a[1].get(), b[1].get());
    // The wrapper in the notification is the one the list gives.
    const AudioDeviceList added = audioDeviceListFrom(changes_.last().userInfo["addedDevices"]);
    ASSERT_EQ(added.size(), 1);
    EXPECT_EQ(added[0].get(), a[1].get());
}

TEST_F(AudioDevicesTest, PropertyReadsAndAbsentValues) {
    AudioDeviceInfo noTransport = plainDevice(2, "virtual");
    AudioDeviceInfo unknown = plainDevice(3, "odd");
    unknown.transportType = TransportType::unknown;
    AudioDeviceInfo twoStreams = plainDevice(4, "split");
    twoStreams.inputChannels = 2 + 14;
    backend_.setDevices({noTransport, unknown, twoStreams, fakeInterface(7)});
    SimplyCoreAudio audio;
    const AudioDeviceList all = audio.allDevices();
    ASSERT_EQ(all.size(), 4);
    EXPECT_FALSE(all[0]->transportType().has_value());
    EXPECT_EQ(transportTypeText(*all[1]->transportType()), "Unknown");
    EXPECT_EQ(all[2]->channels(Scope::input), 16u);
    EXPECT_EQ(all[3]->modelUID(), "H8:309C:0018");
    EXPECT_EQ(transportTypeText(*all[3]->transportType()), "USB");
    EXPECT_EQ(all[3]->nominalSampleRate(), 48000);

    // A device that went away reads as absent, and refuses a rate.
    const AudioDevicePtr h8 = all[3];
    backend_.setDevices({});
    EXPECT_FALSE(h8->uid());
    EXPECT_EQ(h8->channels(Scope::input), 0u);
    EXPECT_FALSE(h8->setNominalSampleRate(96000));
}

TEST_F(AudioDevicesTest, FindsTheInterfaceByTransportAndModel) {
    AudioDeviceInfo wrongCase = fakeInterface(8);
    wrongCase.modelUID = "H8:309c:0018";
    AudioDeviceInfo notUsb = fakeInterface(9);
    notUsb.transportType = TransportType::pci;
    AudioDeviceInfo fourParts = fakeInterface(10);
    fourParts.modelUID = "H8:309C:0018:x";
    backend_.setDevices({wrongCase, notUsb, fourParts});
    SimplyCoreAudio audio;
    EXPECT_EQ(findH8AudioDevice(audio.allDevices()), nullptr);

    backend_.setDevices({wrongCase, fakeInterface(11), notUsb});
    const AudioDevicePtr found = findH8AudioDevice(audio.allDevices());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->id(), 11u);
}

// Which listed H8 is the unit the USB side opened: by the USB serial string both sides read,
// the port path telling two units of one serial apart, or deciding alone without a serial.
TEST(UnitOfTest, SerialFirstThenPortPath) {
    AudioDeviceInfo d = fakeInterface(1);
    d.serial = "Norvalt_H8_1234ABCD";
    d.busPath = "pci-0000:00:14.0-usb-0:1.4:1.0";
    EXPECT_EQ(unitOf(d, "1234abcd", "1.4"), Unit::same);
    EXPECT_EQ(unitOf(d, "1234ABCD", ""), Unit::same);
    EXPECT_EQ(unitOf(d, "5678EF01", "1.4"), Unit::other);
    // One serial on two units: the ports tell them apart ("1" is not "1.4", nor is "4").
    EXPECT_EQ(unitOf(d, "1234ABCD", "1"), Unit::other);
    EXPECT_EQ(unitOf(d, "1234ABCD", "4"), Unit::other);

    // No serial on the USB side, or none listed: the port path alone, else unknown.
    EXPECT_EQ(unitOf(d, "", "1.4"), Unit::same);
    EXPECT_EQ(unitOf(d, "", "2"), Unit::other);
    EXPECT_EQ(unitOf(d, "", ""), Unit::unknown);
    d.serial.clear();
    d.uid = "alsa_card.usb-Norvalt_H8-00";
    EXPECT_EQ(unitOf(d, "1234ABCD", "2"), Unit::other);
    d.busPath.clear();
    EXPECT_EQ(unitOf(d, "1234ABCD", "2"), Unit::unknown);

    // The persistent name carries the serial where no property does.
    d.uid = "alsa_card.usb-Norvalt_H8_1234ABCD-00";
    EXPECT_EQ(unitOf(d, "1234ABCD", ""), Unit::same);
    EXPECT_EQ(unitOf(d, "5678EF01", ""), Unit::unknown);
}

TEST_F(AudioDevicesTest, RateListenerFollowsOnlyItsDeviceAndItsOwner) {
    backend_.setDevices({plainDevice(1, "builtin"), fakeInterface(7)});
    SimplyCoreAudio audio;
    const AudioDevicePtr h8 = findH8AudioDevice(audio.allDevices());
    int calls = 0;
    QObject owner;
    const auto connection =
        h8->addPropertyListener(AudioDevice::Property::nominalSampleRate, &owner, [&] { ++calls; });
    // A listener whose owner is gone is never called.
    int ownerlessCalls = 0;
    {
        QObject shortLived;
        h8->addPropertyListener(AudioDevice::Property::nominalSampleRate, &shortLived,
                                [&] { ++ownerlessCalls; });
    }
    backend_.setRate(1, 44100);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(h8->setNominalSampleRate(96000));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sampleRateText(*h8->nominalSampleRate()), "96000Hz");
    EXPECT_EQ(ownerlessCalls, 0);
    AudioDevice::removePropertyListener(connection);
    backend_.setRate(7, 48000);
    EXPECT_EQ(calls, 1);
}

TEST(SampleRateTextTest, TruncatesToWholeHertz) {
    EXPECT_EQ(sampleRateText(48000), "48000Hz");
    EXPECT_EQ(sampleRateText(44100.9), "44100Hz");
}

}  // namespace
}  // namespace h8
