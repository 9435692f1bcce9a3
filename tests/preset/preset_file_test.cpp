// Preset files: the sealed format against vectors made outside the project, export and import
// round trips, every way a file is refused (nothing may change then), and the lenient apply of
// an accepted preset.

#include "core/preset_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <random>

#include "captured_diagnostics.h"
#include "core/notification_names.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"

namespace h8 {
namespace {

using Presets = NorvExportFileHelper;
using Result = NorvExportFileHelper::ImportResult;

constexpr std::array<uint8_t, 12> kVectorNonce = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray vector(const char* name) {
    const QByteArray bytes = readFile(QStringLiteral(H8_PRESET_VECTORS "/") + name);
    EXPECT_FALSE(bytes.isEmpty()) << "missing test vector " << name;
    return bytes;
}

QJsonObject vectorObject() {
    return QJsonDocument::fromJson(vector("preset-h8.json")).object();
}

QByteArray compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QJsonArray routeMap(int rows, int columns) {
    QJsonArray map;
    for (int r = 0; r < rows; ++r) {
        QJsonArray row;
        for (int c = 0; c < columns; ++c) row.append(r == c);
        map.append(row);
    }
    return map;
}

class PresetFileTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        store().resetForTesting();
        store().deviceName = "H8";
        NotificationCenter::defaultCenter().addObserver(
            &observer_, notify::kEntranceFileSuccess,
            [this](const Notification&) { ratesSeenByObservers_.append(store().sampleRate); });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(&observer_);
        UserDefaults::setStandard(nullptr);
    }

    static NorvShareHelper& store() { return NorvShareHelper::shared(); }
    static UserDefaults& defaults() { return UserDefaults::standard(); }
    // The routing an import goes to, on what the user defaults hold at the time of the call.
    RoutingModel& routing() {
        routing_ = std::make_unique<RoutingModel>(defaults(), NotificationCenter::defaultCenter());
        return *routing_;
    }
    qsizetype successPosts() const { return ratesSeenByObservers_.size(); }

    QString path(const QString& name) const { return env_.root() + "/" + name; }
    // Seals `plaintext` under a fresh nonce into a file of this test and returns its path.
    QString sealedFile(const QByteArray& plaintext, const QString& name = "sealed.norv") {
        QString error;
        const std::optional<QByteArray> sealed = Presets::seal(plaintext, &error);
        EXPECT_TRUE(sealed) << error.toStdString();
        writeFile(path(name), sealed.value_or(QByteArray()));
        return path(name);
    }
    QString fileWith(const QByteArray& bytes, const QString& name = "preset.norv") {
        writeFile(path(name), bytes);
        return path(name);
    }

    // Every store field a preset can change, for before/after comparisons.
    static std::string storeState() {
        const NorvShareHelper& s = store();
        QJsonObject o{{"deviceName", s.deviceName},
                      {"sampleRate", s.sampleRate},
                      {"micIn1Volume", s.micIn1Volume},
                      {"micIn2Volume", s.micIn2Volume},
                      {"micOutVolume", s.micOutVolume},
                      {"micMuteState", s.micMuteState},
                      {"mic48VState", s.mic48VState},
                      {"micInstState", s.micInstState},
                      {"micInChangeState", s.micInChangeState},
                      {"mic2MuteState", s.mic2MuteState},
                      {"mic248VState", s.mic248VState},
                      {"mic2InstState", s.mic2InstState},
                      {"mic2InChangeState", s.mic2InChangeState},
                      {"hpMuteState", s.hpMuteState}};
        return QJsonDocument(o).toJson().toStdString();
    }
    QByteArray defaultsFile() const { return readFile(env_.configDir() + "/defaults.json"); }

    // A panel state unlike the factory one, in the store and in the user defaults.
    void setDistinctState() {
        NorvShareHelper& s = store();
        s.sampleRate = "44100Hz";
        s.micIn1Volume = 6.2;
        s.micIn2Volume = 56;
        s.micOutVolume = 39.285714;
        s.micMuteState = 1;
        s.mic48VState = 1;
        s.micInstState = 0;
        s.micInChangeState = 1;
        s.mic2MuteState = 0;
        s.mic248VState = 1;
        s.mic2InstState = 1;
        s.mic2InChangeState = 1;
        s.hpMuteState = 1;
        s.setChannelMapArray(routeMap(16, 16).toVariantList());
        defaults().setString("channelRowName4", "Guitar");
        defaults().setString("channelName10", "Loop 3");
        defaults().setInteger("outputVolume9", 64);
        defaults().setInteger("outputVolume15", 100);
    }

