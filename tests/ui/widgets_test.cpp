// The panel's small widgets driven with synthetic mouse, wheel and key events, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QTest>
#include <QWheelEvent>
#include <memory>
#include <utility>
#include <vector>

#include "core/share_helper.h"
#include "ui/widgets/hover_button.h"
#include "ui/widgets/hover_view.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_text_field.h"
#include "ui/widgets/norv_button_view.h"
#include "ui/widgets/norv_sub_drag_view.h"
#include "ui/widgets/style.h"

namespace h8::ui {
namespace {

void sendEnter(QWidget* w) {
    const QPointF local(1, 1);
    QEnterEvent event(local, w->mapToGlobal(local), w->mapToGlobal(local));
    QCoreApplication::sendEvent(w, &event);
}

void sendLeave(QWidget* w) {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(w, &event);
}

void sendWheel(QWidget* w, int angleDeltaY) {
    const QPointF pos(5, 5);
    QWheelEvent event(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, angleDeltaY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &event);
}

// A move with the left button held: QTest::mouseMove sends no buttons, so build the event.
void dragTo(QWidget* w, QPoint local) {
    QMouseEvent event(QEvent::MouseMove, local, w->mapToGlobal(local), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

std::vector<NorvSubDragView*> floatingViews(QWidget* window) {
    const auto list = window->findChildren<NorvSubDragView*>();
    return {list.begin(), list.end()};
}

// ---- HoverButton ----

class HoverButtonTest : public ::testing::Test {
protected:
    HoverButtonTest() {
        button.applyVolume = [this](HoverButton* b) { applied.push_back(b->volume); };
    }

    HoverButton button;
    std::vector<float> applied;
};

TEST_F(HoverButtonTest, StartsAsAnUncheckedCrosspointAtFullLevel) {
    EXPECT_TRUE(button.isCheckable());
    EXPECT_FALSE(button.isChecked());
    EXPECT_EQ(button.volume, 100.0f);
    EXPECT_EQ(button.size(), QSize(25, 20));
    EXPECT_EQ(button.label->geometry(), QRect(0, 0, 25, 20));
    EXPECT_FALSE(button.isLabelShown());
}

TEST_F(HoverButtonTest, LevelLabelDrawsWhiteTextOnTheButton) {
    button.setChecked(true);
    button.label->setText(QStringLiteral("100"));
    button.setLabelShown(true);
    const QImage text = button.label->grab().toImage();
    int white = 0;
    for (int y = 0; y < text.height(); ++y) {
        for (int x = 0; x < text.width(); ++x) white += text.pixelColor(x, y).lightness() > 200;
    }
    EXPECT_GT(white, 5);
}

TEST_F(HoverButtonTest, WheelOnAnUncheckedButtonChangesNothing) {
    button.volume = 50;
    for (int delta : {240, 120, 0, -120, -240}) sendWheel(&button, delta);
    EXPECT_EQ(button.volume, 50.0f);
    EXPECT_TRUE(applied.empty());
}

TEST_F(HoverButtonTest, WheelStepsFollowTheDeltaAndClampToTheRange) {
    button.setChecked(true);
    button.volume = 99;
    sendWheel(&button, 240);  // two notches: +2, clamped
    EXPECT_EQ(button.volume, 100.0f);
    sendWheel(&button, 120);  // already at the top
    EXPECT_EQ(button.volume, 100.0f);

    button.volume = 1;
    sendWheel(&button, -240);
    EXPECT_EQ(button.volume, 0.0f);
    sendWheel(&button, -120);
    EXPECT_EQ(button.volume, 0.0f);

    button.volume = 50;
    sendWheel(&button, 120);  // one notch up
    EXPECT_EQ(button.volume, 51.0f);
    sendWheel(&button, -120);  // one notch down
    EXPECT_EQ(button.volume, 50.0f);
    sendWheel(&button, 0);  // a zero delta lowers the level
    EXPECT_EQ(button.volume, 49.0f);
    sendWheel(&button, 360);
    EXPECT_EQ(button.volume, 51.0f);

    // Every event applies once, with the new level already in place, also when clamped.
    EXPECT_EQ(applied, (std::vector<float>{100, 100, 0, 0, 51, 50, 49, 51}));
}

TEST_F(HoverButtonTest, StepRuleBoundaries) {
    EXPECT_EQ(HoverButton::volumeStep(10.01), 2);
    EXPECT_EQ(HoverButton::volumeStep(10), 1);
    EXPECT_EQ(HoverButton::volumeStep(0.1), 1);
    EXPECT_EQ(HoverButton::volumeStep(0), -1);
    EXPECT_EQ(HoverButton::volumeStep(-10), -1);
    EXPECT_EQ(HoverButton::volumeStep(-10.01), -2);
    EXPECT_EQ(HoverButton::wheelDelta(120), 10.0);
}

TEST_F(HoverButtonTest, LabelShowsOnlyWhileHoveredAndChecked) {
    std::vector<MouseMoveEvent> seen;
    button.observer = [&](MouseMoveEvent e) { seen.push_back(e); };

    sendEnter(&button);
    EXPECT_FALSE(button.isLabelShown());
    sendLeave(&button);

    button.setChecked(true);
    sendEnter(&button);
    EXPECT_TRUE(button.isLabelShown());
    EXPECT_EQ(button.hoverState, MouseMoveEvent::entered);
    sendLeave(&button);
    EXPECT_FALSE(button.isLabelShown());
    EXPECT_EQ(button.hoverState, MouseMoveEvent::exited);

    EXPECT_EQ(seen, (std::vector<MouseMoveEvent>{MouseMoveEvent::entered, MouseMoveEvent::exited,
                                                 MouseMoveEvent::entered, MouseMoveEvent::exited}));
}

TEST_F(HoverButtonTest, LabelFollowsClicksWhileHovered) {
    button.show();
    sendEnter(&button);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_TRUE(button.isChecked());
    EXPECT_TRUE(button.isLabelShown());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_FALSE(button.isChecked());
    EXPECT_FALSE(button.isLabelShown());

    // Switched on while the pointer is elsewhere: nothing to show until it comes back.
    sendLeave(&button);
    button.setChecked(true);
    EXPECT_FALSE(button.isLabelShown());
    sendEnter(&button);
    EXPECT_TRUE(button.isLabelShown());
}

TEST_F(HoverButtonTest, ClickTogglesAndDrawsTheOnImageAndHighlight) {
    button.setOnImage(QStringLiteral("hardware"));
    button.show();
    const QColor offCentre = button.grab().toImage().pixelColor(12, 10);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_TRUE(button.isChecked());
    const QColor onCentre = button.grab().toImage().pixelColor(12, 10);
    EXPECT_NE(onCentre, offCentre);

    button.setChecked(false);
    button.setHighlighted(true);
    const QColor highlighted = button.grab().toImage().pixelColor(1, 1);
    EXPECT_NE(highlighted, offCentre);
}

// ---- LumLabel ----

class LumLabelDragTest : public ::testing::Test {
protected:
    LumLabelDragTest() {
        window.resize(300, 200);
        label = new LumLabel(QStringLiteral("3"), &window);
        label->setGeometry(100, 50, 18, 18);
        label->setBackgroundColor(withAlpha(kHardwareColor, 0.5));
        label->setBorder(kHardwareColor, 1);
        window.show();
    }

    QWidget window;
    LumLabel* label;
};

TEST_F(LumLabelDragTest, WithoutCanDragNoFloatingViewAppears) {
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
    dragTo(label, QPoint(80, 80));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(80, 80));
    EXPECT_TRUE(floatingViews(&window).empty());
    EXPECT_FALSE(label->isDraging);
}

TEST_F(LumLabelDragTest, MovingInsideTheLabelIsNotADrag) {
    label->canDrag = true;
    int mouseUps = 0;
    label->labelMouseUp = [&](NorvSubDragView*, LumLabel*) { ++mouseUps; };
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
    dragTo(label, QPoint(17, 17));
    dragTo(label, QPoint(0, 0));
    EXPECT_FALSE(label->isDraging);
    EXPECT_TRUE(floatingViews(&window).empty());
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(0, 0));
    EXPECT_EQ(mouseUps, 0);
}

TEST_F(LumLabelDragTest, DraggingOutCarriesOneFloatingCopyUnderThePointerUntilRelease) {
    label->canDrag = true;
    NorvSubDragView* received = nullptr;
    LumLabel* from = nullptr;
    QRect geometryAtRelease;
    label->labelMouseUp = [&](NorvSubDragView* floating, LumLabel* l) {
        received = floating;
        from = l;
        geometryAtRelease = floating->geometry();
    };

    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
    dragTo(label, QPoint(30, 40));  // window (130, 90)
    ASSERT_EQ(floatingViews(&window).size(), 1u);
    NorvSubDragView* floating = floatingViews(&window).front();
    EXPECT_TRUE(label->isDraging);
    EXPECT_EQ(label->floatingView(), floating);
    EXPECT_EQ(floating->parentWidget(), &window);
    EXPECT_TRUE(floating->isVisible());
    EXPECT_EQ(floating->geometry(), QRect(130 - 9, 90 - 8, 17, 17));
    EXPECT_EQ(floating->toplabel->text(), QStringLiteral("3"));
    EXPECT_EQ(floating->toplabel->borderColor(), kHardwareColor);
    EXPECT_EQ(floating->toplabel->backgroundColor(), withAlpha(kHardwareColor, 0.5));

    // Once running, the drag follows the pointer back over the label without a second copy.
    dragTo(label, QPoint(4, 4));  // window (104, 54)
    ASSERT_EQ(floatingViews(&window).size(), 1u);
    EXPECT_EQ(floating->pos(), QPoint(104 - 9, 54 - 8));

    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_EQ(received, floating);
    EXPECT_EQ(from, label);
    EXPECT_EQ(geometryAtRelease, QRect(95, 46, 17, 17));
    EXPECT_FALSE(label->isDraging);
    EXPECT_EQ(label->floatingView(), nullptr);
    EXPECT_TRUE(floatingViews(&window).empty());
}

TEST_F(LumLabelDragTest, ACallbackMayKeepTheFloatingLabelByReparentingIt) {
    label->canDrag = true;
    LumLabel* kept = nullptr;
    label->labelMouseUp = [&](NorvSubDragView* floating, LumLabel*) {
        kept = floating->toplabel;
        kept->setParent(&window);
    };
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
    dragTo(label, QPoint(60, 60));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(60, 60));
    EXPECT_TRUE(floatingViews(&window).empty());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->parentWidget(), &window);
    EXPECT_EQ(kept->text(), QStringLiteral("3"));
}

