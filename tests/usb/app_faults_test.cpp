// The real h8-controller against an interface that fails the way real ones do, through real
// libusb (the emulated H8 served by umockdev): a stall, a time-out and the device vanishing
// (ENODEV) in the middle of a poll, of the rebuild of the routes at arrival and of an import.
// After each fault the user re-plugs the interface; the panel must bind it again, send it the
// stored routes and levels, and have lost nothing it stored. No sound server runs: the panel
// binds on USB alone.

#include <gtest/gtest.h>

#include <QDir>
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
    int exitCode = -1;
    QString out, err;
};

// Crosspoint writes (request 3, register 0x1e), and any read.
constexpr const char* kCrosspointWrite = "4003xx001e00";
constexpr const char* kRead = "c0";

class AppFaultsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The stored routes of the panel, and a preset with other routes, made with h8ctl on
        // the emulated H8.
        shared_ = new h8::test::TempEnv;
        const QString store = shared_->root() + "/store", other = shared_->root() + "/other";
        ASSERT_TRUE(h8ctl(store, {"route", "1", "5", "on"}));
        ASSERT_TRUE(h8ctl(store, {"route", "3", "2", "on"}));
        ASSERT_TRUE(h8ctl(store, {"level", "1", "5", "70"}));
        ASSERT_TRUE(h8ctl(other, {"route", "2", "7", "on"}));
        ASSERT_TRUE(h8ctl(other, {"route", "5", "1", "on"}));
        ASSERT_TRUE(h8ctl(other, {"level", "5", "1", "40"}));
        ASSERT_TRUE(h8ctl(other, {"preset", "export", presetFile()}));
        // What a clean arrival sends with these routes stored, and after a clean import.
        h8::test::TempEnv env;
        Result r = runPanel(env, {}, "wait-bound 20000\nwait 500\nquit\n");
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        plain_ = {mixer(env), stored(env)};
        h8::test::TempEnv importEnv;
        r = runPanel(importEnv, {},
                     "wait-bound 20000\nimport " + presetFile() + "\nwait 500\nquit\n");
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        imported_ = {mixer(importEnv), stored(importEnv)};
        ASSERT_NE(plain_.stored, imported_.stored);
        ASSERT_NE(plain_.mixer, imported_.mixer);
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }

    static bool h8ctl(const QString& config, const QStringList& args) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("H8_CONFIG_DIR", config);
        e.insert("H8_LOG_DIR", config + "/logs");
        p.setProcessEnvironment(e);
        p.start(H8CTL_PATH, QStringList{"--simulate=" + config + "/sim.json"} + args);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }
    static QString presetFile() { return shared_->root() + "/other.h8preset"; }

    // Runs the panel on the emulated H8 through the harness, with the stored routes copied in
    // and no sound server, and saves the H8's state at the end.
    static Result runPanel(const h8::test::TempEnv& env, const QStringList& harnessOptions,
                           const QString& script) {
        const QString config = env.root() + "/cfg";
        QDir().mkpath(config);
        QDir().mkpath(env.root() + "/runtime");
        QFile::remove(config + "/defaults.json");
        QFile::copy(shared_->root() + "/store/defaults.json", config + "/defaults.json");
        QProcessEnvironment e;
        e.insert("H8_CONFIG_DIR", config);
        e.insert("H8_LOG_DIR", env.root() + "/logs");
        e.insert("XDG_STATE_HOME", env.root() + "/state");
        e.insert("PIPEWIRE_RUNTIME_DIR", env.root() + "/runtime");  // no sound server there
        e.insert("XDG_RUNTIME_DIR", env.root() + "/runtime");
        const QString state = env.root() + "/device.json";
        const h8::test::ProcessResult r =
            h8::test::runPanelScript("umockdev-wrapper", env.root(), script,
                                     QStringList{H8_USB_HARNESS, "--save", state} + harnessOptions +
                                         QStringList{"--", H8_CONTROLLER_PATH, "--trace"},
                                     e, 90000);
        EXPECT_TRUE(r.finished);
        return {r.exitCode, r.out, r.err};
    }

    static QJsonObject json(const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    // The H8's mixer as the harness saved it.
    static QJsonArray mixer(const h8::test::TempEnv& env) {
        return json(env.root() + "/device.json")["mixer"].toArray();
    }
    // The route map and every crosspoint level the panel stored.
    static QJsonObject stored(const h8::test::TempEnv& env) {
        const QJsonObject all = json(env.root() + "/cfg/defaults.json");
        QJsonObject routes;
        for (auto it = all.begin(); it != all.end(); ++it) {
            if (it.key() == "H8TTChannelMapArray" || it.key().startsWith("volume"))
                routes.insert(it.key(), it.value());
        }
        return routes;
    }

    struct Outcome {
        QJsonArray mixer;
        QJsonObject stored;
    };
    static h8::test::TempEnv* shared_;
    static Outcome plain_, imported_;
};

