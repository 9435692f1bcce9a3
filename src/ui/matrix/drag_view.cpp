#include "ui/matrix/drag_view.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/routing_model.h"
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

NorvDragView::NorvDragView(const PanelContext& context, QWidget* parent)
    : QWidget(parent),
      label(new LumLabel(this)),
      routing_(context.routing),
      center_(context.center),
      registry_(context.registry) {
    label->setAlignment(Qt::AlignCenter);
    label->setFont(systemFont(10));
    label->setText(titleText_);
    label->setGeometry(0, 0, 17, 17);
    // The handle's own events: the label must not start a drag of its own.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(17, 17);
    setFocusPolicy(Qt::StrongFocus);
    setLabelColor(kSoftwareColor);
    // The panel is hidden under the pointer when the interface goes away; a drag then has
    // nowhere to land, and its floating copy would stay over the disconnected view.
    center_.addObserver(this, notify::kRawDeviceRemoved,
                        [this](const Notification&) { cancelDrag(); });
}

NorvDragView::~NorvDragView() {
    center_.removeObserver(this);
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
        const auto [top, bottom] = pairSources();
        dragTwo_->toplabel->setText(QString::number(n % 2 == 1 ? n : n - 1));
        dragTwo_->botlabel->setText(QString::number(n % 2 == 1 ? n + 1 : n));
        dragTwo_->toplabel->actRowIndex = top;
        dragTwo_->botlabel->actRowIndex = bottom;
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

std::pair<int, int> NorvDragView::pairSources() const {
    return titleText_.toInt() % 2 == 1 ? std::pair{actRowIndex, actRowIndex + 1}
                                       : std::pair{actRowIndex - 1, actRowIndex};
}

void NorvDragView::dropSingle() {
    if (!dragOne_ || !registry_) return;
    for (const QPointer<ChannelRowView>& row : registry_->channelViewArray) {
        if (!lands(dragOne_, row)) continue;
        routeTo(row->col());
        return;
    }
}

void NorvDragView::dropPair() {
    if (!dragTwo_ || !registry_) return;
    const auto& pairs = registry_->detiNationViewArray;
    for (int k = 0; k < pairs.size(); ++k) {
        if (!lands(dragTwo_, pairs[k])) continue;
        routePairTo(k);
        return;
    }
}

void NorvDragView::routeTo(int col) {
    if (routing_.isOn(actRowIndex, col)) return;
    diagf("actRowIndex = %d  actColIndex = %d", actRowIndex, col);
    routing_.drop(actRowIndex, col);
}

void NorvDragView::routePairTo(int k) {
    const auto [top, bottom] = pairSources();
    if (!routing_.isOn(top, 2 * k + 1)) {
        diagf("actTopRowIndex = %d  actTopColIndex = %d", top, 2 * k + 1);
        routing_.drop(top, 2 * k + 1);
    }
    if (!routing_.isOn(bottom, 2 * k + 2)) {
        diagf("actBotRowIndex = %d  actBotColIndex = %d", bottom, 2 * k + 2);
        routing_.drop(bottom, 2 * k + 2);
    }
}

QMenu* NorvDragView::openRouteMenu() {
    if (!registry_) return nullptr;
    const MatrixRegistry& registry = *registry_;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Only where a drag could land: the rows shown (none in matrix mode). A destination that
    // already shows the source is listed but cannot be chosen, as dropping there does nothing.
    if (!pairMode()) {
        for (const QPointer<ChannelRowView>& row : registry.channelViewArray) {
            if (!row || !row->isVisible()) continue;
            const int col = row->col();
            QAction* item = menu->addAction(destinationTitle(col));
            item->setEnabled(!routing_.isOn(actRowIndex, col));
            connect(item, &QAction::triggered, this, [this, col] { routeTo(col); });
        }
    } else {
        const auto [top, bottom] = pairSources();
        for (int k = 0; k < registry.detiNationViewArray.size(); ++k) {
            const QPointer<NorvDestinationView>& pair = registry.detiNationViewArray[k];
            if (!pair || !pair->isVisible()) continue;
            QAction* item = menu->addAction(QStringLiteral("%1/%2").arg(
                destinationTitle(2 * k + 1), destinationTitle(2 * k + 2)));
            item->setEnabled(!routing_.isOn(top, 2 * k + 1) || !routing_.isOn(bottom, 2 * k + 2));
            connect(item, &QAction::triggered, this, [this, k] { routePairTo(k); });
        }
    }
    if (menu->isEmpty()) {
        delete menu;
        return nullptr;
    }
    menu->popup(mapToGlobal(QPoint(0, height())));
    return menu;
}

void NorvDragView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            event->accept();
            if (!event->isAutoRepeat()) openRouteMenu();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void NorvDragView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    label->setFocusMarked(true);
}

void NorvDragView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    label->setFocusMarked(false);
}

void NorvDragView::endDrag() {
    delete dragOne_;
    delete dragTwo_;
    dragOne_ = nullptr;
    dragTwo_ = nullptr;
}

}  // namespace h8::ui
