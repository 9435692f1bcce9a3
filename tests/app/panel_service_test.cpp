// The panel's bus interface in-process, against the window on the emulated H8: an edit from the
// bus shows in the window at once (grid, chips, mute buttons, the OTG knob), reaches the
// interface, is stored and is one undo step; a refused call changes nothing. The bus itself is
// exercised by tests/dbus/panel_bus_test.py; here the calls are made on the service directly.
#include "panel_service.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QTest>
#include <cmath>

#include "core/routing_matrix.h"
#include "core/routing_model.h"
#include "emulated_panel_test.h"
#include "ui/sections/control_panels.h"
#include "ui/sections/main_contain_view.h"
#include "ui/widgets/lum_circular_view.h"
#include "ui/widgets/norv_button_view.h"

namespace h8 {
namespace {

class PanelServiceTest : public test::EmulatedPanelTest {
protected:
    void SetUp() override {
        EmulatedPanelTest::SetUp();
        usb_.plug();
        launchWindow();
        advance(std::chrono::milliseconds(2000));  // the sample-rate sync enables the menus
        service_ = std::make_unique<PanelService>(QDBusConnection(QStringLiteral("no bus")),
                                                  Target::emulated(env_.root() + "/h8.json"));
        service_->attach(window_.get(), &usb_.model());
    }
    void TearDown() override {
        service_.reset();
        EmulatedPanelTest::TearDown();
    }
    ui::NorvMainContainView* panel() { return controller()->norvMainContaiView; }
    uint8_t mixerByte(int row, int col) {
        return usb_.model().state().mixer[sourceCodeForRow(row - 1) + 12 * (col - 1)];
    }
    static std::string errorOf(const BusResult& r) { return r ? r->name : "none"; }

    std::unique_ptr<PanelService> service_;
};

TEST_F(PanelServiceTest, ARouteAndItsLevelShowInTheWindowReachTheInterfaceAndUndoStepByStep) {
    silenceMixer();
    EXPECT_FALSE(service_->setRoute(7, 1, true));
    EXPECT_TRUE(panel()->chips()->hasChip(7, 1));
    EXPECT_TRUE(panel()->routing().isOn(7, 1));
    EXPECT_EQ(mixerByte(7, 1), 0x80);
    EXPECT_TRUE(service_->value("CanUndo").toBool());

    // Two levels of one crosspoint in a row are two steps, not one scroll gesture.
    EXPECT_FALSE(service_->setLevel(7, 1, 40));
    EXPECT_FALSE(service_->setLevel(7, 1, 30));
    EXPECT_EQ(mixerByte(7, 1), crosspointLevelByte(30));
    EXPECT_EQ(storedCrosspointLevel(7, 1), 30.0f);
    EXPECT_FALSE(service_->undo());
    EXPECT_EQ(panel()->routing().level(7, 1), 40.0f);
    EXPECT_EQ(mixerByte(7, 1), crosspointLevelByte(40));
    EXPECT_FALSE(service_->undo());
    EXPECT_FALSE(service_->undo());
    EXPECT_FALSE(panel()->chips()->hasChip(7, 1));
    EXPECT_EQ(mixerByte(7, 1), 0xFF);
    // Three calls, three steps: nothing older to undo.
    EXPECT_EQ(errorOf(service_->undo()), bus::kErrorNothingToUndo);
}

TEST_F(PanelServiceTest, MutesAndTheOtgVolumeShowOnTheButtonsAndTheKnobAtOnce) {
    EXPECT_FALSE(service_->setMute(QStringLiteral("input2"), true));
    EXPECT_FALSE(service_->setMute(QStringLiteral("headphones"), true));
    EXPECT_FALSE(service_->setOtgVolume(30));
    EXPECT_TRUE(panel()->micInView->btn2Mute->state());
    EXPECT_FALSE(panel()->micInView->btnMute->state());
    EXPECT_TRUE(panel()->outputView->out12butn->state());
    EXPECT_EQ(panel()->outputView->output34VolumeView->reportedLevel(), 30);
    EXPECT_EQ(usb_.model().state().mute.at(0x0102), 1);  // input group 1, channel 2
    EXPECT_EQ(UserDefaults::standard().integerForKey("HPMKey"), 1);
    EXPECT_EQ(service_->value("OtgVolume").toUInt(), 30u);
    EXPECT_TRUE(service_->value("Input2Muted").toBool());

    // A click on the button is seen by the bus the same way.
    panel()->micInView->btn2Mute->selectHandler(false);
    EXPECT_FALSE(service_->value("Input2Muted").toBool());
}

TEST_F(PanelServiceTest, RefusedCallsChangeNothing) {
    const QVariantMap before = service_->properties();
    const auto transfers = usb_.model().transfers().size();
    EXPECT_EQ(errorOf(service_->setRoute(0, 1, true)), bus::kErrorInvalidArgument);
    EXPECT_EQ(errorOf(service_->setLevel(1, 1, 100.01)), bus::kErrorInvalidArgument);
    EXPECT_EQ(errorOf(service_->setLevel(1, 1, std::nan(""))), bus::kErrorInvalidArgument);
    EXPECT_EQ(errorOf(service_->setMute(QStringLiteral("hp"), true)), bus::kErrorInvalidArgument);
    EXPECT_EQ(errorOf(service_->setSampleRate(192000)), bus::kErrorUnsupportedRate);
    EXPECT_EQ(errorOf(service_->importPreset(QStringLiteral("relative.norv"))),
              bus::kErrorInvalidArgument);
    EXPECT_EQ(errorOf(service_->setEmulatedControl("gain1", "256")), bus::kErrorInvalidArgument);
    EXPECT_EQ(service_->properties(), before);
    EXPECT_EQ(usb_.model().transfers().size(), transfers);

    unplug();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !controller()->isBound(); }, 5000));
    EXPECT_EQ(errorOf(service_->setRoute(1, 1, true)), bus::kErrorNotConnected);
    EXPECT_EQ(errorOf(service_->refresh()), bus::kErrorNotConnected);
    EXPECT_FALSE(service_->value("Bound").toBool());
    EXPECT_EQ(service_->value("Serial").toString(), "");
}

TEST_F(PanelServiceTest, ThePhysicalControlsOfTheEmulatedH8ShowAfterARefresh) {
    EXPECT_FALSE(service_->setEmulatedControl("48v2", "on"));
    EXPECT_FALSE(service_->refresh());
    EXPECT_TRUE(service_->value("Phantom2").toBool());
    QList<double> levels;
    EXPECT_FALSE(service_->inputLevels(&levels));
    EXPECT_FALSE(levels.isEmpty());
}

}  // namespace
}  // namespace h8