h8::test::TempEnv* AppFaultsTest::shared_ = nullptr;
AppFaultsTest::Outcome AppFaultsTest::plain_, AppFaultsTest::imported_;

// Waits until the fault has hit and the user's re-plug has been handled, then reports.
const QString kAfterTheFault = "wait-arrivals 1 20000\nwait 500\nprint-state\nquit\n";

enum class Moment { Poll, Rebuild, Import };

struct FaultCase {
    Moment moment;
    const char* action;
};

std::string caseName(const testing::TestParamInfo<FaultCase>& info) {
    const char* moments[] = {"Poll", "Rebuild", "Import"};
    std::string action = info.param.action;
    action[0] = static_cast<char>(std::toupper(action[0]));
    return std::string(moments[static_cast<int>(info.param.moment)]) + action;
}

class AppFaultCaseTest : public AppFaultsTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(AppFaultCaseTest, AfterTheFaultAReplugWorksAndNothingStoredIsLost) {
    const FaultCase c = GetParam();
    h8::test::TempEnv env;
    const QString armed = env.root() + "/armed";
    QStringList options{"--replug-after-fault", "1500"};
    QString script = "wait-bound 20000\n";
    switch (c.moment) {
        case Moment::Poll:  // the second read of a poll tick
            options << "--on" << QString("%1:2:%2").arg(kRead, c.action) << "--arm-on"
                    << "arm:" + armed;
            script += "print arm\nwait-file " + armed + " 10000\n";
            break;
        case Moment::Rebuild:  // the 40th crosspoint write of the first arrival
            options << "--on" << QString("%1:40:%2").arg(kCrosspointWrite, c.action);
            break;
        case Moment::Import:  // the second crosspoint write of the import
            options << "--on" << QString("%1:2:%2").arg(kCrosspointWrite, c.action) << "--arm-on"
                    << "arm:" + armed;
            script += "print arm\nwait-file " + armed + " 10000\nimport " + presetFile() + "\n";
            break;
    }
    const Result r = runPanel(env, options, script + kAfterTheFault);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString("h8-usb-harness: %1 at request").arg(c.action)))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("runtime error")) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("bound=1")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("disconnected=0")) << r.out.toStdString();
    // The import either took effect or not at all; what is stored is what the H8 now has.
    const Outcome& expected =
        c.moment == Moment::Import && stored(env) == imported_.stored ? imported_ : plain_;
    EXPECT_EQ(stored(env), expected.stored);
    EXPECT_EQ(mixer(env), expected.mixer);
}

INSTANTIATE_TEST_SUITE_P(
    , AppFaultCaseTest,
    testing::Values(FaultCase{Moment::Poll, "stall"}, FaultCase{Moment::Poll, "timeout"},
                    FaultCase{Moment::Poll, "vanish"}, FaultCase{Moment::Rebuild, "stall"},
                    FaultCase{Moment::Rebuild, "timeout"}, FaultCase{Moment::Rebuild, "vanish"},
                    FaultCase{Moment::Import, "stall"}, FaultCase{Moment::Import, "timeout"},
                    FaultCase{Moment::Import, "vanish"}),
    caseName);

TEST_F(AppFaultsTest, AHungInterfaceNeverFreezesTheWindow) {
    // Every request from the first poll read on runs into its time-out, through real libusb.
    h8::test::TempEnv env;
    const QString armed = env.root() + "/armed";
    const Result r = runPanel(
        env, {"--on", QString("%1:1:hang").arg(kRead), "--arm-on", "arm:" + armed},
        "wait-bound 20000\nprint arm\nwait-file " + armed + " 10000\nmeasure-gaps 6000\nquit\n");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto gap = QRegularExpression("gaps: longest=(\\d+) ms").match(r.out);
    ASSERT_TRUE(gap.hasMatch()) << r.out.toStdString();
    EXPECT_LT(gap.captured(1).toInt(), 500) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("usb! c0")) << "the hang never reached the panel";
}

}  // namespace
