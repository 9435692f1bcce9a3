#include "ui/strips/level_bar.h"

#include <QBackingStore>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVarLengthArray>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cmath>

namespace h8::ui {
namespace {

constexpr qreal kCornerRadius = 3;

QPainterPath barShape(QSize size) {
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPoint(0, 0), size).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius,
                         kCornerRadius);
    return shape;
}

QImage layer(QSize pixels, qreal ratio, QImage::Format format) {
    QImage image(pixels, format);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}

// The gradient green (0) - yellow (0.5) - orange (1) as a table of 1024 colours over 0..1, as
// a painter samples a linear gradient.
constexpr int kGradientSteps = 1024;

const std::array<QRgb, kGradientSteps>& gradientTable() {
    static const std::array<QRgb, kGradientSteps> table = [] {
        const QColor green(0, 204, 0), yellow(255, 255, 0), orange(255, 153, 0);
        std::array<QRgb, kGradientSteps> t{};
        for (int i = 0; i < kGradientSteps; ++i) {
            const double pos = double(i) / (kGradientSteps - 1);
            const QColor& a = pos < 0.5 ? green : yellow;
            const QColor& b = pos < 0.5 ? yellow : orange;
            const double f = pos < 0.5 ? pos * 2 : (pos - 0.5) * 2;
            const auto mix = [f](int x, int y) { return int(std::lround(x + (y - x) * f)); };
            t[i] = qRgb(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
        }
        return t;
    }();
    return table;
}

// a/255 of `over` on top of (255 - a)/255 of `under`, per channel (premultiplied pixels).
inline QRgb mix255(QRgb over, uint a, QRgb under) {
    const uint b = 255 - a;
    const auto ch = [&](int shift) {
        const uint v = ((over >> shift) & 0xff) * a + ((under >> shift) & 0xff) * b + 127;
        return ((v + (v >> 8)) >> 8) << shift;  // v / 255, rounded
    };
    return ch(24) | ch(16) | ch(8) | ch(0);
}

// A premultiplied pixel drawn over another (source over).
inline QRgb over(QRgb top, QRgb under) {
    const uint a = qAlpha(top);
    if (a == 255) return top;
    if (a == 0) return under;
    return top + mix255(0, a, under);
}

}  // namespace

LevelBar::LevelBar(QWidget* parent) : QWidget(parent) {
    updateOpaque();
}

bool LevelBar::setLevel(double level, LevelBarBatch* batch) {
    level_ = std::clamp(std::isnan(level) ? 0.0 : level, 0.0, 1.0);
    const int width = static_cast<int>(std::lround(level_ * this->width()));
    if (width == drawnWidth_) return false;
    // The fill drawn now reaches at most half a pixel past the old drawn width (the level may
    // have moved within the same width since), the new one as far past the new width: the
    // pixel holding either end is repainted too.
    const int reach = std::max(width, drawnWidth_) + 1;
    drawnWidth_ = width;
    const QRect damage(0, 0, std::min(reach, this->width()), height());
    if (!batch || !batch->add(this, damage)) update(damage);
    return true;
}

LevelBarBatch::LevelBarBatch(QWidget* window) : window_(window) {
    // Opaque windows only: in a translucent one the repaint pass takes care of the window's
    // alpha, which the bars leave alone.
    const QWindow* const handle = window ? window->windowHandle() : nullptr;
    if (handle && handle->isExposed() && !handle->format().hasAlpha())
        store_ = window->backingStore();
}

bool LevelBarBatch::add(LevelBar* bar, const QRect& damage) {
    if (!store_) return false;
    const std::optional<QPoint> offset = bar->directPaintOffset(damage, window_);
    if (!offset) return false;
    items_.push_back({bar, damage, *offset});
    return true;
}

