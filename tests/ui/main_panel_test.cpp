// The main panel on the emulated H8: the hardware poll and what it shows, the meters, the
// control panels' requests and restores, and the poll pausing while a knob is turned.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWheelEvent>

#include "core/audio_helper.h"
#include "core/device_controls.h"
#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "main_panel_fixture.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/matrix/destination_view.h"
#include "ui/matrix/grid_view.h"
#include "ui/panels/bottom_view.h"
#include "ui/sections/control_panels.h"
#include "ui/sections/main_contain_view.h"
#include "ui/sections/matrix_panels.h"
#include "ui/strips/channel_strips.h"
#include "ui/strips/level_bar.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_circular_view.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/norv_button_view.h"

namespace h8::ui {
namespace {

class MainPanelTest : public test::MainPanelFixture {
protected:
    // One render cycle of 100 frames: level 0.5 on every input, and `channel2` (0.08: level
    // 0.8) on input 2, the OTG input's top meter.
    void deliverWithInput2(float channel2) {
        std::vector<float> samples(100 * 16, 0.05f);
        for (size_t f = 0; f < 100; ++f) samples[f * 16 + 2] = channel2;
        backend_.deliver(samples.data(), 100, 16);
    }
};

TEST_F(MainPanelTest, CreationRestoresStoredSettingsAndRebuildsTheRoutes) {
    UserDefaults::standard().setInteger(kMicMute2Key, 1);
    UserDefaults::standard().setInteger(kOtgOutVolumeKey, 50);
    usb_.model().clearTransfers();
    build();
    const emulated::H8State s = usb_.model().state();
    EXPECT_EQ(s.mute.at(0x0102), 1);
    EXPECT_EQ(s.volumeWire.at(0x0003), 0xBF);  // 50 % is level 64
    EXPECT_TRUE(panel_->micInView->btn2Mute->state());
    EXPECT_EQ(panel_->outputView->output34VolumeView->reportedLevel(), 50);
    // The default routes (playback 1-2 to the headphones) were sent at 100 %.
    EXPECT_EQ(s.mixer[0], 0x81);
    EXPECT_EQ(s.mixer[13], 0x81);

    // A later arrival repeats only the output panel's restore.
    NotificationCenter::defaultCenter().post(notify::kRawDeviceAdded, {}, {{"uid", QString()}});
    EXPECT_EQ(
        wire(),
        (QStringList{"usb> 40 03 03 00 00 00 01 00 | bf", "usb> 40 03 04 00 00 00 01 00 | bf",
                     "usb> 40 03 01 00 01 00 01 00 | 00", "usb> 40 03 02 00 01 00 01 00 | 00"}));
}

TEST_F(MainPanelTest, PhysicalControlsShowWithinOnePoll) {
    build();
    usb_.model().setGainCode(1, 15);
    usb_.model().setPhantomPower(1, true);
    usb_.model().setInputType(2, true);
    usb_.model().setOtgPlugged(true);
    usb_.model().setHeadphoneLevelCode(124);
    poller().tick();
    EXPECT_EQ(panel_->micInView->inputVolumeView->label->text(), "6");  // 6.2 dB
    EXPECT_EQ(panel_->micInView->btn48V->textColor(), QColor(0xff, 0x83, 0x13));
    EXPECT_EQ(panel_->micInView->btn248V->textColor(), QColor(Qt::gray));
    EXPECT_EQ(panel_->bottomVew->statuel->text(), "OTG MAX:已连接");
    EXPECT_FLOAT_EQ(store().hpratio, 0.5f);
    EXPECT_EQ(wire().size(), 3u);  // hardware state, OTG, headphone mute

    const auto picture = [](const QLabel* l) { return l->pixmap().toImage(); };
    EXPECT_EQ(picture(panel_->micInView->btn2State), image("yuantou", QSize(20, 20)).toImage());
    EXPECT_EQ(picture(panel_->micInView->btnState), image("sancha", QSize(20, 20)).toImage());

    usb_.model().setOtgPlugged(false);
    usb_.model().setInputType(2, false);
    poller().tick();
    EXPECT_EQ(panel_->bottomVew->statuel->text(), "OTG MAX:未连接");
    EXPECT_EQ(picture(panel_->micInView->btn2State), image("sancha", QSize(20, 20)).toImage());
}

TEST_F(MainPanelTest, PollFollowsStoredInputMutesAndTheDevicesHeadphoneMute) {
    build();
    UserDefaults::standard().setInteger(kMicMute1Key, 1);
    emulated::H8State s = usb_.model().state();
    s.mute[0x0001] = 1;
    usb_.model().setState(s);
    poller().tick();
    EXPECT_TRUE(panel_->micInView->btnMute->state());
    EXPECT_EQ(store().micMuteState, 1);
    EXPECT_TRUE(panel_->outputView->out12butn->state());
    EXPECT_EQ(store().hpMuteState, 1);
    // Following the record sends nothing back.
    for (const QString& line : wire()) EXPECT_TRUE(line.startsWith("usb<")) << line.toStdString();

    // Closed gate: nothing is read.
    store().canReadStatue = false;
    poller().tick();
    EXPECT_TRUE(wire().isEmpty());
    // Without the OTG port the OTG read is skipped and its text left alone.
    store().canReadStatue = true;
    store().isHasOTGMax = false;
    panel_->bottomVew->statuel->setText("unchanged");
    poller().tick();
    EXPECT_EQ(wire().size(), 2u);
    EXPECT_EQ(panel_->bottomVew->statuel->text(), "unchanged");
}

TEST_F(MainPanelTest, TurningTheOtgKnobPausesThePollAndSendsTheVolume) {
    build();
    LumCircularView* knob = panel_->outputView->output34VolumeView;
    knob->updateLevel(40);
    QWheelEvent up(QPointF(10, 10), QPointF(knob->mapToGlobal(QPoint(10, 10))), QPoint(),
                   QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(knob, &up);
    EXPECT_FALSE(store().canReadStatue);
    // The poll does not overwrite the knob while it turns.
    poller().tick();
    EXPECT_EQ(knob->reportedLevel(), 41);
    EXPECT_TRUE(wire().isEmpty());
    clock().advance(std::chrono::milliseconds(70));  // the report comes 70 ms after the last step
    EXPECT_TRUE(store().canReadStatue);
    EXPECT_EQ(UserDefaults::standard().integerForKey(kOtgOutVolumeKey), 41);
    const QStringList sent = wire();
    EXPECT_TRUE(sent.contains("usb> 40 03 03 00 00 00 01 00 | cb"));  // level 52 inverted
}

TEST_F(MainPanelTest, MetersScaleHeadphonesAndOtgAndStayEmptyWithoutEngines) {
    build(4);  // an interface that reports only 4 inputs
    const float level = 0.05f;
    std::vector<float> samples(100 * 4, level);
    backend_.deliver(samples.data(), 100, 4);  // sum of squares 100 * 0.0025: level 0.5
    panel_->timerFired();
    EXPECT_NEAR(panel_->micInView->micIn->topView->level(), 0.5, 1e-6);
    EXPECT_NEAR(panel_->micInView->otgIn->botView->level(), 0.5, 1e-6);
    EXPECT_DOUBLE_EQ(panel_->botR->channel12->topView->level(), 0.0);
    EXPECT_DOUBLE_EQ(panel_->outputView->HpOut->topView->level(), 0.0);

    // Without engines at all the meters are left as they are.
    store().inputUnits.reset();
    panel_->timerFired();
    EXPECT_NEAR(panel_->micInView->micIn->topView->level(), 0.5, 1e-6);
}

// Records which widgets repaint; a sentinel's repaint marks the end of a pass over the window.
class RepaintLog : public QObject {
public:
    explicit RepaintLog(QWidget* window) : sentinel_(new QWidget(window)) {
        sentinel_->setGeometry(0, 0, 4, 4);
        sentinel_->setAttribute(Qt::WA_OpaquePaintEvent);  // nothing under it repaints with it
        sentinel_->show();
        qApp->installEventFilter(this);
    }
    ~RepaintLog() override { qApp->removeEventFilter(this); }
    // Waits for what is pending to be repainted, then returns what was repainted since the last
    // call (the sentinel left out).
    QSet<QObject*> take() {
        sentinelPainted_ = false;
        sentinel_->update();
        EXPECT_TRUE(QTest::qWaitFor([this] { return sentinelPainted_; }, 2000));
        return std::exchange(painted_, {});
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            if (watched == sentinel_)
                sentinelPainted_ = true;
            else
                painted_.insert(watched);
        }
        return false;
    }

private:
    QWidget* sentinel_;
    bool sentinelPainted_ = false;
    QSet<QObject*> painted_;
};

TEST_F(MainPanelTest, TicksRepaintOnlyTheBarsWhoseLevelMoved) {
    build();
    panel_->setMetersPaintDirectly(false);
    panel_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel_.get()));
    RepaintLog log(panel_.get());
    deliverWithInput2(0.05f);
    poller().tick();  // the headphone knob, which scales the headphone meters
    panel_->timerFired();
    log.take();

