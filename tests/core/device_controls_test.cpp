// Mutes, OTG output volume, restores and the device half of the hardware poll, on the
// in-process emulated H8.

#include "core/device_controls.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>

#include "core/file_logger.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/user_defaults.h"
#include "temp_env.h"

namespace h8 {
namespace {

class DeviceControlsTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        usb_.plug();
        ASSERT_TRUE(startUSBMonitoring(usb_, usbInterface_));
        model().clearTransfers();
    }
    void TearDown() override { stopUSBMonitoring(); }

    emulated::EmulatedH8& model() { return usb_.model(); }
    // The transfers since the last call, as trace lines.
    std::vector<std::string> wire() {
        std::vector<std::string> lines;
        for (const auto& t : model().transfers())
            lines.push_back(formatControlTrace(t.setup, t.data.data(), t.status));
        model().clearTransfers();
        return lines;
    }
    static UserDefaults& defaults() { return UserDefaults::standard(); }

    test::TempEnv env_;
    UsbInterface usbInterface_;
    const UsbInterface::Installation installed_{usbInterface_};
    emulated::EmulatedUsbTransport usb_;
};

TEST_F(DeviceControlsTest, OtgVolumeSendsInvertedLevelToBothChannelsAndIsStored) {
    const std::pair<int, const char*> cases[] = {{100, "80"}, {0, "ff"}, {50, "bf"}, {1, "fe"}};
    for (const auto& [percent, wireByte] : cases) {
        EXPECT_TRUE(setOtgOutputVolume(percent));
        const std::string b = wireByte;
        EXPECT_EQ(wire(), (std::vector<std::string>{"usb> 40 03 03 00 00 00 01 00 | " + b,
                                                    "usb> 40 03 04 00 00 00 01 00 | " + b}))
            << percent;
        EXPECT_EQ(defaults().integerForKey(kOtgOutVolumeKey), percent);
        EXPECT_FLOAT_EQ(NorvShareHelper::shared().otgratio, percent / 100.0f);
        EXPECT_DOUBLE_EQ(NorvShareHelper::shared().OTGOut34Volume, percent);
    }
    // The level read back from the device gives the percent again, for every percent.
    for (int p = 0; p <= 100; ++p) EXPECT_EQ(std::lround(otgVolumeLevel(p) * 100.0 / 127), p);
}

TEST_F(DeviceControlsTest, MutesSendAndStoreOnlyTheLowBit) {
    EXPECT_TRUE(setHeadphoneMute(1));
    EXPECT_EQ(wire(), (std::vector<std::string>{"usb> 40 03 01 00 01 00 01 00 | 01",
                                                "usb> 40 03 02 00 01 00 01 00 | 01"}));
    EXPECT_EQ(defaults().integerForKey(kHeadphoneMuteKey), 1);
    EXPECT_TRUE(setInputMute(2, 3));  // 3 AND 1
    EXPECT_EQ(wire(), std::vector<std::string>{"usb> 40 03 02 01 01 00 01 00 | 01"});
    EXPECT_EQ(defaults().integerForKey(kMicMute2Key), 1);
    EXPECT_TRUE(setInputMute(1, 2));  // 2 AND 1 is 0
    EXPECT_EQ(wire(), std::vector<std::string>{"usb> 40 03 01 01 01 00 01 00 | 00"});
    EXPECT_EQ(defaults().integerForKey(kMicMute1Key), 0);
}

TEST_F(DeviceControlsTest, FailedWriteStillStoresTheSetting) {
    model().setFault(emulated::EmulatedH8::Fault::Stall);
    EXPECT_FALSE(setHeadphoneMute(1));
    EXPECT_FALSE(setOtgOutputVolume(40));
    EXPECT_EQ(defaults().integerForKey(kHeadphoneMuteKey), 1);
    EXPECT_EQ(defaults().integerForKey(kOtgOutVolumeKey), 40);
}

TEST_F(DeviceControlsTest, RestoreWithNothingStoredUnmutesAndSilencesOtg) {
    const InputMutes in = restoreInputMutes();
    EXPECT_EQ(in.input1 + in.input2, 0);
    const OutputSettings out = restoreOutputSettings();
    EXPECT_EQ(out.otgVolume, 0);
    EXPECT_EQ(out.headphoneMute, 0);
    EXPECT_EQ(wire(),
              (std::vector<std::string>{
                  "usb> 40 03 01 01 01 00 01 00 | 00", "usb> 40 03 02 01 01 00 01 00 | 00",
                  "usb> 40 03 03 00 00 00 01 00 | ff", "usb> 40 03 04 00 00 00 01 00 | ff",
                  "usb> 40 03 01 00 01 00 01 00 | 00", "usb> 40 03 02 00 01 00 01 00 | 00"}));
}

