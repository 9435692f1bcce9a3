// The real h8-controller binary end to end: the emulated H8 is served through umockdev to real
// libusb (the harness), the sound server is the private PipeWire stack with its fake 16-channel
// USB input, the panel runs offscreen and a script drives it with real mouse events.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include "panel_process.h"
#include "temp_env.h"

namespace {

struct Result {
    int exitCode;
    QString out, err;
};

class AppEndToEndTest : public testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("H8_TEST_PIPEWIRE_DIR")) {
            if (qgetenv("CI") == "true")
                FAIL() << "no PipeWire test stack (scripts/test.sh starts one)";
            GTEST_SKIP() << "no PipeWire test stack (run through scripts/test.sh)";
        }
    }
    Result run(const QString& script, const QStringList& harnessOptions = {}) {
        QProcessEnvironment e;
        e.insert("XDG_CONFIG_HOME", env_.root() + "/xdg");
        const h8::test::ProcessResult r = h8::test::runPanelScript(
            "umockdev-wrapper", env_.root(), script,
            QStringList{H8_USB_HARNESS, "--state", stateFile(), "--save", stateFile()} +
                harnessOptions + QStringList{"--", H8_CONTROLLER_PATH, "--trace"},
            e);
        EXPECT_TRUE(r.finished);
        return {r.exitCode, r.out, r.err};
    }
    QString stateFile() const { return env_.root() + "/device.json"; }
    QJsonObject json(const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return QJsonDocument::fromJson(f.readAll()).object();
    }

    h8::test::TempEnv env_;
};

TEST_F(AppEndToEndTest, DragOfMicHandleOntoL1ReachesTheDeviceAndTheStoredMap) {
    const Result r = run("wait-bound 8000\ndrag 1 5\nwait 300\nquit\n");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // On the device: the level write, then the crosspoint write, source 8 destination 4.
    const QStringList lines = r.err.split('\n');
    const qsizetype level = lines.lastIndexOf("usb> 40 03 38 00 1e 00 01 00 | 81");
    ASSERT_GE(level, 0) << r.err.toStdString();
    EXPECT_EQ(lines.value(level + 1), "usb> 40 03 38 00 1e 00 01 00 | 80");
    EXPECT_EQ(json(stateFile())["mixer"].toArray()[8 + 12 * 4].toInt(), 0x80);
    const QJsonArray map =
        json(env_.configDir() + "/defaults.json")["H8TTChannelMapArray"].toArray();
    ASSERT_GT(map.size(), 4);
    EXPECT_TRUE(map[4].toArray()[0].toBool());
}

TEST_F(AppEndToEndTest, UnplugAndReplugRebindReusingEngineAndPanel) {
    const Result r =
        run("wait-bound 8000\nprint-state\ndrag 1 5\nwait-unbound 10000\nprint-state\nwait-bound "
            "10000\nwait 300\n"
            "print-state\nquit\n",
            {"--unplug-after", "2500", "--replug-after", "4000"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList states = r.out.split('\n').filter("state:");
    ASSERT_EQ(states.size(), 3) << r.out.toStdString();
    const QRegularExpression pointers("engine=(\\S+) panel=(\\S+)");
    EXPECT_TRUE(states[1].contains("bound=0 audio=0 disconnected=1 menu=0"))
        << states[1].toStdString();
    EXPECT_TRUE(states[2].contains("bound=1")) << states[2].toStdString();
    EXPECT_TRUE(states[2].contains("disconnected=0")) << states[2].toStdString();
    EXPECT_EQ(pointers.match(states[0]).captured(0), pointers.match(states[2]).captured(0));
    // The route is sent again after the re-plug.
    const QStringList lines = r.err.split('\n');
    EXPECT_GE(lines.count("usb> 40 03 38 00 1e 00 01 00 | 81"), 2) << r.err.toStdString();
}

}  // namespace