    // Both clocks tick with nothing changed: nothing repaints.
    panel_->timerFired();
    poller().tick();
    EXPECT_EQ(log.take(), QSet<QObject*>{});

    // One input moves: its bar alone repaints, nothing around or under it.
    deliverWithInput2(0.08f);  // level 0.8
    panel_->timerFired();
    EXPECT_EQ(log.take(), QSet<QObject*>{panel_->micInView->otgIn->topView});
}

// By default a tick paints the bars that moved straight into the window: no widget repaints,
// and the window shows every bar as a repaint of everything draws it.
TEST_F(MainPanelTest, TicksPaintTheBarsThatMovedStraightIntoTheWindow) {
    build();
    ASSERT_TRUE(panel_->metersPaintDirectly());
    panel_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel_.get()));
    RepaintLog log(panel_.get());
    // The meters' pixels in the window, and as a repaint of the whole panel draws them now.
    const LevelBar* bars[] = {panel_->micInView->micIn->topView, panel_->micInView->otgIn->topView,
                              panel_->micInView->otgIn->botView, panel_->botR->channel56->botView,
                              panel_->outputView->HpOut->topView};
    const auto shownAsDrawn = [&] {
        const QImage shown = panel_->screen()->grabWindow(panel_->winId()).toImage();
        const QImage drawn = panel_->grab().toImage();
        for (const LevelBar* bar : bars) {
            const QRect r(bar->mapTo(panel_.get(), QPoint(0, 0)), bar->size());
            if (shown.copy(r).convertToFormat(QImage::Format_RGB32) !=
                drawn.copy(r).convertToFormat(QImage::Format_RGB32))
                return false;
        }
        return true;
    };
    deliverWithInput2(0.05f);
    poller().tick();
    panel_->timerFired();
    log.take();
    EXPECT_TRUE(shownAsDrawn());
    log.take();  // grabbing the panel paints it

    LevelBar* const moved = panel_->micInView->otgIn->topView;
    const int before = moved->drawnWidth();
    deliverWithInput2(0.08f);
    panel_->timerFired();
    EXPECT_EQ(log.take(), QSet<QObject*>{}) << "a widget repainted";
    EXPECT_GT(moved->drawnWidth(), before);
    EXPECT_TRUE(shownAsDrawn());
    log.take();
    deliverWithInput2(0.02f);  // falling: the old fill is cleared
    panel_->timerFired();
    EXPECT_EQ(log.take(), QSet<QObject*>{});
    EXPECT_TRUE(shownAsDrawn());
}