    test::TempEnv env_;
    std::unique_ptr<RoutingModel> routing_;
    QObject observer_;
    QStringList ratesSeenByObservers_;
};

// ---- the vectors sealed outside the project ----

TEST_F(PresetFileTest, VectorOpensToItsExactPlaintextAndSealsBackByteForByte) {
    const QByteArray file = vector("preset-h8.norv");
    const QByteArray json = vector("preset-h8.json");
    ASSERT_EQ(file.size(), json.size() + 28);

    QString error;
    const std::optional<QByteArray> opened = Presets::open(file, &error);
    ASSERT_TRUE(opened) << error.toStdString();
    EXPECT_EQ(*opened, json);

    const std::optional<QByteArray> sealed = Presets::seal(json, kVectorNonce, &error);
    ASSERT_TRUE(sealed) << error.toStdString();
    EXPECT_EQ(sealed->toHex().toStdString(), file.toHex().toStdString());
    EXPECT_EQ(Presets::seal(json, kVectorNonce, &error), sealed);  // no hidden randomness
}

TEST_F(PresetFileTest, EveryChangedByteOfTheVectorFailsAuthentication) {
    const QByteArray file = vector("preset-h8.norv");
    for (qsizetype i = 0; i < file.size(); ++i) {
        for (const char mask : {'\x01', '\x80'}) {
            QByteArray changed = file;
            changed[i] = static_cast<char>(changed[i] ^ mask);
            QString error;
            EXPECT_FALSE(Presets::open(changed, &error)) << "byte " << i;
            EXPECT_FALSE(error.isEmpty()) << "byte " << i;
        }
    }
    // A different length is refused as well, at either end.
    EXPECT_FALSE(Presets::open(file + '\0', nullptr));
    EXPECT_FALSE(Presets::open(file.left(file.size() - 1), nullptr));
    EXPECT_FALSE(Presets::open(file.mid(1), nullptr));
}

TEST_F(PresetFileTest, ImportingTheVectorGivesTheStateOfItsJson) {
    test::CapturedDiagnostics diagnostics;
    ASSERT_EQ(Presets::shared().importFile(H8_PRESET_VECTORS "/preset-h8.norv", routing()),
              Result::applied);
    EXPECT_EQ(diagnostics.lines(), QStringList{"File decrypted successfully."});
    // Observers are told once, after the state is in place.
    EXPECT_EQ(ratesSeenByObservers_, QStringList{"96000Hz"});

    const NorvShareHelper& s = store();
    EXPECT_EQ(s.sampleRate, "96000Hz");
    EXPECT_DOUBLE_EQ(s.micIn1Volume, 12.5);
    EXPECT_DOUBLE_EQ(s.micIn2Volume, 30);
    EXPECT_DOUBLE_EQ(s.micOutVolume, 50);
    EXPECT_EQ(s.micMuteState, 1);
    EXPECT_EQ(s.mic48VState, 0);
    EXPECT_EQ(s.micInChangeState, 0);
    EXPECT_EQ(s.micInstState, 1);
    EXPECT_EQ(s.mic2MuteState, 0);
    EXPECT_EQ(s.mic248VState, 1);
    EXPECT_EQ(s.mic2InChangeState, 1);
    EXPECT_EQ(s.mic2InstState, 0);
    EXPECT_EQ(s.hpMuteState, 1);
    EXPECT_EQ(s.deviceName, "H8");

    // What went to the user defaults survives a reload, the route map as booleans.
    UserDefaults::setStandard(nullptr);
    const std::optional<QVariantList> map = defaults().arrayForKey(kChannelMapKey);
    ASSERT_TRUE(map);
    const QJsonArray expected = vectorObject()["array"].toArray();
    ASSERT_EQ(map->size(), expected.size());
    for (qsizetype r = 0; r < map->size(); ++r) {
        const QVariantList row = map->at(r).toList();
        ASSERT_EQ(row.size(), expected[r].toArray().size()) << r;
        for (qsizetype c = 0; c < row.size(); ++c) {
            EXPECT_EQ(row[c].typeId(), QMetaType::Bool) << r << "," << c;
            EXPECT_EQ(row[c].toBool(), expected[r].toArray()[c].toBool()) << r << "," << c;
        }
    }
    EXPECT_EQ(store().channelMapArray(), *map);
    EXPECT_EQ(defaults().stringForKey("channelRowName2"), "Vocal");
    EXPECT_EQ(defaults().stringForKey("channelName6"), "Stream mix");
    EXPECT_EQ(defaults().objectForKey("outputVolume5").toLongLong(), 42);
    EXPECT_TRUE(defaults().objectForKey("outputVolume15").isValid());
    EXPECT_EQ(defaults().integerForKey("outputVolume15"), 0);
    // Identity and reserved fields are not preferences.
    for (const char* key : {"version", "name", "ext1", "ext2", "sampleRate", "array"})
        EXPECT_FALSE(defaults().objectForKey(key).isValid()) << key;
}

