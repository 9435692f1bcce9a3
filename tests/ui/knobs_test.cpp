// The two volume knobs driven with synthetic scroll and mouse events, offscreen: step arithmetic
// and clamping, the scroll and drag report timing, the hardware poll gate, and the pointer's
// angle as drawn.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/share_helper.h"
#include "core/usb_interface.h"
#include "manual_clock.h"
#include "platform/user_defaults.h"
#include "ui/widgets/lum_circular_view.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_volume_vircle_view.h"

namespace h8::ui {
namespace {

constexpr double kPi = std::numbers::pi;
const QColor kTick(230, 150, 162);

bool pollGate() {
    return NorvShareHelper::shared().canReadStatue;
}

void sendWheel(QWidget* w, QPoint angleDelta, Qt::ScrollPhase phase = Qt::NoScrollPhase) {
    const QPointF pos(5, 5);
    QWheelEvent event(pos, w->mapToGlobal(pos), QPoint(), angleDelta, Qt::NoButton, Qt::NoModifier,
                      phase, false);
    QCoreApplication::sendEvent(w, &event);
}

void scrollUp(QWidget* w) {
    sendWheel(w, QPoint(0, 120));
}

void sendMouse(QWidget* w, QEvent::Type type, QPointF local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, local, w->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

void press(QWidget* w, qreal y) {
    sendMouse(w, QEvent::MouseButtonPress, QPointF(20, y), Qt::LeftButton, Qt::LeftButton);
}

void dragTo(QWidget* w, qreal x, qreal y) {
    sendMouse(w, QEvent::MouseMove, QPointF(x, y), Qt::NoButton, Qt::LeftButton);
}

void release(QWidget* w, qreal y) {
    sendMouse(w, QEvent::MouseButtonRelease, QPointF(20, y), Qt::LeftButton, Qt::NoButton);
}

// Colour distance good enough to tell the pointer's tick from the background.
bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue()) <
           30;
}

// Milliseconds of the test's clock.
qint64 ms(std::chrono::nanoseconds t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t).count();
}

class KnobTest : public ::testing::Test {
protected:
    KnobTest() {
        NorvShareHelper::shared().canReadStatue = true;
        NorvShareHelper::shared().isInit = true;  // the knobs live on a bound interface's panel
        pausePollWhileTurning(knob, poller);      // as the panel does
        knob.resize(60, 60);
        knob.callBack = [this](int level) {
            reports.push_back(level);
            reportTimes.push_back(ms(clock.now()));
        };
        strip.resize(34, 34);
        strip.callBack = [this](int level) { reports.push_back(level); };
    }
    // What the controller does on "rawDeviceRemoved": the poll paused until the next arrival.
    void removeInterface() {
        poller.pause(HardwarePoller::Pause::unbound);
        NorvShareHelper::shared().isInit = false;
    }
    void advance(int milliseconds) { clock.advance(std::chrono::milliseconds(milliseconds)); }

    test::ManualClock clock;
    UsbInterface usb;
    HardwareMonitor monitor{usb, NorvShareHelper::shared(), UserDefaults::standard()};
    HardwarePoller poller{monitor, NorvShareHelper::shared(), clock};
    LumCircularView knob{clock};
    LumVolumeVircleView strip;
    std::vector<int> reports;
    std::vector<qint64> reportTimes;
};

// ---- Steps and clamping ----

TEST_F(KnobTest, FiftySixStepsReachFullScaleExactlyAndClampAtBothEnds) {
    knob.avgCount = 56;
    for (int i = 0; i < 56; ++i) knob.stepLevel(1);
    EXPECT_EQ(knob.progress(), 1.0);
    EXPECT_EQ(knob.reportedLevel(), 56);
    EXPECT_EQ(knob.label->text(), "56");
    EXPECT_DOUBLE_EQ(knob.pointerAngle(), -kPi / 3);

    for (int i = 0; i < 5; ++i) knob.stepLevel(1);
    EXPECT_EQ(knob.progress(), 1.0);
    EXPECT_EQ(knob.reportedLevel(), 56);

    for (int i = 0; i < 56; ++i) knob.stepLevel(-1);
    EXPECT_EQ(knob.progress(), 0.0);
    knob.stepLevel(-1);
    knob.stepLevel(0);
    EXPECT_EQ(knob.progress(), 0.0);
    EXPECT_EQ(knob.label->text(), "0");
    EXPECT_DOUBLE_EQ(knob.pointerAngle(), 4 * kPi / 3);

    strip.avgCount = 56;  // the strip knob reports every step, the clamped ones included
    for (int i = 0; i < 58; ++i) strip.stepLevel(1);
    EXPECT_EQ(strip.progress(), 1.0);
    ASSERT_EQ(reports.size(), 58u);
    EXPECT_EQ(std::vector<int>(reports.begin() + 54, reports.end()),
              (std::vector<int>{55, 56, 56, 56}));
}

