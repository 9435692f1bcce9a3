#include "ui/sections/section_layout.h"

namespace h8::ui {

void darkBackground(QWidget* section) {
    section->setAutoFillBackground(true);
    QPalette p = section->palette();
    p.setColor(QPalette::Window, kSectionBackground);
    section->setPalette(p);
}

void stackVertically(QWidget* section, const QList<QWidget*>& items, int top, int inset) {
    if (items.isEmpty()) return;
    const int h = (section->height() - top - inset) / static_cast<int>(items.size());
    int y = top;
    for (QWidget* item : items) {
        item->setGeometry(inset, y, section->width() - 2 * inset, h);
        y += h;
    }
}

}  // namespace h8::ui
