// Launch at login, end to end: the autostart entry setAutoStart writes, the quit signal it sends,
// and the real H8LaunchHelper binary, all on a private session bus started by this test.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/autostart/app_auto_start_utils.h"
#include "app/common/identifiers.h"
#include "temp_env.h"

namespace h8 {

// Counts the quit signals seen on a bus connection and remembers their arguments; counts the
// test's own markers too (see AutoStartTest::flush).
class SignalCounter : public QObject {
    Q_OBJECT
public:
    QStringList senders;
    int markers = 0;

public slots:
    void onSignal(const QString& sender) { senders.append(sender); }
    void onMarker() { ++markers; }
};

namespace {

const QString kMainId = QString::fromLatin1(ids::kMainAppId);
const QString kMarkerPath = QStringLiteral("/org/h8controller/Test");
const QString kMarkerInterface = QStringLiteral("org.h8controller.Test");
const QString kMarkerName = QStringLiteral("Marker");
const QString kHelperId = QString::fromLatin1(ids::kLaunchHelperId);
constexpr int kWaitMs = 10000;

// Undoes the string escapes of a Desktop Entry value. A null string when it is malformed.
QString unescapeStringValue(const QString& value) {
    QString unescaped;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            unescaped += value[i];
            continue;
        }
        if (++i == value.size()) return {};
        const QChar c = value[i];
        unescaped += c == 'n'   ? QChar('\n')
                     : c == 't' ? QChar('\t')
                     : c == 'r' ? QChar('\r')
                     : c == 's' ? QChar(' ')
                                : c;
    }
    return unescaped;
}

// Undoes both escape layers of an Exec= value holding one quoted argument, the way a desktop
// environment reads it. Returns a null string when the value is malformed.
QString decodeExec(const QString& value) {
    const QString unescaped = unescapeStringValue(value);
    if (unescaped.isNull()) return {};
    if (unescaped.size() < 2 || !unescaped.startsWith('"') || !unescaped.endsWith('"')) return {};
    QString argument;
    for (int i = 1; i < unescaped.size() - 1; ++i) {
        QChar c = unescaped[i];
        // These must carry a backslash inside quotes; a bare '"' would even end the argument.
        if (c == '"' || c == '`' || c == '$') return {};
        if (c == '\\') {
            c = unescaped[++i];
            if (c != '"' && c != '`' && c != '$' && c != '\\') return {};
        } else if (c == '%') {
            if (unescaped[++i] != '%') return {};  // a field code, not part of the path
        }
        argument += c;
    }
    return argument;
}

QString keyLine(const QByteArray& entry, const QByteArray& key) {
    for (const QByteArray& line : entry.split('\n')) {
        if (line.startsWith(key + '=')) return QString::fromUtf8(line.mid(key.size() + 1));
    }
    return {};
}

QString execLine(const QByteArray& entry) {
    return keyLine(entry, "Exec");
}

TEST(DesktopEntry, ExecRoundTripsAwkwardPaths) {
    const QStringList paths = {
        "/usr/lib/h8-controller/H8LaunchHelper",
        "/home/user name/apps/H8LaunchHelper",
        "/tmp/q\"uo'te/$HOME/`id`/back\\slash/H8LaunchHelper",
        "/tmp/100%u/%%f/H8LaunchHelper",
        "/tmp/line\nfeed\ttab/H8LaunchHelper",
        "/tmp/ünïcødé/H8LaunchHelper",
    };
    for (const QString& path : paths) {
        const QByteArray entry = AppAutoStartUtils::desktopEntry(path);
        EXPECT_EQ(entry.count("\nExec="), 1) << entry.constData();
        EXPECT_EQ(decodeExec(execLine(entry)), path) << entry.constData();
        // The session checks that the helper still exists before it runs the entry.
        EXPECT_EQ(entry.count("\nTryExec="), 1) << entry.constData();
        EXPECT_EQ(unescapeStringValue(keyLine(entry, "TryExec")), path) << entry.constData();
    }
}

TEST(DesktopEntry, IsValidWithTryExecForBothStates) {
    QTemporaryDir dir;
    for (const bool enabled : {true, false}) {
        const QString path = dir.path() + "/NORV.H8LaunchHelper.desktop";
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(AppAutoStartUtils::desktopEntry("/usr/lib/h8 controller/H8LaunchHelper", enabled));
        f.close();
        QProcess validate;
        validate.start("desktop-file-validate", {path});
        ASSERT_TRUE(validate.waitForFinished(kWaitMs)) << "desktop-file-validate is missing";
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().constData();
    }
}

