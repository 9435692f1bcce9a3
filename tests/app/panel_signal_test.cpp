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

#include "temp_env.h"

namespace {

class PanelSignalTest : public testing::TestWithParam<int> {};

TEST_P(PanelSignalTest, ARouteDraggedJustBeforeTheSignalIsStored) {
    h8::test::TempEnv env;
    QTemporaryFile script;
    ASSERT_TRUE(script.open());
    // The drag stores the route map; the signal comes before the 250 ms write delay is over.
    script.write("wait-bound 8000\ndrag 1 5\nprint-state\nwait 60000\n");
    script.close();
    QProcess panel;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("QT_QPA_PLATFORM", "offscreen");
    panel.setProcessEnvironment(e);
    panel.start(H8_CONTROLLER_PATH,
                {"--simulate=" + env.root() + "/h8.json", "--automation", script.fileName()});
    ASSERT_TRUE(panel.waitForStarted());
    QByteArray out;
    while (!out.contains("state:") && panel.waitForReadyRead(10000))
        out += panel.readAllStandardOutput();
    ASSERT_TRUE(out.contains("state:")) << out.toStdString();
    ::kill(static_cast<pid_t>(panel.processId()), GetParam());
    ASSERT_TRUE(panel.waitForFinished(10000));
    EXPECT_EQ(panel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(panel.exitCode(), 0);

    QFile defaults(env.configDir() + "/defaults.json");
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
    QTemporaryFile script;
    ASSERT_TRUE(script.open());
    script.write("wait-bound 8000\nprint-state\nquit\n");
    script.close();
    QProcess panel;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("QT_QPA_PLATFORM", "offscreen");
    panel.setProcessEnvironment(e);
    panel.start(H8_CONTROLLER_PATH,
                {"--simulate=" + env.root() + "/h8.json", "--automation", script.fileName()});
    ASSERT_TRUE(panel.waitForFinished(20000));
    EXPECT_EQ(panel.exitCode(), 0) << panel.readAllStandardError().toStdString();
    EXPECT_TRUE(panel.readAllStandardOutput().contains("state: bound=1"));
    EXPECT_FALSE(QFileInfo::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart"));
}

}  // namespace
