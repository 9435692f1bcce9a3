// The main panel on the emulated H8 driven from the keyboard alone: every keyboard action sends
// the interface what its mouse counterpart sends from the same starting state (grid cells,
// knobs, buttons, routing in the rows view), Tab visits every control in reading order and
// Shift+Tab comes back, name fields keep or restore their name, and the focused control is drawn
// differently.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>

#include "core/audio_helper.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_usb_transport.h"
#include "fake_audio_backend.h"
#include "main_panel_fixture.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/matrix/channel_row_view.h"
#include "ui/matrix/destination_view.h"
#include "ui/matrix/drag_view.h"
#include "ui/matrix/grid_view.h"
#include "ui/sections/control_panels.h"
#include "ui/sections/main_contain_view.h"
#include "ui/sections/matrix_panels.h"
#include "ui/strips/channel_strips.h"
#include "ui/widgets/focus.h"
#include "ui/widgets/hover_button.h"
#include "ui/widgets/lum_circular_view.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_text_field.h"
#include "ui/widgets/lum_volume_vircle_view.h"
#include "ui/widgets/norv_button_view.h"

// Requests print as their trace lines.
void PrintTo(const QString& text, std::ostream* os) {
    *os << text.toStdString();
}

namespace h8::ui {
namespace {

void sendWheel(QWidget* w, int angleDeltaY) {
    const QPointF pos(5, 5);
    QWheelEvent event(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, angleDeltaY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &event);
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// Presses on `from`, moves in steps to `to` (a point of `target`) and releases there.
void drag(QWidget* from, QWidget* target, QPoint to) {
    const QPoint start(8, 8);
    sendMouse(from, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    const QPoint end = from->mapFrom(from->window(), target->mapTo(target->window(), to));
    for (int i = 1; i <= 5; ++i)
        sendMouse(from, QEvent::MouseMove, start + (end - start) * i / 5, Qt::NoButton,
                  Qt::LeftButton);
    sendMouse(from, QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
}

// Whether the focus ring's colour shows anywhere in `w`.
bool showsFocusColour(QWidget* w) {
    const QImage image = w->grab().toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).rgb() == kFocusColor.rgb()) return true;
    return false;
}

template <typename T>
qsizetype countOf(const QList<QWidget*>& widgets) {
    return std::count_if(widgets.begin(), widgets.end(),
                         [](QWidget* w) { return qobject_cast<T*>(w) != nullptr; });
}

// A key pressed and released where the keyboard is, as the user's keyboard would send it.
void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, k, modifiers);
}

class KeyboardTest : public test::MainPanelFixture {
protected:
    void SetUp() override {
        MainPanelFixture::SetUp();
        if (HasFatalFailure()) return;
        build();
        // As the application shows it: the panel itself holds the focus at first.
        panel_->setFocusPolicy(Qt::ClickFocus);
        panel_->show();
        panel_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel_.get()));
        panel_->setFocus();
        QCoreApplication::processEvents();
        wire();
    }
    // Gives `w` the keyboard as Tab would.
    static void focus(QWidget* w) {
        w->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(w->hasFocus());
    }
    // The focus after each Tab (or Shift+Tab) press, until it comes back to where it started.
    static QList<QWidget*> walk(Qt::Key k) {
        QList<QWidget*> visited;
        QWidget* start = nullptr;
        for (int i = 0; i < 300; ++i) {
            key(k);
            QWidget* now = QApplication::focusWidget();
            if (now == start) break;
            if (!start) start = now;
            visited.append(now);
        }
        return visited;
    }
};

