// How PipeWire's devices and nodes become the panel's audio devices; no server needed.
#include "platform/audio/pipewire_model.h"

#include <gtest/gtest.h>
#include <spa/param/audio/raw.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>

namespace h8::pw {
namespace {

NodeObject node(std::string mediaClass, uint32_t channels,
                std::optional<uint32_t> deviceId = std::nullopt) {
    NodeObject n;
    n.props["media.class"] = std::move(mediaClass);
    n.props["audio.channels"] = std::to_string(channels);
    if (deviceId) n.props["device.id"] = std::to_string(*deviceId);
    return n;
}

DeviceObject usbInterface() {
    DeviceObject d;
    d.props = {{"device.name", "alsa_card.usb-Norvalt_H8_1234-00"},
               {"device.description", "H8 Interface"},
               {"device.product.name", "H8"},
               {"device.bus", "usb"},
               {"device.api", "alsa"},
               {"device.vendor.id", "0x309c"},
               {"device.product.id", "0x0018"},
               {"media.class", "Audio/Device"}};
    return d;
}

const AudioDeviceInfo* find(const DeviceModel& model, uint32_t id) {
    for (const AudioDeviceInfo& d : model.devices) {
        if (d.id == id) return &d;
    }
    return nullptr;
}

// ---- Grouping nodes into devices ----

TEST(PipeWireDeviceModel, ADeviceSumsTheChannelsOfItsNodes) {
    std::map<uint32_t, DeviceObject> devices{{40, usbInterface()}};
    std::map<uint32_t, NodeObject> nodes{{51, node("Audio/Source", 16, 40)},
                                         {52, node("Audio/Source", 2, 40)},
                                         {53, node("Audio/Sink", 8, 40)},
                                         {54, node("Audio/Duplex", 4, 40)}};
    DeviceModel model = buildDeviceModel(devices, nodes, {});
    ASSERT_EQ(model.devices.size(), 1);
    const AudioDeviceInfo& d = model.devices[0];
    EXPECT_EQ(d.id, 40u);
    EXPECT_EQ(d.uid, QStringLiteral("alsa_card.usb-Norvalt_H8_1234-00"));
    EXPECT_EQ(d.name, QStringLiteral("H8 Interface"));
    EXPECT_EQ(d.modelUID, QStringLiteral("H8:309C:0018"));
    EXPECT_EQ(d.transportType, TransportType::usb);
    EXPECT_EQ(d.inputChannels, 16u + 2u + 4u);
    EXPECT_EQ(d.outputChannels, 8u + 4u);
    // The widest input is the one captured.
    ASSERT_TRUE(model.captureSources.contains(40));
    EXPECT_EQ(model.captureSources[40].nodeId, 51u);
    EXPECT_EQ(model.captureSources[40].channels, 16u);
}

TEST(PipeWireDeviceModel, NodesWithoutAKnownDeviceStandAlone) {
    NodeObject fake = node("Audio/Source", 16);
    fake.props["node.name"] = "alsa_input.usb-Fake_309c_0018_CI0001-00.multichannel-input";
    fake.props["node.description"] = "Fake USB 16ch";
    fake.props["device.bus"] = "usb";
    fake.props["device.vendor.id"] = "0x309c";
    fake.props["device.product.id"] = "0x0018";
    fake.props["object.serial"] = "77";
    NodeObject orphan = node("Audio/Sink", 2, 999);  // its device is not an audio device we know
    orphan.props["node.name"] = "orphan";

    DeviceModel model = buildDeviceModel({}, {{33, fake}, {34, orphan}}, {});
    ASSERT_EQ(model.devices.size(), 2);
    const AudioDeviceInfo* d = find(model, 33);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->uid, QString::fromStdString(fake.props["node.name"]));
    EXPECT_EQ(d->name, QStringLiteral("Fake USB 16ch"));
    EXPECT_EQ(d->modelUID, QStringLiteral("Fake USB 16ch:309C:0018"));
    EXPECT_EQ(d->transportType, TransportType::usb);
    EXPECT_EQ(d->inputChannels, 16u);
    // Capture targets the node by its serial.
    EXPECT_EQ(model.captureSources[33].target, QStringLiteral("77"));

    const AudioDeviceInfo* o = find(model, 34);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->name, QStringLiteral("orphan"));  // no description: the uid
    EXPECT_EQ(o->outputChannels, 2u);
    EXPECT_FALSE(model.captureSources.contains(34));
}

