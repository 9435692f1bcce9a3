// The window on screens of different sizes, in-process on the emulated H8. The test runs on two
// offscreen screens (see CMakeLists.txt): the primary one of 1920 × 1080, where the window fits,
// and one of 1280 × 720 (1920 × 1080 at 150 %) beside it, where it does not. On the small screen
// the window fits its free area and every control is reachable by scrolling and by Tab; on the
// large one the window is exactly as it always was.
#include "screen_fit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWindow>
#include <algorithm>

#include "emulated_panel_test.h"
#include "ui/panels/bottom_view.h"
#include "ui/sections/control_panels.h"
#include "ui/sections/main_contain_view.h"
#include "ui/sections/matrix_panels.h"

namespace h8 {
namespace {

class ScreenFitTest : public test::EmulatedPanelTest {
protected:
    void SetUp() override {
        test::EmulatedPanelTest::SetUp();
        const QList<QScreen*> screens = QGuiApplication::screens();
        ASSERT_EQ(screens.size(), 2) << "the test's screens are set by its QT_QPA_PLATFORM";
        large_ = QGuiApplication::primaryScreen();
        small_ = screens[0] == large_ ? screens[1] : screens[0];
        ASSERT_EQ(large_->availableGeometry().size(), QSize(1920, 1080));
        ASSERT_EQ(small_->availableGeometry().size(), QSize(1280, 720));
    }

    // The window bound and shown, on the screen it starts on (the large one).
    void launchBound() {
        usb_.plug();
        launchWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return binds_ >= 1; }, 5000));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        panel_ = controller()->norvMainContaiView;
        ASSERT_NE(panel_, nullptr);
    }
    // Moves the window onto `screen`, as the user does.
    void moveTo(QScreen* screen) {
        window_->move(screen->availableGeometry().topLeft() + QPoint(20, 20));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window_->screen() == screen; }));
    }
    ScreenFit& fit() { return window_->screenFit(); }
    QWidget* viewport() { return fit().scrollArea()->viewport(); }
    // Whether all of `w` shows inside the scroll area.
    bool inView(const QWidget* w) {
        const QRect r(w->mapTo(viewport(), QPoint(0, 0)), w->size());
        return viewport()->rect().contains(r);
    }
    // The window as it always was: the controller its central widget at its fixed size, the
    // menu bar above, nothing scrolls.
    void expectUnchanged() {
        EXPECT_FALSE(fit().isScrolling());
        EXPECT_EQ(window_->centralWidget(), controller());
        EXPECT_EQ(window_->findChild<QScrollArea*>(), nullptr);
        EXPECT_EQ(controller()->size(), QSize(ViewController::kWidth, ViewController::kHeight));
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return window_->size() == QSize(ViewController::kWidth,
                                            ViewController::kHeight + window_->menuBar()->height());
        }));
        EXPECT_EQ(controller()->mapTo(window_.get(), QPoint(0, 0)),
                  QPoint(0, window_->menuBar()->height()));
        EXPECT_EQ(panel_->parentWidget(), controller());
        EXPECT_EQ(panel_->geometry(), controller()->rect());
    }

    QScreen* large_ = nullptr;
    QScreen* small_ = nullptr;
    ui::NorvMainContainView* panel_ = nullptr;
};

TEST_F(ScreenFitTest, OnAScreenWhereItFitsTheWindowIsAsAlwaysAndComesBackSo) {
    ASSERT_NO_FATAL_FAILURE(launchBound());
    expectUnchanged();
    const QImage before = controller()->grab().toImage();

    // To the small screen and back: the window scrolls there, and is the same as before here.
    ASSERT_NO_FATAL_FAILURE(moveTo(small_));
    EXPECT_TRUE(fit().isScrolling());
    ASSERT_NO_FATAL_FAILURE(moveTo(large_));
    expectUnchanged();
    EXPECT_TRUE(panel_->isVisible());
    EXPECT_EQ(controller()->grab().toImage(), before);
}

TEST_F(ScreenFitTest, OnASmallScreenTheWindowFitsAndEveryControlIsReachable) {
    ASSERT_NO_FATAL_FAILURE(launchBound());
    ASSERT_NO_FATAL_FAILURE(moveTo(small_));
    ASSERT_TRUE(fit().isScrolling());
    const QRect free = small_->availableGeometry();
    EXPECT_TRUE(QTest::qWaitFor([&] { return free.contains(window_->frameGeometry()); }))
        << "frame " << window_->frameGeometry().width() << "×" << window_->frameGeometry().height()
        << " at " << window_->frameGeometry().x() << "," << window_->frameGeometry().y();
    // The content keeps its size, its children and what the rest of the program holds of it.
    EXPECT_EQ(controller()->size(), QSize(ViewController::kWidth, ViewController::kHeight));
    EXPECT_EQ(panel_->parentWidget(), controller());
    EXPECT_EQ(panel_->geometry(), controller()->rect());
    EXPECT_TRUE(panel_->isVisible());
    // Only what does not fit scrolls: the height here, and the width has room for the bar.
    QScrollArea* area = fit().scrollArea();
    EXPECT_TRUE(area->verticalScrollBar()->isVisible());
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
    EXPECT_EQ(viewport()->width(), ViewController::kWidth);

    // The status bar and the lowest strips are below the fold at first, and scroll into view.
    QWidget* lowest[] = {panel_->bottomVew, panel_->botL, panel_->botR, panel_->bMidView};
    EXPECT_FALSE(inView(panel_->bottomVew));
    for (QWidget* w : lowest) {
        area->ensureWidgetVisible(w, 0, 0);
        EXPECT_TRUE(inView(w)) << w->metaObject()->className();
    }
    area->ensureWidgetVisible(panel_->micInView, 0, 0);
    EXPECT_TRUE(inView(panel_->micInView));
}

TEST_F(ScreenFitTest, KeyboardFocusOnAControlOutOfViewScrollsItIn) {
    ASSERT_NO_FATAL_FAILURE(launchBound());
    ASSERT_NO_FATAL_FAILURE(moveTo(small_));
    ASSERT_TRUE(fit().isScrolling());
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));

    // Tab through the whole panel from its first control: each one that takes the focus shows.
    const QList<QWidget*> stops = panel_->tabStops();
    ASSERT_FALSE(stops.isEmpty());
    stops.first()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == stops.first(); }));
    fit().scrollArea()->verticalScrollBar()->setValue(0);
    int reachedBelowTheFold = 0;
    for (qsizetype i = 1; i < stops.size(); ++i) {
        QWidget* from = QApplication::focusWidget();
        ASSERT_NE(from, nullptr);
        QTest::keyClick(from, Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        ASSERT_NE(now, from) << "Tab did not move on from stop " << i - 1;
        if (!panel_->isAncestorOf(now)) break;
        EXPECT_TRUE(inView(now)) << "stop " << i << ": " << now->metaObject()->className();
        reachedBelowTheFold += panel_->botR->isAncestorOf(now);
    }
    EXPECT_GT(reachedBelowTheFold, 0);

    // Focus given by other means (a shortcut, the accessibility layer) also scrolls.
    fit().scrollArea()->verticalScrollBar()->setValue(0);
    QWidget* lowest = *std::max_element(stops.begin(), stops.end(), [&](QWidget* a, QWidget* b) {
        return a->mapTo(panel_, a->rect().bottomLeft()).y() <
               b->mapTo(panel_, b->rect().bottomLeft()).y();
    });
    ASSERT_FALSE(inView(lowest));
    lowest->setFocus(Qt::ShortcutFocusReason);
    EXPECT_TRUE(inView(lowest));
}

}  // namespace
}  // namespace h8