TEST_F(KeyboardTest, GridKeysSendWhatClicksAndTheWheelSend) {
    panel_->tMidView->rightBtnClick();
    NorvGridView* grid = panel_->tMidView->gridView;
    HoverButton* cell = grid->button(4, 12);  // O4 → L8: the bottom-right cell
    wire();

    // With the mouse: switched on, turned down one notch twice and fast twice, up one notch
    // three times and fast once (100 → 94 → 99), switched off.
    QTest::mouseClick(cell, Qt::LeftButton);
    for (int delta : {-120, -120, -240, -240, 120, 120, 120, 240}) sendWheel(cell, delta);
    ASSERT_EQ(cell->volume, 99.0f);
    QTest::mouseClick(cell, Qt::LeftButton);
    const QStringList byMouse = wire();
    ASSERT_EQ(byMouse.size(), 12);  // level + commit, 8 levels, the commit off and its level
    ASSERT_FALSE(cell->isChecked());

    // From the same state with the keys. The click left the keyboard's cell on the clicked one;
    // the arrows walk to the top-left corner and back, stopping at the edges, sending nothing.
    focus(grid);
    EXPECT_EQ(grid->focusCell(), cell);
    for (int i = 0; i < 14; ++i) key(Qt::Key_Up);
    for (int i = 0; i < 5; ++i) key(Qt::Key_Left);
    ASSERT_EQ(grid->focusCell(), grid->button(1, 1));
    key(Qt::Key_Right);
    EXPECT_EQ(grid->focusCell(), grid->button(2, 1));
    key(Qt::Key_Down);
    EXPECT_EQ(grid->focusCell(), grid->button(2, 2));
    for (int i = 0; i < 5; ++i) key(Qt::Key_Right);
    for (int i = 0; i < 14; ++i) key(Qt::Key_Down);
    ASSERT_EQ(grid->focusCell(), cell);
    EXPECT_TRUE(wire().isEmpty());
    key(Qt::Key_Space);
    key(Qt::Key_Minus);
    key(Qt::Key_Minus, Qt::KeypadModifier);
    key(Qt::Key_PageDown);
    key(Qt::Key_PageDown);
    key(Qt::Key_Plus);
    key(Qt::Key_Equal);
    key(Qt::Key_Plus, Qt::KeypadModifier);
    key(Qt::Key_PageUp);
    key(Qt::Key_Space);
    EXPECT_EQ(wire(), byMouse);
    EXPECT_FALSE(cell->isChecked());

    // A level key on a cell that is off changes nothing, as the wheel does.
    key(Qt::Key_PageUp);
    sendWheel(cell, 240);
    EXPECT_TRUE(wire().isEmpty());
}

TEST_F(KeyboardTest, KnobArrowKeysTurnLikeTheWheel) {
    LumCircularView* otg = panel_->outputView->output34VolumeView;
    const auto turn = [&](auto&& steps) {
        otg->updateLevel(40);
        steps();
        EXPECT_FALSE(store().canReadStatue);  // the poll waits while the knob turns
        EXPECT_TRUE(clock().advanceUntil([&] { return store().canReadStatue; },
                                         std::chrono::milliseconds(10), std::chrono::seconds(2)));
        return std::pair{otg->reportedLevel(), wire()};
    };
    const auto byWheelUp = turn([&] {
        sendWheel(otg, 120);
        sendWheel(otg, 120);
    });
    ASSERT_EQ(byWheelUp.first, 42);
    ASSERT_FALSE(byWheelUp.second.isEmpty());
    focus(otg);
    EXPECT_EQ(turn([&] {
                  key(Qt::Key_Up);
                  key(Qt::Key_Right);
              }),
              byWheelUp);
    const auto byWheelDown = turn([&] {
        sendWheel(otg, -120);
        sendWheel(otg, -120);
    });
    ASSERT_EQ(byWheelDown.first, 38);
    EXPECT_EQ(turn([&] {
                  key(Qt::Key_Down);
                  key(Qt::Key_Left);
              }),
              byWheelDown);

    // The mixer strip's knob reports every step, to its value label.
    NorvOutProgressView* strip = panel_->botR->channel12;
    LumVolumeVircleView* knob = strip->volumeView;
    knob->updateLevel(10);
    sendWheel(knob, 120);
    sendWheel(knob, 120);
    sendWheel(knob, -120);
    const QString byWheel = strip->volumeLabel->text();
    ASSERT_EQ(byWheel, "11");
    knob->updateLevel(10);
    strip->volumeLabel->clear();
    focus(knob);
    key(Qt::Key_Right);
    key(Qt::Key_Up);
    key(Qt::Key_Left);
    EXPECT_EQ(strip->volumeLabel->text(), byWheel);
    key(Qt::Key_Down);
    EXPECT_EQ(knob->reportedLevel(), 10);
    EXPECT_TRUE(wire().isEmpty());
}