TEST(PipeWireDeviceModel, OnlyAudioDevicesAndTheirEndpointsCount) {
    std::map<uint32_t, DeviceObject> devices{{40, usbInterface()}, {41, {}}};
    std::map<uint32_t, NodeObject> nodes{{60, node("Stream/Input/Audio", 16)},
                                         {61, node("Audio/Source/Virtual", 2)},
                                         {62, node("Video/Source", 1)},
                                         {63, node("Stream/Output/Audio", 2, 40)}};
    DeviceModel model = buildDeviceModel(devices, nodes, {});
    ASSERT_EQ(model.devices.size(), 2);  // the devices, even without nodes
    EXPECT_EQ(model.devices[0].inputChannels + model.devices[0].outputChannels, 0u);
    EXPECT_EQ(model.devices[1].uid, QStringLiteral("pipewire-41"));  // nameless
    EXPECT_TRUE(model.captureSources.isEmpty());
}

TEST(PipeWireDeviceModel, DevicesAndLoneNodesAreOrderedById) {
    std::map<uint32_t, DeviceObject> devices{{50, usbInterface()}, {20, usbInterface()}};
    std::map<uint32_t, NodeObject> nodes{{35, node("Audio/Sink", 2)},
                                         {10, node("Audio/Source", 1)}};
    DeviceModel model = buildDeviceModel(devices, nodes, {});
    ASSERT_EQ(model.devices.size(), 4);
    EXPECT_EQ(model.devices[0].id, 10u);
    EXPECT_EQ(model.devices[1].id, 20u);
    EXPECT_EQ(model.devices[2].id, 35u);
    EXPECT_EQ(model.devices[3].id, 50u);
}

TEST(PipeWireDeviceModel, ADeviceWhoseNodesLeaveTheRateToTheServerRunsAtTheGraphRate) {
    std::map<uint32_t, DeviceObject> devices{{40, usbInterface()}};
    NodeObject unknown = node("Audio/Source", 16);  // no rate setting known
    NodeObject leftToServer = node("Audio/Sink", 2, 40);
    leftToServer.rate = 0;
    auto rates = [&](GraphSettings graph) {
        DeviceModel model = buildDeviceModel(devices, {{33, unknown}, {41, leftToServer}}, graph);
        return std::make_pair(*model.devices[0].nominalSampleRate,
                              *model.devices[1].nominalSampleRate);
    };
    EXPECT_EQ(rates({}), std::make_pair(48000.0, 48000.0));
    EXPECT_EQ(rates({44100, 0}), std::make_pair(44100.0, 44100.0));
    EXPECT_EQ(rates({44100, 96000}), std::make_pair(96000.0, 96000.0));
}

TEST(PipeWireDeviceModel, ADeviceRunsAtItsNodesOwnRateWhateverTheGraphSays) {
    std::map<uint32_t, DeviceObject> devices{{40, usbInterface()}};
    NodeObject webcam = node("Audio/Source", 2);
    webcam.rate = 0;
    NodeObject capture = node("Audio/Source", 16, 40);
    capture.rate = 0;
    NodeObject playback = node("Audio/Sink", 2, 40);
    playback.rate = 96000;
    DeviceModel model =
        buildDeviceModel(devices, {{33, webcam}, {50, capture}, {51, playback}}, {44100, 0});
    // The one node with a rate of its own gives the device's; the others are not moved by it.
    EXPECT_EQ(find(model, 40)->nominalSampleRate, 96000.0);
    EXPECT_EQ(find(model, 33)->nominalSampleRate, 44100.0);

    // Two nodes that disagree (another program set one): the first one's counts.
    capture.rate = 88200;
    model = buildDeviceModel(devices, {{51, playback}, {50, capture}}, {});
    EXPECT_EQ(find(model, 40)->nominalSampleRate, 88200.0);
}

TEST(PipeWireDeviceModel, TheMainVolumeIsThatOfTheFirstOutputAsUsersSeeIt) {
    std::map<uint32_t, DeviceObject> devices{{40, usbInterface()}};
    NodeObject input = node("Audio/Source", 16, 40);
    input.channelVolume = 0.001f;
    NodeObject first = node("Audio/Sink", 2, 40);
    first.channelVolume = 0.125f;
    NodeObject second = node("Audio/Sink", 2, 40);
    second.channelVolume = 1.0f;
    DeviceModel model = buildDeviceModel(devices, {{50, input}, {52, second}, {51, first}}, {});
    ASSERT_TRUE(model.devices[0].volumeScalar);
    EXPECT_NEAR(*model.devices[0].volumeScalar, 0.5f, 1e-6);

    // Boosted above 100 % still reads as full scale; inputs alone give no volume.
    first.channelVolume = 3.375f;
    model = buildDeviceModel(devices, {{51, first}}, {});
    EXPECT_FLOAT_EQ(*model.devices[0].volumeScalar, 1.0f);
    model = buildDeviceModel(devices, {{50, input}}, {});
    EXPECT_FALSE(model.devices[0].volumeScalar);
}

