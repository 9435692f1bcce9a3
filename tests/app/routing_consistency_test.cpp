// Plain regression tests for the routing faults the random walk over the routing state names
// (routing_state_test): presets that leave routes sounding, imports applied twice, levels
// shown wrong, map entries outside the mixer, unchecked stored values, shared level keys,
// edits made while the interface could not be reached, and menus enabled for a gone interface.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenuBar>
#include <QTest>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/device_controls.h"
#include "core/preset_file.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "emulated_panel_test.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/panels/unconnected_view.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/sections/main_contain_view.h"
#include "view_controller.h"

namespace h8 {
namespace {

// A route map of 16 columns of 16 rows with `routes` (source, destination; 1-based) on.
QVariantList mapWith(std::initializer_list<std::pair<int, int>> routes) {
    QVariantList m;
    for (int col = 1; col <= 16; ++col) {
        QVariantList rows;
        for (int row = 1; row <= 16; ++row) {
            bool on = false;
            for (const auto& [r, c] : routes) on = on || (r == row && c == col);
            rows.append(on);
        }
        m.append(QVariant(rows));
    }
    return m;
}

class RoutingConsistencyTest : public test::EmulatedPanelTest {
protected:
    void launch() { launchWindow(); }
    ui::NorvMainContainView* panel() { return controller()->norvMainContaiView; }
    uint8_t mixer(int row, int col) {
        return usb_.model().state().mixer[sourceCodeForRow(row - 1) + 12 * (col - 1)];
    }
    int writesTo(int row, int col) {
        int n = 0;
        for (const auto& t : usb_.model().transfers()) {
            n += t.setup.requestType == 0x40 && t.setup.index == reg::kMixer &&
                 t.setup.value == sourceCodeForRow(row - 1) + 12 * (col - 1);
        }
        return n;
    }
    // A preset of this interface with `map` as its route map.
    QString preset(const QVariantList& map) {
        QJsonObject o = NorvExportFileHelper::shared().exportObject();
        o["array"] = QJsonArray::fromVariantList(map);
        QString error;
        const QByteArray bytes =
            NorvExportFileHelper::seal(QJsonDocument(o).toJson(), &error).value_or("");
        const QString path = env_.root() + "/p.norv";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    bool stored(int row, int col) {
        const std::vector<Output> columns =
            columnsFromStoredMap(NorvShareHelper::shared().channelMapArray());
        return columns[col - 1].enableArray[row - 1];
    }
};

TEST_F(RoutingConsistencyTest, AnImportSilencesWhatItLeavesOutAndLaterEditsKeepItsRoutes) {
    usb_.plug();
    launch();
    panel()->routing().drop(1, 5);          // mic 1 → destination 5, not in the preset
    panel()->routing().setLevel(7, 9, 50);  // stored while the route is off
    usb_.model().clearTransfers();

    // File → Open: the preset routes playback 3 → destination 9 only.
    ASSERT_EQ(window_->controller->importPreset(preset(mapWith({{7, 9}}))), nullptr);
    EXPECT_EQ(mixer(1, 5), 0xFF);  // no longer sounding
    EXPECT_EQ(mixer(5, 1), 0xFF);  // nor the default playback 1 → destination 1
    EXPECT_EQ(mixer(7, 9), crosspointLevelByte(50));
    EXPECT_EQ(writesTo(7, 9), 1);  // applied once, not twice
    // The grid shows the stored level of the imported route.
    EXPECT_TRUE(panel()->routing().isOn(7, 9));
    EXPECT_EQ(panel()->routing().level(7, 9), 50.0f);
    const auto& columns = controller()->audio->outputUnits();
    EXPECT_FALSE(columns[4]->enableArray[0]);
    EXPECT_TRUE(columns[8]->enableArray[6]);

    // A later edit stores the engine's columns: the imported route stays stored.
    panel()->routing().drop(2, 3);
    EXPECT_TRUE(stored(7, 9));
    EXPECT_TRUE(stored(2, 3));
    EXPECT_FALSE(stored(1, 5));
    // A rebuild (a rate change) re-sends the imported route, not the old one.
    usb_.model().clearTransfers();
    controller()->audio->buildUnit(false);
    EXPECT_EQ(writesTo(7, 9), 1);
    EXPECT_EQ(writesTo(1, 5), 0);
    EXPECT_EQ(mixer(1, 5), 0xFF);
}

TEST_F(RoutingConsistencyTest, MapEntriesOutsideTheMixerAreNeverSent) {
    // Source 13 (a 13th row) into destination 1, and a 13th destination: only in a
    // hand-edited or imported map. Row 13 would be sent as source code 9, mic 2's.
    NorvShareHelper::shared().setChannelMapArray(mapWith({{13, 1}, {6, 13}, {5, 2}}));
    usb_.plug();
    launch();
    usb_.model().clearTransfers();
    controller()->audio->buildUnit(false);  // a rebuild re-sends every route it has
    ASSERT_TRUE(window_->controller->importPreset(preset(mapWith({{14, 2}, {5, 13}}))) == nullptr);
    for (const auto& t : usb_.model().transfers()) {
        if (t.setup.requestType != 0x40 || t.setup.index != reg::kMixer) continue;
        EXPECT_LT(t.setup.value, 144);
        EXPECT_NE(t.setup.value, sourceCodeForRow(12) + 12 * 0) << "source 13 sent as mic 2";
        EXPECT_NE(t.setup.value, sourceCodeForRow(13) + 12 * 1) << "source 14 sent as OTG 3";
    }
    EXPECT_EQ(mixer(2, 1), 0xFF);
}

TEST_F(RoutingConsistencyTest, StoredValuesOutOfRangeAreCheckedBeforeUse) {
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(kOtgOutVolumeKey, 250);
    EXPECT_EQ(restoreOutputSettings().otgVolume, 100);
    defaults.setInteger(kOtgOutVolumeKey, -7);
    EXPECT_EQ(restoreOutputSettings().otgVolume, 0);

    // Levels that are not numbers or far out of range: silent, as 0 and above 100 are.
    for (float level :
         {std::nanf(""), std::numeric_limits<float>::infinity(), 1e12f, -1e12f, 101.0f, 0.0f}) {
        EXPECT_EQ(crosspointLevelByte(level), 0xFF) << level;
    }
    EXPECT_EQ(crosspointLevelByte(100.9f), 0x81);
    EXPECT_EQ(crosspointLevelByte(50.0f), 0xC0);
    // (The preferences file is JSON: it holds no NaN, but a hand-edited huge number.)
    defaults.setFloat(crosspointLevelKey(5, 1), 1e12f);
    NorvShareHelper::shared().setChannelMapArray(mapWith({{5, 1}}));
    usb_.plug();
    launch();
    controller()->audio->buildUnit(false);
    EXPECT_EQ(mixer(5, 1), 0xFF);
}

TEST_F(RoutingConsistencyTest, EveryCrosspointHasALevelOfItsOwn) {
    // "volume" + source + destination reads "volume111" for 1 → 11 and for 11 → 1.
    usb_.plug();
    launch();
    RoutingModel& routing = panel()->routing();
    routing.toggle(1, 11);
    routing.setLevel(1, 11, 30);
    routing.toggle(11, 1);
    routing.setLevel(11, 1, 70);
    routing.toggle(1, 12);
    routing.setLevel(1, 12, 10);
    routing.toggle(11, 2);
    EXPECT_EQ(storedCrosspointLevel(1, 11), 30.0f);
    EXPECT_EQ(storedCrosspointLevel(11, 1), 70.0f);
    EXPECT_EQ(storedCrosspointLevel(1, 12), 10.0f);
    EXPECT_EQ(storedCrosspointLevel(11, 2), 100.0f);
    EXPECT_EQ(UserDefaults::standard().floatForKey("volume111"), 30.0f);  // its old meaning
    // A level stored under the shared key by an earlier version still counts until the
    // crosspoint's own key is written.
    UserDefaults::standard().removeObjectForKey(crosspointLevelKey(11, 1));
    EXPECT_EQ(storedCrosspointLevel(11, 1), 30.0f);
}

TEST_F(RoutingConsistencyTest, OffsMadeWhileTheInterfaceWasUnreachableReachItWhenItArrives) {
    // The sound server lists the H8 before USB opens it (or without access to it): the panel
    // is bound on the audio side and edits reach nothing.
    launch();
    audio_->setInterfaceAttached(false);
    QCoreApplication::processEvents();
    audio_->setInterfaceAttached(true);
    QTRY_VERIFY(controller()->isBound());
    panel()->routing().removeChip(
        5, 1, ChipRemoval::doubleClick);  // the default playback 1 → destination 1
    EXPECT_FALSE(stored(5, 1));
    EXPECT_EQ(mixer(5, 1), 0x80);  // the interface never heard of it
    usb_.plug();
    QTRY_COMPARE(mixer(5, 1), uint8_t{0xFF});
    EXPECT_EQ(mixer(6, 2), crosspointLevelByte(100));
}

TEST_F(RoutingConsistencyTest, ARemovalWithinTwoSecondsOfABindKeepsTheMenusDisabled) {
    usb_.plug();
    launch();
    usb_.unplug();
    audio_->setInterfaceAttached(false);
    QTRY_VERIFY(controller()->uncontectView->isVisible());
    EXPECT_FALSE(NorvShareHelper::shared().hardwareDevice);
    QMenu* file = window_->menuBar()->actions().first()->menu();
    // Past the moment the menu sync would have come.
    advance(std::chrono::milliseconds(2300));
    EXPECT_FALSE(file->isEnabled());
}

TEST_F(RoutingConsistencyTest, ARemovalWritesThePendingPreferencesAtOnce) {
    usb_.plug();
    launch();
    UserDefaults::standard().setWriteDelay(250);
    panel()->routing().drop(1, 5);
    usb_.unplug();
    QTRY_VERIFY(controller()->uncontectView->isVisible());
    // Read straight from the file, well within the write delay.
    const UserDefaults disk(UserDefaults::standard().filePath());
    const std::vector<Output> columns =
        columnsFromStoredMap(disk.arrayForKey(kChannelMapKey).value_or(QVariantList()));
    ASSERT_GT(columns.size(), 4u);
    EXPECT_TRUE(columns[4].enableArray[0]);
    UserDefaults::standard().setWriteDelay(0);
}

}  // namespace
}  // namespace h8