TEST_F(KeyboardTest, SpaceAndEnterPressButtonsAsAClickDoes) {
    for (NorvButtonView* mute :
         {panel_->micInView->btnMute, panel_->micInView->btn2Mute, panel_->outputView->out12butn}) {
        QTest::mouseClick(mute->button, Qt::LeftButton);
        const QStringList on = wire();
        ASSERT_TRUE(mute->state());
        ASSERT_FALSE(on.isEmpty());
        QTest::mouseClick(mute->button, Qt::LeftButton);
        const QStringList off = wire();
        ASSERT_FALSE(mute->state());

        focus(mute->button);
        key(Qt::Key_Space);
        EXPECT_TRUE(mute->state());
        EXPECT_EQ(wire(), on);
        key(Qt::Key_Return);
        EXPECT_FALSE(mute->state());
        EXPECT_EQ(wire(), off);
        key(Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(wire(), on);
        key(Qt::Key_Space);
        wire();
    }

    // The view switches and the link toggle of a source strip.
    focus(panel_->tMidView->rightBtn);
    key(Qt::Key_Return);
    EXPECT_TRUE(panel_->tMidView->isMatrixMode());
    EXPECT_FALSE(panel_->bMidView->gridView->isHidden());
    focus(panel_->tMidView->leftBtn);
    key(Qt::Key_Space);
    EXPECT_FALSE(panel_->tMidView->isMatrixMode());
    QPushButton* link = panel_->botL->channel12->linkBtn;
    focus(link);
    key(Qt::Key_Enter);
    EXPECT_TRUE(link->isChecked());
    key(Qt::Key_Space);
    EXPECT_FALSE(link->isChecked());
    EXPECT_TRUE(wire().isEmpty());
}

TEST_F(KeyboardTest, EnterKeepsTheNameAndEscapeRestoresTheStoredOne) {
    NorvInputProgressView* playback = panel_->botL->channel12;
    NorvOutProgressView* mixer = panel_->botR->channel34;
    const std::pair<LumTextField*, QString> fields[] = {{playback->botL, playback->nameKey()},
                                                        {mixer->botL, mixer->nameKey()}};
    for (const auto& [field, nameKey] : fields) {
        focus(field);
        QTest::keyClicks(field, "Vox");
        key(Qt::Key_Return);
        EXPECT_FALSE(field->hasFocus());
        EXPECT_EQ(field->text(), "Vox");
        EXPECT_EQ(UserDefaults::standard().stringForKey(nameKey), "Vox");

        focus(field);  // Tab selects the whole name: typing replaces it
        QTest::keyClicks(field, "Drums");
        ASSERT_EQ(UserDefaults::standard().stringForKey(nameKey), "Drums");
        key(Qt::Key_Escape);
        EXPECT_FALSE(field->hasFocus());
        EXPECT_EQ(field->text(), "Vox");
        EXPECT_EQ(UserDefaults::standard().stringForKey(nameKey), "Vox");
    }
}

TEST_F(KeyboardTest, TabVisitsEveryControlInReadingOrderAndShiftTabComesBack) {
    // The sections in reading order: the upper row left to right, then the lower one.
    const QList<QWidget*> sections = {panel_->micInView, panel_->tMidView, panel_->outputView,
                                      panel_->botL,      panel_->bMidView, panel_->botR};
    const auto sectionOf = [&](QWidget* w) {
        for (qsizetype i = 0; i < sections.size(); ++i)
            if (sections[i]->isAncestorOf(w)) return static_cast<int>(i);
        return -1;
    };

    for (const bool matrixMode : {false, true}) {
        SCOPED_TRACE(matrixMode ? "grid view" : "rows view");
        if (matrixMode) panel_->tMidView->rightBtnClick();
        panel_->setFocus();
        const QList<QWidget*> forward = walk(Qt::Key_Tab);
        ASSERT_FALSE(forward.isEmpty());
        // Every control once, section after section, nothing from outside them.
        int section = 0;
        for (QWidget* w : forward) {
            const int s = sectionOf(w);
            ASSERT_GE(s, section) << w->metaObject()->className();
            section = s;
        }
        EXPECT_EQ(section, 5);
        EXPECT_EQ(QSet<QWidget*>(forward.begin(), forward.end()).size(), forward.size());

        // Three mutes, two view switches, six link toggles.
        EXPECT_EQ(countOf<QPushButton>(forward), 3 + 2 + 6);
        EXPECT_TRUE(forward.contains(panel_->micInView->btnMute->button));
        EXPECT_TRUE(forward.contains(panel_->outputView->out12butn->button));
        // Only the knob that turns; the read-only ones are skipped.
        EXPECT_EQ(countOf<LumCircularView>(forward), 1);
        EXPECT_TRUE(forward.contains(panel_->outputView->output34VolumeView));
        EXPECT_EQ(countOf<LumVolumeVircleView>(forward), 4);
        EXPECT_EQ(countOf<LumTextField>(forward), 12);
        EXPECT_EQ(countOf<NorvDragView>(forward), 12);
        EXPECT_EQ(countOf<ChannelRowView>(forward), matrixMode ? 0 : 12);
        EXPECT_EQ(countOf<NorvGridView>(forward), matrixMode ? 2 : 0);

        // Within a source strip: its name, its handles top to bottom, its link toggle.
        NorvInputProgressView* strip = panel_->micInView->otgIn;
        const qsizetype at = forward.indexOf(strip->botL);
        ASSERT_GE(at, 0);
        EXPECT_EQ(forward.mid(at, 4),
                  (QList<QWidget*>{strip->botL, strip->topBtn, strip->botBtn, strip->linkBtn}));

        // Shift+Tab visits the same controls backwards.
        forward.last()->setFocus(Qt::TabFocusReason);
        QList<QWidget*> backward = walk(Qt::Key_Backtab);
        ASSERT_EQ(backward.size(), forward.size());
        std::reverse(backward.begin(), backward.end());
        backward.append(backward.takeFirst());  // the walk started at the last control
        EXPECT_EQ(backward, forward);
    }
}

TEST_F(KeyboardTest, RowsViewRoutesAndRemovesAsDragAndDoubleClickDo) {
    NorvDragView* mic1 = panel_->micInView->micIn->topBtn;
    ChannelRowView* l1 = panel_->bMidView->channle12->channelTop;  // destination 5
    ASSERT_EQ(l1->col(), 5);
    const auto chooseInMenu = [](const QString& item) {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (int i = 0; i < 20 && !(menu->activeAction() && menu->activeAction()->text() == item);
             ++i)
            QTest::keyClick(menu, Qt::Key_Down);
        ASSERT_TRUE(menu->activeAction());
        ASSERT_EQ(menu->activeAction()->text(), item);
        QTest::keyClick(menu, Qt::Key_Return);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    };

    // Microphone 1 onto L1 and off again with the mouse.
    drag(mic1, l1, {30, 8});
    const QStringList droppedByMouse = wire();
    ASSERT_EQ(panel_->chips()->chips(5), QList<int>{1});
    QTest::mouseDClick(l1->chipLabels()[0], Qt::LeftButton);
    const QStringList removedByMouse = wire();
    ASSERT_TRUE(panel_->chips()->chips(5).isEmpty());

    // The same with the keys: Enter on the handle, L1 from its menu, Delete on the row.
    focus(mic1);
    key(Qt::Key_Return);
    chooseInMenu("L1");
    EXPECT_EQ(panel_->chips()->chips(5), QList<int>{1});
    EXPECT_EQ(wire(), droppedByMouse);
    EXPECT_TRUE(panel_->routing().isOn(1, 5));
    // A destination that shows the source already cannot be chosen again.
    key(Qt::Key_Space);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction* a : menu->actions()) EXPECT_EQ(a->isEnabled(), a->text() != "L1");
    menu->close();
    focus(l1);
    ASSERT_EQ(l1->focusChip(), l1->chipLabels()[0]);
    key(Qt::Key_Delete);
    EXPECT_TRUE(panel_->chips()->chips(5).isEmpty());
    EXPECT_FALSE(panel_->routing().isOn(1, 5));
    EXPECT_EQ(wire(), removedByMouse);

    // Linked, playback 1-2 onto the pair L5/L6 and both chips off again, the mouse then keys.
    NorvInputProgressView* playback = panel_->botL->channel12;
    playback->linkBtn->setChecked(true);
    NorvDestinationView* pair = panel_->bMidView->channle56;  // destinations 9 and 10
    drag(playback->botBtn, pair, {40, 33});  // the bottom handle carries the pair by its foot
    const QStringList pairByMouse = wire();
    ASSERT_EQ(panel_->chips()->chips(9), QList<int>{5});
    ASSERT_EQ(panel_->chips()->chips(10), QList<int>{6});
    QTest::mouseDClick(pair->channelTop->chipLabels()[0], Qt::LeftButton);
    QTest::mouseDClick(pair->channelBot->chipLabels()[0], Qt::LeftButton);
    const QStringList pairRemovedByMouse = wire();

    focus(playback->botBtn);
    key(Qt::Key_Enter, Qt::KeypadModifier);
    chooseInMenu("L5/L6");
    EXPECT_EQ(wire(), pairByMouse);
    key(Qt::Key_Return);
    menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    // Playback 1-2 reach the headphones from the start.
    for (QAction* a : menu->actions())
        EXPECT_EQ(a->isEnabled(), a->text() != "L5/L6" && a->text() != "H1/H2")
            << a->text().toStdString();
    menu->close();
    focus(pair->channelTop);
    key(Qt::Key_Backspace);
    focus(pair->channelBot);
    key(Qt::Key_Delete);
    EXPECT_EQ(wire(), pairRemovedByMouse);
    EXPECT_TRUE(panel_->chips()->chips(9).isEmpty());
    EXPECT_TRUE(panel_->chips()->chips(10).isEmpty());
}