TEST_F(PresetFileTest, SharedVectorsMatchTheCopyInTheRepository) {
    if (!QDir(H8_SHARED_PRESET_VECTORS).exists())
        GTEST_SKIP() << "no shared test vectors beside the checkout";
    for (const char* name : {"preset-h8.norv", "preset-h8.json"}) {
        EXPECT_EQ(readFile(QStringLiteral(H8_SHARED_PRESET_VECTORS "/") + name), vector(name))
            << name;
    }
}

// ---- sealing and exporting ----

TEST_F(PresetFileTest, SealingUsesAFreshNonceAndTheFormatLength) {
    const QByteArray text = R"({"name":"H8"})";
    const std::optional<QByteArray> a = Presets::seal(text, nullptr);
    const std::optional<QByteArray> b = Presets::seal(text, nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), text.size() + 28);
    EXPECT_NE(a->left(12), b->left(12));
    EXPECT_EQ(Presets::open(*a, nullptr), text);
    EXPECT_EQ(Presets::open(*b, nullptr), text);
    // An empty plaintext still carries a tag, and authenticates.
    const std::optional<QByteArray> empty = Presets::seal({}, kVectorNonce, nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 28);
    EXPECT_EQ(Presets::open(*empty, nullptr), QByteArray());
}

TEST_F(PresetFileTest, ExportThenImportRestoresTheState) {
    setDistinctState();
    defaults().setString("channelRowName14", "Last row");
    defaults().setString("channelName2", "First");
    const std::string before = storeState();
    const QVariantList mapBefore = store().channelMapArray();

    test::CapturedDiagnostics diagnostics;
    ASSERT_TRUE(Presets::shared().exportFile(path("state.norv")));
    EXPECT_EQ(diagnostics.lines(),
              (QStringList{path("state.norv"), "File encrypted successfully."}));

    // Change everything a preset holds.
    NorvShareHelper& s = store();
    s.sampleRate = "48000Hz";
    s.micIn1Volume = s.micIn2Volume = s.micOutVolume = 0;
    s.micMuteState = s.mic48VState = s.micInstState = s.micInChangeState = 0;
    s.mic2MuteState = s.mic248VState = s.mic2InstState = s.mic2InChangeState = 0;
    s.hpMuteState = 0;
    s.setChannelMapArray(routeMap(12, 12).toVariantList());
    defaults().setString("channelRowName4", "changed");
    defaults().setString("channelRowName14", "changed");
    defaults().setString("channelName2", "changed");
    defaults().setString("channelName10", "changed");
    defaults().setInteger("outputVolume9", 1);
    defaults().setInteger("outputVolume15", 2);
    ASSERT_NE(storeState(), before);

    ASSERT_EQ(Presets::shared().importFile(path("state.norv"), routing()), Result::applied);
    EXPECT_EQ(storeState(), before);
    EXPECT_EQ(store().channelMapArray(), mapBefore);
    EXPECT_EQ(defaults().stringForKey("channelRowName4"), "Guitar");
    EXPECT_EQ(defaults().stringForKey("channelRowName14"), "Last row");
    EXPECT_EQ(defaults().stringForKey("channelName2"), "First");
    EXPECT_EQ(defaults().stringForKey("channelName10"), "Loop 3");
    EXPECT_EQ(defaults().integerForKey("outputVolume9"), 64);
    EXPECT_EQ(defaults().integerForKey("outputVolume15"), 100);
    EXPECT_EQ(successPosts(), 1);
}