TEST_F(DeviceControlsTest, RestoreSendsStoredSettingsAndOnlyValueOneMutes) {
    defaults().setInteger(kMicMute1Key, 1);
    defaults().setInteger(kMicMute2Key, 2);  // not 1: unmuted
    defaults().setInteger(kHeadphoneMuteKey, 1);
    defaults().setInteger(kOtgOutVolumeKey, 50);
    EXPECT_EQ(restoreInputMutes().input1, 1);
    const OutputSettings out = restoreOutputSettings();
    EXPECT_EQ(out.otgVolume, 50);
    EXPECT_FLOAT_EQ(NorvShareHelper::shared().otgratio, 0.5f);
    const emulated::H8State s = model().state();
    EXPECT_EQ(s.mute.at(0x0101), 1);
    EXPECT_EQ(s.mute.at(0x0102), 0);
    EXPECT_EQ(s.mute.at(0x0001), 1);
    EXPECT_EQ(s.mute.at(0x0002), 1);
    EXPECT_EQ(s.volumeWire.at(0x0003), 0xBF);
}

TEST_F(DeviceControlsTest, PollReadsStateOtgAndHeadphoneMuteInThreeTransfers) {
    model().setGainCode(1, 15);
    model().setPhantomPower(2, true);
    model().setOtgPlugged(true);
    model().clearTransfers();
    emulated::H8State s = model().state();
    s.mute[0x0001] = 1;
    model().setState(s);

    const std::optional<HardwarePoll> poll = pollHardwareState(usbInterface_);
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->otgConnected, true);
    EXPECT_EQ(poll->headphoneMute, 1);
    EXPECT_DOUBLE_EQ(NorvShareHelper::shared().micIn1Volume, 6.2);
    EXPECT_EQ(NorvShareHelper::shared().mic248VState, 1);
    const auto lines = wire();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 28), "usb< c0 00 00 00 79 00 04 00");
    EXPECT_EQ(lines[1].substr(0, 28), "usb< c0 00 01 00 67 00 01 00");
    EXPECT_EQ(lines[2].substr(0, 28), "usb< c0 00 01 00 01 00 01 00");
}

TEST_F(DeviceControlsTest, PollRespectsTheGateAndTheOtgFlag) {
    NorvShareHelper::shared().canReadStatue = false;
    EXPECT_FALSE(pollHardwareState(usbInterface_));
    EXPECT_TRUE(wire().empty());

    NorvShareHelper::shared().canReadStatue = true;
    NorvShareHelper::shared().isHasOTGMax = false;
    const auto poll = pollHardwareState(usbInterface_);
    ASSERT_TRUE(poll);
    EXPECT_FALSE(poll->otgConnected);
    EXPECT_EQ(wire().size(), 2u);  // no OTG request

    // An interface that does not answer the first read is not asked the tick's other
    // questions (each could wait out a time-out).
    NorvShareHelper::shared().isHasOTGMax = true;
    model().setFault(emulated::EmulatedH8::Fault::Stall);
    const auto failed = pollHardwareState(usbInterface_);
    ASSERT_TRUE(failed);
    EXPECT_FALSE(failed->answered);
    EXPECT_FALSE(failed->otgConnected);
    EXPECT_FALSE(failed->headphoneMute);
    EXPECT_EQ(wire().size(), 1u);
}

TEST_F(DeviceControlsTest, AnHourOfIdlePollingWritesAFewLinesOfLog) {
    NorvShareHelper& store = NorvShareHelper::shared();
    store.logger = FileLogger::create(QStringLiteral("myapp.log"));
    ASSERT_TRUE(store.logger);
    store.canReadStatue = true;
    // An hour at six ticks a second, with one pause of the poll (a knob turned) in it.
    for (int tick = 0; tick < 6 * 3600; ++tick) {
        store.canReadStatue = tick != 1000;
        pollHardwareState(usbInterface_);
    }
    const qint64 bytes = QFileInfo(store.logger->filePath()).size();
    EXPECT_LT(bytes, 100 * 1024);
    QFile file(store.logger->filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    // The four progress lines at the start, and the three after the pause shows it ended.
    EXPECT_EQ(lines.size() - 1, 7);
    store.logger.reset();
}

}  // namespace
}  // namespace h8