QRegion LevelBarBatch::finish() {
    if (items_.empty()) return {};
    // In the order of the region's bands (top to bottom, then left to right) each rectangle
    // appends to the region instead of merging into it.
    const auto target = [](const Item& item) { return item.damage.translated(item.offset); };
    std::sort(items_.begin(), items_.end(), [&](const Item& a, const Item& b) {
        const QRect ta = target(a), tb = target(b);
        return std::pair(ta.top(), ta.left()) < std::pair(tb.top(), tb.left());
    });
    QRegion region;
    for (const Item& item : items_) region += target(item);
    std::vector<Item> unpainted;
    store_->beginPaint(region);
    QPaintDevice* const device = store_->paintDevice();
    if (device && device->devType() == QInternal::Image && !device->paintingActive()) {
        auto* const image = static_cast<QImage*>(device);
        const QImage::Format format = image->format();
        const bool pixels32 = format == QImage::Format_RGB32 ||
                              format == QImage::Format_ARGB32_Premultiplied ||
                              format == QImage::Format_ARGB32;
        const qreal ratio = image->devicePixelRatio();
        const auto scale = int(ratio);
        for (const Item& item : items_) {
            const LevelBar& bar = *item.bar;
            const int from = item.damage.left() * scale, to = (item.damage.right() + 1) * scale;
            const QPoint origin = item.offset * scale;
            // Pixels of the bar's own layout (its corners mixed with the opaque colour behind,
            // so every pixel is opaque) at a whole pixel ratio, and a backing store no smaller
            // than the window has become.
            if (pixels32 && bar.base_.devicePixelRatio() == ratio && ratio == scale &&
                image->rect().contains(
                    QRect(origin.x() + from, origin.y(), to - from, bar.base_.height()))) {
                bar.compose(from, to, image->scanLine(origin.y()) + origin.x() * 4,
                            image->bytesPerLine());
            } else {
                unpainted.push_back(item);
            }
        }
    } else {
        unpainted = items_;
    }
    store_->endPaint();
    items_.clear();
    QRegion painted = region;
    for (const Item& item : unpainted) {
        item.bar->update(item.damage);
        painted -= target(item);
    }
    if (!painted.isEmpty()) store_->flush(painted, window_->windowHandle());
    return painted;
}

void LevelBar::setBorderColor(std::optional<QColor> color) {
    if (border_ == color) return;
    border_ = color;
    invalidateLayers();
}

void LevelBar::setBarBackground(std::optional<QColor> color) {
    background_ = color;
    invalidateLayers();
}

std::optional<QColor> LevelBar::colorBehind() const {
    for (const QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (!w->autoFillBackground() && !w->isWindow()) continue;
        if (w->testAttribute(Qt::WA_TranslucentBackground)) return std::nullopt;
        const QBrush& brush = w->palette().brush(w->backgroundRole());
        if (brush.style() != Qt::SolidPattern || !brush.isOpaque()) return std::nullopt;
        return brush.color();
    }
    return std::nullopt;
}

void LevelBar::updateOpaque() {
    const std::optional<QColor> behind = colorBehind();
    if (behind == behind_ && testAttribute(Qt::WA_OpaquePaintEvent) == behind.has_value()) return;
    behind_ = behind;
    // Opaque: Qt paints nothing under the bar when it repaints, only the bar itself.
    setAttribute(Qt::WA_OpaquePaintEvent, behind_.has_value());
    invalidateLayers();
}

void LevelBar::invalidateLayers() {
    layersValid_ = false;
    update();
}