TEST_F(KeyboardTest, RowKeysChooseTheChipThatDeleteRemoves) {
    for (int source : {1, 2, 5}) panel_->routing().drop(source, 7);
    ChannelRowView* l3 = panel_->bMidView->channle34->channelTop;
    ASSERT_EQ(l3->col(), 7);
    focus(l3);
    key(Qt::Key_Right);
    EXPECT_EQ(l3->focusChip()->actRowIndex, 2);
    EXPECT_TRUE(l3->focusChip()->isFocusMarked());
    EXPECT_FALSE(l3->chipLabels()[0]->isFocusMarked());
    key(Qt::Key_Delete);
    EXPECT_EQ(panel_->chips()->chips(7), (QList<int>{1, 5}));
    // The chip that took the removed one's place is next; at the end the last one stays.
    EXPECT_EQ(l3->focusChip()->actRowIndex, 5);
    key(Qt::Key_Right);
    key(Qt::Key_Backspace);
    EXPECT_EQ(panel_->chips()->chips(7), QList<int>{1});
    EXPECT_EQ(l3->focusChip()->actRowIndex, 1);
    key(Qt::Key_Delete);
    EXPECT_TRUE(panel_->chips()->chips(7).isEmpty());
    EXPECT_EQ(l3->focusChip(), nullptr);
    key(Qt::Key_Delete);  // nothing left to remove
    EXPECT_TRUE(l3->hasFocus());
}

