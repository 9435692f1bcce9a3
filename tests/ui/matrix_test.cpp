// The routing matrix widgets driven by synthetic mouse events, offscreen, with the routing
// engine committing to the emulated H8: drags of source handles onto destination rows, chips
// removed by double-click or by dragging them out, grid clicks and scrolling, and a preset
// import redrawing grid and chips.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QFile>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "core/audio_helper.h"
#include "core/notification_names.h"
#include "core/preset_file.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "panel_parts.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "plugged_interface_test.h"
#include "temp_env.h"
#include "ui/matrix/channel_row_view.h"
#include "ui/matrix/destination_view.h"
#include "ui/matrix/drag_view.h"
#include "ui/matrix/grid_view.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/widgets/hover_button.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/norv_sub_drag_view.h"

namespace h8::ui {
namespace {

void send(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button,
          Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// Presses on `from`, moves in steps to `to` (a point of `target`) and releases there.
void drag(QWidget* from, QPoint start, QWidget* target, QPoint to) {
    send(from, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    const QPoint end = from->mapFrom(from->window(), target->mapTo(target->window(), to));
    for (int i = 1; i <= 5; ++i) {
        send(from, QEvent::MouseMove, start + (end - start) * i / 5, Qt::NoButton, Qt::LeftButton);
    }
    send(from, QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
}

class MatrixWidgetsTest : public test::PluggedInterfaceTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PluggedInterfaceTest::SetUp());
        backend_.setDevices({test::fakeInterface(7, 16)});
        createEngine();
        chips_ = std::make_unique<RouteChips>(*routing_, store().indexQuoteArray,
                                              NotificationCenter::defaultCenter());
        parts_ = std::make_unique<test::PanelParts>(usbInterface_, routing_.get());
        const PanelContext context = parts_->context();
        MatrixRegistry& registry = parts_->registry;

        window_ = std::make_unique<QWidget>();
        window_->resize(945, 750);
        upperGrid_ = new NorvGridView(context, {"M1", "M2", "O3", "O4"}, window_.get());
        upperGrid_->move(400, 20);
        for (int k = 0; k < 6; ++k) {
            auto* pair = new NorvDestinationView(context, *chips_, 2 * k + 1, window_.get());
            pair->setGeometry(150, 40 + k * 60, 200, 42);
            registry.detiNationViewArray.append(pair);
            registry.channelViewArray.append(pair->channelTop);
            registry.channelViewArray.append(pair->channelBot);
        }
        mic1_ = new NorvDragView(context, window_.get());
        mic1_->actRowIndex = 1;
        mic1_->setTitleText("1");
        mic1_->move(20, 40);
        link_ = new QCheckBox(window_.get());
        link_->move(20, 100);
        pb1_ = new NorvDragView(context, window_.get());
        pb1_->actRowIndex = 5;
        pb1_->setTitleText("1");
        pb1_->linkedBtn = link_;
        pb1_->move(20, 140);
        window_->show();
        usb_.model().clearTransfers();
    }
    void TearDown() override {
        window_.reset();
        chips_.reset();
        parts_.reset();
        PluggedInterfaceTest::TearDown();
    }

    ChannelRowView* row(int col) { return parts_->registry.channelViewArray[col - 1]; }
    QStringList mixerWrites() {
        QStringList writes;
        for (const auto& t : usb_.model().transfers()) {
            if (t.setup.requestType == 0x40 && t.setup.index == 0x001E)
                writes.append(
                    QStringLiteral("%1=%2").arg(t.setup.value).arg(t.data[0], 2, 16, QChar('0')));
        }
        usb_.model().clearTransfers();
        return writes;
    }
    // File → Open's import as the controller makes it: the alert when the preset is refused.
    QMessageBox* importPreset(const QString& path) {
        if (NorvExportFileHelper::shared().importFile(path, *routing_) ==
            NorvExportFileHelper::ImportResult::applied)
            return nullptr;
        return showPresetMismatchAlert(window_.get());
    }
    int floatingViews() {
        return static_cast<int>(window_->findChildren<NorvSubDragView*>().size());
    }

    std::unique_ptr<test::PanelParts> parts_;
    std::unique_ptr<RouteChips> chips_;
    std::unique_ptr<QWidget> window_;
    NorvGridView* upperGrid_ = nullptr;
    NorvDragView* mic1_ = nullptr;
    NorvDragView* pb1_ = nullptr;
    QCheckBox* link_ = nullptr;
};

TEST_F(MatrixWidgetsTest, SingleDropCreatesAChipSwitchesTheGridOnAndSendsLevelThenCommit) {
    QStringList lit;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        &observer, notify::kIndexQuoteAddition,
        [&](const Notification& n) { lit.append(n.object.toString()); });
    // Handle 1 of the microphone strip onto L1 (destination 5).
    drag(mic1_, {8, 8}, row(5), {30, 8});
    ASSERT_EQ(row(5)->chipLabels().size(), 1);
    EXPECT_EQ(row(5)->chipLabels()[0]->text(), "1");
    EXPECT_EQ(lit, QStringList{"1"});
    EXPECT_TRUE(upperGrid_->button(1, 5)->isChecked());
    EXPECT_EQ(mixerWrites(), (QStringList{"56=81", "56=80"}));
    EXPECT_EQ(floatingViews(), 0);

