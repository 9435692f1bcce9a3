#include "platform/user_defaults.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

#include "captured_diagnostics.h"
#include "platform/atomic_file.h"
#include "platform/diagnostics.h"
#include "temp_env.h"

namespace h8 {
namespace {

using ::testing::HasSubstr;

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QJsonObject parseObject(const QString& path) {
    return QJsonDocument::fromJson(readFile(path)).object();
}

class UserDefaultsTest : public ::testing::Test {
protected:
    // Everything printed through diag() so far.
    QString diagnostics() const { return captured_.text(); }

    QStringList filesInConfigDir(const QString& pattern) const {
        return QDir(env.configDir()).entryList({pattern}, QDir::Files | QDir::Hidden);
    }

    test::TempEnv env;
    const QString path = env.configDir() + "/defaults.json";

private:
    test::CapturedDiagnostics captured_;
};

TEST_F(UserDefaultsTest, IntegerReadsConvertOtherKinds) {
    UserDefaults d(path);
    d.setDouble("positive", 3.9);
    d.setDouble("negative", -3.9);
    d.setDouble("huge", 1e30);
    d.setDouble("hugeNegative", -1e30);
    d.setBool("yes", true);
    d.setString("prefix", "  -42 dB");
    d.setString("word", "loud");
    d.setString("overflow", "99999999999999999999");
    d.setObject("list", QVariantList{1, 2});
    d.setObject("map", QVariantMap{{"a", 1}});
    d.setInteger("big", std::numeric_limits<qint64>::min());

    EXPECT_EQ(d.integerForKey("absent"), 0);
    EXPECT_EQ(d.integerForKey("positive"), 3);
    EXPECT_EQ(d.integerForKey("negative"), -3);
    EXPECT_EQ(d.integerForKey("huge"), std::numeric_limits<qint64>::max());
    EXPECT_EQ(d.integerForKey("hugeNegative"), std::numeric_limits<qint64>::min());
    EXPECT_EQ(d.integerForKey("yes"), 1);
    EXPECT_EQ(d.integerForKey("prefix"), -42);
    EXPECT_EQ(d.integerForKey("word"), 0);
    EXPECT_EQ(d.integerForKey("overflow"), std::numeric_limits<qint64>::max());
    EXPECT_EQ(d.integerForKey("list"), 0);
    EXPECT_EQ(d.integerForKey("map"), 0);
    EXPECT_EQ(d.integerForKey("big"), std::numeric_limits<qint64>::min());
}

TEST_F(UserDefaultsTest, DoubleAndFloatReadsConvertOtherKinds) {
    UserDefaults d(path);
    d.setInteger("int", -7);
    d.setBool("yes", true);
    d.setString("unit", "3.5kHz");
    d.setString("exponent", "1e3x");
    d.setString("fraction", " -.25");
    d.setString("bareExponent", "e5");
    d.setString("danglingExponent", "2e+");
    d.setFloat("float", 0.1f);
    d.setObject("list", QVariantList{1.5});

    EXPECT_EQ(d.doubleForKey("absent"), 0.0);
    EXPECT_EQ(d.doubleForKey("int"), -7.0);
    EXPECT_EQ(d.doubleForKey("yes"), 1.0);
    EXPECT_EQ(d.doubleForKey("unit"), 3.5);
    EXPECT_EQ(d.doubleForKey("exponent"), 1000.0);
    EXPECT_EQ(d.doubleForKey("fraction"), -0.25);
    EXPECT_EQ(d.doubleForKey("bareExponent"), 0.0);
    EXPECT_EQ(d.doubleForKey("danglingExponent"), 2.0);
    EXPECT_EQ(d.doubleForKey("list"), 0.0);
    // A float is stored by its shortest text, so it reads back exactly either way.
    EXPECT_EQ(d.floatForKey("float"), 0.1f);
    EXPECT_EQ(d.doubleForKey("float"), 0.1);
    EXPECT_EQ(d.floatForKey("absent"), 0.0f);
}

TEST_F(UserDefaultsTest, BoolReads) {
    UserDefaults d(path);
    const std::pair<QString, bool> strings[] = {
        {"YES", true}, {"true", true},   {" t", true}, {"2", true},    {"-1", true},
        {"NO", false}, {"false", false}, {"0", false}, {"0.9", false}, {"", false}};
    for (const auto& [text, expected] : strings) {
        d.setString("s", text);
        EXPECT_EQ(d.boolForKey("s"), expected) << text.toStdString();
    }
    d.setInteger("seven", 7);
    d.setDouble("half", 0.5);
    d.setBool("off", false);
    d.setObject("list", QVariantList{true});
    EXPECT_TRUE(d.boolForKey("seven"));
    EXPECT_FALSE(d.boolForKey("half"));  // truncates to 0
    EXPECT_FALSE(d.boolForKey("off"));
    EXPECT_FALSE(d.boolForKey("list"));
    EXPECT_FALSE(d.boolForKey("absent"));
}

TEST_F(UserDefaultsTest, StringArrayAndObjectReads) {
    UserDefaults d(path);
    d.setString("name", "Studio A");
    d.setInteger("int", 42);
    d.setDouble("double", 2.5);
    d.setBool("flag", true);
    d.setObject("list", QVariantList{"x", 1});
    d.setObject("map", QVariantMap{{"k", "v"}});

    EXPECT_EQ(d.stringForKey("absent"), std::nullopt);
    EXPECT_EQ(d.stringForKey("name"), "Studio A");
    EXPECT_EQ(d.stringForKey("int"), "42");
    EXPECT_EQ(d.stringForKey("double"), "2.5");
    EXPECT_EQ(d.stringForKey("flag"), "1");
    EXPECT_EQ(d.stringForKey("list"), std::nullopt);
    EXPECT_EQ(d.stringForKey("map"), std::nullopt);

    EXPECT_EQ(d.arrayForKey("absent"), std::nullopt);
    EXPECT_EQ(d.arrayForKey("name"), std::nullopt);
    EXPECT_EQ(d.arrayForKey("map"), std::nullopt);
    EXPECT_EQ(d.arrayForKey("list"), (QVariantList{"x", qint64(1)}));

    EXPECT_FALSE(d.objectForKey("absent").isValid());
    EXPECT_EQ(d.objectForKey("map").toMap().value("k").toString(), "v");
}

TEST_F(UserDefaultsTest, RefusedAndRemovedValues) {
    UserDefaults d(path);
    d.setInteger("keep", 1);
    d.setObject("keep", QDateTime::currentDateTime());
    d.setDouble("keep", std::numeric_limits<double>::quiet_NaN());
    d.setObject("keep", QVariantList{1, std::numeric_limits<double>::infinity()});
    EXPECT_EQ(d.objectForKey("keep").typeId(), QMetaType::LongLong);
    EXPECT_EQ(d.integerForKey("keep"), 1);
    EXPECT_EQ(diagnostics().count('\n'), 3) << diagnostics().toStdString();

    d.setObject("keep", QVariant());
    EXPECT_FALSE(d.objectForKey("keep").isValid());
    d.setInteger("gone", 5);
    d.removeObjectForKey("gone");
    EXPECT_FALSE(UserDefaults(path).objectForKey("gone").isValid());
}

TEST_F(UserDefaultsTest, ValuesKeepTheirKindAcrossAReload) {
    const QVariantList grid{QVariantList{true, false, true}, QVariantList{}, QVariantList{false}};
    {
        UserDefaults d(path);
        d.setInteger("int", -123456789012345);
        d.setInteger("beyondDouble", 9007199254740993);
        d.setInteger("zero", 0);
        d.setDouble("double", 0.1);
        d.setDouble("tiny", -1e-300);
        d.setString("text", "Kanal 1 — 输入 ✓");
        d.setString("numericText", "12");
        d.setBool("on", true);
        d.setBool("off", false);
        d.setObject("grid", grid);
        d.setObject("map", QVariantMap{{"gain", 3}, {"names", QStringList{"a", "b"}}});
    }
    UserDefaults d(path);
    EXPECT_EQ(d.objectForKey("int"), QVariant(qint64(-123456789012345)));
    EXPECT_EQ(d.objectForKey("beyondDouble"), QVariant(qint64(9007199254740993)));
    EXPECT_EQ(d.objectForKey("zero"), QVariant(qint64(0)));
    EXPECT_EQ(d.objectForKey("double"), QVariant(0.1));
    EXPECT_EQ(d.objectForKey("tiny"), QVariant(-1e-300));
    EXPECT_EQ(d.objectForKey("text"), QVariant(QString("Kanal 1 — 输入 ✓")));
    EXPECT_EQ(d.objectForKey("numericText"), QVariant(QString("12")));
    EXPECT_EQ(d.objectForKey("on"), QVariant(true));
    EXPECT_EQ(d.objectForKey("off"), QVariant(false));
    EXPECT_EQ(d.objectForKey("grid"), QVariant(grid));
    ASSERT_EQ(d.objectForKey("grid").toList().value(0).toList().value(1).typeId(), QMetaType::Bool);
    const QVariantMap map = d.objectForKey("map").toMap();
    EXPECT_EQ(map.value("gain"), QVariant(qint64(3)));
    EXPECT_EQ(map.value("names").toList(), (QVariantList{"a", "b"}));
}

struct CorruptCase {
    const char* label;
    QByteArray bytes;
};

TEST_F(UserDefaultsTest, ABurstOfChangesIsOneWriteOnTopOfAnotherProgramsChanges) {
    auto panel = std::make_unique<UserDefaults>(path);
    panel->setWriteDelay(250);
    for (int step = 0; step <= 100; ++step) panel->setFloat("volume51", static_cast<float>(step));
    EXPECT_EQ(panel->floatForKey("volume51"), 100.0f);  // every read sees the burst at once
    // Meanwhile another program (h8ctl) writes a key of its own.
    UserDefaults tool(path);
    tool.setString("channelName1", "Vocal");
    QTRY_COMPARE(panel->writeCount(), 1);
    UserDefaults disk(path);
    EXPECT_EQ(disk.floatForKey("volume51"), 100.0f);
    EXPECT_EQ(disk.stringForKey("channelName1"), "Vocal");

    // The next burst waits for the rest of the 250 ms since that write.
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    panel->setInteger("OTGOutVolume", 40);
    panel->setInteger("OTGOutVolume", 41);
    QTRY_COMPARE(panel->writeCount(), 2);
    EXPECT_GE(sinceWrite.elapsed(), 200);
    EXPECT_EQ(UserDefaults(path).integerForKey("OTGOutVolume"), 41);

    // Pending changes are written on flush() and when the object goes (a quit).
    panel->setBool("startup", true);
    panel->flush();
    EXPECT_TRUE(UserDefaults(path).boolForKey("startup"));
    panel->setString("channelName2", "Guitar");
    panel.reset();
    EXPECT_EQ(UserDefaults(path).stringForKey("channelName2"), "Guitar");
}

class UserDefaultsCorruptTest : public UserDefaultsTest,
                                public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(UserDefaultsCorruptTest, IsMovedAsideAndPreserved) {
    const QByteArray bytes = GetParam().bytes;
    writeFile(path, bytes);

    UserDefaults d(path);
    EXPECT_FALSE(d.objectForKey("volume").isValid());
    EXPECT_FALSE(QFileInfo::exists(path));

    const QStringList copies = filesInConfigDir("defaults.json.corrupt-*");
    ASSERT_EQ(copies.size(), 1);
    EXPECT_TRUE(
        QRegularExpression(R"(^defaults\.json\.corrupt-\d{8}T\d{6}$)").match(copies[0]).hasMatch())
        << copies[0].toStdString();
    const QString copy = env.configDir() + "/" + copies[0];
    EXPECT_EQ(readFile(copy), bytes);

    const QString printed = diagnostics();
    EXPECT_EQ(printed.count('\n'), 1) << printed.toStdString();
    EXPECT_THAT(printed.toStdString(), HasSubstr(path.toStdString()));
    EXPECT_THAT(printed.toStdString(), HasSubstr(copy.toStdString()));

    // Going on writes a fresh file and leaves the copy alone.
    d.setInteger("volume", 7);
    EXPECT_EQ(UserDefaults(path).integerForKey("volume"), 7);
    EXPECT_EQ(readFile(copy), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, UserDefaultsCorruptTest,
    ::testing::Values(CorruptCase{"Garbage", QByteArray("\x00\xff{\"volume\": 7,,", 15)},
                      CorruptCase{"TopLevelArray", QByteArray(R"([{"volume": 7}])")},
                      CorruptCase{"Empty", QByteArray()}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(UserDefaultsTest, FileCorruptedBehindItsBackIsMovedAsideBeforeWriting) {
    UserDefaults d(path);
    d.setInteger("kept", 1);
    writeFile(path, "not json");

    d.setInteger("new", 2);
    ASSERT_EQ(filesInConfigDir("defaults.json.corrupt-*").size(), 1);
    const QJsonObject saved = parseObject(path);
    EXPECT_EQ(saved.value("kept").toInteger(), 1);
    EXPECT_EQ(saved.value("new").toInteger(), 2);
}

TEST_F(UserDefaultsTest, CorruptFileThatCannotBeMovedIsNeverOverwritten) {
    // The temporary file beside this name still fits the file system's 255-byte limit, but the
    // ".corrupt-<timestamp>" name does not, so the move fails (even for root) while writes would
    // work.
    const QString longPath = env.configDir() + "/" + QString(235, QChar(u'p')) + ".json";
    writeFile(longPath, "{broken");

    UserDefaults d(longPath);
    const QString printed = diagnostics();
    EXPECT_EQ(printed.count('\n'), 1) << printed.toStdString();
    EXPECT_THAT(printed.toStdString(), HasSubstr(longPath.toStdString()));

    d.setInteger("volume", 3);
    d.setString("name", "x");
    EXPECT_EQ(d.integerForKey("volume"), 3);  // kept in memory
    EXPECT_EQ(readFile(longPath), "{broken");
    EXPECT_EQ(diagnostics().count('\n'), 1) << "warned again for the same file";
}

TEST_F(UserDefaultsTest, TwoWritersKeepEachOthersChanges) {
    UserDefaults panel(path);
    UserDefaults tool(path);  // loaded before the panel wrote anything

    panel.setInteger("panel.volume", 10);
    panel.setString("shared", "from panel");
    tool.setInteger("tool.sampleRate", 48000);
    panel.setBool("panel.mute", true);
    tool.removeObjectForKey("shared");
    panel.setInteger("panel.volume", 11);

    const QJsonObject saved = parseObject(path);
    EXPECT_EQ(saved.value("panel.volume").toInteger(), 11);
    EXPECT_EQ(saved.value("tool.sampleRate").toInteger(), 48000);
    EXPECT_TRUE(saved.value("panel.mute").toBool());
    EXPECT_FALSE(saved.contains("shared")) << "the panel wrote back a value the tool removed";

    // Each writer also sees the other's keys after its own write.
    EXPECT_EQ(panel.integerForKey("tool.sampleRate"), 48000);
}

// A full disk, a read-only file system, a folder without write permission: nothing changed
// meanwhile is lost, also when another program writes the file in between, and it is all
// written once writing works again, without a restart.
class UserDefaultsWriteFaultTest : public UserDefaultsTest,
                                   public ::testing::WithParamInterface<int> {
protected:
    void TearDown() override { injectWriteFaults({}); }
};

TEST_P(UserDefaultsWriteFaultTest, ChangesAreKeptRetriedAndWrittenOnceWritingWorksAgain) {
    UserDefaults defaults(path);
    defaults.setInteger("before", 1);
    int notices = 0;
    QObject::connect(defaults.notifier(), &UserDefaultsNotifier::saveStateChanged,
                     [&notices] { ++notices; });
    const int fault = GetParam();
    bool failing = true;
    injectWriteFaults([&](const QString& target) { return failing && target == path ? fault : 0; });

    defaults.setInteger("during", 2);
    defaults.setString("name", "Mic");
    EXPECT_THAT(defaults.saveProblem().toStdString(), HasSubstr(std::strerror(fault)));
    EXPECT_EQ(notices, 1);                           // once, not once per failed write
    EXPECT_EQ(defaults.integerForKey("during"), 2);  // reads see the changes
    EXPECT_FALSE(parseObject(path).contains("during"));
    // Another program writes meanwhile; its key is kept, ours still go on top.
    writeFile(path, R"({"before": 1, "other": 7})");
    defaults.setInteger("late", 3);

    // Writing works again: the next retry (a second later) writes everything, once.
    failing = false;
    const int writesBefore = defaults.writeCount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return defaults.saveProblem().isEmpty(); }, 5000));
    const QJsonObject saved = parseObject(path);
    EXPECT_EQ(saved["during"].toInt(), 2);
    EXPECT_EQ(saved["name"].toString(), "Mic");
    EXPECT_EQ(saved["late"].toInt(), 3);
    EXPECT_EQ(saved["other"].toInt(), 7);
    EXPECT_EQ(defaults.writeCount(), writesBefore + 1);
    EXPECT_EQ(notices, 2);
}

INSTANTIATE_TEST_SUITE_P(Faults, UserDefaultsWriteFaultTest,
                         ::testing::Values(ENOSPC, EROFS, EACCES));

TEST_F(UserDefaultsTest, AFailedBurstIsWrittenAtOnceOnFlush) {
    UserDefaults defaults(path);
    defaults.setWriteDelay(250);
    bool failing = true;
    injectWriteFaults([&](const QString&) { return failing ? ENOSPC : 0; });
    defaults.setInteger("a", 1);
    defaults.flush();
    EXPECT_FALSE(defaults.saveProblem().isEmpty());
    failing = false;
    defaults.flush();  // quitting: at once, not at the next retry
    injectWriteFaults({});
    EXPECT_TRUE(defaults.saveProblem().isEmpty());
    EXPECT_EQ(parseObject(path)["a"].toInt(), 1);
}

TEST_F(UserDefaultsTest, ALinkedFileIsWrittenThroughItsLink) {
    const QString target = env.root() + "/dotfiles/h8.json";
    writeFile(target, R"({"kept": true})");
    QDir().mkpath(env.configDir());
    ASSERT_TRUE(QFile::link("../dotfiles/h8.json", path));
    {
        UserDefaults defaults(path);
        EXPECT_TRUE(defaults.boolForKey("kept"));
        defaults.setInteger("new", 5);
    }
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_EQ(parseObject(target)["new"].toInt(), 5);
    EXPECT_TRUE(parseObject(target)["kept"].toBool());
    EXPECT_TRUE(filesInConfigDir(".defaults.json.tmp-*").isEmpty());
}

TEST_F(UserDefaultsTest, StandardFollowsConfigDirAndCanBeReplaced) {
    UserDefaults::setStandard(nullptr);
    EXPECT_EQ(UserDefaults::standard().filePath(), env.configDir() + "/defaults.json");

    // Concurrent first use creates one object.
    UserDefaults::setStandard(nullptr);
    std::vector<UserDefaults*> seen(8);
    std::vector<std::thread> threads;
    for (auto& s : seen) threads.emplace_back([&s] { s = &UserDefaults::standard(); });
    for (auto& t : threads) t.join();
    for (auto* s : seen) EXPECT_EQ(s, seen[0]);

    auto custom = std::make_unique<UserDefaults>(env.root() + "/custom.json");
    UserDefaults* customPtr = custom.get();
    UserDefaults::setStandard(std::move(custom));
    EXPECT_EQ(&UserDefaults::standard(), customPtr);

    qputenv("H8_CONFIG_DIR", (env.root() + "/elsewhere").toUtf8());
    UserDefaults::setStandard(nullptr);
    EXPECT_EQ(UserDefaults::standard().filePath(), env.root() + "/elsewhere/defaults.json");
    UserDefaults::setStandard(nullptr);
}

TEST_F(UserDefaultsTest, LeftoverTemporaryFilesAreCleanedUpWhenStale) {
    const QString stale = env.configDir() + "/.defaults.json.tmp-AbC123";
    const QString inFlight = env.configDir() + "/.defaults.json.tmp-XyZ789";
    writeFile(stale, "{");
    writeFile(inFlight, "{");
    {
        QFile file(stale);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
    }
    UserDefaults d(path);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(inFlight)) << "removed a file another writer may be renaming";
}

// The payload written in step `n`: its size grows with n and its text is derived from n, so a
// torn or mixed write is detectable.
QString payloadFor(qint64 n) {
    const QString unit = QString::number(n) + ";";
    return unit.repeated(16 + n * 8 / unit.size());
}

[[noreturn]] void runWriterUntilKilled(const QString& path) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    UserDefaults d(path);
    qint64 n = d.objectForKey("state").toMap().value("n").toLongLong();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        ++n;
        d.setObject("state", QVariantMap{{"n", n}, {"payload", payloadFor(n)}});
    }
    ::_exit(0);
}