TEST_F(PresetFileTest, ExportWritesNamesOnlyWhenSetAndEveryOutputVolume) {
    store().deviceVersion = "1.02";
    defaults().setString("channelRowName6", "Keys");
    defaults().setString("channelName12", "Cue");
    defaults().setString("channelName13", "odd, not exported");
    defaults().setInteger("outputVolume11", 80);
    defaults().setInteger("outputVolume6", 5);  // not an output the preset holds
    test::CapturedDiagnostics quiet;
    const QJsonObject o = Presets::shared().exportObject();

    EXPECT_EQ(o["version"].toString(), "1.02");
    EXPECT_EQ(o["name"].toString(), "H8");
    EXPECT_EQ(o["ext1"], QJsonValue(""));
    EXPECT_EQ(o["ext2"], QJsonValue(""));
    EXPECT_TRUE(Presets::isUsableRouteMap(o["array"].toVariant()));
    QStringList names;
    for (const QString& key : o.keys()) {
        if (key.startsWith("channel")) names.append(key);
    }
    EXPECT_EQ(names, (QStringList{"channelName12", "channelRowName6"}));
    for (int n : {5, 7, 9, 13, 15}) {
        const QJsonValue v = o["outputVolume" + QString::number(n)];
        EXPECT_TRUE(v.isDouble() && v.toInt(-1) == 0) << n;
    }
    EXPECT_EQ(o["outputVolume11"].toInt(), 80);
    EXPECT_FALSE(o.contains("outputVolume6"));
    for (const char* key : {"micIn1volume", "micIn2volume", "micOutVolume"})
        EXPECT_TRUE(o[key].isDouble()) << key;
    for (const char* key :
         {"micMuteState", "mic48VState", "micInstState", "micInChangeState", "mic2MuteState",
          "mic248VState", "mic2InstState", "mic2InChangeState", "hpMuteState"})
        EXPECT_TRUE(o[key].isDouble()) << key;
    EXPECT_TRUE(o["sampleRate"].isString());

    // The file holds exactly that object as compact JSON.
    ASSERT_TRUE(Presets::shared().exportFile(path("p.norv")));
    EXPECT_EQ(Presets::open(readFile(path("p.norv")), nullptr), compact(o));
}

TEST_F(PresetFileTest, TwoExportsDifferAndBothImport) {
    setDistinctState();
    const std::string state = storeState();
    test::CapturedDiagnostics quiet;
    ASSERT_TRUE(Presets::shared().exportFile(path("a.norv")));
    ASSERT_TRUE(Presets::shared().exportFile(path("b.norv")));
    const QByteArray a = readFile(path("a.norv")), b = readFile(path("b.norv"));
    EXPECT_EQ(a.size(), b.size());
    EXPECT_NE(a.left(12), b.left(12));
    EXPECT_NE(a, b);
    EXPECT_EQ(Presets::open(a, nullptr), Presets::open(b, nullptr));
    EXPECT_EQ(Presets::shared().importFile(path("a.norv"), routing()), Result::applied);
    EXPECT_EQ(Presets::shared().importFile(path("b.norv"), routing()), Result::applied);
    EXPECT_EQ(storeState(), state);
    EXPECT_EQ(successPosts(), 2);
}

TEST_F(PresetFileTest, ExportToAPlaceThatCannotHoldAFileFails) {
    writeFile(path("plain-file"), "x");
    test::CapturedDiagnostics diagnostics;
    EXPECT_FALSE(Presets::shared().exportFile(path("plain-file/p.norv")));
    ASSERT_EQ(diagnostics.lines().size(), 2);
    EXPECT_TRUE(diagnostics.lines()[1].startsWith("Error encrypting file: "));
    EXPECT_EQ(readFile(path("plain-file")), "x");
}

