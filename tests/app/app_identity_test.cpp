// The panel's window is matched to its desktop entry: the Wayland app id is the entry's name, and
// on X11 the entry's StartupWMClass is the window class Qt gives the window (the application's
// name).

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSettings>

#include "app/common/identifiers.h"
#include "app_identity.h"

namespace h8 {
namespace {

TEST(AppIdentityTest, TheWindowIsMatchedToItsDesktopEntry) {
    setApplicationIdentity();
    const QString entry = QStringLiteral(H8_DESKTOP_ENTRY);
    ASSERT_TRUE(QFile::exists(entry)) << entry.toStdString();
    EXPECT_EQ(QGuiApplication::desktopFileName(), QFileInfo(entry).completeBaseName());
    EXPECT_EQ(QGuiApplication::desktopFileName(), QString::fromLatin1(ids::kMainAppId));
    QSettings desktop(entry, QSettings::IniFormat);
    desktop.beginGroup(QStringLiteral("Desktop Entry"));
    EXPECT_EQ(desktop.value(QStringLiteral("StartupWMClass")).toString(),
              QCoreApplication::applicationName());
}

}  // namespace
}  // namespace h8