// ---- The rate setting in a node's Props ----

// A Props param as an ALSA node reports it: its device, then its runtime settings as a list of
// key/value pairs, here written item by item.
class PropsBuilder {
public:
    PropsBuilder() : builder_(SPA_POD_BUILDER_INIT(buffer_, sizeof buffer_)) {
        spa_pod_builder_push_object(&builder_, &object_, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
        spa_pod_builder_add(&builder_, SPA_PROP_device, SPA_POD_String("hw:2"), 0);
        spa_pod_builder_prop(&builder_, SPA_PROP_params, 0);
        spa_pod_builder_push_struct(&builder_, &params_);
    }
    PropsBuilder& text(const char* value) {
        spa_pod_builder_string(&builder_, value);
        return *this;
    }
    PropsBuilder& integer(int32_t value) {
        spa_pod_builder_int(&builder_, value);
        return *this;
    }
    PropsBuilder& longInteger(int64_t value) {
        spa_pod_builder_long(&builder_, value);
        return *this;
    }
    PropsBuilder& real(float value) {
        spa_pod_builder_float(&builder_, value);
        return *this;
    }
    const spa_pod* done() {
        spa_pod_builder_pop(&builder_, &params_);
        return static_cast<const spa_pod*>(spa_pod_builder_pop(&builder_, &object_));
    }

private:
    uint8_t buffer_[1024];
    spa_pod_builder builder_;
    spa_pod_frame object_{};
    spa_pod_frame params_{};
};

TEST(PipeWireNodeRate, IsReadFromTheKeyValuePairsOfAnAlsaNodesProps) {
    PropsBuilder alsa;
    alsa.text("audio.channels").integer(16).text("audio.rate").integer(96000);
    alsa.text("audio.format").text("S32LE");
    EXPECT_EQ(rateFromProps(alsa.done()), 96000u);
    // 0: the node leaves the rate to the server.
    EXPECT_EQ(rateFromProps(PropsBuilder().text("audio.rate").integer(0).done()), 0u);
    // Values written as a long or as text, as ALSA nodes also take them.
    EXPECT_EQ(rateFromProps(PropsBuilder().text("audio.rate").longInteger(44100).done()), 44100u);
    EXPECT_EQ(rateFromProps(PropsBuilder().text("audio.rate").text("88200").done()), 88200u);
}

TEST(PipeWireNodeRate, IsAbsentWhereThePropsDoNotTellOne) {
    // The converter's Props: settings, but no rate.
    EXPECT_FALSE(rateFromProps(PropsBuilder().text("resample.quality").integer(4).done()));
    EXPECT_FALSE(rateFromProps(nullptr));

    // Not a rate.
    EXPECT_FALSE(rateFromProps(PropsBuilder().text("audio.rate").integer(-1).done()));
    EXPECT_FALSE(rateFromProps(PropsBuilder().text("audio.rate").text("fast").done()));
    EXPECT_FALSE(rateFromProps(PropsBuilder().text("audio.rate").longInteger(1LL << 40).done()));
    EXPECT_FALSE(rateFromProps(PropsBuilder().text("audio.rate").real(48000.0f).done()));

    // A broken list: a key without its value, or a value where a key belongs. Read up to
    // there, never past the end.
    EXPECT_FALSE(rateFromProps(PropsBuilder().text("audio.rate").done()));
    EXPECT_FALSE(rateFromProps(PropsBuilder().integer(7).text("audio.rate").integer(96000).done()));

    // Another object than Props.
    uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    auto* info = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_PropInfo, SPA_PARAM_PropInfo,
                                   SPA_PROP_INFO_id, SPA_POD_Id(SPA_PROP_params)));
    EXPECT_FALSE(rateFromProps(info));
}

TEST(PipeWireNodeRate, TheParamThatSetsItReadsBackAsTheSameRate) {
    for (uint32_t rate : {0u, 44100u, 48000u, 96000u, 192000u}) {
        uint8_t buffer[256];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* param = buildRateProps(&builder, rate);
        ASSERT_NE(param, nullptr);
        EXPECT_EQ(rateFromProps(param), rate);
    }
    // Too small a buffer: no half-built param.
    uint8_t tiny[16];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(tiny, sizeof tiny);
    EXPECT_EQ(buildRateProps(&builder, 48000), nullptr);
}

// ---- Identifiers ----

TEST(PipeWireModelUid, JoinsTheProductAndFourDigitUpperCaseIds) {
    EXPECT_EQ(modelUidFrom(QStringLiteral("H8"), "0x309c", "0x0018"),
              QStringLiteral("H8:309C:0018"));
    EXPECT_EQ(modelUidFrom(QStringLiteral("h8 mk2"), "309c", "0x18"),
              QStringLiteral("h8 mk2:309C:0018"));
    EXPECT_EQ(modelUidFrom(QStringLiteral("X"), "0XABCD", "0x1"), QStringLiteral("X:ABCD:0001"));
}