TEST(DesktopEntry, IsAnApplicationEntryNamedAfterTheHelper) {
    EXPECT_EQ(AppAutoStartUtils::entryFileName(), "NORV.H8LaunchHelper.desktop");
    const QByteArray entry = AppAutoStartUtils::desktopEntry("/opt/h8/H8LaunchHelper");
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nType=Application\n"));
    // Hidden=true would mean "deleted" to the session manager.
    EXPECT_FALSE(entry.contains("Hidden=true"));
}

// A dbus-daemon of our own, shared by every test of the suite.
class PrivateBus {
public:
    static QString address;

    static void start() {
        daemon_ = std::make_unique<QProcess>();
        daemon_->start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(daemon_->waitForStarted(kWaitMs))
            << "dbus-daemon: " << daemon_->errorString().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([] { return daemon_->canReadLine(); }, kWaitMs));
        address = QString::fromUtf8(daemon_->readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());
    }

    static void stop() {
        if (!daemon_) return;
        daemon_->kill();
        daemon_->waitForFinished(kWaitMs);
        daemon_.reset();
    }

    // A separate client of the bus; each one acts as a different program.
    static QDBusConnection connect(const QString& name) {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        EXPECT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
        return bus;
    }

private:
    static std::unique_ptr<QProcess> daemon_;
};

QString PrivateBus::address;
std::unique_ptr<QProcess> PrivateBus::daemon_;

class AutoStartTest : public testing::Test {
protected:
    static void SetUpTestSuite() { PrivateBus::start(); }
    static void TearDownTestSuite() { PrivateBus::stop(); }

    void SetUp() override {
        ASSERT_FALSE(PrivateBus::address.isEmpty());
        ASSERT_TRUE(dir_.isValid());
        mainBus_ = PrivateBus::connect(QStringLiteral("main-%1").arg(++connections_));
        listenerBus_ = PrivateBus::connect(QStringLiteral("listener-%1").arg(++connections_));
        ASSERT_TRUE(listenerBus_.connect(QString(), ids::kTerminateSignalPath,
                                         ids::kTerminateSignalInterface, ids::kTerminateSignalName,
                                         &counter_, SLOT(onSignal(QString))));
        ASSERT_TRUE(listenerBus_.connect(QString(), kMarkerPath, kMarkerInterface, kMarkerName,
                                         &counter_, SLOT(onMarker())));
    }

    // Sends a marker signal from `from` and waits until the listener has it. The bus delivers
    // one client's messages in the order they were sent, so every quit signal `from` sent
    // before has arrived by then: a signal that was not sent has not, for good.
    bool flush(const QDBusConnection& from) {
        const int expected = counter_.markers + 1;
        QDBusConnection bus = from;
        if (!bus.send(QDBusMessage::createSignal(kMarkerPath, kMarkerInterface, kMarkerName)))
            return false;
        return QTest::qWaitFor([&] { return counter_.markers >= expected; }, kWaitMs);
    }

    void TearDown() override {
        for (QProcess* helper : helpers_) {
            if (helper->state() != QProcess::NotRunning) {
                helper->kill();
                helper->waitForFinished(kWaitMs);
            }
            delete helper;
        }
        // A connection closes once its last handle is gone; drop ours before disconnecting.
        const QString mainName = mainBus_.name();
        const QString listenerName = listenerBus_.name();
        mainBus_ = QDBusConnection(QString());
        listenerBus_ = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(mainName);
        QDBusConnection::disconnectFromBus(listenerName);
        // Names of disconnected clients are released; wait so no test sees the previous one's.
        QDBusConnection probe = PrivateBus::connect(QStringLiteral("probe-%1").arg(++connections_));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return !probe.interface()->isServiceRegistered(kMainId) &&
                       !probe.interface()->isServiceRegistered(kHelperId);
            },
            kWaitMs));
        QDBusConnection::disconnectFromBus(probe.name());
    }

    // Environment of the main program: the helper in `helperDir`, the entry under TempEnv.
    AppAutoStartUtils::Environment environment(const QString& helperPath) {
        AppAutoStartUtils::Environment env;
        env.helperPath = helperPath;
        env.autostartDir = tempEnv_.root() + "/xdg-config/autostart";
        QDBusConnection bus = mainBus_;
        env.connectBus = [bus] { return bus; };
        env.print = [this](const QString& line) { printed_.append(line); };
        return env;
    }

    QString entryPath() const {
        return tempEnv_.root() + "/xdg-config/autostart/NORV.H8LaunchHelper.desktop";
    }

    // A copy of H8LaunchHelper in a folder of its own, optionally with a fake h8-controller
    // beside it that appends a line to "started" each time it runs.
    QString installHelper(bool withMainProgram) {
        const QString helper = dir_.path() + "/H8LaunchHelper";
        EXPECT_TRUE(QFile::copy(H8_LAUNCH_HELPER_PATH, helper));
        if (withMainProgram) {
            QFile script(dir_.path() + "/h8-controller");
            EXPECT_TRUE(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\necho started >> \"$(dirname \"$0\")/started\"\n");
            script.close();
            script.setPermissions(script.permissions() | QFile::ExeOwner);
        }
        return helper;
    }

    int mainProgramStarts() const {
        QFile f(dir_.path() + "/started");
        if (!f.open(QIODevice::ReadOnly)) return 0;
        return static_cast<int>(f.readAll().count('\n'));
    }

    QProcess* startHelper(const QString& path, const QString& busAddress) {
        auto* helper = new QProcess;
        helpers_.append(helper);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        helper->setProcessEnvironment(env);
        helper->start(path, {});
        EXPECT_TRUE(helper->waitForStarted(kWaitMs));
        return helper;
    }

    bool helperOnBus() { return mainBus_.interface()->isServiceRegistered(kHelperId); }

    test::TempEnv tempEnv_;
    QTemporaryDir dir_;
    QDBusConnection mainBus_{QString()};
    QDBusConnection listenerBus_{QString()};
    SignalCounter counter_;
    QStringList printed_;
    QList<QProcess*> helpers_;
    static inline int connections_ = 0;
};

