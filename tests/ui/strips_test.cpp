// Channel strips: highlights that follow route hovering and chip counts, names stored on every
// keystroke, reloads after a preset import, and the level bars.

#include <gtest/gtest.h>

#include <QApplication>
#include <QHash>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTest>

#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "panel_parts.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/matrix/drag_view.h"
#include "ui/strips/channel_strips.h"
#include "ui/strips/level_bar.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_text_field.h"
#include "ui/widgets/lum_volume_vircle_view.h"

namespace h8::ui {
namespace {

class StripsTest : public testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(nullptr);
        NorvShareHelper::shared().resetForTesting();
        parts_ = std::make_unique<test::PanelParts>(usb_);
        playback_ = std::make_unique<NorvInputProgressView>(parts_->context(), "Playback 1-2",
                                                            LayoutType::BL);
        playback_->setIndexTitle(1);
        playback_->setRows(5);
        playback_->resize(335, 60);
        loop_ = std::make_unique<NorvOutProgressView>(parts_->context(), "Mixer In 1-2", true);
        loop_->setPair(5);
        loop_->resize(335, 60);
    }
    static void post(const char* name, const QVariant& object) {
        NotificationCenter::defaultCenter().post(name, object);
    }

    test::TempEnv env_;
    UsbInterface usb_;
    std::unique_ptr<test::PanelParts> parts_;
    std::unique_ptr<NorvInputProgressView> playback_;
    std::unique_ptr<NorvOutProgressView> loop_;
};

TEST_F(StripsTest, HoveringARouteLightsTheBarsOfItsSourceAndDestination) {
    post(notify::kMouseEnteredChannelLabel, crosspointPayload(6, 6));
    EXPECT_EQ(playback_->botView->borderColor(), QColor(Qt::white));
    EXPECT_EQ(playback_->topView->borderColor(), QColor(58, 58, 58));
    EXPECT_EQ(loop_->botView->borderColor(), QColor(Qt::white));
    EXPECT_FALSE(loop_->topView->borderColor());
    post(notify::kMouseExitedChannelLabel, crosspointPayload(6, 6));
    EXPECT_EQ(playback_->botView->borderColor(), QColor(58, 58, 58));
    EXPECT_FALSE(loop_->botView->borderColor());
    // Payloads of the wrong shape are ignored.
    post(notify::kMouseEnteredChannelLabel, QVariant(6));
    EXPECT_EQ(playback_->botView->borderColor(), QColor(58, 58, 58));
}

TEST_F(StripsTest, HandleStaysLitUntilItsLastChipIsGone) {
    RoutingModel& routing = parts_->routing;
    RouteChips chips(routing, NorvShareHelper::shared().indexQuoteArray,
                     NotificationCenter::defaultCenter());
    routing.drop(5, 1);
    routing.drop(5, 3);
    EXPECT_EQ(playback_->topBtn->label->borderColor(), QColor(Qt::white));
    routing.removeChip(5, 1, ChipRemoval::doubleClick);
    EXPECT_EQ(playback_->topBtn->label->borderColor(), QColor(Qt::white));
    routing.removeChip(5, 3, ChipRemoval::doubleClick);
    EXPECT_FALSE(playback_->topBtn->label->borderColor());
    EXPECT_EQ(playback_->botBtn->label->borderColor(), QColor(31, 101, 47));  // untouched
}

TEST_F(StripsTest, NamesAreStoredOnEveryKeystrokeAndReloadedAfterImport) {
    playback_->show();
    QTest::mouseClick(playback_->botL, Qt::LeftButton);
    QTest::keyClicks(playback_->botL, "Vox");
    EXPECT_EQ(UserDefaults::standard().stringForKey("channelRowName6"), "Vox");
    QTest::keyClick(playback_->botL, Qt::Key_Backspace);
    EXPECT_EQ(UserDefaults::standard().stringForKey("channelRowName6"), "Vo");
    playback_->botL->selectAll();
    QTest::keyClick(playback_->botL, Qt::Key_Delete);
    EXPECT_EQ(UserDefaults::standard().stringForKey("channelRowName6"), "");

    UserDefaults::standard().setString("channelRowName6", "Synth");
    UserDefaults::standard().setString("channelName6", "Stream");
    UserDefaults::standard().setInteger("outputVolume5", 42);
    post(notify::kEntranceFileSuccess, {});
    EXPECT_EQ(playback_->botL->text(), "Synth");
    EXPECT_EQ(loop_->botL->text(), "Stream");
    EXPECT_EQ(loop_->volumeLabel->text(), "42");

    // A stored 0 (or nothing) leaves the knob and its label where they are.
    UserDefaults::standard().setInteger("outputVolume5", 0);
    post(notify::kEntranceFileSuccess, {});
    EXPECT_EQ(loop_->volumeLabel->text(), "42");
}

