// The level meter of one channel: a rounded bar filled from the left with a green-to-orange
// gradient; below 60 % only the green part shows, above it yellow and orange reach the end.
//
// Sixteen of these move twenty times a second for as long as the panel runs. A bar repaints
// only the part of itself that a new level changes and paints its corners itself in the colour
// behind it (when that is a plain colour), so that nothing under it is repainted with it. Its
// unchanging parts (the background, the border, the rounded shape's coverage) are drawn once
// per size and colour; a repaint mixes the fill into them pixel by pixel and hands the result
// to the painter in one piece.
#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>
#include <optional>
#include <utility>
#include <vector>

class QBackingStore;

namespace h8::ui {

class LevelBarBatch;

class LevelBar : public QWidget {
    Q_OBJECT
public:
    explicit LevelBar(QWidget* parent = nullptr);

    // The level, 0..1 (clamped). Repaints only when the drawn width changes, and then only from
    // the left end to the longer of the old and the new fill (the gradient stretches with the
    // fill, so all of it changes). True when it repaints.
    //
    // With a `batch`, the change is painted with the batch's other bars straight into the
    // window's backing store and flushed with them when the batch finishes. Meters that move
    // twenty times a second so skip a pass through the window's repaint on every tick, much as a
    // layer moves without its view being drawn again. Whenever a direct paint could not show
    // exactly what the paint event draws, the bar schedules its repaint as without a batch.
    bool setLevel(double level, LevelBarBatch* batch = nullptr);
    double level() const { return level_; }
    // The width of the fill as last drawn, in pixels: level × width, rounded.
    int drawnWidth() const { return drawnWidth_; }

    void setBorderColor(std::optional<QColor> color);
    std::optional<QColor> borderColor() const { return border_; }
    void setBarBackground(std::optional<QColor> color);

    // Where the gradient ends, in bar widths of the filled part: 5 (green only) up to 60 %,
    // then 2 - level.
    static double gradientEnd(double level) { return level > 0.6 ? 2.0 - level : 5.0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The plain colour that shows behind the bar's rounded corners: the background of the
    // nearest ancestor (or window) that fills its background. None when that is not a plain
    // colour; the bar then leaves its corners to the widgets below.
    std::optional<QColor> colorBehind() const;
    void updateOpaque();
    // Where `rect` (the bar's coordinates) lies in `top`, the bar's window, when a direct paint
    // of it shows exactly what the paint event draws: a bar that paints all of itself (a plain
    // colour behind it) with its layers made, shown, inside every ancestor, with no mask and no
    // native window of its own on the way up, and under no other widget of the window, even a
    // transparent one (a label's text drawn over the bar). None otherwise.
    std::optional<QPoint> directPaintOffset(const QRect& rect, const QWidget* top) const;
    void invalidateLayers();
    void makeLayers();
    // The bar at its current level in columns [from, to) (device pixels): base_, the fill mixed
    // in, outline_ over both, written to the 32-bit pixels whose top left is `origin`, rows
    // `stride` bytes apart.
    void compose(int from, int to, uchar* origin, qsizetype stride) const;

    double level_ = 0;
    int drawnWidth_ = 0;
    std::optional<QColor> border_;
    std::optional<QColor> background_ = QColor(Qt::gray);
    std::optional<QColor> behind_;

    // Made on the first paint after a change of size, colours or pixel ratio.
    bool layersValid_ = false;
    QImage base_;     // the colour behind and the rounded background
    QImage outline_;  // the border alone, drawn over the fill; null without a border
    QImage shape_;    // the rounded shape's coverage, 0..255: the fill is cut to it
    std::vector<std::pair<int, int>> solid_;  // per row: the columns shape_ covers fully
    // Per row: the columns between the left and the right side of the border, where outline_
    // is empty (the border's top and bottom rows: an empty run).
    std::vector<std::pair<int, int>> outlineGap_;
    // Per row: the first row whose layers match it pixel for pixel. Such rows compose to the
    // same pixels, so only the first of them is mixed and the others are copies of it (a
    // 12-pixel bar has five different rows: the corners' and the middle's).
    std::vector<int> sameAs_;

    friend class LevelBarBatch;
};

// The bars one meter tick paints straight into their window's backing store: painted together
// (one beginPaint/endPaint) and flushed to the screen in one go when the batch finishes. Only
// for an opaque, exposed window whose backing store is an image of 32-bit pixels at the bars'
// pixel ratio (a whole number); anything else, and any bar that could not be painted after all,
// takes the bar's repaint instead. A batch lives for one call: its bars must outlive it.
class LevelBarBatch {
public:
    explicit LevelBarBatch(QWidget* window);
    ~LevelBarBatch() { finish(); }
    LevelBarBatch(const LevelBarBatch&) = delete;
    LevelBarBatch& operator=(const LevelBarBatch&) = delete;

    // Paints and flushes the bars added since the last finish; returns what was painted, in the
    // window's coordinates.
    QRegion finish();

private:
    friend class LevelBar;
    // Takes `damage` (the bar's coordinates) to paint at the finish; false when the bar must
    // repaint it itself.
    bool add(LevelBar* bar, const QRect& damage);

    struct Item {
        LevelBar* bar;
        QRect damage;   // the bar's coordinates
        QPoint offset;  // the bar's top left in the window
    };
    QWidget* window_;
    QBackingStore* store_ = nullptr;  // null: nothing can be painted directly
    std::vector<Item> items_;
};

}  // namespace h8::ui