TEST_F(MainPanelTest, SilentMetersStopTheirClockUntilALevelWouldShow) {
    build();
    panel_->meters().start();
    // Nothing delivered: every level is 0, and after a quiet second the meter clock stops.
    for (int i = 1; i < MeterClock::kQuietTicksBeforeRest; ++i) panel_->timerFired();
    EXPECT_TRUE(panel_->meters().isRunning());
    panel_->timerFired();
    EXPECT_FALSE(panel_->meters().isRunning());
    EXPECT_TRUE(panel_->meters().isResting());
    EXPECT_TRUE(poller().ownTimerActive()) << "the poll keeps its own clock";

    // The poll tick looks at the levels: still silent, then a level that shows.
    poller().tick();
    EXPECT_FALSE(panel_->meters().isRunning());
    std::vector<float> samples(100 * 16, 0.05f);
    backend_.deliver(samples.data(), 100, 16);
    poller().tick();
    EXPECT_TRUE(panel_->meters().isRunning());
    EXPECT_FALSE(panel_->meters().isResting());
    EXPECT_FALSE(poller().ownTimerActive()) << "the poll rides on the meters' clock again";
    EXPECT_NEAR(panel_->micInView->micIn->topView->level(), 0.5, 1e-6);

    // Meters that move do not rest, however long.
    for (int i = 0; i < 3 * MeterClock::kQuietTicksBeforeRest; ++i) {
        samples.assign(samples.size(), i % 2 ? 0.05f : 0.03f);
        backend_.deliver(samples.data(), 100, 16);
        panel_->timerFired();
    }
    EXPECT_TRUE(panel_->meters().isRunning());
}