TEST(PipeWireModelUid, IsAbsentWithoutBothIds) {
    EXPECT_FALSE(modelUidFrom(QStringLiteral("H8"), "", "0x0018"));
    EXPECT_FALSE(modelUidFrom(QStringLiteral("H8"), "0x309c", ""));
    EXPECT_FALSE(modelUidFrom(QStringLiteral("H8"), "0x1309c", "0x0018"));
    EXPECT_FALSE(modelUidFrom(QStringLiteral("H8"), "0x30g9", "0x0018"));
    EXPECT_FALSE(modelUidFrom(QStringLiteral("H8"), "0x", "0x0018"));
}

TEST(PipeWireModelUid, PrefersTheProductNameToTheDescription) {
    DeviceObject d = usbInterface();
    DeviceModel model = buildDeviceModel({{40, d}}, {}, {});
    EXPECT_EQ(model.devices[0].modelUID, QStringLiteral("H8:309C:0018"));
    d.props.erase("device.product.name");
    model = buildDeviceModel({{40, d}}, {}, {});
    EXPECT_EQ(model.devices[0].modelUID, QStringLiteral("H8 Interface:309C:0018"));
}

// ---- Transport ----

struct TransportCase {
    Properties props;
    std::optional<TransportType> expected;
};

class PipeWireTransport : public testing::TestWithParam<TransportCase> {};

TEST_P(PipeWireTransport, ComesFromTheBusTheApiOrTheFormFactor) {
    EXPECT_EQ(transportFromProperties(GetParam().props), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PipeWireTransport,
    testing::Values(
        TransportCase{{{"device.bus", "usb"}}, TransportType::usb},
        TransportCase{{{"device.bus", "pci"}, {"device.api", "alsa"}}, TransportType::pci},
        TransportCase{{{"device.bus", "pci"}, {"device.form-factor", "internal"}},
                      TransportType::builtIn},
        TransportCase{{{"device.api", "bluez5"}}, TransportType::bluetooth},
        TransportCase{{{"device.api", "alsa"}}, TransportType::builtIn},
        // The fake interface is a virtual node, but its bus says USB.
        TransportCase{{{"device.bus", "usb"}, {"node.virtual", "true"}}, TransportType::usb},
        TransportCase{{{"node.virtual", "true"}}, TransportType::virtualDevice},
        TransportCase{{}, std::nullopt}));

// ---- Channel positions ----

TEST(PipeWireChannelPositions, ParsesTheListFormsPipeWireUses) {
    std::vector<uint32_t> aux;
    for (uint32_t c = 0; c < 16; ++c) aux.push_back(SPA_AUDIO_CHANNEL_AUX0 + c);
    EXPECT_EQ(parseChannelPositions(
                  "[ AUX0 AUX1 AUX2 AUX3 AUX4 AUX5 AUX6 AUX7 AUX8 AUX9 AUX10 AUX11 AUX12 "
                  "AUX13 AUX14 AUX15 ]",
                  16),
              aux);
    std::vector<uint32_t> stereo{SPA_AUDIO_CHANNEL_FL, SPA_AUDIO_CHANNEL_FR};
    EXPECT_EQ(parseChannelPositions("FL,FR", 2), stereo);
    EXPECT_EQ(parseChannelPositions("[ FL, FR ]", 2), stereo);
    EXPECT_EQ(parseChannelPositions("FL,FR", 0), stereo);  // count unknown: as listed
}

TEST(PipeWireChannelPositions, FallsBackToAuxWhenTheListDoesNotFit) {
    std::vector<uint32_t> aux3{SPA_AUDIO_CHANNEL_AUX0, SPA_AUDIO_CHANNEL_AUX1,
                               SPA_AUDIO_CHANNEL_AUX2};
    EXPECT_EQ(parseChannelPositions("", 3), aux3);
    EXPECT_EQ(parseChannelPositions("FL,FR", 3), aux3);
    EXPECT_EQ(parseChannelPositions("FL,XX,FR", 3), aux3);
}

TEST(PipeWireChannelPositions, CountChannelsWhenAudioChannelsIsMissing) {
    NodeObject n;
    n.props = {{"media.class", "Audio/Source"}, {"audio.position", "FL,FR,FC"}};
    DeviceModel model = buildDeviceModel({}, {{5, n}}, {});
    EXPECT_EQ(model.devices[0].inputChannels, 3u);
    EXPECT_EQ(model.captureSources[5].positions.size(), 3u);
}

}  // namespace
}  // namespace h8::pw
