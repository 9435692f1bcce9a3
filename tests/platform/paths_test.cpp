#include "platform/paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "temp_env.h"

namespace h8 {
namespace {

// Empty overrides count as unset, and each call sees the current environment.
TEST(Paths, OverridesThenXdgThenHome) {
    test::TempEnv env;  // restores the H8_* variables afterwards
    const QByteArray savedHome = qgetenv("HOME");
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());

    qputenv("H8_CONFIG_DIR", "/override/config");
    qputenv("H8_LOG_DIR", "/override/logs");
    qputenv("XDG_CONFIG_HOME", "/xdg/config");
    qputenv("XDG_STATE_HOME", "/xdg/state");
    EXPECT_EQ(configDir(), "/override/config");
    EXPECT_EQ(stateDir(), "/xdg/state/H8Controller");
    EXPECT_EQ(logDir(), "/override/logs");

    qputenv("H8_CONFIG_DIR", "");
    qputenv("H8_LOG_DIR", "");
    EXPECT_EQ(configDir(), "/xdg/config/H8Controller");
    EXPECT_EQ(logDir(), "/xdg/state/H8Controller/Logs");

    qputenv("XDG_CONFIG_HOME", "");
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(configDir(), home.path() + "/.config/H8Controller");
    EXPECT_EQ(stateDir(), home.path() + "/.local/state/H8Controller");
    EXPECT_EQ(logDir(), home.path() + "/.local/state/H8Controller/Logs");

    // Without HOME (some service managers start programs so) the password database gives the
    // home folder: never "//.config".
    qunsetenv("HOME");
    const QString home2 = configDir();
    EXPECT_FALSE(home2.startsWith("//")) << home2.toStdString();
    EXPECT_TRUE(home2.endsWith("/.config/H8Controller")) << home2.toStdString();
    EXPECT_EQ(QDir::cleanPath(home2), home2);
    qputenv("HOME", "relative/home");
    EXPECT_EQ(configDir(), home2);

    qputenv("HOME", savedHome);
}

}  // namespace
}  // namespace h8