// With the meters moving, the poll runs on their ticks: six polls a second, spread out, and no
// clock of its own waking the thread in between.
TEST_F(MainPanelTest, WhileTheMetersMoveThePollRidesOnTheirClock) {
    build();
    std::vector<float> samples(100 * 16, 0.05f);
    backend_.deliver(samples.data(), 100, 16);  // meters that show something do not rest
    poller().tick();
    // The poll's first request, without the answer.
    const auto request = [](const QString& line) {
        return line.section(QStringLiteral(" | "), 0, 0);
    };
    const QString pollRead = request(wire().value(0));
    ASSERT_FALSE(pollRead.isEmpty());
    const auto polls = [&] {
        int n = 0;
        for (const auto& t : usb_.model().transfers())
            n += request(QString::fromStdString(
                     formatControlTrace(t.setup, t.data.data(), t.status))) == pollRead;
        return n;
    };
    const auto started = clock().now();
    panel_->meters().start();
    ASSERT_TRUE(clock().advanceUntil([&] { return polls() >= 6; }, std::chrono::milliseconds(1),
                                     std::chrono::seconds(5)));
    // Six polls are five periods of 1/6 s apart (less half a tick each way); a poll on every
    // tick would take 300 ms.
    EXPECT_GE(clock().now() - started, std::chrono::milliseconds(700));
    EXPECT_FALSE(poller().ownTimerActive());
    EXPECT_FALSE(panel_->meters().isResting());
}

TEST_F(MainPanelTest, ModeButtonsSwitchBothMatrixPanels) {
    build();
    panel_->show();
    panel_->tMidView->rightBtnClick();
    panel_->tMidView->rightBtnClick();  // set, not toggled
    EXPECT_TRUE(panel_->tMidView->isMatrixMode());
    EXPECT_FALSE(panel_->bMidView->gridView->isHidden());
    EXPECT_TRUE(panel_->bMidView->channle12->isHidden());
    // A route added in matrix mode shows as a chip back in stack mode.
    panel_->routing().toggle(1, 5);
    panel_->tMidView->leftBtnClick();
    EXPECT_FALSE(panel_->bMidView->channle12->isHidden());
    EXPECT_EQ(panel_->chips()->chips(5), QList<int>{1});
}

}  // namespace
}  // namespace h8::ui
