#include "ui/matrix/drag_view.h"

#include <QMouseEvent>

#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "ui/matrix/channel_row_view.h"
#include "ui/matrix/destination_view.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/norv_sub_drag_view.h"
#include "ui/widgets/style.h"

namespace h8::ui {
namespace {

// Whether `floating` (a child of the window) lies on `target` within the 5-point margin.
bool lands(const NorvSubDragView* floating, const QWidget* target) {
    if (!target || !target->isVisible()) return false;
    const QPoint origin = target->mapFrom(floating->parentWidget(), floating->pos());
    return dropHits(origin, floating->size(), target->rect());
}

}  // namespace

NorvDragView::NorvDragView(QWidget* parent) : QWidget(parent), label(new LumLabel(this)) {
    label->setAlignment(Qt::AlignCenter);
    label->setFont(systemFont(10));
    label->setText(titleText_);
    label->setGeometry(0, 0, 17, 17);
    // The handle's own events: the label must not start a drag of its own.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(17, 17);
    setLabelColor(kSoftwareColor);
    // The panel is hidden under the pointer when the interface goes away; a drag then has
    // nowhere to land, and its floating copy would stay over the disconnected view.
    NotificationCenter::defaultCenter().addObserver(this, notify::kRawDeviceRemoved,
                                                    [this](const Notification&) { cancelDrag(); });
}

NorvDragView::~NorvDragView() {
    endDrag();
}

void NorvDragView::setTitleText(const QString& text) {
    titleText_ = text;
    label->setText(text);
}

void NorvDragView::setLabelColor(const QColor& color) {
    labelColor_ = color;
    label->setTextColor(QColor(Qt::white));
    label->setBackgroundColor(withAlpha(color, 0.5));
    label->setBorder(color, 1);
}

void NorvDragView::setLit(bool lit) {
    // White while the source has route chips; clear once its last chip is gone.
    label->setBorder(lit ? std::optional<QColor>(QColor(Qt::white)) : std::nullopt, 1);
}

void NorvDragView::cancelDrag() {
    cancelled_ = true;
    isDraging = false;
    endDrag();
}

void NorvDragView::mousePressEvent(QMouseEvent* event) {
    cancelled_ = false;
    QWidget::mousePressEvent(event);
}

void NorvDragView::mouseMoveEvent(QMouseEvent* event) {
    if (cancelled_ || !(event->buttons() & Qt::LeftButton)) return;
    if (!isDraging && rect().contains(event->position().toPoint())) return;
    QWidget* window = this->window();
    const QPoint pointer = mapTo(window, event->position().toPoint());
    if (!pairMode()) {
        if (!dragOne_) {
            dragOne_ = new NorvSubDragView(NorvSubDragView::Layout::single, window);
            dragOne_->toplabel->actRowIndex = actRowIndex;
            if (labelColor_) dragOne_->setLabelColor(*labelColor_);
            dragOne_->toplabel->setText(titleText_);
            dragOne_->show();
            dragOne_->raise();
            isDraging = true;
        }
        dragOne_->moveUnderPointer(pointer);
        return;
    }
    const int n = titleText_.toInt();
    if (!dragTwo_) {
        dragTwo_ = new NorvSubDragView(NorvSubDragView::Layout::pair, window);
        if (labelColor_) dragTwo_->setLabelColor(*labelColor_);
        if (n % 2 == 1) {
            dragTwo_->toplabel->setText(titleText_);
            dragTwo_->botlabel->setText(QString::number(n + 1));
            dragTwo_->toplabel->actRowIndex = actRowIndex;
            dragTwo_->botlabel->actRowIndex = actRowIndex + 1;
        } else {
            dragTwo_->toplabel->setText(QString::number(n - 1));
            dragTwo_->botlabel->setText(titleText_);
            dragTwo_->toplabel->actRowIndex = actRowIndex - 1;
            dragTwo_->botlabel->actRowIndex = actRowIndex;
        }
        dragTwo_->show();
        dragTwo_->raise();
        isDraging = true;
    }
    // The pointer stays on the handle that was grabbed: the top one of the pair for an odd
    // channel, the bottom one for an even channel.
    dragTwo_->moveUnderPointer(pointer, n % 2 == 1 ? 30 : 9);
}

void NorvDragView::mouseReleaseEvent(QMouseEvent*) {
    isDraging = false;
    if (!dragOne_ && !dragTwo_) return;
    if (!pairMode()) {
        dropSingle();
    } else {
        dropPair();
    }
    endDrag();
}

void NorvDragView::dropSingle() {
    MatrixRegistry& registry = MatrixRegistry::shared();
    if (!dragOne_ || !registry.chips) return;
    for (const QPointer<ChannelRowView>& row : registry.channelViewArray) {
        if (!lands(dragOne_, row)) continue;
        const int source = dragOne_->toplabel->actRowIndex;
        if (registry.chips->hasChip(source, row->col())) return;
        diagf("actRowIndex = %d  actColIndex = %d", source, row->col());
        registry.chips->drop(source, row->col());
        return;
    }
}

void NorvDragView::dropPair() {
    MatrixRegistry& registry = MatrixRegistry::shared();
    if (!dragTwo_ || !registry.chips) return;
    for (int k = 0; k < registry.detiNationViewArray.size(); ++k) {
        const QPointer<NorvDestinationView>& pair = registry.detiNationViewArray[k];
        if (!lands(dragTwo_, pair)) continue;
        const int top = dragTwo_->toplabel->actRowIndex, bottom = dragTwo_->botlabel->actRowIndex;
        if (!registry.chips->hasChip(top, 2 * k + 1)) {
            diagf("actTopRowIndex = %d  actTopColIndex = %d", top, 2 * k + 1);
            registry.chips->drop(top, 2 * k + 1);
        }
        if (!registry.chips->hasChip(bottom, 2 * k + 2)) {
            diagf("actBotRowIndex = %d  actBotColIndex = %d", bottom, 2 * k + 2);
            registry.chips->drop(bottom, 2 * k + 2);
        }
        return;
    }
}

void NorvDragView::endDrag() {
    delete dragOne_;
    delete dragTwo_;
    dragOne_ = nullptr;
    dragTwo_ = nullptr;
}

}  // namespace h8::ui