// --- setAutoStart on its own -------------------------------------------------------------------

TEST_F(AutoStartTest, RegisterWritesEntryUnregisterRemovesIt) {
    const QString helper = dir_.path() + "/H8LaunchHelper";
    QFile(helper).open(QIODevice::WriteOnly);
    const AppAutoStartUtils::Environment env = environment(helper);

    AppAutoStartUtils::setAutoStart(true, env);
    EXPECT_EQ(printed_, QStringList{"auto start register ok"});
    QFile entry(entryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_EQ(decodeExec(execLine(entry.readAll())), helper);
    entry.close();

    // Registering again (every start of the main program does) leaves one valid entry.
    AppAutoStartUtils::setAutoStart(true, env);
    EXPECT_EQ(QDir(QFileInfo(entryPath()).path()).entryList(QDir::Files).size(), 1);

    printed_.clear();
    AppAutoStartUtils::setAutoStart(false, env);
    EXPECT_EQ(printed_, QStringList{"auto start unregister ok"});
    EXPECT_FALSE(QFileInfo::exists(entryPath()));

    // With no entry left, unregistering still succeeds.
    printed_.clear();
    AppAutoStartUtils::setAutoStart(false, env);
    EXPECT_EQ(printed_, QStringList{"auto start unregister ok"});

    // No helper owns its name, so nobody was told to quit.
    ASSERT_TRUE(flush(mainBus_));
    EXPECT_TRUE(counter_.senders.isEmpty());
}

TEST_F(AutoStartTest, AnEntryTheUserTurnedOffStaysOffAtEveryLaunch) {
    const QString helper = dir_.path() + "/H8LaunchHelper";
    QFile(helper).open(QIODevice::WriteOnly);
    const AppAutoStartUtils::Environment env = environment(helper);
    QDir().mkpath(QFileInfo(entryPath()).path());
    // As desktop settings write an opt-out: the key added to (or changed in) our entry.
    const QByteArray ours = AppAutoStartUtils::desktopEntry(helper);
    QByteArray gnome = ours;
    gnome.replace("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled=false");
    for (const QByteArray& optedOut : {ours + "Hidden=true\n", gnome}) {
        {
            QFile f(entryPath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(optedOut);
        }
        EXPECT_FALSE(AppAutoStartUtils::isRegistered(env));
        printed_.clear();
        AppAutoStartUtils::registerAtLaunch(env);  // before: the entry was rewritten enabled
        EXPECT_EQ(printed_, QStringList{"auto start disabled by the user"});
        QFile f(entryPath());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), optedOut);
    }
    // A key of another group does not turn the entry off.
    EXPECT_FALSE(AppAutoStartUtils::isDisabledEntry(ours + "[Desktop Action x]\nHidden=true\n"));

    // The menu's choice: off is an entry that says so, which the next launch keeps; on again
    // registers it.
    QFile::remove(entryPath());
    AppAutoStartUtils::registerAtLaunch(env);
    EXPECT_TRUE(AppAutoStartUtils::isRegistered(env));
    AppAutoStartUtils::setUserChoice(false, env);
    EXPECT_FALSE(AppAutoStartUtils::isRegistered(env));
    AppAutoStartUtils::registerAtLaunch(env);
    EXPECT_FALSE(AppAutoStartUtils::isRegistered(env));
    AppAutoStartUtils::setUserChoice(true, env);
    EXPECT_TRUE(AppAutoStartUtils::isRegistered(env));
    QFile f(entryPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), ours);
}