TEST_F(LumLabelDragTest, DoubleClickAndHoverReachTheirCallbacks) {
    std::vector<LumLabel*> doubleClicks;
    std::vector<std::pair<MouseMoveEvent, LumLabel*>> hovers;
    label->labelDoubleClick = [&](LumLabel* l) { doubleClicks.push_back(l); };
    label->observer = [&](MouseMoveEvent e, LumLabel* l) { hovers.emplace_back(e, l); };

    QTest::mouseDClick(label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(doubleClicks, std::vector<LumLabel*>{label});

    sendEnter(label);
    EXPECT_EQ(label->hoverState, MouseMoveEvent::entered);
    sendLeave(label);
    EXPECT_EQ(label->hoverState, MouseMoveEvent::exited);
    const std::vector<std::pair<MouseMoveEvent, LumLabel*>> expected{
        {MouseMoveEvent::entered, label}, {MouseMoveEvent::exited, label}};
    EXPECT_EQ(hovers, expected);
}

TEST(LumLabelTest, AbsentOrInvalidColoursPaintNothing) {
    LumLabel label;
    label.resize(20, 20);
    EXPECT_FALSE(label.backgroundColor());
    label.setBackgroundColor(QColor());
    EXPECT_FALSE(label.backgroundColor());
    label.setBackgroundColor(QColor(Qt::red));
    label.setBorder(QColor(Qt::blue), 1);
    const QImage painted = label.grab().toImage();
    EXPECT_EQ(painted.pixelColor(10, 10), QColor(Qt::red));
    EXPECT_EQ(painted.pixelColor(0, 10), QColor(Qt::blue));
    label.setBackgroundColor(std::nullopt);
    EXPECT_FALSE(label.backgroundColor());
}

// ---- NorvSubDragView ----

TEST(NorvSubDragViewTest, LayoutsAndColours) {
    NorvSubDragView single;
    EXPECT_EQ(single.size(), QSize(17, 17));
    EXPECT_EQ(single.toplabel->geometry(), QRect(0, 0, 17, 17));
    EXPECT_EQ(single.toplabel->borderColor(), kSoftwareColor);
    EXPECT_EQ(single.toplabel->backgroundColor(), withAlpha(kSoftwareColor, 0.5));
    EXPECT_EQ(single.toplabel->borderWidth(), 1);

    NorvSubDragView pair(NorvSubDragView::Layout::pair);
    EXPECT_EQ(pair.size(), QSize(17, 41));
    EXPECT_EQ(pair.toplabel->geometry(), QRect(0, 0, 17, 17));
    EXPECT_EQ(pair.botlabel->geometry(), QRect(0, 24, 17, 17));
    pair.setLabelColor(kHardwareColor);
    for (LumLabel* l : {pair.toplabel, pair.botlabel}) {
        EXPECT_EQ(l->borderColor(), kHardwareColor);
        EXPECT_EQ(l->backgroundColor(), withAlpha(kHardwareColor, 0.5));
    }

    // Dragged by its top handle the pointer lies over the top label, by its bottom one over the
    // bottom label.
    pair.moveUnderPointer(QPoint(100, 100), 30);
    EXPECT_TRUE(pair.toplabel->geometry().translated(pair.pos()).contains(QPoint(100, 100)));
    pair.moveUnderPointer(QPoint(100, 100));
    EXPECT_TRUE(pair.botlabel->geometry().translated(pair.pos()).contains(QPoint(100, 100)));
}

// ---- LumTextField ----

TEST(LumTextFieldTest, ClickSelectsAllAndTypingReportsTheWholeText) {
    LumTextField field;
    std::vector<QString> reported;
    field.textDidChange = [&](const QString& t) { reported.push_back(t); };
    field.setText(QStringLiteral("Vocal"));  // set by the program: not reported
    field.resize(120, 24);
    field.show();
    field.setFocus();

    QTest::mouseClick(&field, Qt::LeftButton, {}, QPoint(60, 12));
    EXPECT_EQ(field.selectedText(), QStringLiteral("Vocal"));
    QTest::mouseDClick(&field, Qt::LeftButton, {}, QPoint(60, 12));
    EXPECT_EQ(field.selectedText(), QStringLiteral("Vocal"));

    QTest::keyClicks(&field, QStringLiteral("Gtr"));
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(reported, (std::vector<QString>{QStringLiteral("G"), QStringLiteral("Gt"),
                                              QStringLiteral("Gtr"), QStringLiteral("Gt")}));
    EXPECT_FALSE(field.isReadOnly());
}

// ---- HoverView ----

TEST(HoverViewTest, EnterAndLeaveReachTheObserverInOrder) {
    HoverView view;
    std::vector<std::pair<MouseMoveEvent, HoverView*>> seen;
    view.observer = [&](MouseMoveEvent e, HoverView* v) { seen.emplace_back(e, v); };
    sendEnter(&view);
    EXPECT_EQ(view.hoverState, MouseMoveEvent::entered);
    sendLeave(&view);
    EXPECT_EQ(view.hoverState, MouseMoveEvent::exited);
    const std::vector<std::pair<MouseMoveEvent, HoverView*>> expected{
        {MouseMoveEvent::entered, &view}, {MouseMoveEvent::exited, &view}};
    EXPECT_EQ(seen, expected);
}

// ---- NorvButtonView ----

TEST(NorvButtonViewTest, ClicksColourTheButtonAndReportTheNewState) {
    NorvButtonView view;
    view.resize(40, 20);
    view.show();
    EXPECT_EQ(view.button->geometry(), view.rect());
    EXPECT_TRUE(view.titleText().isEmpty());
    std::vector<bool> states;
    view.selectHandler = [&](bool on) { states.push_back(on); };

    QTest::mouseClick(view.button, Qt::LeftButton);
    EXPECT_TRUE(view.state());
    EXPECT_EQ(view.buttonBackground()->rgba(), qRgba(255, 0, 0, 153));
    QTest::mouseClick(view.button, Qt::LeftButton);
    EXPECT_FALSE(view.state());
    EXPECT_EQ(view.buttonBackground()->rgba(), qRgba(230, 150, 162, 179));
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
}

TEST(NorvButtonViewTest, HoverColoursOnlyWhileOff) {
    NorvButtonView view;
    view.resize(40, 20);
    sendEnter(&view);
    EXPECT_EQ(view.buttonBackground(), NorvButtonView::offColor());
    sendLeave(&view);
    EXPECT_EQ(view.buttonBackground(), QColor(64, 64, 64));

    QTest::mouseClick(view.button, Qt::LeftButton);
    sendEnter(&view);
    EXPECT_EQ(view.buttonBackground(), NorvButtonView::onColor());
    sendLeave(&view);
    EXPECT_EQ(view.buttonBackground(), NorvButtonView::onColor());
    EXPECT_EQ(view.button->grab().toImage().pixelColor(20, 10).red(), 255);
}

TEST(NorvButtonViewTest, SetStateRestoresWithoutCallback) {
    NorvButtonView view;
    int calls = 0;
    view.selectHandler = [&](bool) { ++calls; };
    view.setState(true);
    EXPECT_TRUE(view.state());
    EXPECT_FALSE(view.buttonBackground());
    view.setState(false, true);
    EXPECT_EQ(view.buttonBackground(), NorvButtonView::restColor());
    view.setState(true, true);
    EXPECT_EQ(view.buttonBackground(), NorvButtonView::onColor());
    EXPECT_EQ(calls, 0);
}

// ---- colours and images ----

TEST(ColorFromTextTest, AcceptsOnlyHashAndSixHexDigits) {
    EXPECT_EQ(colorFromText(QStringLiteral("#ff8313")), QColor(255, 131, 19));
    EXPECT_EQ(colorFromText(QStringLiteral("#FF8313")), QColor(255, 131, 19));
    EXPECT_EQ(colorFromText(QStringLiteral("#000000")), QColor(0, 0, 0));
    EXPECT_EQ(colorFromText(QStringLiteral("#ff8313")).alpha(), 255);
    for (const char* bad :
         {"ff8313", "#ff831", "#ff83133", "#gg0000", "", "#", "# ff831", "#+ff831", "#0xff83",
          "\xef\xbc\x83"
          "ff8313"}) {
        EXPECT_FALSE(colorFromText(QString::fromUtf8(bad)).isValid()) << bad;
    }
}

TEST(ImagesTest, EveryNamedImageRendersAtTheRequestedSize) {
    ASSERT_EQ(imageNames().size(), 19);
    for (const QString& name : imageNames()) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(imageNaturalSize(name).isValid());
        const QPixmap pixmap = image(name, QSize(25, 20), 2.0);
        ASSERT_FALSE(pixmap.isNull());
        EXPECT_EQ(pixmap.size(), QSize(50, 40));
        EXPECT_EQ(pixmap.devicePixelRatio(), 2.0);
        const QImage img = pixmap.toImage();
        int opaque = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) opaque += img.pixelColor(x, y).alpha() > 0;
        }
        EXPECT_GT(opaque, 10);
    }
    EXPECT_TRUE(image(QStringLiteral("no-such-image"), QSize(10, 10)).isNull());
    EXPECT_TRUE(image(QStringLiteral("hardware"), QSize()).isNull());
}

TEST(ImagesTest, CrosspointImagesUseTheSourceColours) {
    const QImage hw = image(QStringLiteral("hardware"), QSize(25, 20), 1).toImage();
    const QImage sw = image(QStringLiteral("software"), QSize(25, 20), 1).toImage();
    EXPECT_EQ(hw.pixelColor(12, 10), kHardwareColor);
    EXPECT_EQ(sw.pixelColor(12, 10), kSoftwareColor);
}

}  // namespace
}  // namespace h8::ui
