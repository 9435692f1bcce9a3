// The routing model and its route chips with the routing engine and the emulated H8: what each
// edit posts, sends and stores, in order.

#include "core/routing_matrix.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include "core/audio_helper.h"
#include "core/notification_names.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "plugged_interface_test.h"
#include "temp_env.h"

namespace h8 {
namespace {

// Records the panel notifications as "name row/col" or "name n".
class PanelEvents : public QObject {
public:
    PanelEvents() {
        for (const char* name :
             {notify::kDropZoneAddDrag, notify::kDropZoneRemoveDrag, notify::kGridViewBtnIsOn,
              notify::kIndexQuoteAddition, notify::kIndexQuoteSubtraction,
              notify::kMouseExitedChannelLabel}) {
            NotificationCenter::defaultCenter().addObserver(
                this, name, [this, name](const Notification& n) {
                    if (const auto x = crosspointFromPayload(n.object)) {
                        log.append(QStringLiteral("%1 %2/%3").arg(name).arg(x->row).arg(x->col));
                    } else {
                        log.append(QStringLiteral("%1 %2").arg(name).arg(n.object.toInt()));
                    }
                });
        }
    }
    QStringList log;
};

class RoutingMatrixTest : public test::PluggedInterfaceTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PluggedInterfaceTest::SetUp());
        backend_.setDevices({test::fakeInterface(7, 16)});
    }
    void TearDown() override {
        chips_.reset();
        PluggedInterfaceTest::TearDown();
    }
    void build(bool withEngine = true) {
        newRouting();
        if (withEngine) createEngine();
        chips_ = std::make_unique<RouteChips>(*routing_, store().indexQuoteArray,
                                              NotificationCenter::defaultCenter());
        usb_.model().clearTransfers();
    }
    // The scroll wheel over a grid button with vertical delta `d`: a level step while it is on.
    void scroll(int row, int col, double d) {
        if (routing_->isOn(row, col))
            routing_->setLevel(row, col, routing_->level(row, col) + crosspointScrollStep(d));
    }
    // The mixer writes since the last call, as "wValue=byte".
    QStringList mixerWrites() {
        QStringList writes;
        for (const auto& t : usb_.model().transfers()) {
            if (t.setup.requestType == 0x40 && t.setup.index == 0x001E) {
                writes.append(
                    QStringLiteral("%1=%2").arg(t.setup.value).arg(t.data[0], 2, 16, QChar('0')));
            }
        }
        usb_.model().clearTransfers();
        return writes;
    }
    static bool storedRoute(int row, int col) {
        return store().channelMapArray()[col - 1].toList()[row - 1].toBool();
    }

    std::unique_ptr<RouteChips> chips_;
};

TEST_F(RoutingMatrixTest, DropSendsTheLevelThenTheCommit) {
    build();
    PanelEvents events;
    // Handle 1 of the microphone strip onto L1: source code 8, destination 4.
    ASSERT_TRUE(routing_->drop(1, 5));
    EXPECT_EQ(mixerWrites(), (QStringList{"56=81", "56=80"}));
    EXPECT_EQ(events.log, (QStringList{"indexQuoteAdditionName 1", "dropZoneAddDragName 1/5"}));
    EXPECT_TRUE(routing_->isOn(1, 5));
    EXPECT_EQ(chips_->chips(5), QList<int>{1});
    EXPECT_TRUE(storedRoute(1, 5));
    EXPECT_EQ(UserDefaults::standard().floatForKey("volume15"), 100.0f);

    // A second drop of the same source on the same row adds nothing.
    EXPECT_FALSE(routing_->drop(1, 5));
    EXPECT_TRUE(mixerWrites().isEmpty());
    EXPECT_EQ(store().indexQuoteArray[0], 1);
}