TEST_F(KeyboardTest, TheControlWithTheKeyboardIsDrawnDifferently) {
    panel_->routing().drop(1, 5);
    NorvInputProgressView* mic = panel_->micInView->micIn;
    const QList<QWidget*> controls = {panel_->outputView->output34VolumeView,
                                      panel_->botR->channel12->volumeView,
                                      panel_->micInView->btnMute->button,
                                      panel_->tMidView->rightBtn,
                                      mic->linkBtn,
                                      mic->botL,
                                      mic->topBtn,
                                      panel_->bMidView->channle12->channelTop};
    for (QWidget* w : controls) {
        SCOPED_TRACE(w->metaObject()->className());
        panel_->setFocus();
        EXPECT_FALSE(showsFocusColour(w));
        focus(w);
        EXPECT_TRUE(showsFocusColour(w));
    }
    // The grid rings its keyboard cell, and only that one.
    panel_->tMidView->rightBtnClick();
    NorvGridView* grid = panel_->bMidView->gridView;
    panel_->setFocus();
    EXPECT_FALSE(showsFocusColour(grid));
    focus(grid);
    EXPECT_TRUE(showsFocusColour(grid->button(5, 1)));
    key(Qt::Key_Down);
    EXPECT_FALSE(showsFocusColour(grid->button(5, 1)));
    EXPECT_TRUE(showsFocusColour(grid->button(5, 2)));
    panel_->setFocus();
    EXPECT_FALSE(showsFocusColour(grid));
}

}  // namespace
}  // namespace h8::ui