void LevelBar::makeLayers() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    const QPainterPath shape = barShape(size());
    const QImage::Format format =
        behind_ ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;

    base_ = layer(pixels, ratio, format);
    if (behind_) base_.fill(*behind_);
    if (background_) {
        QPainter p(&base_);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(shape, *background_);
    }
    outline_ = QImage();
    if (border_) {
        outline_ = layer(pixels, ratio, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&outline_);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(*border_, 1));
        p.drawPath(shape);
    }
    shape_ = layer(pixels, ratio, QImage::Format_Alpha8);
    {
        QPainter p(&shape_);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(shape, Qt::black);
    }
    // Per row, the run of pixels the shape covers fully (none: an empty run).
    solid_.assign(shape_.height(), {0, 0});
    for (int y = 0; y < shape_.height(); ++y) {
        const uchar* row = shape_.constScanLine(y);
        const uchar* first = std::find(row, row + shape_.width(), uchar(255));
        const uchar* last =
            std::find_if(first, row + shape_.width(), [](uchar a) { return a != 255; });
        solid_[y] = {int(first - row), int(last - row)};
    }
    // Per row, the longest run of columns without border.
    outlineGap_.assign(outline_.isNull() ? 0 : outline_.height(), {0, 0});
    for (int y = 0; y < int(outlineGap_.size()); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(outline_.constScanLine(y));
        int x = 0;
        while (x < outline_.width()) {
            const int start = x;
            while (x < outline_.width() && row[x] == 0) ++x;
            if (x - start > outlineGap_[y].second - outlineGap_[y].first)
                outlineGap_[y] = {start, x};
            while (x < outline_.width() && row[x] != 0) ++x;
        }
    }
    // Rows with the same layers as an earlier row (the pixels only: a row's padding is not
    // written).
    const auto sameRow = [](const QImage& image, int a, int b) {
        const qsizetype bytes = qsizetype(image.width()) * image.depth() / 8;
        return image.isNull() || std::equal(image.constScanLine(a), image.constScanLine(a) + bytes,
                                            image.constScanLine(b));
    };
    sameAs_.assign(base_.height(), 0);
    for (int y = 0; y < base_.height(); ++y) {
        sameAs_[y] = y;
        for (int earlier = 0; earlier < y; ++earlier) {
            if (sameAs_[earlier] == earlier && sameRow(base_, earlier, y) &&
                sameRow(shape_, earlier, y) && sameRow(outline_, earlier, y)) {
                sameAs_[y] = earlier;
                break;
            }
        }
    }
    layersValid_ = true;
}

std::optional<QPoint> LevelBar::directPaintOffset(const QRect& rect, const QWidget* top) const {
    if (!behind_ || !layersValid_ || base_.isNull() || !isVisible() || !updatesEnabled() ||
        testAttribute(Qt::WA_NativeWindow) || !mask().isEmpty())
        return std::nullopt;
    // Up to the window: the area inside each ancestor (else clipped), which has no mask and no
    // native window (which would show it instead of the window), and under none of the widgets
    // stacked above it or an ancestor (the later children of the same parent).
    QRect area = rect;
    const QWidget* w = this;
    for (; !w->isWindow(); w = w->parentWidget()) {
        const QWidget* const parent = w->parentWidget();
        area.translate(w->pos());
        if (!parent->rect().contains(area) || !parent->mask().isEmpty() ||
            (parent->testAttribute(Qt::WA_NativeWindow) && !parent->isWindow()))
            return std::nullopt;
        const QObjectList& siblings = parent->children();
        for (qsizetype i = siblings.indexOf(w) + 1; i < siblings.size(); ++i) {
            const QObject* o = siblings[i];
            if (!o->isWidgetType()) continue;
            const auto* sibling = static_cast<const QWidget*>(o);
            if (sibling->isVisible() && !sibling->isWindow() &&
                sibling->geometry().intersects(area))
                return std::nullopt;
        }
    }
    if (w != top) return std::nullopt;
    return area.topLeft() - rect.topLeft();
}