TEST_F(RoutingMatrixTest, RemovingChipsUncountsAndCommitsOff) {
    build();
    routing_->drop(6, 3);  // playback 2 → O3: code 1, destination 2 → wValue 25
    routing_->drop(6, 4);
    mixerWrites();
    PanelEvents events;
    routing_->removeChip(6, 3, ChipRemoval::doubleClick);
    EXPECT_EQ(events.log,
              (QStringList{"mouseExitedChannelLabel 6/3", "dropZoneRemoveDragName 6/3"}));
    EXPECT_EQ(mixerWrites(), QStringList{"25=ff"});
    EXPECT_FALSE(routing_->isOn(6, 3));
    events.log.clear();
    routing_->removeChip(6, 4, ChipRemoval::dragOut);
    // The handle goes dark only with its last chip.
    EXPECT_EQ(events.log,
              (QStringList{"indexQuoteSubtractionName 6", "dropZoneRemoveDragName 6/4"}));
    EXPECT_EQ(mixerWrites(), QStringList{"37=ff"});
    EXPECT_FALSE(storedRoute(6, 4));
}

TEST_F(RoutingMatrixTest, GridClickOnAddsAChipAndClickOffRemovesIt) {
    build();
    PanelEvents events;
    routing_->toggle(3, 12);  // OTG in 3 → L8: code 10, destination 11 → wValue 142
    EXPECT_EQ(mixerWrites(), (QStringList{"142=81", "142=80"}));
    EXPECT_EQ(chips_->chips(12), QList<int>{3});
    // The chip is added (and counted) while "gridViewBtnIsOnName" is being delivered.
    EXPECT_EQ(events.log, (QStringList{"indexQuoteAdditionName 3", "gridViewBtnIsOnName 3/12"}));
    routing_->toggle(3, 12);
    EXPECT_TRUE(chips_->chips(12).isEmpty());
    EXPECT_EQ(mixerWrites(), (QStringList{"142=ff", "142=ff"}));
    EXPECT_FALSE(storedRoute(3, 12));
}

TEST_F(RoutingMatrixTest, ScrollStepsClampAndOnlyWhileOn) {
    build();
    scroll(1, 1, 20);  // off: nothing
    EXPECT_TRUE(mixerWrites().isEmpty());
    routing_->toggle(1, 1);
    mixerWrites();
    scroll(1, 1, 20);  // stays at 100
    scroll(1, 1, -20);
    scroll(1, 1, -5);
    scroll(1, 1, 0);  // a zero delta lowers by 1
    EXPECT_FLOAT_EQ(routing_->level(1, 1), 96);
    EXPECT_EQ(mixerWrites(), (QStringList{"8=81", "8=84", "8=85", "8=86"}));
    EXPECT_FLOAT_EQ(UserDefaults::standard().floatForKey("volume11"), 96);
    for (int i = 0; i < 60; ++i) scroll(1, 1, -11);
    EXPECT_FLOAT_EQ(routing_->level(1, 1), 0);
    EXPECT_EQ(mixerWrites().last(), "8=ff");  // 0 % is silent
}

TEST_F(RoutingMatrixTest, RebuildFromTheStoredMapSendsStoredLevels) {
    // No map stored: playback 1 and 2 to the headphones, whose levels were never stored.
    build(false);
    chips_->recoverLastBuildUI();
    routing_->sendRoutes();
    EXPECT_EQ(chips_->chips(1), QList<int>{5});
    EXPECT_EQ(chips_->chips(2), QList<int>{6});
    EXPECT_EQ(mixerWrites(), (QStringList{"0=81", "13=81"}));  // shown and sent at 100 %
    EXPECT_TRUE(routing_->isOn(5, 1));

    routing_->setLevel(5, 1, 50);
    routing_->setLevel(6, 2, 0);
    mixerWrites();
    routing_->replaceMap(std::nullopt);        // an import without a map: the chips anew
    EXPECT_EQ(store().indexQuoteArray[4], 1);  // zeroed, then counted again
    EXPECT_EQ(mixerWrites(), (QStringList{"0=c0", "13=ff"}));
}

