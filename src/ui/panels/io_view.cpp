#include "ui/panels/io_view.h"

#include <QPainter>

#include "ui/widgets/lum_label.h"
#include "ui/widgets/style.h"

namespace h8::ui {

namespace {

const QColor kLineColor{128, 128, 128};

LumLabel* letter(const QString& text, QWidget* parent) {
    auto* label = new LumLabel(text, parent);
    label->setTextColor(Qt::white);
    label->setFont(systemFont(10));
    label->setAlignment(Qt::AlignCenter);
    label->setFixedSize(NorvIOView::kLetterSize, NorvIOView::kLetterSize);
    return label;
}

}  // namespace

NorvIOView::NorvIOView(QWidget* parent)
    : QWidget(parent),
      iLabel(letter(QStringLiteral("I"), this)),
      oLabel(letter(QStringLiteral("O"), this)) {
    placeLetters();
}

void NorvIOView::placeLetters() {
    iLabel->move(kLetterInset, kLetterInset);
    oLabel->move(width() - kLetterInset - kLetterSize, height() - kLetterInset - kLetterSize);
}

void NorvIOView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeLetters();
}

void NorvIOView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(kLineColor, 1);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    // Widget coordinates grow downwards, so the bottom-left corner is (0, height).
    p.drawLine(QPointF(0, height()), QPointF(width(), 0));
}

}  // namespace h8::ui