void LevelBar::compose(int from, int to, uchar* origin, qsizetype stride) const {
    // The fill: the gradient from 0 to `filled` (a fractional last pixel partly covered),
    // stretched over filled × gradientEnd, sampled at pixel centres, cut to the shape.
    const qreal ratio = base_.devicePixelRatio();
    const double filled = level_ * width() * ratio;
    const int whole = static_cast<int>(filled);
    const uint partial = static_cast<uint>(std::lround((filled - whole) * 255));
    const int fillEnd = std::clamp(partial ? whole + 1 : whole, from, to);
    // Table steps per pixel: the gradient spans filled × gradientEnd pixels.
    const double steps = (kGradientSteps - 1) / (filled * gradientEnd(level_));
    const auto& table = gradientTable();
    QVarLengthArray<QRgb, 1024> colors(fillEnd - from);
    for (int x = from; x < fillEnd; ++x) {
        const double step = std::min(double(kGradientSteps - 1), (x + 0.5) * steps);
        colors[x - from] = table[static_cast<size_t>(step + 0.5)];
    }

    // The last fill pixel is partly covered when the fill ends within it.
    const int solidEnd = partial && whole < fillEnd ? whole : fillEnd;
    for (int y = 0; y < base_.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(origin + y * stride);
        if (sameAs_[y] != y) {
            const auto* same = reinterpret_cast<const QRgb*>(origin + sameAs_[y] * stride);
            std::copy(same + from, same + to, out + from);
            continue;
        }
        const auto* base = reinterpret_cast<const QRgb*>(base_.constScanLine(y));
        const uchar* shape = shape_.constScanLine(y);
        const auto mixRange = [&](int x0, int x1) {
            for (int x = x0; x < x1; ++x) {
                uint a = shape[x];
                if (x == whole) a = (a * partial + 127) / 255;
                const QRgb color = colors[x - from];
                out[x] = a == 255 ? color : a ? mix255(color, a, base[x]) : base[x];
            }
        };
        // Inside the shape's fully covered run the fill is the gradient itself.
        const int solidFrom = std::clamp(solid_[y].first, from, solidEnd);
        const int solidTo = std::clamp(solid_[y].second, solidFrom, solidEnd);
        mixRange(from, solidFrom);
        std::copy(colors.begin() + (solidFrom - from), colors.begin() + (solidTo - from),
                  out + solidFrom);
        mixRange(solidTo, fillEnd);
        std::copy(base + fillEnd, base + to, out + fillEnd);
        if (!outline_.isNull()) {
            // The border covers only the row's ends, but for its top and bottom rows.
            const auto* outline = reinterpret_cast<const QRgb*>(outline_.constScanLine(y));
            const int gapFrom = std::clamp(outlineGap_[y].first, from, to);
            const int gapTo = std::clamp(outlineGap_[y].second, gapFrom, to);
            for (int x = from; x < gapFrom; ++x) out[x] = over(outline[x], out[x]);
            for (int x = gapTo; x < to; ++x) out[x] = over(outline[x], out[x]);
        }
    }
}

void LevelBar::resizeEvent(QResizeEvent*) {
    // The whole bar repaints at its new size; later damage starts from the width drawn now.
    drawnWidth_ = static_cast<int>(std::lround(level_ * width()));
    invalidateLayers();
}

void LevelBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) updateOpaque();
    QWidget::changeEvent(event);
}

bool LevelBar::event(QEvent* event) {
    // The colour behind depends on the ancestors: check again when they may have changed.
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show) updateOpaque();
    return QWidget::event(event);
}

void LevelBar::paintEvent(QPaintEvent* event) {
    if (!layersValid_ || base_.devicePixelRatio() != devicePixelRatioF()) makeLayers();
    if (base_.isNull()) return;
    const qreal ratio = base_.devicePixelRatio();
    const QRect dirty = event->rect() & rect();
    const int from = std::max(0, static_cast<int>(std::floor(dirty.left() * ratio)));
    const int to =
        std::min(base_.width(), static_cast<int>(std::ceil((dirty.right() + 1) * ratio)));
    if (from >= to) return;
    // All bars compose into one image (one per format): painted one after the other, it stays
    // in the cache.
    static QImage frames[2];
    QImage& frame = frames[behind_ ? 0 : 1];
    if (frame.width() < base_.width() || frame.height() < base_.height()) {
        frame = QImage(std::max(frame.width(), base_.width()),
                       std::max(frame.height(), base_.height()), base_.format());
    }
    compose(from, to, frame.bits(), frame.bytesPerLine());
    QPainter p(this);
    const QRectF target(from / ratio, 0, (to - from) / ratio, height());
    p.drawImage(target, frame, QRectF(from, 0, to - from, base_.height()));
}

}  // namespace h8::ui