// ---- refused files: the mismatch result, nothing changed, and the reason printed ----

class PresetRejectionTest : public PresetFileTest {
protected:
    void SetUp() override {
        PresetFileTest::SetUp();
        setDistinctState();  // also makes sure the defaults file exists
        storeBefore_ = storeState();
        defaultsBefore_ = defaultsFile();
        ASSERT_FALSE(defaultsBefore_.isEmpty());
    }

    // Imports `file` and checks that it is refused with nothing changed; returns what was printed.
    QStringList expectRefused(const QString& file, const std::string& what) {
        test::CapturedDiagnostics diagnostics;
        EXPECT_EQ(Presets::shared().importFile(file, routing()), Result::mismatch) << what;
        EXPECT_EQ(storeState(), storeBefore_) << what;
        EXPECT_EQ(defaultsFile(), defaultsBefore_) << what;
        // Not even in memory: a reload would hide a change that was never written.
        EXPECT_EQ(defaults().stringForKey("channelRowName4"), "Guitar") << what;
        EXPECT_EQ(store().channelMapArray(), routeMap(16, 16).toVariantList()) << what;
        EXPECT_EQ(successPosts(), 0) << what;
        return diagnostics.lines();
    }

    std::string storeBefore_;
    QByteArray defaultsBefore_;
};

TEST_F(PresetRejectionTest, FilesThatAreNotAuthenticPresets) {
    const QByteArray file = vector("preset-h8.norv");
    QByteArray flipped = file;
    flipped[700] = static_cast<char>(flipped[700] ^ 0x20);
    std::mt19937 random(8);
    QByteArray noise(file.size(), '\0');
    for (char& c : noise) c = static_cast<char>(random());

    const char* const tooShort = "Error decrypting file: the file is too short to be a preset";
    const char* const altered =
        "Error decrypting file: authentication failed (not a preset, or altered)";
    const struct {
        const char* what;
        QByteArray bytes;
        const char* line;
    } cases[] = {
        {"a changed byte", flipped, altered},
        {"27 bytes", file.left(27), tooShort},
        {"28 bytes", file.left(28), altered},
        {"cut in the middle", file.left(file.size() / 2), altered},
        {"random bytes", noise, altered},
        {"an empty file", QByteArray(), tooShort},
        {"the plaintext itself", vector("preset-h8.json"), altered},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(expectRefused(fileWith(c.bytes), c.what), QStringList{c.line}) << c.what;
    }

    const QStringList lines = expectRefused(path("no-such.norv"), "a missing file");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Error decrypting file: ")) << lines[0].toStdString();
}