TEST_F(AutoStartTest, MissingHelperPrintsPathAndTouchesNothing) {
    // A helper "running" on the bus must not be told anything either.
    QDBusConnection fakeHelper = PrivateBus::connect("fake-helper-missing");
    ASSERT_TRUE(fakeHelper.registerService(kHelperId));
    AppAutoStartUtils::Environment env = environment(dir_.path() + "/H8LaunchHelper");
    bool busUsed = false;
    env.connectBus = [&] {
        busUsed = true;
        return mainBus_;
    };
    QDir().mkpath(QFileInfo(entryPath()).path());
    QFile(entryPath()).open(QIODevice::WriteOnly);  // left by an earlier installation

    for (bool on : {true, false}) {
        printed_.clear();
        AppAutoStartUtils::setAutoStart(on, env);
        EXPECT_EQ(printed_,
                  (QStringList{"launcherApp no exist", "(" + dir_.path() + "/H8LaunchHelper)"}));
    }
    EXPECT_TRUE(QFileInfo::exists(entryPath()));
    EXPECT_FALSE(busUsed);
    ASSERT_TRUE(flush(mainBus_));
    EXPECT_TRUE(counter_.senders.isEmpty());
    QDBusConnection::disconnectFromBus(fakeHelper.name());
}

TEST_F(AutoStartTest, RunningHelperGetsOneSignalEvenWhenRegistrationFails) {
    // The name's owner and a second client queued for it: both "carry" the identifier.
    QDBusConnection owner = PrivateBus::connect("fake-helper-owner");
    QDBusConnection queued = PrivateBus::connect("fake-helper-queued");
    ASSERT_TRUE(owner.registerService(kHelperId));
    queued.interface()->registerService(kHelperId, QDBusConnectionInterface::QueueService);

    const QString helper = dir_.path() + "/H8LaunchHelper";
    QFile(helper).open(QIODevice::WriteOnly);
    AppAutoStartUtils::Environment env = environment(helper);
    // The autostart folder cannot be created: a plain file sits where it should be.
    QFile(tempEnv_.root() + "/blocker").open(QIODevice::WriteOnly);
    env.autostartDir = tempEnv_.root() + "/blocker/autostart";

    AppAutoStartUtils::setAutoStart(true, env);
    ASSERT_EQ(printed_.size(), 1);
    EXPECT_NE(printed_[0], "auto start register ok");
    EXPECT_FALSE(printed_[0].isEmpty());

    ASSERT_TRUE(flush(mainBus_));
    EXPECT_EQ(counter_.senders, QStringList{kMainId});
    QDBusConnection::disconnectFromBus(owner.name());
    QDBusConnection::disconnectFromBus(queued.name());
}

TEST_F(AutoStartTest, WithoutBusRegistersAndPrintsOneLine) {
    const QString helper = dir_.path() + "/H8LaunchHelper";
    QFile(helper).open(QIODevice::WriteOnly);
    AppAutoStartUtils::Environment env = environment(helper);
    env.connectBus = [this] {
        return QDBusConnection::connectToBus("unix:path=" + dir_.path() + "/no-bus", "no-bus");
    };

    AppAutoStartUtils::setAutoStart(true, env);
    ASSERT_EQ(printed_.size(), 2);
    EXPECT_EQ(printed_[0], "auto start register ok");
    EXPECT_TRUE(printed_[1].startsWith("no D-Bus session bus")) << printed_[1].toStdString();
    EXPECT_TRUE(QFileInfo::exists(entryPath()));
    QDBusConnection::disconnectFromBus("no-bus");
}