TEST_F(StripsTest, NamesLoadWithTheRows) {
    UserDefaults::standard().setString("channelRowName2", "Guitar");
    NorvInputProgressView mic(parts_->context(), "Mic/Line 1-2", LayoutType::TL);
    EXPECT_TRUE(mic.botL->text().isEmpty());
    mic.setRows(1);
    EXPECT_EQ(mic.botL->text(), "Guitar");
    EXPECT_EQ(mic.topBtn->actRowIndex, 1);
    EXPECT_EQ(mic.botBtn->actRowIndex, 2);
    mic.setIndexTitle(1);
    EXPECT_EQ(mic.botBtn->titleText(), "2");
}

TEST_F(StripsTest, AClickElsewhereEndsTheNamesEditing) {
    playback_->show();
    QTest::mouseClick(playback_->botL, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return playback_->botL->hasFocus(); }, 1000));
    QTest::mouseClick(playback_->topBtn, Qt::LeftButton);
    EXPECT_FALSE(playback_->botL->hasFocus());
    // And again after the name lost the focus once.
    QTest::mouseClick(playback_->botL, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return playback_->botL->hasFocus(); }, 1000));
    QTest::mouseClick(playback_->linkBtn, Qt::LeftButton);
    EXPECT_FALSE(playback_->botL->hasFocus());
}

TEST(LevelBarTest, GradientAndClamping) {
    EXPECT_DOUBLE_EQ(LevelBar::gradientEnd(0.3), 5.0);
    EXPECT_DOUBLE_EQ(LevelBar::gradientEnd(0.6), 5.0);
    EXPECT_DOUBLE_EQ(LevelBar::gradientEnd(0.8), 1.2);
    LevelBar bar;
    bar.resize(100, 12);
    bar.setLevel(1.7);
    EXPECT_DOUBLE_EQ(bar.level(), 1.0);
    bar.setLevel(std::nan(""));
    EXPECT_DOUBLE_EQ(bar.level(), 0.0);
}

// The paint events of a few widgets: how many, and the region of the last one.
class PaintLog : public QObject {
public:
    explicit PaintLog(std::initializer_list<QWidget*> widgets) {
        for (QWidget* w : widgets) w->installEventFilter(this);
    }
    int count(QObject* w) const { return counts_.value(w); }
    QRegion lastRegion(QObject* w) const { return regions_.value(w); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++counts_[watched];
            regions_[watched] = static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }

private:
    QHash<QObject*, int> counts_;
    QHash<QObject*, QRegion> regions_;
};