TEST_F(UserDefaultsTest, WriterKilledAtRandomMomentsAlwaysLeavesACompleteFile) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMs(1, 60);

    constexpr int kRounds = 12;
    qint64 lastSeen = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) runWriterUntilKilled(path);

        // Let the first round get at least one write out so that later rounds have a state.
        if (round == 0) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(path); }, 5000));
        }
        // The kill comes at a random moment of the writing: a random time, not an event.
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer exited on its own with status " << status;

        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(readFile(path), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError)
            << "round " << round << ": " << error.errorString().toStdString();
        ASSERT_TRUE(document.isObject());
        const QJsonObject state = document.object().value("state").toObject();
        const qint64 n = state.value("n").toInteger();
        EXPECT_EQ(state.value("payload").toString(), payloadFor(n)) << "round " << round;
        EXPECT_GE(n, lastSeen) << "the file went back to an older state";
        lastSeen = n;
    }
    EXPECT_GT(lastSeen, kRounds) << "the writer hardly wrote anything";
    // At most one temporary file per kill can be left behind.
    EXPECT_LE(filesInConfigDir(".defaults.json.tmp-*").size(), kRounds);
    EXPECT_TRUE(filesInConfigDir("defaults.json.corrupt-*").isEmpty());
    EXPECT_TRUE(diagnostics().isEmpty()) << diagnostics().toStdString();
}

}  // namespace
}  // namespace h8