    // The same source onto the same row again adds nothing.
    drag(mic1_, {8, 8}, row(5), {30, 8});
    QCoreApplication::processEvents();
    EXPECT_EQ(row(5)->chipLabels().size(), 1);
    EXPECT_TRUE(mixerWrites().isEmpty());

    // Dropped nowhere: nothing.
    drag(mic1_, {8, 8}, window_.get(), {900, 700});
    EXPECT_TRUE(mixerWrites().isEmpty());
    EXPECT_EQ(floatingViews(), 0);
}

TEST_F(MatrixWidgetsTest, PairDropAddsOnlyTheMissingChannels) {
    link_->setChecked(true);
    routing_->drop(6, 10);  // playback 2 already on L6
    mixerWrites();
    // Playback 1-2 onto the pair L5/L6 (destinations 9 and 10).
    NorvDestinationView* pair = parts_->registry.detiNationViewArray[4];
    drag(pb1_, {8, 8}, pair, {40, 12});
    QCoreApplication::processEvents();
    EXPECT_EQ(row(9)->chipLabels().size(), 1);
    EXPECT_EQ(row(10)->chipLabels().size(), 1);
    EXPECT_EQ(chips_->chips(9), QList<int>{5});
    // Playback 1 is source code 0, L5 destination 8: wValue 96.
    EXPECT_EQ(mixerWrites(), (QStringList{"96=81", "96=80"}));
}

TEST_F(MatrixWidgetsTest, ChipStaysInItsRowAndIsRemovedAnywhereElse) {
    routing_->drop(1, 5);
    QCoreApplication::processEvents();
    mixerWrites();
    LumLabel* chip = row(5)->chipLabels()[0];
    // Released within its own row: stays.
    drag(chip, {9, 9}, row(5), {60, 9});
    QCoreApplication::processEvents();
    EXPECT_EQ(chips_->chips(5), QList<int>{1});
    EXPECT_TRUE(mixerWrites().isEmpty());

    // Released over another destination: removed and committed off.
    chip = row(5)->chipLabels()[0];
    drag(chip, {9, 9}, row(7), {30, 9});
    QCoreApplication::processEvents();
    EXPECT_TRUE(chips_->chips(5).isEmpty());
    EXPECT_TRUE(chips_->chips(7).isEmpty());
    EXPECT_EQ(mixerWrites(), QStringList{"56=ff"});
    EXPECT_FALSE(upperGrid_->button(1, 5)->isChecked());
    EXPECT_EQ(NorvShareHelper::shared().indexQuoteArray[0], 0);
}

TEST_F(MatrixWidgetsTest, DoubleClickRemovesAChip) {
    routing_->drop(2, 3);
    QCoreApplication::processEvents();
    mixerWrites();
    QTest::mouseDClick(row(3)->chipLabels()[0], Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(chips_->chips(3).isEmpty());
    EXPECT_EQ(mixerWrites(), QStringList{QStringLiteral("%1=ff").arg(9 + 12 * 2)});
}

TEST_F(MatrixWidgetsTest, RemovingTheInterfaceEndsADragInProgress) {
    const auto visibleFloatingViews = [this] {
        int visible = 0;
        for (NorvSubDragView* v : window_->findChildren<NorvSubDragView*>())
            visible += v->isVisible();
        return visible;
    };
    // A handle dragged out of itself, then the interface goes away.
    send(mic1_, QEvent::MouseButtonPress, {8, 8}, Qt::LeftButton, Qt::LeftButton);
    send(mic1_, QEvent::MouseMove, {60, 60}, Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(visibleFloatingViews(), 1);
    NotificationCenter::defaultCenter().post(notify::kRawDeviceRemoved);
    EXPECT_EQ(visibleFloatingViews(), 0);
    // The rest of that gesture neither brings a copy back nor drops anything.
    const QPoint overL1 =
        mic1_->mapFrom(window_.get(), row(5)->mapTo(window_.get(), QPoint(30, 8)));
    send(mic1_, QEvent::MouseMove, overL1, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(visibleFloatingViews(), 0);
    send(mic1_, QEvent::MouseButtonRelease, overL1, Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(chips_->chips(5).isEmpty());
    EXPECT_FALSE(mic1_->isDraging);

    // The same for a route chip dragged out of its row: the route stays.
    routing_->drop(1, 5);
    QCoreApplication::processEvents();
    mixerWrites();
    LumLabel* chip = row(5)->chipLabels()[0];
    send(chip, QEvent::MouseButtonPress, {9, 9}, Qt::LeftButton, Qt::LeftButton);
    send(chip, QEvent::MouseMove, {9, 200}, Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(visibleFloatingViews(), 1);
    NotificationCenter::defaultCenter().post(notify::kRawDeviceRemoved);
    EXPECT_EQ(visibleFloatingViews(), 0);
    send(chip, QEvent::MouseMove, {9, 220}, Qt::NoButton, Qt::LeftButton);
    send(chip, QEvent::MouseButtonRelease, {9, 220}, Qt::LeftButton, Qt::NoButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(visibleFloatingViews(), 0);
    EXPECT_EQ(chips_->chips(5), QList<int>{1});
    EXPECT_TRUE(mixerWrites().isEmpty());

    // The next press drags again.
    drag(mic1_, {8, 8}, row(7), {30, 8});
    EXPECT_EQ(chips_->chips(7), QList<int>{1});
}

TEST_F(MatrixWidgetsTest, GridClickAndScrollSetLevels) {
    HoverButton* b = upperGrid_->button(4, 12);
    QEnterEvent enter(QPointF(5, 5), QPointF(b->mapToGlobal(QPoint(5, 5))),
                      QPointF(b->mapToGlobal(QPoint(5, 5))));
    QCoreApplication::sendEvent(b, &enter);
    QTest::mouseClick(b, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(b->isChecked());
    EXPECT_TRUE(b->isLabelShown());
    EXPECT_EQ(b->label->text(), "100");
    EXPECT_EQ(chips_->chips(12), QList<int>{4});
    EXPECT_EQ(mixerWrites(), (QStringList{"143=81", "143=80"}));

    QWheelEvent down(QPointF(5, 5), QPointF(b->mapToGlobal(QPoint(5, 5))), QPoint(),
                     QPoint(0, -120 * 4), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(b, &down);
    EXPECT_LT(routing_->level(4, 12), 100.0f);
    EXPECT_EQ(mixerWrites().size(), 1);
    EXPECT_EQ(UserDefaults::standard().floatForKey("volume412"), routing_->level(4, 12));

    QTest::mouseClick(b, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_FALSE(b->isChecked());
    EXPECT_FALSE(b->isLabelShown());
    EXPECT_TRUE(chips_->chips(12).isEmpty());
}

// An edit that comes from no widget (a command, an undo) shows in every view of the routing.
TEST_F(MatrixWidgetsTest, ARouteSwitchedByACommandShowsInGridChipsHandlesAndColumns) {
    QStringList lit, dark;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        &observer, notify::kIndexQuoteAddition,
        [&](const Notification& n) { lit.append(n.object.toString()); });
    NotificationCenter::defaultCenter().addObserver(
        &observer, notify::kIndexQuoteSubtraction,
        [&](const Notification& n) { dark.append(n.object.toString()); });
    ASSERT_TRUE(routing_->setRoute(3, 6, true));
    QCoreApplication::processEvents();
    EXPECT_TRUE(upperGrid_->button(3, 6)->isChecked());
    ASSERT_EQ(row(6)->chipLabels().size(), 1);
    EXPECT_EQ(row(6)->chipLabels()[0]->text(), "3");
    EXPECT_EQ(lit, QStringList{"3"});
    EXPECT_TRUE(store().audio->outputUnits()[5]->enableArray[2]);
    EXPECT_EQ(mixerWrites(), (QStringList{"70=81", "70=80"}));

    routing_->setLevel(3, 6, 25);
    EXPECT_EQ(upperGrid_->button(3, 6)->label->text(), "25");
    ASSERT_TRUE(routing_->setRoute(3, 6, false));
    QCoreApplication::processEvents();
    EXPECT_FALSE(upperGrid_->button(3, 6)->isChecked());
    EXPECT_TRUE(row(6)->chipLabels().isEmpty());
    EXPECT_EQ(dark, QStringList{"3"});
    EXPECT_FALSE(store().audio->outputUnits()[5]->enableArray[2]);
    EXPECT_EQ(mixerWrites(), (QStringList{"70=e0", "70=ff"}));
}

TEST_F(MatrixWidgetsTest, ImportRedrawsGridAndChips) {
    chips_->recoverLastBuildUI();
    QCoreApplication::processEvents();
    EXPECT_EQ(row(1)->chipLabels().size(), 1);  // the default map: playback 1 → H1
    QVariantList map;
    for (int d = 0; d < 12; ++d) {
        QVariantList r;
        for (int s = 0; s < 16; ++s) r.append(d == 2 && s == 0);  // only M1 → O3
        map.append(QVariant(r));
    }
    routing_->replaceMap(map);
    QCoreApplication::processEvents();
    EXPECT_TRUE(row(1)->chipLabels().isEmpty());
    ASSERT_EQ(row(3)->chipLabels().size(), 1);
    EXPECT_TRUE(upperGrid_->button(1, 3)->isChecked());
    EXPECT_FALSE(upperGrid_->button(1, 1)->isChecked());
}

TEST_F(MatrixWidgetsTest, PresetImportFollowsTheNewMapOrAlertsOnAnotherModel) {
    chips_->recoverLastBuildUI();
    NorvShareHelper::shared().deviceName = "H8";
    // A preset of this model with only M2 → L8 routed.
    QVariantList map;
    for (int d = 0; d < 12; ++d) {
        QVariantList r;
        for (int s = 0; s < 16; ++s) r.append(d == 11 && s == 1);
        map.append(QVariant(r));
    }
    routing_->replaceMap(map);
    const QString path = env_.root() + "/p.norv";
    ASSERT_TRUE(NorvExportFileHelper::shared().exportFile(path));
    routing_->replaceMap(QVariantList{});  // something else meanwhile
    mixerWrites();

    // The strips reload their names when the import's notification comes.
    int applied = 0;
    QObject panel;
    NotificationCenter::defaultCenter().addObserver(&panel, notify::kEntranceFileSuccess,
                                                    [&](const Notification&) { ++applied; });
    EXPECT_EQ(importPreset(path), nullptr);
    EXPECT_EQ(applied, 1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(upperGrid_->button(2, 12)->isChecked());
    EXPECT_FALSE(upperGrid_->button(1, 1)->isChecked());
    ASSERT_EQ(row(12)->chipLabels().size(), 1);
    EXPECT_TRUE(row(1)->chipLabels().isEmpty());
    const QStringList writes = mixerWrites();
    EXPECT_TRUE(writes.contains(QStringLiteral("%1=81").arg(9 + 12 * 11)))
        << writes.join(" ").toStdString();
    EXPECT_TRUE(NorvShareHelper::shared().canReadStatue);

    // The same file on an interface of another name: the alert, and nothing changes.
    NorvShareHelper::shared().deviceName = "H9";
    routing_->replaceMap(QVariantList{});
    QMessageBox* alert = importPreset(path);
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), "警告");
    EXPECT_EQ(alert->informativeText(), "导入的文件设备与当前设备型号不符！");
    EXPECT_EQ(alert->icon(), QMessageBox::Critical);
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons()[0]->text(), "确定");
    EXPECT_TRUE(NorvShareHelper::shared().channelMapArray().isEmpty());  // unchanged
    alert->buttons()[0]->click();

    // A file far larger than any preset (sparse: nothing is written) is refused the same way.
    NorvShareHelper::shared().deviceName = "H8";
    const QString huge = env_.root() + "/huge.norv";
    QFile file(huge);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(2'200'000'000));
    file.close();
    alert = importPreset(huge);
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->informativeText(), "导入的文件设备与当前设备型号不符！");
    EXPECT_TRUE(NorvShareHelper::shared().channelMapArray().isEmpty());
    alert->buttons()[0]->click();
}

TEST(PresetFileNameTest, AddsTheSuffixOnlyWhenMissing) {
    EXPECT_EQ(presetFileName("/tmp/a"), "/tmp/a.norv");
    EXPECT_EQ(presetFileName("/tmp/a.norv"), "/tmp/a.norv");
    EXPECT_EQ(presetFileName("/tmp/a.NORV"), "/tmp/a.NORV");
    EXPECT_EQ(presetFileName("/tmp/a.json"), "/tmp/a.json.norv");
}

}  // namespace
}  // namespace h8::ui