// A bar 200 pixels wide in a section whose background shows at its corners, next to a sentinel
// widget whose repaint marks the end of a repaint of the window.
class LevelBarRepaintTest : public testing::Test {
protected:
    void SetUp() override {
        section_.resize(260, 60);
        bar_ = new LevelBar(&section_);
        bar_->setGeometry(20, 14, 200, 12);
        sentinel_ = new QWidget(&section_);
        sentinel_->setGeometry(230, 40, 10, 10);
        sentinel_->setAttribute(Qt::WA_OpaquePaintEvent);  // nothing under it repaints with it
        log_ =
            std::make_unique<PaintLog>(std::initializer_list<QWidget*>{&section_, bar_, sentinel_});
    }
    void show(const QBrush& background) {
        section_.setAutoFillBackground(true);
        QPalette p = section_.palette();
        p.setBrush(QPalette::Window, background);
        section_.setPalette(p);
        section_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&section_));
        ASSERT_TRUE(QTest::qWaitFor([this] { return log_->count(bar_) > 0; }, 2000));
    }
    // Waits until the window has repainted what is pending: the sentinel's repaint comes in the
    // same pass as everything else marked before it.
    ::testing::AssertionResult settle() {
        const int before = log_->count(sentinel_);
        sentinel_->update();
        if (QTest::qWaitFor([&] { return log_->count(sentinel_) > before; }, 2000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no repaint";
    }
    // The bar's pixels in the window after the repaints so far, and as a repaint of the whole
    // section draws them now.
    QImage shown() const {
        return section_.screen()
            ->grabWindow(section_.winId())
            .toImage()
            .copy(bar_->geometry())
            .convertToFormat(QImage::Format_RGB32);
    }
    QImage drawn() {
        return section_.grab()
            .toImage()
            .copy(bar_->geometry())
            .convertToFormat(QImage::Format_RGB32);
    }
    // Sets a level that fills exactly `pixels` of the bar's current width.
    void fill(int pixels) { bar_->setLevel(double(pixels) / bar_->width()); }
    // 50 pixels filled with the bar 100 pixels wide, then the bar 200 pixels wide again.
    ::testing::AssertionResult fillHalfThenWiden() {
        bar_->resize(100, 12);
        fill(50);
        if (const auto settled = settle(); !settled) return settled;
        bar_->resize(200, 12);
        return settle();
    }

    QWidget section_;
    LevelBar* bar_;
    QWidget* sentinel_;
    std::unique_ptr<PaintLog> log_;
};

TEST_F(LevelBarRepaintTest, RepaintsFromItsLeftEndToTheLongerFillAndNothingUnderIt) {
    show(QColor(18, 17, 24));
    const auto step = [&](int pixels) {
        const int barPaints = log_->count(bar_), sectionPaints = log_->count(&section_);
        fill(pixels);
        EXPECT_TRUE(settle());
        EXPECT_EQ(log_->count(&section_), sectionPaints) << "the section under the bar repainted";
        return log_->count(bar_) > barPaints ? log_->lastRegion(bar_) : QRegion();
    };
    EXPECT_EQ(step(100), QRegion(0, 0, 101, 12));  // rising: up to the new end
    EXPECT_EQ(step(150), QRegion(0, 0, 151, 12));
    EXPECT_EQ(step(130), QRegion(0, 0, 151, 12));  // falling: the old fill is cleared
    EXPECT_EQ(step(0), QRegion(0, 0, 131, 12));
    // The same drawn width (a level within half a pixel of it) repaints nothing.
    step(60);
    bar_->setLevel(60.3 / 200);
    EXPECT_EQ(step(60), QRegion());
}

// What the partial repaints leave in the window is what a repaint of everything draws: on a
// plain background (the bar paints its corners itself) and on a pattern (it leaves them to the
// section), through the change of gradient at 60 %, with a border, and after a resize.
TEST_F(LevelBarRepaintTest, PartialRepaintsShowWhatAFullRepaintDraws) {
    QImage pattern(4, 4, QImage::Format_RGB32);
    pattern.fill(QColor(18, 17, 24));
    for (int i = 0; i < 4; ++i) pattern.setPixelColor(i, i, QColor(90, 40, 40));
    for (const QBrush& background : {QBrush(QColor(18, 17, 24)), QBrush(pattern)}) {
        SCOPED_TRACE(background.style() == Qt::SolidPattern ? "plain" : "pattern");
        show(background);
        for (int pixels : {90, 170, 119, 121, 200, 3, 0, 64}) {
            fill(pixels);
            ASSERT_TRUE(settle());
            EXPECT_EQ(shown(), drawn()) << pixels << " pixels";
        }
        bar_->setBorderColor(QColor(Qt::white));
        fill(150);
        ASSERT_TRUE(settle());
        EXPECT_EQ(shown(), drawn()) << "with a border";
        bar_->setBorderColor(std::nullopt);

        // A fill drawn at one width, then the bar twice as wide: a falling level clears all of
        // the fill drawn at the new width.
        ASSERT_TRUE(fillHalfThenWiden());
        fill(20);
        ASSERT_TRUE(settle());
        EXPECT_EQ(shown(), drawn()) << "after a resize";
    }
}

// Painted straight into the window, a change shows what a repaint of everything draws, over
// exactly the rectangle a repaint would cover, without a paint event of the bar or of anything
// under it; also with a border, after a resize and across the gradient's change at 60 %.
TEST_F(LevelBarRepaintTest, DirectPaintsShowWhatARepaintDrawsWithoutAPaintEvent) {
    show(QColor(18, 17, 24));
    ASSERT_TRUE(settle());
    const auto step = [&](int pixels) {
        const int barPaints = log_->count(bar_), sectionPaints = log_->count(&section_);
        LevelBarBatch batch(&section_);
        bar_->setLevel(double(pixels) / bar_->width(), &batch);
        const QRegion painted = batch.finish();
        EXPECT_TRUE(settle());
        EXPECT_EQ(log_->count(bar_), barPaints) << pixels << " pixels: the bar repainted";
        EXPECT_EQ(log_->count(&section_), sectionPaints) << pixels << " pixels";
        EXPECT_EQ(shown(), drawn()) << pixels << " pixels";
        return painted;
    };
    const QPoint at = bar_->geometry().topLeft();
    EXPECT_EQ(step(100), QRegion(at.x(), at.y(), 101, 12));  // rising: up to the new end
    EXPECT_EQ(step(150), QRegion(at.x(), at.y(), 151, 12));
    EXPECT_EQ(step(130), QRegion(at.x(), at.y(), 151, 12));  // falling: the old fill is cleared
    EXPECT_EQ(step(0), QRegion(at.x(), at.y(), 131, 12));
    for (int pixels : {170, 119, 121, 200, 3}) step(pixels);

    bar_->setBorderColor(QColor(Qt::white));
    fill(10);  // the new layers are made by the repaint this schedules
    ASSERT_TRUE(settle());
    EXPECT_FALSE(step(150).isEmpty()) << "with a border";
    bar_->setBorderColor(std::nullopt);
    ASSERT_TRUE(fillHalfThenWiden());
    EXPECT_EQ(step(20), QRegion(at.x(), at.y(), 101, 12)) << "after a resize";
}

// A transparent widget that draws a white line down its middle.
class Mark : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(width() / 2, 0, 2, height(), Qt::white);
    }
};

