// h8ctl as a user runs it: the real binary on the emulated H8, its output, exit codes, trace
// lines, and the state it leaves behind.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include "core/preset_file.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "temp_env.h"

namespace h8 {
namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
    QStringList traceLines() const {
        QStringList lines;
        for (const QString& l : err.split('\n')) {
            if (l.startsWith("usb")) lines.append(l);
        }
        return lines;
    }
};

class H8ctlTest : public testing::Test {
protected:
    Result h8ctl(QStringList args, const QProcessEnvironment& extra = {}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The messages checked below are the English ones, whatever the tester's locale.
        for (const char* v : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) env.remove(v);
        env.insert("LANG", "C.UTF-8");
        for (const QString& key : extra.keys()) env.insert(key, extra.value(key));
        p.setProcessEnvironment(env);
        p.start(H8CTL_PATH, args);
        EXPECT_TRUE(p.waitForFinished(30000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    // Runs on the emulated H8 whose state lives in this test's state file.
    Result sim(QStringList args, const QProcessEnvironment& extra = {}) {
        args.prepend("--simulate=" + stateFile());
        return h8ctl(args, extra);
    }
    QString stateFile() const { return env_.root() + "/h8-state.json"; }
    // The emulated H8's own preferences, beside its state file.
    QString demoDefaults() const { return env_.root() + "/h8-state.defaults.json"; }
    QJsonObject json(const QString& text) {
        return QJsonDocument::fromJson(text.toUtf8()).object();
    }
    QJsonObject stateJson() {
        QFile f(stateFile());
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(f.readAll()).object();
    }

    test::TempEnv env_;
};

TEST_F(H8ctlTest, StatusShowsIdentityAndState) {
    const Result r = sim({"status"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QRegularExpression("Device: +H8\n"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QRegularExpression("Serial number: +1234ABCD\n")));
    EXPECT_TRUE(r.out.contains(QRegularExpression("Firmware: +1.02\n")));
    EXPECT_TRUE(r.out.contains("OTG:               not connected, output volume 100 %"));
    // Diagnostics stay off standard output, and the session's progress lines are not
    // printed at all without --verbose: a script sees only results and errors.
    EXPECT_FALSE(r.out.contains("while"));
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(QFile::exists(stateFile()));  // a missing state file is created
    const Result verbose = sim({"--verbose", "status"});
    ASSERT_EQ(verbose.exitCode, 0) << verbose.err.toStdString();
    EXPECT_EQ(verbose.out, r.out);
    EXPECT_TRUE(verbose.err.contains("while .....1\ncreate interface iterator\n"))
        << verbose.err.toStdString();
}

TEST_F(H8ctlTest, PhysicalControlsPersistAndShowInJsonStatus) {
    ASSERT_EQ(sim({"sim-set", "gain1", "15"}).exitCode, 0);
    ASSERT_EQ(sim({"sim-set", "48v2", "on"}).exitCode, 0);
    ASSERT_EQ(sim({"sim-set", "inst1", "on"}).exitCode, 0);
    ASSERT_EQ(sim({"sim-set", "hp-level", "124"}).exitCode, 0);
    ASSERT_EQ(sim({"sim-set", "otg", "on"}).exitCode, 0);

    const Result r = sim({"--json", "status"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject s = json(r.out);
    EXPECT_EQ(s["device"].toString(), "H8");
    EXPECT_EQ(s["firmware"].toInt(), 102);
    const QJsonArray inputs = s["inputs"].toArray();
    ASSERT_EQ(inputs.size(), 2);
    EXPECT_DOUBLE_EQ(inputs[0].toObject()["gainDb"].toDouble(), 6.2);
    EXPECT_TRUE(inputs[0].toObject()["instrument"].toBool());
    EXPECT_FALSE(inputs[0].toObject()["phantom48V"].toBool());
    EXPECT_TRUE(inputs[1].toObject()["phantom48V"].toBool());
    EXPECT_DOUBLE_EQ(s["headphones"].toObject()["level"].toDouble(), 50);
    EXPECT_TRUE(s["otg"].toObject()["connected"].toBool());
}

TEST_F(H8ctlTest, MixerResetSilencesEveryCrosspointOfTheEmulatedH8) {
    // The factory state has the two default routes on.
    ASSERT_EQ(sim({"status"}).exitCode, 0);
    ASSERT_EQ(stateJson()["mixer"].toArray()[0].toInt(), 0x80);
    const Result r = sim({"sim-set", "mixer-reset", "on"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonArray mixer = stateJson()["mixer"].toArray();
    ASSERT_EQ(mixer.size(), 144);
    for (const QJsonValue& v : mixer) EXPECT_EQ(v.toInt(), 0xFF);
    // A reset is not a switch that can be turned off.
    const Result off = sim({"sim-set", "mixer-reset", "off"});
    EXPECT_EQ(off.exitCode, 1);
    EXPECT_TRUE(off.err.contains("mixer-reset takes only on")) << off.err.toStdString();
}

TEST_F(H8ctlTest, MuteAndOtgVolumeReachTheDeviceAndTheSharedDefaults) {
    Result r = sim({"--trace", "mute", "hp", "on"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.traceLines().contains("usb> 40 03 01 00 01 00 01 00 | 01"));
    EXPECT_TRUE(r.traceLines().contains("usb> 40 03 02 00 01 00 01 00 | 01"));
    r = sim({"--trace", "otg-volume", "50"});
    ASSERT_EQ(r.exitCode, 0);
    const QStringList trace = r.traceLines();
    const qsizetype ch3 = trace.indexOf("usb> 40 03 03 00 00 00 01 00 | bf");
    ASSERT_GE(ch3, 0) << r.err.toStdString();
    EXPECT_EQ(trace.value(ch3 + 1), "usb> 40 03 04 00 00 00 01 00 | bf");
    ASSERT_EQ(sim({"mute", "input2", "on"}).exitCode, 0);

    const QJsonObject device = stateJson();
    EXPECT_EQ(device["mute"].toObject()["0:1"].toInt(), 1);
    EXPECT_EQ(device["mute"].toObject()["0:2"].toInt(), 1);
    EXPECT_EQ(device["mute"].toObject()["1:2"].toInt(), 1);
    EXPECT_EQ(device["volume"].toObject()["0:3"].toInt(), 0xBF);

    QFile f(demoDefaults());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject defaults = QJsonDocument::fromJson(f.readAll()).object();
    EXPECT_EQ(defaults["HPMKey"].toInt(), 1);
    EXPECT_EQ(defaults["MicM2Key"].toInt(), 1);
    EXPECT_EQ(defaults["OTGOutVolume"].toInt(), 50);

    r = sim({"--json", "status"});
    const QJsonObject s = json(r.out);
    EXPECT_TRUE(s["headphones"].toObject()["muted"].toBool());
    EXPECT_TRUE(s["inputs"].toArray()[1].toObject()["muted"].toBool());
    EXPECT_EQ(s["otg"].toObject()["outputVolume"].toInt(), 50);
}

TEST_F(H8ctlTest, UsageErrorsExitOneAndSendNothing) {
    const QList<QStringList> bad = {
        {"otg-volume", "101"},
        {"otg-volume", "-1"},
        {"otg-volume", "abc"},
        {"otg-volume"},
        {"otg-volume", "5.5"},
        {"mute", "input3", "on"},
        {"mute", "hp", "maybe"},
        {"mute", "hp"},
        {"frobnicate"},
        {"status", "extra"},
        {"sim-set", "gain1", "256"},
        {"sim-set", "volume", "1"},
    };
    for (const QStringList& args : bad) {
        const Result r = sim(QStringList{"--trace"} + args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.traceLines().isEmpty()) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("h8ctl: ")) << args.join(' ').toStdString();
    }
    EXPECT_EQ(h8ctl({}).exitCode, 1);
    EXPECT_EQ(h8ctl({"--bogus", "status"}).exitCode, 1);
    EXPECT_EQ(h8ctl({"sim-set", "otg", "on"}).exitCode, 1);  // needs --simulate
    const Result help = h8ctl({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: h8ctl"));
}

TEST_F(H8ctlTest, WithoutUsbAccessItSaysHowToGetItAndChangesNothing) {
    QProcessEnvironment denied;
    denied.insert("H8_SIMULATE_FAULT", "denied");
    for (const QStringList& args :
         {QStringList{"status"}, QStringList{"route", "pb3", "hp1", "on"}}) {
        const Result r = sim(args, denied);
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith("h8ctl: no access to the H8 (USB 309c:0018)"))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("h8ctl udev-rule | sudo tee")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("sudo apt install")) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(QFile::exists(demoDefaults()));  // the route was not stored either
}

TEST_F(H8ctlTest, DeviceFailuresHaveTheirOwnExitCodes) {
    QProcessEnvironment stall;
    stall.insert("H8_SIMULATE_FAULT", "stall");
    Result r = sim({"--trace", "status"}, stall);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(r.err.contains("I/O error"));
    EXPECT_TRUE(r.traceLines().contains("usb! c0 00 00 00 79 00 04 00 | LIBUSB_ERROR_PIPE"));
    // Errors are printed without --verbose; the progress lines are not.
    r = sim({"mute", "hp", "off"}, stall);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(r.err.contains("do request error")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("while .....1")) << r.err.toStdString();

    // A corrupt state file is refused and left alone.
    {
        QFile f(stateFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{ not json");
    }
    r = sim({"status"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("not a usable emulated H8 state file")) << r.err.toStdString();
    QFile f(stateFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "{ not json");
}

TEST_F(H8ctlTest, WithoutAnInterfaceExitsTwo) {
    // No real H8 is attached on a test machine.
    const Result r = h8ctl({"status"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("no H8 found") || r.err.contains("USB access could not start"))
        << r.err.toStdString();
}

TEST_F(H8ctlTest, RateIsShownSetAndKeptInTheEmulatedState) {
    Result r = sim({"rate"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "48000Hz\n");
    r = sim({"rate", "96000"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "96000Hz\n");
    EXPECT_EQ(sim({"--json", "rate"}).out, "{\"sampleRate\":96000}\n");
    EXPECT_EQ(stateJson()["sampleRate"].toInt(), 96000);
    EXPECT_EQ(sim({"rate", "22050"}).exitCode, 1);
    EXPECT_EQ(sim({"rate"}).out, "96000Hz\n");
}

TEST_F(H8ctlTest, RouteOnSendsTheLevelThenTheCommitAndStoresTheMap) {
    Result r = sim({"--trace", "route", "mic1", "loop1", "on"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QStringList trace = r.traceLines();
    const qsizetype level = trace.indexOf("usb> 40 03 38 00 1e 00 01 00 | 81");  // 8 + 12 * 4
    ASSERT_GE(level, 0) << r.err.toStdString();
    EXPECT_EQ(trace.value(level + 1), "usb> 40 03 38 00 1e 00 01 00 | 80");
    EXPECT_EQ(stateJson()["mixer"].toArray()[8 + 12 * 4].toInt(), 0x80);

    ASSERT_EQ(sim({"route", "pb8", "12", "on"}).exitCode, 0);
    ASSERT_EQ(sim({"level", "pb8", "loop8", "50"}).exitCode, 0);
    EXPECT_EQ(stateJson()["mixer"].toArray()[7 + 12 * 11].toInt(), 0xC0);

    r = sim({"--json", "routes"});
    ASSERT_EQ(r.exitCode, 0);
    const QJsonArray routes = json(r.out)["routes"].toArray();
    QStringList seen;
    for (const auto& v : routes) {
        const QJsonObject o = v.toObject();
        seen.append(o["source"].toString() + ">" + o["destination"].toString() + "@" +
                    QString::number(o["level"].toInt()));
    }
    // The default map routes playback 1 and 2 to the headphones; those have no stored level.
    EXPECT_EQ(seen, (QStringList{"pb1>hp1@100", "pb2>hp2@100", "mic1>loop1@100", "pb8>loop8@50"}));

    r = sim({"--trace", "route", "1", "5", "off"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.traceLines().filter(" 1e 00 ").value(0), "usb> 40 03 38 00 1e 00 01 00 | ff");
    r = sim({"routes"});
    EXPECT_TRUE(r.out.contains(QRegularExpression("loop1 +- ")));
    EXPECT_TRUE(r.out.startsWith("       mic1"));
}

TEST_F(H8ctlTest, LevelOfARouteThatIsOffIsStoredButNotSent) {
    const Result r = sim({"--trace", "level", "otg3", "hp2", "40"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.traceLines().filter(" 1e 00 ").isEmpty());
    EXPECT_TRUE(r.err.contains("is off"));
    QFile f(demoDefaults());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_DOUBLE_EQ(QJsonDocument::fromJson(f.readAll()).object()["volume32"].toDouble(), 40);
}

TEST_F(H8ctlTest, BadRouteArgumentsSendNothing) {
    const QList<QStringList> bad = {{"route", "mic3", "hp1", "on"},
                                    {"route", "mic1", "hp3", "on"},
                                    {"route", "13", "1", "on"},
                                    {"route", "1", "0", "on"},
                                    {"route", "1", "1", "maybe"},
                                    {"level", "1", "1", "101"},
                                    {"level", "1", "1"},
                                    {"monitor", "--seconds", "0"}};
    for (const QStringList& args : bad) {
        const Result r = sim(QStringList{"--trace"} + args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.traceLines().isEmpty()) << args.join(' ').toStdString();
    }
}

TEST_F(H8ctlTest, MonitorPrintsEveryChannelTwentyTimesASecond) {
    const Result r = sim({"--json", "monitor", "--seconds", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_GE(lines.size(), 15);
    EXPECT_LE(lines.size(), 21);
    const QJsonArray last = json(lines.last())["levels"].toArray();
    ASSERT_EQ(last.size(), 16);
    // The emulated signal is louder on each higher channel.
    EXPECT_GT(last[0].toDouble(), 0.0);
    EXPECT_GT(last[15].toDouble(), last[0].toDouble());
}

TEST(UdevRuleTest, GrantsTheLoggedInUserTheDeviceTheSessionMatches) {
    QFile f(UDEV_RULE_PATH);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString rule = QString::fromUtf8(f.readAll());
    const QString vendor = QString::asprintf("%04x", kH8VendorId);
    const QString product = QString::asprintf("%04x", kH8ProductId);
    EXPECT_TRUE(rule.contains("ATTR{idVendor}==\"" + vendor + "\"")) << rule.toStdString();
    EXPECT_TRUE(rule.contains("ATTR{idProduct}==\"" + product + "\""));
    EXPECT_TRUE(rule.contains("TAG+=\"uaccess\""));
    EXPECT_FALSE(
        rule.contains(QRegularExpression("MODE=\"0?[0-7][0-7][2367]\"")));  // never world-writable

    QProcess p;
    p.start(H8CTL_PATH, {"udev-rule"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), rule);
}

// ---- presets ----

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// The preset sealed outside the project, kept beside the preset tests.
QString presetVector(const char* name) {
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../preset/vectors/" + name;
}

// The trace line of a crosspoint write: address source + 12 × destination, register 0x1e.
QString mixerWrite(int address, int percent) {
    return QString::asprintf("usb> 40 03 %02x 00 1e 00 01 00 | %02x", address,
                             HexPercentageConverter::percentToLevel(percent));
}

TEST_F(H8ctlTest, PresetImportRestoresTheExportedRoutesAndMutesOnTheDevice) {
    ASSERT_EQ(sim({"route", "mic1", "loop1", "on"}).exitCode, 0);
    ASSERT_EQ(sim({"level", "mic1", "loop1", "60"}).exitCode, 0);
    ASSERT_EQ(sim({"mute", "input1", "on"}).exitCode, 0);
    ASSERT_EQ(sim({"mute", "hp", "on"}).exitCode, 0);
    const QString preset = env_.root() + "/panel.norv";
    Result r = sim({"preset", "export", preset});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());

    ASSERT_EQ(sim({"route", "mic1", "loop1", "off"}).exitCode, 0);
    ASSERT_EQ(sim({"route", "pb8", "loop8", "on"}).exitCode, 0);
    ASSERT_EQ(sim({"mute", "input1", "off"}).exitCode, 0);
    ASSERT_EQ(sim({"mute", "input2", "on"}).exitCode, 0);
    ASSERT_EQ(sim({"mute", "hp", "off"}).exitCode, 0);
    ASSERT_EQ(stateJson()["mixer"].toArray()[8 + 12 * 4].toInt(), 0xFF);

    r = sim({"--trace", "preset", "import", preset});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList trace = r.traceLines();
    for (const QString& line : {QString("usb> 40 03 01 01 01 00 01 00 | 01"),  // input 1 muted
                                QString("usb> 40 03 02 01 01 00 01 00 | 00"),  // input 2 not
                                QString("usb> 40 03 01 00 01 00 01 00 | 01"),  // headphones
                                QString("usb> 40 03 02 00 01 00 01 00 | 01"),
                                mixerWrite(8 + 12 * 4, 60)}) {  // mic1 → loop1 at its level
        EXPECT_TRUE(trace.contains(line)) << line.toStdString() << "\n" << r.err.toStdString();
    }
    // Only routes that are on are sent: pb8 → loop8 was not in the preset.
    EXPECT_FALSE(trace.contains(mixerWrite(7 + 12 * 11, 100)));

    const QJsonObject device = stateJson();
    EXPECT_EQ(device["mute"].toObject()["1:1"].toInt(), 1);
    EXPECT_EQ(device["mute"].toObject()["1:2"].toInt(), 0);
    EXPECT_EQ(device["mute"].toObject()["0:1"].toInt(), 1);
    EXPECT_EQ(device["mute"].toObject()["0:2"].toInt(), 1);
    EXPECT_EQ(device["mixer"].toArray()[8 + 12 * 4].toInt(),
              HexPercentageConverter::percentToLevel(60));

    r = sim({"--json", "routes"});
    QStringList seen;
    for (const auto& v : json(r.out)["routes"].toArray()) {
        const QJsonObject o = v.toObject();
        seen.append(o["source"].toString() + ">" + o["destination"].toString() + "@" +
                    QString::number(o["level"].toInt()));
    }
    EXPECT_EQ(seen, (QStringList{"pb1>hp1@100", "pb2>hp2@100", "mic1>loop1@60"}));
    const QJsonObject s = json(sim({"--json", "status"}).out);
    EXPECT_TRUE(s["headphones"].toObject()["muted"].toBool());
    EXPECT_TRUE(s["inputs"].toArray()[0].toObject()["muted"].toBool());
    EXPECT_FALSE(s["inputs"].toArray()[1].toObject()["muted"].toBool());
}

TEST_F(H8ctlTest, PresetImportOfTheVectorSetsTheRateMutesAndCrosspointsOfTheEmulatedH8) {
    const Result r = sim({"--trace", "preset", "import", presetVector("preset-h8.norv")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject device = stateJson();
    EXPECT_EQ(device["sampleRate"].toInt(), 96000);
    EXPECT_EQ(sim({"rate"}).out, "96000Hz\n");

    // Its routes: pb1 → hp1, pb2 → hp2, mic1 → loop1, pb8 → loop8, none with a stored level.
    // Source codes: pb1..pb8 are 0..7, mic1 is 8; destinations hp1 0, hp2 1, loop1 4, loop8 11.
    const QStringList trace = r.traceLines();
    for (const int address : {0 + 12 * 0, 1 + 12 * 1, 8 + 12 * 4, 7 + 12 * 11}) {
        EXPECT_TRUE(trace.contains(mixerWrite(address, 100))) << address;
        EXPECT_EQ(device["mixer"].toArray()[address].toInt(),
                  HexPercentageConverter::percentToLevel(100))
            << address;
    }
    EXPECT_EQ(trace.filter(" 1e 00 01 00 | ").size(), 4) << r.err.toStdString();
    EXPECT_EQ(device["mute"].toObject()["1:1"].toInt(), 1);
    EXPECT_EQ(device["mute"].toObject()["1:2"].toInt(), 0);
    EXPECT_EQ(device["mute"].toObject()["0:1"].toInt(), 1);
    EXPECT_EQ(device["mute"].toObject()["0:2"].toInt(), 1);

    const QJsonObject defaults = QJsonDocument::fromJson(fileBytes(demoDefaults())).object();
    EXPECT_EQ(defaults["channelRowName2"].toString(), "Vocal");
    EXPECT_EQ(defaults["channelName6"].toString(), "Stream mix");
    EXPECT_EQ(defaults["outputVolume5"].toInt(), 42);
}

TEST_F(H8ctlTest, PresetImportRefusesAlteredForeignAndOversizedFilesAndChangesNothing) {
    ASSERT_EQ(sim({"route", "mic1", "loop1", "on"}).exitCode, 0);
    ASSERT_EQ(sim({"mute", "hp", "on"}).exitCode, 0);
    const QString altered = env_.root() + "/altered.norv";
    ASSERT_EQ(sim({"preset", "export", altered}).exitCode, 0);
    QByteArray bytes = fileBytes(altered);
    ASSERT_GT(bytes.size(), 100);
    bytes[100] = static_cast<char>(bytes[100] ^ 0x04);
    writeBytes(altered, bytes);

    QJsonObject foreign =
        QJsonDocument::fromJson(fileBytes(presetVector("preset-h8.json"))).object();
    ASSERT_FALSE(foreign.isEmpty());
    foreign["name"] = "H9";
    const std::optional<QByteArray> sealed =
        NorvExportFileHelper::seal(QJsonDocument(foreign).toJson(QJsonDocument::Compact), nullptr);
    ASSERT_TRUE(sealed);
    const QString other = env_.root() + "/other-model.norv";
    writeBytes(other, *sealed);

    // Far larger than any preset; sparse, so nothing is written.
    const QString huge = env_.root() + "/huge.norv";
    QFile hugeFile(huge);
    ASSERT_TRUE(hugeFile.open(QIODevice::WriteOnly));
    ASSERT_TRUE(hugeFile.resize(2'200'000'000));
    hugeFile.close();

    const QByteArray defaultsBefore = fileBytes(demoDefaults());
    const QByteArray deviceBefore = fileBytes(stateFile());
    ASSERT_FALSE(defaultsBefore.isEmpty());
    for (const QString& file : {altered, other, huge}) {
        const Result r = sim({"--trace", "preset", "import", file});
        EXPECT_EQ(r.exitCode, 3) << file.toStdString();
        // The alert's message, in English (the tests' locale).
        EXPECT_TRUE(r.err.contains(
            "h8ctl: The imported file is for a different device model than the connected one!\n"))
            << r.err.toStdString();
        EXPECT_TRUE(r.traceLines().filter("usb> 40 ").isEmpty()) << r.err.toStdString();
        EXPECT_EQ(fileBytes(demoDefaults()), defaultsBefore);
        EXPECT_EQ(fileBytes(stateFile()), deviceBefore);
    }

    const Result missing = sim({"--trace", "preset", "import", env_.root() + "/none.norv"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("no preset file")) << missing.err.toStdString();
    EXPECT_TRUE(missing.traceLines().isEmpty());
    EXPECT_EQ(fileBytes(demoDefaults()), defaultsBefore);
}

}  // namespace
}  // namespace h8
