#include "ui/matrix/channel_row_view.h"

#include <QKeyEvent>

#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "platform/notification_center.h"
#include "ui/widgets/focus.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/norv_sub_drag_view.h"
#include "ui/widgets/style.h"

namespace h8::ui {

QColor sourceColor(int row) {
    return isHardwareSource(row) ? kHardwareColor : kSoftwareColor;
}

QString destinationTitle(int col) {
    if (col <= 2) return QStringLiteral("H%1").arg(col);
    if (col <= 4) return QStringLiteral("O%1").arg(col);
    return QStringLiteral("L%1").arg(col - 4);
}

ChannelRowView::ChannelRowView(const PanelContext& context, RouteChips& chips, int col,
                               QWidget* parent)
    : HoverView(parent),
      col_(col),
      chips_(chips),
      routing_(context.routing),
      center_(context.center) {
    actColIndex = col;
    setFixedHeight(20);
    setFocusPolicy(Qt::StrongFocus);
    showFocusBorder(false);
    connect(&chips_, &RouteChips::chipsChanged, this, [this](int changed) {
        if (changed == col_) rebuild();
    });
    // A chip being dragged when the interface goes away keeps its route: the drag just ends.
    center_.addObserver(this, notify::kRawDeviceRemoved, [this](const Notification&) {
        for (LumLabel* chip : chipLabels_) chip->cancelDrag();
    });
    rebuild();
}

LumLabel* ChannelRowView::makeChip(int row, int position) {
    auto* chip = new LumLabel(this);
    chip->actRowIndex = row;
    chip->actColIndex = col_;
    chip->canDrag = true;
    chip->setText(sourceHandleText(row));
    chip->setAlignment(Qt::AlignCenter);
    chip->setFont(systemFont(10));
    chip->setTextColor(QColor(Qt::white));
    chip->setBackgroundColor(withAlpha(sourceColor(row), 0.5));
    chip->setBorder(sourceColor(row), 1);
    chip->setGeometry(kChipSize * position, 1, kChipSize, kChipSize);
    chip->labelDoubleClick = [this](LumLabel* label) {
        routing_.removeChip(label->actRowIndex, label->actColIndex, ChipRemoval::doubleClick);
    };
    chip->labelMouseUp = [this](NorvSubDragView* floating, LumLabel* label) {
        // Released inside its own row (with the 5-point margin) the chip stays; anywhere else,
        // even over another destination, the route is removed.
        const QPoint origin = mapFrom(floating->parentWidget(), floating->pos());
        if (dropHits(origin, floating->size(), rect())) return;
        routing_.removeChip(label->actRowIndex, label->actColIndex, ChipRemoval::dragOut);
    };
    chip->observer = [this](MouseMoveEvent event, LumLabel* label) {
        center_.post(event == MouseMoveEvent::entered ? notify::kMouseEnteredChannelLabel
                                                      : notify::kMouseExitedChannelLabel,
                     crosspointPayload(label->actRowIndex, label->actColIndex));
    };
    chip->show();
    return chip;
}

void ChannelRowView::rebuild() {
    // The chip that triggered the change may still be handling its own mouse event.
    for (LumLabel* chip : chipLabels_) {
        chip->hide();
        chip->deleteLater();
    }
    chipLabels_.clear();
    int position = 0;
    for (int row : chips_.chips(col_)) chipLabels_.append(makeChip(row, position++));
    // The chip after a removed one takes its place under the keys (the last one when the
    // removed chip was last).
    focusIndex_ = std::clamp(focusIndex_, 0, std::max(0, static_cast<int>(chipLabels_.size()) - 1));
    if (hasFocus()) markFocusChip(true);
}

void ChannelRowView::showFocusBorder(bool shown) {
    if (shown) {
        setBorder(kFocusColor, kFocusRingWidth, 2);
    } else {
        setBorder(QColor(Qt::gray), 1, 2);
    }
}

void ChannelRowView::markFocusChip(bool shown) {
    LumLabel* chip = focusChip();
    if (!chip) return;
    chip->setFocusMarked(shown);
    center_.post(shown ? notify::kMouseEnteredChannelLabel : notify::kMouseExitedChannelLabel,
                 crosspointPayload(chip->actRowIndex, chip->actColIndex));
}

void ChannelRowView::focusInEvent(QFocusEvent* event) {
    HoverView::focusInEvent(event);
    showFocusBorder(true);
    markFocusChip(true);
}

void ChannelRowView::focusOutEvent(QFocusEvent* event) {
    HoverView::focusOutEvent(event);
    showFocusBorder(false);
    markFocusChip(false);
}

void ChannelRowView::keyPressEvent(QKeyEvent* event) {
    const int count = static_cast<int>(chipLabels_.size());
    const auto moveTo = [this](int index) {
        markFocusChip(false);
        focusIndex_ = index;
        markFocusChip(true);
    };
    switch (event->key()) {
        case Qt::Key_Left:
            if (focusIndex_ > 0) moveTo(focusIndex_ - 1);
            break;
        case Qt::Key_Right:
            if (focusIndex_ < count - 1) moveTo(focusIndex_ + 1);
            break;
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            // The double-click's removal; the row rebuilds its chips from the change.
            if (LumLabel* chip = focusChip())
                routing_.removeChip(chip->actRowIndex, chip->actColIndex, ChipRemoval::doubleClick);
            break;
        default:
            HoverView::keyPressEvent(event);
            return;
    }
    event->accept();
}

}  // namespace h8::ui