TEST_F(AutoStartTest, DefaultEnvironmentUsesInstallFolderAndXdgConfigHome) {
    const AppAutoStartUtils::Environment env = AppAutoStartUtils::defaultEnvironment();
    EXPECT_EQ(env.helperPath, QCoreApplication::applicationDirPath() + "/H8LaunchHelper");
    EXPECT_EQ(env.autostartDir, tempEnv_.root() + "/xdg-config/autostart");

    // A relative XDG_CONFIG_HOME is invalid and falls back to ~/.config.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(AppAutoStartUtils::defaultEnvironment().autostartDir,
              QDir::homePath() + "/.config/autostart");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(AppAutoStartUtils::defaultEnvironment().autostartDir,
              QDir::homePath() + "/.config/autostart");

    // The installed panel registers the installed helper, in the private programs folder.
    EXPECT_EQ(AppAutoStartUtils::helperPathFor(H8_INSTALL_BINDIR),
              QString(H8_INSTALL_HELPER_DIR) + "/H8LaunchHelper");
    EXPECT_EQ(AppAutoStartUtils::helperPathFor(QString(H8_INSTALL_BINDIR) + "/"),
              QString(H8_INSTALL_HELPER_DIR) + "/H8LaunchHelper");
    EXPECT_EQ(AppAutoStartUtils::helperPathFor("/opt/build/app"), "/opt/build/app/H8LaunchHelper");

    // No helper beside the test binary: the two lines go to standard output.
    testing::internal::CaptureStdout();
    AppAutoStartUtils::setAutoStart(true);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "launcherApp no exist\n(" + env.helperPath.toStdString() + ")\n");
}

// --- the H8LaunchHelper program ----------------------------------------------------------------

TEST_F(AutoStartTest, HelperQuitsAtOnceWhenMainProgramRuns) {
    ASSERT_TRUE(mainBus_.registerService(kMainId));
    QProcess* helper = startHelper(installHelper(true), PrivateBus::address);

    ASSERT_TRUE(helper->waitForFinished(kWaitMs));
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_TRUE(helper->readAllStandardOutput().isEmpty());
    // That no program was started has no event of its own: one started in error would write its
    // mark in its own time, within this pause.
    QTest::qWait(300);
    EXPECT_EQ(mainProgramStarts(), 0);
    EXPECT_FALSE(helperOnBus());
}

TEST_F(AutoStartTest, HelperStartsMainProgramAndQuitsOnItsSignal) {
    const QString helperPath = installHelper(true);
    QProcess* helper = startHelper(helperPath, PrivateBus::address);

    ASSERT_TRUE(QTest::qWaitFor([&] { return mainProgramStarts() == 1; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return helperOnBus(); }, kWaitMs));
    // It waits to be told to quit.
    EXPECT_FALSE(helper->waitForFinished(300));

    // The test now plays the started main program.
    ASSERT_TRUE(mainBus_.registerService(kMainId));
    AppAutoStartUtils::setAutoStart(true, environment(helperPath));
    EXPECT_EQ(printed_, QStringList{"auto start register ok"});

    ASSERT_TRUE(helper->waitForFinished(kWaitMs));
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_TRUE(helper->readAllStandardOutput().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !helperOnBus(); }, kWaitMs));
    ASSERT_TRUE(flush(mainBus_));
    EXPECT_EQ(counter_.senders, QStringList{kMainId});
    EXPECT_EQ(mainProgramStarts(), 1);
}

TEST_F(AutoStartTest, HelperWithoutMainProgramReportsAndIgnoresOtherSenders) {
    QProcess* helper = startHelper(installHelper(false), PrivateBus::address);
    ASSERT_TRUE(QTest::qWaitFor([&] { return helper->canReadLine(); }, kWaitMs));
    EXPECT_EQ(helper->readLine(), "bundleId not found(org.h8controller.H8Controller\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return helperOnBus(); }, kWaitMs));

    // The quit signal counts only when the main program's identifier is its object.
    auto quitSignal = [](const QString& sender) {
        QDBusMessage signal = QDBusMessage::createSignal(
            ids::kTerminateSignalPath, ids::kTerminateSignalInterface, ids::kTerminateSignalName);
        signal << sender;
        return signal;
    };
    ASSERT_TRUE(mainBus_.send(quitSignal("org.example.Other")));
    EXPECT_FALSE(helper->waitForFinished(500));

    ASSERT_TRUE(mainBus_.send(quitSignal(kMainId)));
    ASSERT_TRUE(helper->waitForFinished(kWaitMs));
    EXPECT_EQ(helper->exitCode(), 0);
}

TEST_F(AutoStartTest, HelperWithoutBusStartsMainProgramAndPrintsOneLine) {
    QProcess* helper = startHelper(installHelper(true), "unix:path=" + dir_.path() + "/no-bus");

    ASSERT_TRUE(helper->waitForFinished(kWaitMs));
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    const QString out = QString::fromLocal8Bit(helper->readAllStandardOutput());
    EXPECT_EQ(out.count('\n'), 1) << out.toStdString();
    EXPECT_TRUE(out.startsWith("no D-Bus session bus")) << out.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return mainProgramStarts() == 1; }, kWaitMs));
}

}  // namespace
}  // namespace h8

int main(int argc, char** argv) {
    // The process's own session bus leads nowhere; tests reach the private bus explicitly.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/h8-autostart-test-bus");
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "autostart_test.moc"