// Where painting straight in would not show what the bar's repaint draws, the bar repaints as
// usual and reports nothing painted: a pattern behind its corners, a widget over part of it
// (opaque, or transparent and stacked above the bar's parent), the bar clipped by its parent,
// a masked parent, a parent with a native window, the bar hidden.
TEST_F(LevelBarRepaintTest, DirectPaintsFallBackToARepaintWhereTheyCouldNotShowIt) {
    // A level offered for a direct paint: nothing painted, the bar's own repaint instead, and
    // the window as a repaint of everything draws it.
    const auto fallsBack = [this](double level, const char* where) {
        const int barPaints = log_->count(bar_);
        LevelBarBatch batch(&section_);
        bar_->setLevel(level, &batch);
        const QRegion painted = batch.finish();
        ASSERT_TRUE(settle());
        EXPECT_TRUE(painted.isEmpty()) << where;
        EXPECT_GT(log_->count(bar_), barPaints) << where;
        EXPECT_EQ(shown(), drawn()) << where;
    };
    const auto backInTheSection = [this] {
        bar_->setParent(&section_);
        bar_->setGeometry(20, 14, 200, 12);
        bar_->show();
    };
    QImage pattern(4, 4, QImage::Format_RGB32);
    pattern.fill(QColor(18, 17, 24));
    for (int i = 0; i < 4; ++i) pattern.setPixelColor(i, i, QColor(90, 40, 40));
    show(QBrush(pattern));
    ASSERT_TRUE(settle());
    fallsBack(0.5, "on a pattern");

    show(QColor(18, 17, 24));
    ASSERT_TRUE(settle());
    // A label-like widget over the bar's middle: its pixels stay its own.
    QWidget cover(&section_);
    cover.setAutoFillBackground(true);
    QPalette p = cover.palette();
    p.setColor(QPalette::Window, QColor(200, 30, 30));
    cover.setPalette(p);
    cover.setGeometry(bar_->x() + 40, bar_->y() + 2, 30, 8);
    cover.show();
    cover.raise();
    ASSERT_TRUE(settle());
    fallsBack(0.9, "under a widget");
    EXPECT_EQ(shown().pixelColor(55, 6), QColor(200, 30, 30));
    cover.hide();
    ASSERT_TRUE(settle());

    // A transparent one, a mark drawn over the bar, stacked above the bar's parent.
    QWidget strip(&section_);
    strip.setGeometry(bar_->geometry().adjusted(-5, -5, 5, 5));
    bar_->setParent(&strip);
    bar_->move(5, 5);
    bar_->show();
    strip.show();
    Mark mark(&section_);
    mark.setGeometry(bar_->mapTo(&section_, QPoint(150, 0)).x(), strip.y(), 10, 22);
    mark.show();
    ASSERT_TRUE(settle());
    fallsBack(0.95, "under a transparent widget");
    mark.hide();
    // Its parent narrower than the bar: what lies beyond the parent is not the bar's to paint.
    strip.resize(120, strip.height());
    ASSERT_TRUE(settle());
    fallsBack(0.5, "clipped by its parent");
    // Its parent masked.
    strip.resize(bar_->width() + 10, strip.height());
    strip.setMask(QRegion(0, 0, 60, strip.height()));
    ASSERT_TRUE(settle());
    fallsBack(0.7, "in a masked parent");
    strip.clearMask();
    backInTheSection();
    ASSERT_TRUE(settle());

    // In a native window: only whether it falls back shows here (the offscreen platform has no
    // native child windows to look at).
    {
        QWidget native(&section_);
        native.setGeometry(bar_->geometry());
        bar_->setParent(&native);
        bar_->move(0, 0);
        native.setAttribute(Qt::WA_NativeWindow);
        native.show();
        bar_->show();
        ASSERT_TRUE(settle());
        const int barPaints = log_->count(bar_);
        LevelBarBatch batch(&section_);
        bar_->setLevel(0.4, &batch);
        EXPECT_TRUE(batch.finish().isEmpty()) << "in a native window";
        EXPECT_TRUE(QTest::qWaitFor([&] { return log_->count(bar_) > barPaints; }, 2000));
        backInTheSection();
    }
    ASSERT_TRUE(settle());

    bar_->hide();
    LevelBarBatch batch(&section_);
    bar_->setLevel(0.2, &batch);
    EXPECT_TRUE(batch.finish().isEmpty()) << "hidden";
    bar_->show();
    ASSERT_TRUE(settle());
    EXPECT_EQ(shown(), drawn()) << "shown again";
}