TEST_F(KnobTest, ReadoutsAreShownUnclampedAndTheNextStepCarriesTheFraction) {
    knob.avgCount = 56;
    knob.updateLevel(27.5);
    EXPECT_EQ(knob.label->text(), "27");
    knob.stepLevel(1);
    EXPECT_EQ(knob.reportedLevel(), 28);
    EXPECT_DOUBLE_EQ(knob.progress(), 28.5 / 56);

    knob.avgCount = 100;
    knob.updateLevel(120);
    EXPECT_DOUBLE_EQ(knob.progress(), 1.2);
    knob.stepLevel(-1);  // the clamp applies to the stepped level
    EXPECT_EQ(knob.progress(), 1.0);
}

// ---- Scrolling ----

TEST_F(KnobTest, ScrollWithoutVerticalMovementStepsDown) {
    knob.updateLevel(10);
    sendWheel(&knob, QPoint(120, 0));
    EXPECT_EQ(knob.reportedLevel(), 9);
    strip.updateLevel(10);
    sendWheel(&strip, QPoint(0, 0));
    EXPECT_EQ(strip.reportedLevel(), 9);

    // A touchpad's begin/end markers carry no movement and are not steps.
    sendWheel(&knob, QPoint(), Qt::ScrollBegin);
    sendWheel(&knob, QPoint(), Qt::ScrollEnd);
    EXPECT_EQ(knob.reportedLevel(), 9);
}

TEST_F(KnobTest, ScrollRunReportsOnceSeventyMillisecondsAfterTheLastEvent) {
    qint64 lastEvent = 0;
    for (int i = 0; i < 10; ++i) {
        if (i > 0) advance(10);
        scrollUp(&knob);
        lastEvent = ms(clock.now());
        EXPECT_FALSE(pollGate());
        EXPECT_TRUE(reports.empty()) << "reported during the run, after event " << i;
    }
    advance(300);  // nothing more follows the one report
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], 10);
    EXPECT_GE(reportTimes[0] - lastEvent, 65);
    EXPECT_LT(reportTimes[0] - lastEvent, 300);
    EXPECT_TRUE(pollGate());
}

TEST_F(KnobTest, ScrollingTheStripKnobReportsEveryStep) {
    scrollUp(&strip);
    scrollUp(&strip);
    sendWheel(&strip, QPoint(0, -120));
    scrollUp(&strip);
    EXPECT_EQ(reports, (std::vector<int>{1, 2, 1, 2}));
    EXPECT_TRUE(pollGate());
}

TEST_F(KnobTest, RemovingTheKnobWithAReportPendingResumesThePoll) {
    auto doomed = std::make_unique<LumCircularView>(clock);
    pausePollWhileTurning(*doomed, poller);
    scrollUp(doomed.get());
    EXPECT_FALSE(pollGate());
    doomed.reset();
    EXPECT_TRUE(pollGate());
}

// ---- Dragging ----