TEST_F(PresetRejectionTest, FilesLargerThanAnyPresetAreRefusedUnread) {
    // Sparse files: the sizes cost no disk space, and a file that were read would cost memory.
    const auto sparse = [this](const QString& name, qint64 size) {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(size)) << name.toStdString();
        return path(name);
    };
    const QStringList tooLarge{"Error decrypting file: the file is too large to be a preset"};
    EXPECT_EQ(expectRefused(sparse("over.norv", Presets::kMaxFileSize + 1), "1 byte over"),
              tooLarge);
    EXPECT_EQ(expectRefused(sparse("huge.norv", 2'200'000'000), "2.2 GB"), tooLarge);
    // Up to the limit the file is read and opened.
    EXPECT_EQ(
        expectRefused(sparse("limit.norv", Presets::kMaxFileSize), "at the limit"),
        QStringList{"Error decrypting file: authentication failed (not a preset, or altered)"});
}

TEST_F(PresetRejectionTest, AuthenticPlaintextsThatAreNotAJsonObject) {
    const QString ok = "File decrypted successfully.";
    EXPECT_EQ(
        expectRefused(sealedFile(compact(vectorObject()).prepend('[').append(']')), "a JSON array"),
        (QStringList{"Failed to convert JSON string to dictionary.", ok}));
    QByteArray notUtf8 = vector("preset-h8.json");
    notUtf8.replace("\"Vocal\"", "\"Voc\xe0l\"");  // Latin-1, not UTF-8
    EXPECT_EQ(expectRefused(sealedFile(notUtf8), "Latin-1 text"),
              (QStringList{"Failed to convert JSON string to data.", ok}));
    const QStringList broken =
        expectRefused(sealedFile(vector("preset-h8.json").chopped(1)), "cut-off JSON");
    ASSERT_EQ(broken.size(), 2);
    EXPECT_TRUE(broken[0].startsWith("Error: ")) << broken[0].toStdString();
    EXPECT_EQ(broken[1], ok);
    EXPECT_EQ(expectRefused(sealedFile(""), "an empty plaintext").size(), 2);
}

TEST_F(PresetRejectionTest, PresetsOfAnotherModelOrWithAnUnusableRouteMap) {
    const auto with = [](const char* key, const QJsonValue& value) {
        QJsonObject o = vectorObject();
        o[key] = value;
        return o;
    };
    QJsonObject noName = vectorObject();
    noName.remove("name");
    QJsonArray numberInARow = routeMap(16, 16);
    QJsonArray row3 = numberInARow[3].toArray();
    row3[2] = 1;
    numberInARow[3] = row3;
    QJsonArray listInsteadOfARow = routeMap(12, 12);
    listInsteadOfARow[11] = true;

    const std::pair<const char*, QJsonObject> cases[] = {
        {"another model", with("name", "H9")},
        {"a name in other case", with("name", "h8")},
        {"no name", noName},
        {"a name that is a number", with("name", 8)},
        {"a null name", with("name", QJsonValue::Null)},
        {"a map that is a string", with("array", "[[true]]")},
        {"a null map", with("array", QJsonValue::Null)},
        {"11 rows", with("array", routeMap(11, 16))},
        {"rows of 11", with("array", routeMap(16, 11))},
        {"a row holding a number", with("array", numberInARow)},
        {"a row that is a boolean", with("array", listInsteadOfARow)},
        {"nothing", QJsonObject()},
    };
    for (const auto& [what, preset] : cases) {
        EXPECT_EQ(expectRefused(sealedFile(compact(preset)), what),
                  QStringList{"File decrypted successfully."})
            << what;
    }
}

TEST(RouteMapTest, AtLeastTwelveRowsOfAtLeastTwelveBooleans) {
    EXPECT_TRUE(Presets::isUsableRouteMap(routeMap(12, 12).toVariantList()));
    EXPECT_TRUE(Presets::isUsableRouteMap(routeMap(16, 16).toVariantList()));
    EXPECT_TRUE(Presets::isUsableRouteMap(routeMap(20, 13).toVariantList()));
    EXPECT_FALSE(Presets::isUsableRouteMap(routeMap(11, 12).toVariantList()));
    EXPECT_FALSE(Presets::isUsableRouteMap(routeMap(12, 11).toVariantList()));
    QJsonArray shortLastRow = routeMap(16, 16);
    shortLastRow[15] = routeMap(1, 11)[0];
    EXPECT_FALSE(Presets::isUsableRouteMap(shortLastRow.toVariantList()));
    QJsonArray stringInARow = routeMap(12, 12);
    QJsonArray row = stringInARow[0].toArray();
    row[0] = "true";
    stringInARow[0] = row;
    EXPECT_FALSE(Presets::isUsableRouteMap(stringInARow.toVariantList()));
    EXPECT_FALSE(Presets::isUsableRouteMap(QVariant()));
    EXPECT_FALSE(Presets::isUsableRouteMap(QVariantMap{{"0", true}}));
}

TEST_F(PresetFileTest, TheSmallestUsableMapIsAcceptedAndStored) {
    QJsonObject o{{"name", "H8"}, {"array", routeMap(12, 12)}};
    test::CapturedDiagnostics quiet;
    ASSERT_EQ(Presets::shared().importFile(sealedFile(compact(o)), routing()), Result::applied);
    EXPECT_EQ(store().channelMapArray(), routeMap(12, 12).toVariantList());
}

// ---- an accepted preset: values of the wrong type are skipped, the rest applies ----

TEST_F(PresetFileTest, ValuesOfTheWrongTypeAreSkippedWhileTheRestApplies) {
    setDistinctState();
    const QVariantList mapBefore = store().channelMapArray();
    const QJsonObject preset{
        {"name", "H8"},
        {"version", "9.99"},
        {"sampleRate", 48000},      // a number, not the text
        {"micIn1volume", "12"},     // text
        {"micIn2volume", 7.25},     // applies
        {"micOutVolume", true},     // a boolean
        {"micMuteState", 1.5},      // not whole
        {"mic48VState", "0"},       // text
        {"micInstState", 1},        // applies
        {"micInChangeState", 0.0},  // whole: applies
        {"mic2MuteState", 1e10},    // beyond an int
        {"mic248VState", QJsonValue::Null},
        {"mic2InstState", QJsonArray{0}},
        {"hpMuteState", 0},            // applies
        {"channelFoo", "bar"},         // any "channel…" text is a preference
        {"channelRowName6", "Drums"},  // applies
        {"channelRowName4", 5},        // not text: the old name stays
        {"outputVolume13", 77},        // applies
        {"outputVolume9", 1.5},        // not whole: the old level stays
        {"outputVolume15", "3"},       // text: the old level stays
        {"outputVolumeX", -4},         // any "outputVolume…" integer is a preference
        {"ext1", "reserved"},
        {"somethingElse", 1},
    };
    test::CapturedDiagnostics diagnostics;
    ASSERT_EQ(Presets::shared().importFile(sealedFile(compact(preset)), routing()),
              Result::applied);
    EXPECT_EQ(diagnostics.lines(), QStringList{"File decrypted successfully."});
    EXPECT_EQ(successPosts(), 1);

    const NorvShareHelper& s = store();
    EXPECT_EQ(s.sampleRate, "44100Hz");
    EXPECT_DOUBLE_EQ(s.micIn1Volume, 6.2);
    EXPECT_DOUBLE_EQ(s.micIn2Volume, 7.25);
    EXPECT_DOUBLE_EQ(s.micOutVolume, 39.285714);
    EXPECT_EQ(s.micMuteState, 1);
    EXPECT_EQ(s.mic48VState, 1);
    EXPECT_EQ(s.micInstState, 1);
    EXPECT_EQ(s.micInChangeState, 0);
    EXPECT_EQ(s.mic2MuteState, 0);
    EXPECT_EQ(s.mic248VState, 1);
    EXPECT_EQ(s.mic2InstState, 1);
    EXPECT_EQ(s.mic2InChangeState, 1);  // absent
    EXPECT_EQ(s.hpMuteState, 0);
    EXPECT_EQ(store().channelMapArray(), mapBefore);  // no map in the preset: the old one stays

    UserDefaults::setStandard(nullptr);  // as written to disk
    EXPECT_EQ(defaults().stringForKey("channelFoo"), "bar");
    EXPECT_EQ(defaults().stringForKey("channelRowName6"), "Drums");
    EXPECT_EQ(defaults().stringForKey("channelRowName4"), "Guitar");
    EXPECT_EQ(defaults().integerForKey("outputVolume13"), 77);
    EXPECT_EQ(defaults().integerForKey("outputVolume9"), 64);
    EXPECT_EQ(defaults().integerForKey("outputVolume15"), 100);
    EXPECT_EQ(defaults().integerForKey("outputVolumeX"), -4);
    for (const char* key : {"version", "ext1", "somethingElse", "micIn2volume", "name"})
        EXPECT_FALSE(defaults().objectForKey(key).isValid()) << key;
}

TEST_F(PresetFileTest, ANameAloneIsAValidPresetThatChangesNothingElse) {
    setDistinctState();
    const std::string before = storeState();
    ASSERT_EQ(Presets::shared().applyImport({{"name", "H8"}}, routing()), Result::applied);
    EXPECT_EQ(storeState(), before);
    EXPECT_EQ(successPosts(), 1);
    EXPECT_EQ(Presets::shared().applyImport({}, routing()), Result::mismatch);
    EXPECT_EQ(successPosts(), 1);
}

}  // namespace
}  // namespace h8