// The bar as a painter draws it directly: the background, the gradient clipped to the rounded
// shape, the border on top, over the section's colour.
QImage painterDrawn(QSize size, double level, std::optional<QColor> background,
                    std::optional<QColor> border, QColor behind) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(behind);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPoint(0, 0), size).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    if (background) p.fillPath(shape, *background);
    const double filled = level * size.width();
    if (filled > 0) {
        QLinearGradient gradient(0, 0, filled * LevelBar::gradientEnd(level), 0);
        gradient.setColorAt(0.0, QColor(0, 204, 0));
        gradient.setColorAt(0.5, QColor(255, 255, 0));
        gradient.setColorAt(1.0, QColor(255, 153, 0));
        p.save();
        p.setClipPath(shape);
        p.fillRect(QRectF(0, 0, filled, size.height()), gradient);
        p.restore();
    }
    if (border) {
        p.setPen(QPen(*border, 1));
        p.drawPath(shape);
    }
    return image;
}

int largestDifference(const QImage& a, const QImage& b) {
    int largest = a.size() == b.size() ? 0 : 255;
    for (int y = 0; y < std::min(a.height(), b.height()); ++y) {
        for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

// The bar mixes its pixels itself; they stay what a painter draws, to within rounding.
TEST_F(LevelBarRepaintTest, LooksAsAPainterDrawsIt) {
    const QColor behind(18, 17, 24);
    show(behind);
    struct Look {
        std::optional<QColor> background, border;
    };
    for (const Look& look :
         {Look{QColor(Qt::gray), std::nullopt}, Look{QColor(Qt::gray), QColor(Qt::white)},
          Look{std::nullopt, QColor(58, 58, 58)}}) {
        bar_->setBarBackground(look.background);
        bar_->setBorderColor(look.border);
        for (double level : {0.0, 0.0041, 0.3337, 0.6, 0.6049, 0.8, 0.9991, 1.0}) {
            bar_->setLevel(level);
            EXPECT_LE(largestDifference(drawn(), painterDrawn(bar_->size(), level, look.background,
                                                              look.border, behind)),
                      1)
                << "level " << level << (look.border ? " with a border" : "");
        }
    }
}

}  // namespace
}  // namespace h8::ui
