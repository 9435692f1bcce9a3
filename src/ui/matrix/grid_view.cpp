#include "ui/matrix/grid_view.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/routing_model.h"
#include "platform/notification_center.h"
#include "ui/matrix/channel_row_view.h"
#include "ui/panels/io_view.h"
#include "ui/widgets/hover_button.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/style.h"

namespace h8::ui {
namespace {

QStringList destinationTitles() {
    QStringList titles;
    for (int col = 1; col <= kMatrixDestinations; ++col) titles.append(destinationTitle(col));
    return titles;
}

// The wheel turn (in Qt's eighths of a degree) that a level key stands for: one notch for + and
// − (= is + without Shift), a fast turn of two notches for Page Up and Page Down; 0 for any
// other key. The keypad's keys arrive as the same keys with the keypad modifier.
int levelKeyAngleDelta(int key) {
    switch (key) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            return 120;
        case Qt::Key_Minus:
            return -120;
        case Qt::Key_PageUp:
            return 240;
        case Qt::Key_PageDown:
            return -240;
        default:
            return 0;
    }
}

QLabel* headerLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(systemFont(10));
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    return label;
}
}  // namespace

NorvGridView::NorvGridView(const PanelContext& context, const QStringList& titles, QWidget* parent)
    : QWidget(parent),
      verticalArray(destinationTitles()),
      routing_(context.routing),
      center_(context.center),
      firstRow_(titles.size() < 5 ? 1 : 5),
      sources_(static_cast<int>(titles.size())),
      corner_(new NorvIOView(this)) {
    setAttribute(Qt::WA_StyledBackground);
    setObjectName(QStringLiteral("grid"));
    setStyleSheet(
        QStringLiteral("#grid { background: rgb(18, 17, 24); border: 0.5px solid gray; }"));
    setFixedSize(kCellWidth * (sources_ + 1), kCellHeight * (kMatrixDestinations + 1));
    setFocusPolicy(Qt::StrongFocus);

    for (int j = 0; j < sources_; ++j)
        headerLabel(titles[j], this)->setGeometry(j * kCellWidth, 0, kCellWidth, kCellHeight);
    corner_->setGeometry(sources_ * kCellWidth, 0, kCellWidth, kCellHeight);
    for (int i = 0; i < kMatrixDestinations; ++i) {
        headerLabel(verticalArray[i], this)
            ->setGeometry(sources_ * kCellWidth, (i + 1) * kCellHeight, kCellWidth, kCellHeight);
    }

    const QString onImage =
        firstRow_ == 1 ? QStringLiteral("hardware") : QStringLiteral("software");
    for (int i = 0; i < kMatrixDestinations; ++i) {
        for (int j = 0; j < sources_; ++j) {
            auto* b = new HoverButton(this);
            b->row = firstRow_ + j;
            b->col = i + 1;
            b->setOnImage(onImage);
            b->setGeometry(j * kCellWidth, (i + 1) * kCellHeight, kCellWidth, kCellHeight);
            b->observer = [this, b](MouseMoveEvent event) {
                highlight(b, event == MouseMoveEvent::entered);
            };
            b->applyVolume = [this](HoverButton* button) {
                routing_.setLevel(button->row, button->col, button->volume);
            };
            connect(b, &QAbstractButton::clicked, this, [this, b] {
                moveFocusCell(static_cast<int>(buttons_.indexOf(b)));
                routing_.toggle(b->row, b->col);
            });
            buttons_.append(b);
            syncButton(b->row, b->col);
        }
    }
    // A button shows its route and level, whoever changed them.
    connect(&routing_, &RoutingModel::routeChanged, this,
            [this](int row, int col) { syncButton(row, col); });
    connect(&routing_, &RoutingModel::levelChanged, this,
            [this](int row, int col) { syncButton(row, col); });
    connect(&routing_, &RoutingModel::mapReplaced, this, [this] {
        for (HoverButton* b : buttons_) syncButton(b->row, b->col);
    });
}

HoverButton* NorvGridView::button(int row, int col) const {
    const int j = row - firstRow_, i = col - 1;
    if (j < 0 || j >= sources_ || i < 0 || i >= kMatrixDestinations) return nullptr;
    return buttons_[i * sources_ + j];
}

void NorvGridView::syncButton(int row, int col) {
    HoverButton* b = button(row, col);
    if (!b) return;
    b->setChecked(routing_.isOn(row, col));
    b->volume = routing_.level(row, col);
    b->label->setText(QString::number(static_cast<int>(b->volume)));
    // The keyboard's cell shows its level while it is on, as a hovered one does.
    if (b == focusCell() && hasFocus()) b->setLabelShown(b->isChecked());
}

void NorvGridView::highlight(HoverButton* hovered, bool on) {
    center_.post(on ? notify::kMouseEnteredChannelLabel : notify::kMouseExitedChannelLabel,
                 crosspointPayload(hovered->row, hovered->col));
    for (HoverButton* b : buttons_) {
        // The path from the hovered cell across to its destination label and up to its source.
        const bool inPath = on && ((b->col == hovered->col && b->row >= hovered->row) ||
                                   (b->row == hovered->row && b->col <= hovered->col));
        b->setHighlighted(inPath);
    }
}

void NorvGridView::markFocusCell(bool shown) {
    HoverButton* cell = focusCell();
    cell->setFocusMarked(shown);
    highlight(cell, shown);
    cell->setLabelShown(cell->isChecked() &&
                        (shown || cell->hoverState == MouseMoveEvent::entered));
}

void NorvGridView::moveFocusCell(int index) {
    if (index < 0 || index >= buttons_.size() || index == focusIndex_) return;
    const bool shown = hasFocus();
    if (shown) markFocusCell(false);
    focusIndex_ = index;
    if (shown) markFocusCell(true);
}

void NorvGridView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    markFocusCell(true);
}

void NorvGridView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    markFocusCell(false);
}

void NorvGridView::keyPressEvent(QKeyEvent* event) {
    // buttons_ runs along the sources (j) of one destination (i), then to the next destination.
    const int i = focusIndex_ / sources_, j = focusIndex_ % sources_;
    HoverButton* cell = focusCell();
    switch (event->key()) {
        case Qt::Key_Left:
            if (j > 0) moveFocusCell(focusIndex_ - 1);
            break;
        case Qt::Key_Right:
            if (j < sources_ - 1) moveFocusCell(focusIndex_ + 1);
            break;
        case Qt::Key_Up:
            if (i > 0) moveFocusCell(focusIndex_ - sources_);
            break;
        case Qt::Key_Down:
            if (i < kMatrixDestinations - 1) moveFocusCell(focusIndex_ + sources_);
            break;
        case Qt::Key_Space:
            // The click's own path: the button toggles and reports the click. A held key
            // toggles once.
            if (!event->isAutoRepeat()) cell->click();
            break;
        default:
            if (const int angle = levelKeyAngleDelta(event->key())) {
                cell->scrollLevel(angle);
                break;
            }
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

void NorvGridView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter p(this);
    p.setPen(QPen(QColor(128, 128, 128), 0.5));
    for (int i = 1; i <= kMatrixDestinations; ++i)
        p.drawLine(0, (i + 1) * kCellHeight, width(), (i + 1) * kCellHeight);
    for (int j = 1; j <= sources_; ++j) p.drawLine(j * kCellWidth, 0, j * kCellWidth, height());
}

}  // namespace h8::ui
