#include "ui/widgets/norv_sub_drag_view.h"

#include "ui/widgets/style.h"

namespace h8::ui {

namespace {

void styleLabel(LumLabel* label) {
    label->setBorder(kSoftwareColor, 1);
    label->setBackgroundColor(withAlpha(kSoftwareColor, 0.5));
    label->setFont(systemFont(10));
    label->setTextColor(Qt::white);
    label->setAlignment(Qt::AlignCenter);
}

}  // namespace

NorvSubDragView::NorvSubDragView(Layout layout, QWidget* parent)
    : QWidget(parent), toplabel(new LumLabel(this)), botlabel(new LumLabel(this)), layout_(layout) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    styleLabel(toplabel);
    styleLabel(botlabel);
    if (layout == Layout::single) {
        resize(kLabelSize, kLabelSize);
        toplabel->setGeometry(0, 0, kLabelSize, kLabelSize);
        botlabel->hide();
    } else {
        resize(kLabelSize, kPairHeight);
        toplabel->setGeometry(0, 0, kLabelSize, kLabelSize);
        botlabel->setGeometry(0, kBotLabelY, kLabelSize, kLabelSize);
    }
}

void NorvSubDragView::setLabelColor(std::optional<QColor> color) {
    if (color && !color->isValid()) color.reset();
    labelColor_ = color;
    if (!color) return;
    for (LumLabel* label : {toplabel, botlabel}) {
        label->setBackgroundColor(withAlpha(*color, 0.5));
        label->setBorderColor(*color);
    }
}

void NorvSubDragView::moveUnderPointer(QPoint pointer, int pointerAboveBottom) {
    move(pointer.x() - kPointerInset, pointer.y() - (height() - pointerAboveBottom));
}

}  // namespace h8::ui
