// The emulated H8's own behaviour: its state file, how the physical controls show up in the
// requests the panel sends, the change listener, injected faults, the transfer log and thread
// safety. The request packets themselves are covered through libusb in tests/usb.

#include "emulated/emulated_h8.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <ostream>
#include <thread>

#include "temp_env.h"

namespace h8::emulated {

// Failed comparisons print the state as its state file rather than as raw bytes.
void PrintTo(const H8State& state, std::ostream* os) {
    *os << EmulatedH8::toJson(state).toStdString();
}

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint16_t kRegVolume = 0x0000;
constexpr uint16_t kRegMute = 0x0001;
constexpr uint16_t kReg48V = 0x0002;
constexpr uint16_t kRegMixer = 0x001E;
constexpr uint16_t kRegOtg = 0x0067;

constexpr UsbSetup kReadHwState{0xC0, 0x00, 0x0000, 0x0079, 4};

// Sends a one-byte vendor write; returns the status.
int writeByte(EmulatedH8& dev, uint16_t index, uint16_t value, uint8_t byte) {
    return dev.handleControl({0x40, 0x03, value, index, 1}, &byte);
}

// Sends a one-byte vendor read; returns the byte, or the negative status.
int readByte(EmulatedH8& dev, uint16_t index, uint16_t value) {
    uint8_t byte = 0;
    const int status = dev.handleControl({0xC0, 0x00, value, index, 1}, &byte);
    return status == 1 ? byte : status;
}

std::array<uint8_t, 4> readHwState(EmulatedH8& dev) {
    std::array<uint8_t, 4> hw{};
    EXPECT_EQ(dev.handleControl(kReadHwState, hw.data()), 4);
    return hw;
}

// A state in which every field, and every entry of every map, differs from the factory state.
H8State everyFieldChanged() {
    H8State s = H8State::factory();
    s.switchBits = 0x2D;
    s.gainCode = {0x11, 0xEE};
    s.headphoneLevelCode = 0x07;
    s.otgPlugged = true;
    uint8_t next = 0x10;
    for (auto& [address, muted] : s.mute) muted = 1;
    for (auto& [address, wire] : s.volumeWire) wire = next++;
    for (auto& [channel, on] : s.fourDbu) on = 1;
    for (size_t i = 0; i < s.mixer.size(); ++i) s.mixer[i] = static_cast<uint8_t>(i);
    s.btEnable = 1;
    s.btStatus = 3;
    s.btMac = 0xBEEF;
    s.backupState = 5;
    for (size_t i = 0; i < s.block1F.size(); ++i) s.block1F[i] = static_cast<uint8_t>(0xA0 + i);
    s.sampleRate = 96000;
    return s;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// ---- State file ----

class StateFileTest : public testing::Test {
protected:
    QString path() const { return env_.root() + "/emulated-h8.json"; }
    QStringList filesInRoot() const {
        return QDir(env_.root()).entryList(QDir::Files | QDir::Hidden);
    }

    test::TempEnv env_;
};

TEST_F(StateFileTest, JsonRoundTripKeepsEveryField) {
    const H8State changed = everyFieldChanged();
    H8State back;
    QString error;
    ASSERT_TRUE(EmulatedH8::fromJson(EmulatedH8::toJson(changed), &back, &error))
        << error.toStdString();
    EXPECT_EQ(back, changed);
}

TEST_F(StateFileTest, MissingFileIsCreatedWithTheFactoryState) {
    const QString nested = env_.root() + "/not/yet/there/state.json";
    EmulatedH8 dev(everyFieldChanged());
    QString error;
    ASSERT_TRUE(dev.loadOrCreate(nested, &error)) << error.toStdString();
    EXPECT_EQ(dev.state(), H8State::factory());

    H8State onDisk;
    ASSERT_TRUE(EmulatedH8::fromJson(readFile(nested), &onDisk, &error)) << error.toStdString();
    EXPECT_EQ(onDisk, H8State::factory());
}

TEST_F(StateFileTest, SavedFileIsCompleteAndRestoredByTheNextLoad) {
    EmulatedH8 dev;
    QString error;
    ASSERT_TRUE(dev.loadOrCreate(path(), &error)) << error.toStdString();
    dev.setState(everyFieldChanged());
    ASSERT_TRUE(dev.save(path(), &error)) << error.toStdString();

    // The old file was replaced whole, and no temporary file was left beside it.
    EXPECT_EQ(readFile(path()), EmulatedH8::toJson(everyFieldChanged()));
    EXPECT_EQ(filesInRoot(), QStringList{"emulated-h8.json"});

    EmulatedH8 restarted;
    ASSERT_TRUE(restarted.loadOrCreate(path(), &error)) << error.toStdString();
    EXPECT_EQ(restarted.state(), everyFieldChanged());
}

// The factory document with one key replaced.
QByteArray factoryWith(const QString& key, const QJsonValue& value) {
    QJsonObject o = QJsonDocument::fromJson(EmulatedH8::toJson(H8State::factory())).object();
    o[key] = value;
    return QJsonDocument(o).toJson();
}

// The factory document with one more mute entry.
QByteArray factoryWithMuteKey(const QString& key) {
    QJsonObject o = QJsonDocument::fromJson(EmulatedH8::toJson(H8State::factory())).object();
    QJsonObject mute = o["mute"].toObject();
    mute[key] = 1;
    o["mute"] = mute;
    return QJsonDocument(o).toJson();
}

TEST_F(StateFileTest, CorruptFilesAreRefusedWithTheReasonAndLeftUntouched) {
    QJsonArray mixer143;
    for (int i = 0; i < 143; ++i) mixer143.append(0xFF);
    const struct {
        const char* what;
        QByteArray contents;
        const char* reason;  // part of the message
    } cases[] = {
        {"not JSON", "{\"format\": \"h8-emulated-state\", ", "not JSON: "},
        {"a JSON array", "[1, 2, 3]", "not a JSON object"},
        {"another format", factoryWith("format", "h8-something-else"), "format"},
        {"another version", factoryWith("version", 2), "version"},
        {"a short mixer", factoryWith("mixer", mixer143), "\"mixer\" must be a list of 144"},
        {"a gain code of 256", factoryWith("gainCodes", QJsonArray{256, 0}), "\"gainCodes\""},
        {"a fractional gain code", factoryWith("gainCodes", QJsonArray{1.5, 0}), "\"gainCodes\""},
        {"a fractional knob", factoryWith("headphoneLevelCode", 1.5), "\"headphoneLevelCode\""},
        {"a mute key for a missing channel", factoryWithMuteKey("0:9"), "\"0:9\""},
        {"a mute key that is no address", factoryWithMuteKey("x"), "\"x\""},
        // 0:257 and 256:1 would alias 1:1 and 0:1 if the parts were not range-checked.
        {"a mute channel above 255", factoryWithMuteKey("0:257"), "\"0:257\""},
        {"a mute group above 255", factoryWithMuteKey("256:1"), "\"256:1\""},
        {"otgPlugged as a number", factoryWith("otgPlugged", 1), "\"otgPlugged\""},
        {"an unsupported sample rate", factoryWith("sampleRate", 12345), "\"sampleRate\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path(), c.contents);
        EmulatedH8 dev(everyFieldChanged());
        QString error;
        EXPECT_FALSE(dev.loadOrCreate(path(), &error));
        EXPECT_THAT(error.toStdString(), HasSubstr(path().toStdString()));
        EXPECT_THAT(error.toStdString(), HasSubstr(c.reason));
        // A parser status is quoted only when parsing failed ("...: no error occurred").
        EXPECT_THAT(error.toStdString(), Not(HasSubstr("no error")));
        EXPECT_EQ(readFile(path()), c.contents);
        EXPECT_EQ(filesInRoot(), QStringList{"emulated-h8.json"});
        EXPECT_EQ(dev.state(), everyFieldChanged());
    }
}

// ---- Physical controls as the panel reads them ----

TEST(EmulatedH8ControlsTest, EachSwitchOwnsOneBitOfTheHardwareStateByte) {
    const struct {
        const char* what;
        void (EmulatedH8::*set)(int, bool);
        int input;
        uint8_t bit;
    } switches[] = {
        {"input 1 input type", &EmulatedH8::setInputType, 1, 0x20},
        {"input 2 input type", &EmulatedH8::setInputType, 2, 0x10},
        {"input 1 instrument", &EmulatedH8::setInstrumentMode, 1, 0x08},
        {"input 2 instrument", &EmulatedH8::setInstrumentMode, 2, 0x04},
        {"input 1 48 V", &EmulatedH8::setPhantomPower, 1, 0x02},
        {"input 2 48 V", &EmulatedH8::setPhantomPower, 2, 0x01},
    };
    EmulatedH8 dev;
    for (const auto& s : switches) {
        SCOPED_TRACE(s.what);
        (dev.*s.set)(s.input, true);
        EXPECT_EQ(readHwState(dev)[0], s.bit);
        (dev.*s.set)(s.input, false);
        EXPECT_EQ(readHwState(dev)[0], 0);
    }
    for (const auto& s : switches) (dev.*s.set)(s.input, true);
    EXPECT_EQ(readHwState(dev)[0], 0x3F);
    (dev.*switches[2].set)(switches[2].input, false);
    EXPECT_EQ(readHwState(dev)[0], 0x37);
}

TEST(EmulatedH8ControlsTest, KnobsAreHardwareStateBytesOneToThree) {
    EmulatedH8 dev;
    dev.setGainCode(1, 0x5A);
    dev.setGainCode(2, 0xA5);
    dev.setHeadphoneLevelCode(0x3C);
    EXPECT_EQ(readHwState(dev), (std::array<uint8_t, 4>{0x00, 0x5A, 0xA5, 0x3C}));

    // There is no input 0 or 3.
    dev.setGainCode(0, 0x01);
    dev.setGainCode(3, 0x02);
    dev.setPhantomPower(3, true);
    EXPECT_EQ(readHwState(dev), (std::array<uint8_t, 4>{0x00, 0x5A, 0xA5, 0x3C}));
}

TEST(EmulatedH8ControlsTest, OtgReadAnswersWhetherADeviceIsPlugged) {
    EmulatedH8 dev;
    EXPECT_EQ(readByte(dev, kRegOtg, 1), 0);
    dev.setOtgPlugged(true);
    EXPECT_EQ(readByte(dev, kRegOtg, 1), 1);
    dev.setOtgPlugged(false);
    EXPECT_EQ(readByte(dev, kRegOtg, 1), 0);
}

TEST(EmulatedH8ControlsTest, PhantomPowerWriteAndSwitchAreTheSameState) {
    EmulatedH8 dev;
    dev.setInstrumentMode(1, true);
    dev.setInputType(2, true);
    const uint8_t others = 0x08 | 0x10;

    ASSERT_EQ(writeByte(dev, kReg48V, 1, 1), 1);
    EXPECT_EQ(readHwState(dev)[0], others | 0x02);
    dev.setPhantomPower(2, true);
    EXPECT_EQ(readByte(dev, kReg48V, 2), 1);
    EXPECT_EQ(readHwState(dev)[0], others | 0x03);

    dev.setPhantomPower(1, false);
    EXPECT_EQ(readByte(dev, kReg48V, 1), 0);
    ASSERT_EQ(writeByte(dev, kReg48V, 2, 0), 1);
    EXPECT_EQ(readHwState(dev)[0], others);
    EXPECT_EQ(dev.state().switchBits, others);
}

// ---- Change listener ----

class ChangeListenerTest : public testing::Test {
protected:
    void SetUp() override {
        dev_.setChangeListener([this] {
            // The listener runs outside the lock: reading the state here must not deadlock.
            seen_.push_back(dev_.state());
        });
    }
    size_t calls() const { return seen_.size(); }

    EmulatedH8 dev_;
    std::vector<H8State> seen_;
};

TEST_F(ChangeListenerTest, CalledOnceForEachPhysicalChangeAndNotForRepeats) {
    dev_.setGainCode(1, 40);
    dev_.setGainCode(1, 40);
    EXPECT_EQ(calls(), 1u);
    dev_.setHeadphoneLevelCode(128);  // the factory position
    dev_.setPhantomPower(2, false);   // already off
    EXPECT_EQ(calls(), 1u);
    dev_.setPhantomPower(2, true);
    dev_.setInstrumentMode(1, true);
    dev_.setInputType(2, true);
    dev_.setOtgPlugged(true);
    dev_.setHeadphoneLevelCode(3);
    EXPECT_EQ(calls(), 6u);

    // Each call saw the state with its own change already made.
    ASSERT_EQ(calls(), 6u);
    EXPECT_EQ(seen_[0].gainCode[0], 40);
    EXPECT_EQ(seen_[1].switchBits, 0x01);
    EXPECT_EQ(seen_[4].otgPlugged, true);
    EXPECT_EQ(seen_[5].headphoneLevelCode, 3);
}

TEST_F(ChangeListenerTest, CalledOnceForEachChangingWriteAndNeverForReads) {
    ASSERT_EQ(writeByte(dev_, kRegMute, 0x0101, 1), 1);
    ASSERT_EQ(writeByte(dev_, kRegMute, 0x0101, 1), 1);       // already muted
    ASSERT_EQ(writeByte(dev_, kRegMixer, 0, 0x80), 1);        // the factory value
    ASSERT_EQ(writeByte(dev_, 0x0042, 0, 1), kUsbErrorPipe);  // no such register
    EXPECT_EQ(calls(), 1u);
    EXPECT_EQ(seen_.back().mute.at(0x0101), 1);

    ASSERT_EQ(writeByte(dev_, kRegMixer, 5, 0x90), 1);
    EXPECT_EQ(calls(), 2u);

    EXPECT_EQ(readByte(dev_, kRegMute, 0x0101), 1);
    EXPECT_EQ(readByte(dev_, kRegMixer, 5), 0x90);
    readHwState(dev_);
    EXPECT_EQ(calls(), 2u);
}

TEST_F(ChangeListenerTest, ReadingAnAddressTheStateLacksChangesNothing) {
    // A state built by hand need not list every address; a read answers 0 without adding one.
    H8State sparse = H8State::factory();
    sparse.mute.erase(0x0102);
    sparse.volumeWire.erase(0x0004);
    sparse.fourDbu.erase(2);
    dev_.setState(sparse);
    seen_.clear();

    EXPECT_EQ(readByte(dev_, kRegMute, 0x0102), 0);
    EXPECT_EQ(readByte(dev_, kRegVolume, 0x0004), 0);
    EXPECT_EQ(readByte(dev_, 0x0004, 2), 0);
    EXPECT_EQ(calls(), 0u);
    EXPECT_EQ(dev_.state(), sparse);
}

// ---- Faults and the transfer log ----

TEST(EmulatedH8FaultTest, EveryRequestFailsWithTheFaultsStatusAndChangesNothing) {
    for (const auto& [fault, status] : {std::pair{EmulatedH8::Fault::Stall, kUsbErrorPipe},
                                        std::pair{EmulatedH8::Fault::Timeout, kUsbErrorTimeout}}) {
        SCOPED_TRACE(status);
        EmulatedH8 dev;
        int calls = 0;
        dev.setChangeListener([&] { ++calls; });
        dev.setFault(fault);
        EXPECT_EQ(dev.fault(), fault);

        EXPECT_EQ(writeByte(dev, kReg48V, 1, 1), status);
        EXPECT_EQ(writeByte(dev, kRegVolume, 0x0001, 0x00), status);
        EXPECT_EQ(writeByte(dev, kRegMixer, 143, 0x80), status);
        std::array<uint8_t, 4> hw{0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(dev.handleControl(kReadHwState, hw.data()), status);
        EXPECT_EQ(hw, (std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
        std::array<uint8_t, 18> descriptor{};
        EXPECT_EQ(dev.handleControl({0x80, 0x06, 0x0100, 0, 18}, descriptor.data()), status);

        EXPECT_EQ(dev.state(), H8State::factory());
        EXPECT_EQ(calls, 0);

        // The controls on the device still work; only the USB side is broken.
        dev.setGainCode(1, 9);
        EXPECT_EQ(calls, 1);
    }
}

TEST(EmulatedH8FaultTest, ClearingTheFaultRestoresService) {
    EmulatedH8 dev;
    dev.setFault(EmulatedH8::Fault::Timeout);
    ASSERT_EQ(readByte(dev, kRegOtg, 1), kUsbErrorTimeout);
    dev.setFault(EmulatedH8::Fault::Stall);
    ASSERT_EQ(readByte(dev, kRegOtg, 1), kUsbErrorPipe);
    dev.setFault(EmulatedH8::Fault::None);

    EXPECT_EQ(writeByte(dev, kReg48V, 2, 1), 1);
    EXPECT_EQ(readHwState(dev)[0], 0x01);
    EXPECT_EQ(readByte(dev, kRegOtg, 1), 0);
}

void expectSetup(const UsbSetup& got, const UsbSetup& want) {
    EXPECT_EQ(got.requestType, want.requestType);
    EXPECT_EQ(got.request, want.request);
    EXPECT_EQ(got.value, want.value);
    EXPECT_EQ(got.index, want.index);
    EXPECT_EQ(got.length, want.length);
}

TEST(EmulatedH8FaultTest, TransferLogKeepsSentAndReturnedBytesAndFailures) {
    EmulatedH8 dev;
    dev.setGainCode(2, 0x42);
    ASSERT_EQ(writeByte(dev, kRegMute, 0x0003, 1), 1);
    readHwState(dev);
    ASSERT_EQ(writeByte(dev, 0x0042, 7, 0x99), kUsbErrorPipe);  // no such register
    ASSERT_EQ(readByte(dev, kRegMute, 0x0009), kUsbErrorPipe);  // no such channel
    dev.setFault(EmulatedH8::Fault::Timeout);
    std::array<uint8_t, 4> hw{};
    ASSERT_EQ(dev.handleControl(kReadHwState, hw.data()), kUsbErrorTimeout);

    const auto log = dev.transfers();
    ASSERT_EQ(log.size(), 5u);
    expectSetup(log[0].setup, {0x40, 0x03, 0x0003, kRegMute, 1});
    EXPECT_EQ(log[0].data, std::vector<uint8_t>{1});
    EXPECT_EQ(log[0].status, 1);

    expectSetup(log[1].setup, kReadHwState);
    EXPECT_EQ(log[1].data, (std::vector<uint8_t>{0x00, 0x00, 0x42, 0x80}));
    EXPECT_EQ(log[1].status, 4);

    expectSetup(log[2].setup, {0x40, 0x03, 7, 0x0042, 1});
    EXPECT_EQ(log[2].data, std::vector<uint8_t>{0x99});
    EXPECT_EQ(log[2].status, kUsbErrorPipe);

    expectSetup(log[3].setup, {0xC0, 0x00, 0x0009, kRegMute, 1});
    EXPECT_TRUE(log[3].data.empty());
    EXPECT_EQ(log[3].status, kUsbErrorPipe);

    expectSetup(log[4].setup, kReadHwState);
    EXPECT_TRUE(log[4].data.empty());
    EXPECT_EQ(log[4].status, kUsbErrorTimeout);

    dev.clearTransfers();
    EXPECT_TRUE(dev.transfers().empty());
}

// ---- Thread safety ----

TEST(EmulatedH8ThreadTest, ConcurrentRequestsAndControlsLoseNoUpdate) {
    // Every operation below changes the state (each thread owns its addresses and never writes
    // the same value twice in a row), so the listener count is exact.
    constexpr int kRounds = 401;  // odd: every toggled switch ends on
    constexpr int kMixerRounds = 4;
    EmulatedH8 dev;
    std::atomic<int> notifications{0};
    dev.setChangeListener([&] {
        (void)dev.state();  // from every writer thread at once
        ++notifications;
    });
    std::atomic<int> failures{0};
    std::atomic<int> reads{0};
    std::atomic<bool> writersDone{false};
    const auto check = [&](bool ok) {
        if (!ok) ++failures;
    };

    std::vector<std::thread> writers;
    for (uint16_t channel = 1; channel <= 4; ++channel) {
        writers.emplace_back([&, channel] {
            for (int i = 1; i <= kRounds; ++i) {
                const auto wire = static_cast<uint8_t>(i);
                check(writeByte(dev, kRegVolume, channel, wire) == 1);
                check(readByte(dev, kRegVolume, channel) == wire);  // nobody else writes it
            }
        });
    }
    writers.emplace_back([&] {
        for (int round = 0; round < kMixerRounds; ++round)
            for (uint16_t k = 0; k < 144; ++k)
                check(writeByte(dev, kRegMixer, k, static_cast<uint8_t>(k + round)) == 1);
    });
    writers.emplace_back([&] {
        for (int i = 1; i <= kRounds; ++i) {
            dev.setGainCode(1, static_cast<uint8_t>(i));
            dev.setGainCode(2, static_cast<uint8_t>(~i));
            dev.setHeadphoneLevelCode(static_cast<uint8_t>(i + 128));
            dev.setOtgPlugged(i % 2 == 1);
        }
    });
    // The 48 V request and the physical switches share the switch byte.
    writers.emplace_back([&] {
        for (int i = 1; i <= kRounds; ++i) check(writeByte(dev, kReg48V, 1, i % 2) == 1);
    });
    writers.emplace_back([&] {
        for (int i = 1; i <= kRounds; ++i) {
            dev.setPhantomPower(2, i % 2 == 1);
            dev.setInstrumentMode(2, i % 2 == 1);
            dev.setInputType(1, i % 2 == 1);
        }
    });
    std::thread reader([&] {
        while (!writersDone) {
            std::array<uint8_t, 4> hw{};
            check(dev.handleControl(kReadHwState, hw.data()) == 4);
            check((hw[0] & 0xC0) == 0);
            const int otg = readByte(dev, kRegOtg, 1);
            check(otg == 0 || otg == 1);
            reads += 2;
        }
    });
    for (auto& t : writers) t.join();
    writersDone = true;
    reader.join();

    EXPECT_EQ(failures, 0);
    H8State expected = H8State::factory();
    for (uint16_t channel = 1; channel <= 4; ++channel)
        expected.volumeWire[channel] = static_cast<uint8_t>(kRounds);
    for (uint16_t k = 0; k < 144; ++k)
        expected.mixer[k] = static_cast<uint8_t>(k + kMixerRounds - 1);
    expected.gainCode = {static_cast<uint8_t>(kRounds), static_cast<uint8_t>(~kRounds)};
    expected.headphoneLevelCode = static_cast<uint8_t>(kRounds + 128);
    expected.otgPlugged = true;
    expected.switchBits = 0x02 | 0x01 | 0x04 | 0x20;
    EXPECT_EQ(dev.state(), expected);

    EXPECT_EQ(notifications,
              4 * kRounds + 144 * kMixerRounds + 4 * kRounds + kRounds + 3 * kRounds);
    // Every transfer was recorded; the log keeps the most recent ones.
    const size_t total =
        static_cast<size_t>(4 * 2 * kRounds + 144 * kMixerRounds + kRounds + reads);
    if (total <= EmulatedH8::kMaxTransferRecords) {
        EXPECT_EQ(dev.transfers().size(), total);
    } else {
        EXPECT_LE(dev.transfers().size(), EmulatedH8::kMaxTransferRecords);
        EXPECT_GT(dev.transfers().size(), EmulatedH8::kMaxTransferRecords / 2);
    }
}

}  // namespace
}  // namespace h8::emulated

namespace h8::emulated {
namespace {

TEST(TransferLogTest, KeepsOnlyTheMostRecentTransfers) {
    EmulatedH8 model;
    uint8_t byte = 0;
    const UsbSetup readMute{0xC0, 0x00, 0x0001, 0x0001, 1};
    for (size_t i = 0; i < EmulatedH8::kMaxTransferRecords + 10; ++i)
        model.handleControl(readMute, &byte);
    const UsbSetup writeMixer{0x40, 0x03, 0x0005, 0x001E, 1};
    uint8_t gain = 0x80;
    model.handleControl(writeMixer, &gain);
    const auto transfers = model.transfers();
    EXPECT_LE(transfers.size(), EmulatedH8::kMaxTransferRecords);
    EXPECT_EQ(transfers.back().setup.index, 0x001E);
}

}  // namespace
}  // namespace h8::emulated
