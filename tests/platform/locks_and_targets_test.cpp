// The locks that keep to one panel and one user of the interface, and what each H8 a program
// works with (real or emulated) keeps apart: preferences, log, bus name, locks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "app/common/target.h"
#include "platform/file_lock.h"
#include "temp_env.h"

namespace h8 {
namespace {

TEST(FileLockTest, OneHolderAtATimeAndItsProcessIdForTheMessage) {
    test::TempEnv env;
    const QString path = env.runtimeDir() + "/sub/one.lock";
    FileLock first(path), second(path);
    ASSERT_TRUE(first.tryLock()) << first.error().toStdString();  // the folder is created
    EXPECT_FALSE(second.tryLock());
    EXPECT_TRUE(second.error().isEmpty());  // held, not broken
    EXPECT_EQ(second.holder(), static_cast<qint64>(::getpid()));
    EXPECT_FALSE(second.lock(std::chrono::milliseconds(60)));

    first.release();
    EXPECT_TRUE(second.lock(std::chrono::milliseconds(1000)));
    {
        FileLock third(path);
        EXPECT_FALSE(third.tryLock());
    }
    second.release();
    {
        FileLock fourth(path);  // released with its object
        EXPECT_TRUE(fourth.tryLock());
    }
    EXPECT_TRUE(first.tryLock());
}

TEST(FileLockTest, AFileThatCannotBeOpenedIsAnErrorNotAHolder) {
    test::TempEnv env;
    QFile blocker(env.root() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    FileLock lock(env.root() + "/file/under-a-file.lock");
    EXPECT_FALSE(lock.tryLock());
    EXPECT_FALSE(lock.error().isEmpty());
    EXPECT_FALSE(lock.lock(std::chrono::milliseconds(1000)));  // gives up at once
}

TEST(TargetTest, TheDemoKeepsItsPreferencesLogNameAndLocksApart) {
    test::TempEnv env;
    const Target real = Target::hardware();
    const Target demo = Target::emulated(QString());
    const Target other = Target::emulated(env.root() + "/x/../other.json");
    EXPECT_EQ(real.preferencesFile(), env.configDir() + "/defaults.json");
    EXPECT_EQ(demo.stateFile(), env.configDir() + "/emulated-h8.json");
    EXPECT_EQ(demo.preferencesFile(), env.configDir() + "/emulated-h8.defaults.json");
    EXPECT_EQ(other.stateFile(), env.root() + "/other.json");
    EXPECT_EQ(Target::emulated(env.root() + "/state").preferencesFile(),
              env.root() + "/state.defaults.json");
    EXPECT_EQ(real.logFileName(), "myapp.log");
    EXPECT_NE(demo.logFileName(), real.logFileName());
    EXPECT_EQ(real.busName(), "org.h8controller.H8Controller");
    EXPECT_EQ(real.objectPath(), "/org/h8controller/H8Controller");
    EXPECT_EQ(demo.busName(), "org.h8controller.H8Controller.Demo");
    EXPECT_EQ(demo.objectPath(), "/org/h8controller/H8Controller/Demo");
    EXPECT_NE(real.panelLockFile(), demo.panelLockFile());
    EXPECT_NE(real.interfaceLockFile(), demo.interfaceLockFile());
    EXPECT_NE(demo.interfaceLockFile(), other.interfaceLockFile());
    EXPECT_EQ(Target::emulated(env.configDir() + "/emulated-h8.json").interfaceLockFile(),
              demo.interfaceLockFile());
    EXPECT_TRUE(real.interfaceLockFile().startsWith(env.runtimeDir() + "/"));

    // Without a runtime folder the locks go to the config folder.
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_TRUE(real.panelLockFile().startsWith(env.configDir() + "/"));
}

}  // namespace
}  // namespace h8