TEST_F(RoutingMatrixTest, WithoutAnEngineNothingIsCommitted) {
    build(false);
    routing_->drop(2, 7);
    // Only the grid's level request goes out.
    EXPECT_EQ(mixerWrites(), QStringList{QStringLiteral("%1=81").arg(9 + 12 * 6)});
    EXPECT_FALSE(storedRoute(2, 7));
    EXPECT_TRUE(routing_->isOn(2, 7));
}

TEST_F(RoutingMatrixTest, ShortStoredMapsAreReadAsFarAsTheyGoAndHandWritten01AsMeant) {
    // A short list counts what it has; a hand edit's 0 and 1 are off and on.
    UserDefaults::standard().setObject(
        kChannelMapKey,
        QVariantList{QVariant(QVariantList{0, 0, 0, 0, 1}), QVariant(QVariantList{true})});
    build(false);
    EXPECT_TRUE(routing_->isOn(5, 1));
    EXPECT_FALSE(routing_->isOn(1, 1));
    EXPECT_TRUE(routing_->isOn(1, 2));
    EXPECT_FALSE(routing_->isOn(1, 12));
    chips_->recoverLastBuildUI();
    for (int col = 1; col <= 12; ++col) {
        EXPECT_EQ(chips_->chips(col), col == 1   ? QList<int>{5}
                                      : col == 2 ? QList<int>{1}
                                                 : QList<int>{})
            << col;
    }
    EXPECT_TRUE(QDir(env_.configDir()).entryList({"*unreadable-map*"}).isEmpty());
}

TEST_F(RoutingMatrixTest, AStoredMapThatCannotBeReadIsKeptBesideAndTheDefaultMapIsUsed) {
    // Read as "every route off", it would silence the interface at the next bind.
    const QVariantList odd{QVariant("x"), QVariant(QVariantList{true, 2})};
    UserDefaults::standard().setObject(kChannelMapKey, odd);
    build(false);
    EXPECT_TRUE(routing_->isOn(5, 1));  // the default map: playback 1-2 to the headphones
    EXPECT_TRUE(routing_->isOn(6, 2));
    EXPECT_FALSE(routing_->isOn(1, 2));
    const QStringList kept = QDir(env_.configDir()).entryList({"defaults.json.unreadable-map-*"});
    ASSERT_EQ(kept.size(), 1);
    QFile copy(env_.configDir() + "/" + kept[0]);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(copy.readAll()).array().toVariantList(), odd);
}

TEST(DropTest, FiveUnitMargin) {
    const QRectF row(0, 0, 100, 20);
    const QSizeF chip(17, 17);
    EXPECT_TRUE(dropHits({-5, -5}, chip, row));
    EXPECT_FALSE(dropHits({-5.5, 0}, chip, row));
    EXPECT_TRUE(dropHits({100 + 5 - 17, 20 + 5 - 17}, chip, row));
    EXPECT_FALSE(dropHits({100 + 5 - 17 + 0.5, 0}, chip, row));
    EXPECT_FALSE(dropHits({0, 8.5}, chip, row));
    // A pair (17 × 41) never fits a single 20-point row, only a pair of rows.
    EXPECT_FALSE(dropHits({0, 0}, {17, 41}, row));
    EXPECT_TRUE(dropHits({0, 0}, {17, 41}, QRectF(0, 0, 100, 40)));
}

TEST(PayloadTest, OnlyIntegerRowAndColCount) {
    EXPECT_EQ(crosspointFromPayload(crosspointPayload(3, 4)), (Crosspoint{3, 4}));
    EXPECT_FALSE(crosspointFromPayload(QVariantMap{{"row", "3"}, {"col", 4}}));
    EXPECT_FALSE(crosspointFromPayload(QVariant(5)));
    EXPECT_EQ(sourceHandleText(4), "4");
    EXPECT_EQ(sourceHandleText(5), "1");
    EXPECT_EQ(sourceHandleText(12), "8");
}

}  // namespace
}  // namespace h8
