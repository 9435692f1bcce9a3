// Decoding of the hardware state and the crosspoint level conversion, at their boundaries, and
// the stored route map.

#include "core/share_helper.h"

#include <gtest/gtest.h>

#include "platform/user_defaults.h"
#include "temp_env.h"

namespace h8 {
namespace {

using Store = NorvShareHelper;

TEST(BinaryStringTest, PadsToSixDigitsAndSkipsNonDigits) {
    EXPECT_EQ(Store::binaryStringToArrayWithBinaryString("101"),
              (std::vector<int>{0, 0, 0, 1, 0, 1}));
    EXPECT_EQ(Store::binaryStringToArrayWithBinaryString(""), std::vector<int>(6, 0));
    EXPECT_EQ(Store::binaryStringToArrayWithBinaryString("1x0"),
              (std::vector<int>{0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(Store::binaryStringToArrayWithBinaryString("11111111"), std::vector<int>(8, 1));
    // Any decimal digit counts as itself.
    EXPECT_EQ(Store::binaryStringToArrayWithBinaryString("9"),
              (std::vector<int>{0, 0, 0, 0, 0, 9}));
}

TEST(InputGainTest, SegmentBoundaries) {
    EXPECT_DOUBLE_EQ(Store::getVolume1(0), 0);
    EXPECT_DOUBLE_EQ(Store::getVolume1(1), 1.0 / 14 * 6);
    EXPECT_DOUBLE_EQ(Store::getVolume1(14), 6);
    EXPECT_DOUBLE_EQ(Store::getVolume1(15), 6.2);
    EXPECT_DOUBLE_EQ(Store::getVolume1(39), 11);
    EXPECT_DOUBLE_EQ(Store::getVolume1(40), 11 + 5.0 / 27);
    EXPECT_DOUBLE_EQ(Store::getVolume1(66), 16);
    EXPECT_DOUBLE_EQ(Store::getVolume1(95), 22);
    EXPECT_DOUBLE_EQ(Store::getVolume1(124), 28);
    EXPECT_DOUBLE_EQ(Store::getVolume1(153), 34);
    EXPECT_DOUBLE_EQ(Store::getVolume1(180), 40);
    EXPECT_DOUBLE_EQ(Store::getVolume1(210), 45);
    EXPECT_DOUBLE_EQ(Store::getVolume1(235), 50);
    EXPECT_DOUBLE_EQ(Store::getVolume1(249), 56);
    EXPECT_DOUBLE_EQ(Store::getVolume1(250), 56);
    EXPECT_DOUBLE_EQ(Store::getVolume1(255), 56);
    // Never decreasing over the whole range.
    for (int b = 1; b < 256; ++b) EXPECT_GE(Store::getVolume1(b), Store::getVolume1(b - 1)) << b;
}

TEST(OutputLevelTest, SegmentBoundaries) {
    EXPECT_DOUBLE_EQ(Store::getVolume(0), 0);
    EXPECT_DOUBLE_EQ(Store::getVolume(15), 10);
    EXPECT_DOUBLE_EQ(Store::getVolume(43), 20);
    EXPECT_DOUBLE_EQ(Store::getVolume(71), 30);
    // The 72..97 segment stops short of 40.
    EXPECT_NEAR(Store::getVolume(97), 39.285714, 1e-6);
    EXPECT_NEAR(Store::getVolume(98), 40.370370, 1e-6);
    EXPECT_DOUBLE_EQ(Store::getVolume(124), 50);
    EXPECT_DOUBLE_EQ(Store::getVolume(239), 90);
    EXPECT_DOUBLE_EQ(Store::getVolume(240), 91);
    EXPECT_DOUBLE_EQ(Store::getVolume(249), 100);
    EXPECT_DOUBLE_EQ(Store::getVolume(250), 100);
    EXPECT_DOUBLE_EQ(Store::getVolume(255), 100);
}

TEST(PercentToLevelTest, DocumentedPointsAndOutOfRange) {
    const std::pair<int, int> points[] = {{0, 255},   {1, 254},  {2, 252},   {25, 224},
                                          {50, 192},  {75, 161}, {99, 130},  {100, 129},
                                          {101, 255}, {-1, 255}, {1000, 255}};
    for (const auto& [percent, level] : points) {
        EXPECT_EQ(HexPercentageConverter::percentToLevel(percent), level) << percent;
    }
    // Louder is a smaller byte, never silent inside 1..100.
    for (int p = 2; p <= 100; ++p) {
        EXPECT_LT(HexPercentageConverter::percentToLevel(p),
                  HexPercentageConverter::percentToLevel(p - 1));
    }
}

class StoreTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        store().resetForTesting();
    }
    static Store& store() { return Store::shared(); }
    test::TempEnv env_;
};

TEST_F(StoreTest, HardwareStateDecodesSwitchBitsAndLevels) {
    store().applyHardwareState({0b000011, 14, 250, 124});
    EXPECT_EQ(store().mic48VState, 1);
    EXPECT_EQ(store().mic248VState, 1);
    EXPECT_EQ(store().micInstState + store().mic2InstState + store().micInChangeState +
                  store().mic2InChangeState,
              0);
    EXPECT_DOUBLE_EQ(store().micIn1Volume, 6);
    EXPECT_DOUBLE_EQ(store().micIn2Volume, 56);
    EXPECT_DOUBLE_EQ(store().micOutVolume, 50);
    EXPECT_FLOAT_EQ(store().hpratio, 0.5f);

    store().applyHardwareState({0b100000, 0, 0, 0});
    EXPECT_EQ(store().micInChangeState, 1);
    EXPECT_EQ(store().mic2InChangeState + store().micInstState + store().mic2InstState +
                  store().mic48VState + store().mic248VState,
              0);

    store().applyHardwareState({0b011100, 0, 0, 0});
    EXPECT_EQ(store().mic2InChangeState, 1);
    EXPECT_EQ(store().micInstState, 1);
    EXPECT_EQ(store().mic2InstState, 1);
    EXPECT_EQ(store().micInChangeState, 0);

    // With bit 6 set the text has seven digits and its first six are used as they stand.
    store().applyHardwareState({0b1000001, 0, 0, 0});
    EXPECT_EQ(store().micInChangeState, 1);
    EXPECT_EQ(store().mic248VState, 0);
}

TEST_F(StoreTest, FailedHardwareReadStoresZeros) {
    store().applyHardwareState({0xFF, 200, 200, 200});
    store().getHardWareState();  // no device: the read fails and zeros are stored
    EXPECT_EQ(store().micInChangeState + store().micInstState + store().mic48VState, 0);
    EXPECT_DOUBLE_EQ(store().micIn1Volume, 0);
    EXPECT_DOUBLE_EQ(store().micOutVolume, 0);
    EXPECT_FLOAT_EQ(store().hpratio, 0);
}

TEST_F(StoreTest, RouteMapDefaultsThenPersistsAcrossRestart) {
    const QVariantList fresh = store().channelMapArray();
    ASSERT_EQ(fresh.size(), 16);
    for (int row = 0; row < 16; ++row) {
        const QVariantList r = fresh[row].toList();
        ASSERT_EQ(r.size(), 16);
        for (int col = 0; col < 16; ++col) {
            EXPECT_EQ(r[col].toBool(), (row == 0 && col == 4) || (row == 1 && col == 5))
                << row << col;
        }
    }

    QVariantList map;
    for (int row = 0; row < 12; ++row) {
        QVariantList r;
        for (int col = 0; col < 16; ++col) r.append(col == row);
        map.append(QVariant(r));
    }
    store().setChannelMapArray(map);
    EXPECT_EQ(store().channelMapArray(), map);

    UserDefaults::setStandard(nullptr);  // as a new process would read it
    const QVariantList reread = store().channelMapArray();
    ASSERT_EQ(reread.size(), 12);
    EXPECT_EQ(reread[3].toList()[3].typeId(), QMetaType::Bool);
    EXPECT_EQ(reread, map);
}

TEST_F(StoreTest, RouteMapThatIsNotAListFallsBackToTheDefault) {
    UserDefaults::standard().setString(kChannelMapKey, "garbage");
    EXPECT_EQ(store().channelMapArray().size(), 16);
}

}  // namespace
}  // namespace h8
