// The panel program quit by SIGTERM or SIGINT (a logout, Ctrl+C) right after a change: the
// change is on disk, as on a normal quit, although the preferences gather bursts of changes.

#include <gtest/gtest.h>
#include <signal.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>

#include "panel_process.h"
#include "temp_env.h"

namespace {

class PanelSignalTest : public testing::TestWithParam<int> {};

TEST_P(PanelSignalTest, ARouteDraggedJustBeforeTheSignalIsStored) {
    h8::test::TempEnv env;
    // The drag stores the route map; the signal comes before the 250 ms write delay is over.
    const std::unique_ptr<QProcess> started = h8::test::startPanelScript(
        H8_CONTROLLER_PATH, env.root(), "wait-bound 8000\ndrag 1 5\nprint-state\nwait 60000\n",
        {"--simulate=" + env.root() + "/h8.json"});
    ASSERT_TRUE(started);
    QProcess& panel = *started;
    ASSERT_TRUE(panel.waitForStarted());
    QByteArray out;
    while (!out.contains("state:") && panel.waitForReadyRead(10000))
        out += panel.readAllStandardOutput();
    ASSERT_TRUE(out.contains("state:")) << out.toStdString();
    ::kill(static_cast<pid_t>(panel.processId()), GetParam());
    ASSERT_TRUE(panel.waitForFinished(10000));
    EXPECT_EQ(panel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(panel.exitCode(), 0);

    // The demo's own preferences, beside its state file.
    QFile defaults(env.root() + "/h8.defaults.json");
    ASSERT_TRUE(defaults.open(QIODevice::ReadOnly));
    const QJsonArray map =
        QJsonDocument::fromJson(defaults.readAll())["H8TTChannelMapArray"].toArray();
    ASSERT_GT(map.size(), 4);
    EXPECT_TRUE(map[4].toArray()[0].toBool());  // mic 1 → destination 5
}

INSTANTIATE_TEST_SUITE_P(Signals, PanelSignalTest, testing::Values(SIGTERM, SIGINT));

TEST(PanelDemoTest, ADemoOnTheEmulatedH8LeavesTheLoginItemsAlone) {
    // H8LaunchHelper is built beside the panel, so a registration would succeed (and did, at
    // every bind, before: a demo registered a login item pointing into the build folder).
    h8::test::TempEnv env;
    const h8::test::ProcessResult r = h8::test::runPanelScript(
        H8_CONTROLLER_PATH, env.root(), "wait-bound 8000\nprint-state\nquit\n",
        {"--simulate=" + env.root() + "/h8.json"}, {}, 20000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("state: bound=1"));
    EXPECT_FALSE(QFileInfo::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart"));
}

}  // namespace