TEST_F(KnobTest, DragStepsOncePerMoveAndReportsOnReleaseThenResumesAfterOneSecond) {
    press(&knob, 50);
    EXPECT_TRUE(pollGate());
    dragTo(&knob, 20, 49);  // up by 1 px
    dragTo(&knob, 20, 30);  // up by 19 px: still one step
    dragTo(&knob, 20, 29);
    EXPECT_EQ(knob.reportedLevel(), 3);
    EXPECT_FALSE(pollGate());
    dragTo(&knob, 40, 29);  // sideways: no step
    EXPECT_EQ(knob.reportedLevel(), 3);
    dragTo(&knob, 40, 35);  // down
    EXPECT_EQ(knob.reportedLevel(), 2);
    EXPECT_TRUE(reports.empty());

    const qint64 releasedAt = ms(clock.now());
    release(&knob, 35);
    EXPECT_EQ(reports, std::vector<int>{2});
    EXPECT_FALSE(pollGate());
    advance(700);
    EXPECT_FALSE(pollGate());
    ASSERT_TRUE(
        clock.advanceUntil(pollGate, std::chrono::milliseconds(1), std::chrono::seconds(2)));
    EXPECT_GE(ms(clock.now()) - releasedAt, 950);
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(KnobTest, ASecondDragWithinASecondOfTheFirstKeepsThePollPaused) {
    press(&knob, 50);
    dragTo(&knob, 20, 45);
    release(&knob, 45);
    advance(500);
    press(&knob, 45);
    dragTo(&knob, 20, 40);
    // The first release's resume is due now; the second drag is still under way.
    advance(600);
    EXPECT_FALSE(pollGate());
    release(&knob, 40);
    advance(1000);
    EXPECT_TRUE(pollGate());
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(KnobTest, StripKnobStepsOnEveryThirdMoveWithVerticalMovement) {
    press(&strip, 30);
    dragTo(&strip, 20, 29);
    dragTo(&strip, 25, 29);  // sideways: not counted
    dragTo(&strip, 20, 28);
    EXPECT_TRUE(reports.empty());
    dragTo(&strip, 20, 27);
    EXPECT_EQ(reports, std::vector<int>{1});
    dragTo(&strip, 20, 26);
    dragTo(&strip, 20, 25);  // five counted moves: one report
    EXPECT_EQ(reports.size(), 1u);
    dragTo(&strip, 20, 24);  // the sixth: a second
    EXPECT_EQ(reports, (std::vector<int>{1, 2}));
    dragTo(&strip, 20, 30);
    dragTo(&strip, 20, 31);
    dragTo(&strip, 20, 32);  // down
    EXPECT_EQ(reports, (std::vector<int>{1, 2, 1}));
    release(&strip, 32);
    EXPECT_EQ(reports.size(), 3u);
    EXPECT_TRUE(pollGate());
}

// ---- The interface removed while a knob is turned ----

TEST_F(KnobTest, PendingResumesLeaveThePollOffOnceTheInterfaceIsGone) {
    // A drag released just before the removal: its 1 s resume comes after it.
    press(&knob, 50);
    dragTo(&knob, 20, 40);
    release(&knob, 40);
    removeInterface();
    advance(1500);
    EXPECT_FALSE(pollGate());

    // A scroll run cut by the removal still reports, but does not reopen the poll.
    scrollUp(&knob);
    removeInterface();
    advance(1000);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_FALSE(pollGate());

    // Nor does a knob destroyed with its report pending.
    auto doomed = std::make_unique<LumCircularView>(clock);
    pausePollWhileTurning(*doomed, poller);
    scrollUp(doomed.get());
    removeInterface();
    doomed.reset();
    EXPECT_FALSE(pollGate());
}

// ---- Disabled knob ----

TEST_F(KnobTest, KnobThatCannotTurnIgnoresScrollDragAndRelease) {
    knob.canWheel = false;
    knob.updateLevel(40);
    scrollUp(&knob);
    sendWheel(&knob, QPoint(0, -120));
    press(&knob, 50);
    dragTo(&knob, 20, 40);
    dragTo(&knob, 20, 60);
    release(&knob, 60);
    EXPECT_TRUE(pollGate());
    advance(120);
    EXPECT_EQ(knob.reportedLevel(), 40);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(pollGate());
}

// ---- Angle and drawing ----

TEST_F(KnobTest, HalfScalePointsStraightUp) {
    knob.avgCount = 56;
    knob.updateLevel(28);
    EXPECT_DOUBLE_EQ(knob.pointerAngle(), kPi / 2);
    strip.updateLevel(50);
    EXPECT_DOUBLE_EQ(strip.pointerAngle(), kPi / 2 + 2.0 / 34);
}

TEST_F(KnobTest, FirstPaintShowsLevelZeroThenThePointerFollowsTheLevel) {
    knob.avgCount = 56;
    knob.updateLevel(28);
    const QImage first = knob.grab().toImage();
    EXPECT_EQ(knob.progress(), 0.0);
    EXPECT_EQ(knob.label->text(), "0");
    // Level 0: the tick sits at the lower left, 240° round from 3 o'clock.
    EXPECT_TRUE(near(first.pixelColor(17, 51), kTick))
        << first.pixelColor(17, 51).name().toStdString();
    EXPECT_FALSE(near(first.pixelColor(29, 4), kTick));

    knob.updateLevel(28);
    const QImage half = knob.grab().toImage();
    EXPECT_EQ(knob.label->text(), "28");
    EXPECT_TRUE(near(half.pixelColor(29, 4), kTick));
    EXPECT_TRUE(near(half.pixelColor(30, 4), kTick));
    EXPECT_FALSE(near(half.pixelColor(17, 51), kTick));
}

// A factory interface reads gain 0: the knob is first drawn at level 0 and every later readout
// repeats 0, so the number must come from the first drawing itself.
TEST_F(KnobTest, FirstPaintAtLevelZeroShowsZero) {
    knob.avgCount = 56;
    knob.grab();
    EXPECT_EQ(knob.label->text(), "0");
    knob.updateLevel(0);
    knob.grab();
    EXPECT_EQ(knob.label->text(), "0");
}

TEST_F(KnobTest, StripKnobLevelArcRunsClockwiseFromTheLowerLeft) {
    strip.resize(60, 60);
    strip.updateLevel(50);  // the strip knob keeps a level set before its first paint
    const QImage img = strip.grab().toImage();
    const QColor left = img.pixelColor(0, 30);    // 180°: inside the level arc
    const QColor right = img.pixelColor(59, 30);  // 0°: track only
    EXPECT_GT(left.alpha(), 0);
    EXPECT_GT(right.alpha(), 0);
    EXPECT_GT(left.red(), 100);
    EXPECT_LT(right.red(), 40);
}

}  // namespace
}  // namespace h8::ui
