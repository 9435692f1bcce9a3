#include "ui/panels/home_base_view.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ui/widgets/lum_label.h"
#include "ui/widgets/style.h"

namespace h8::ui {

namespace {

const QColor kBorderColor{128, 128, 128};
constexpr qreal kBorderWidth = 0.5;
constexpr qreal kCornerRadius = 5;
constexpr qreal kTitleRadius = 3;

// A LumLabel whose background has rounded corners. It draws the background itself and leaves
// only the text to QLabel, since LumLabel fills its background as a plain rectangle.
class RoundedTitleLabel : public LumLabel {
public:
    using LumLabel::LumLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        if (const auto color = backgroundColor()) {
            QPainter p(this);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(*color);
            p.drawRoundedRect(QRectF(rect()), kTitleRadius, kTitleRadius);
        }
        QLabel::paintEvent(event);
    }
};

}  // namespace

NorvHomeBaseView::NorvHomeBaseView(QWidget* parent)
    : QWidget(parent), titleLb(new RoundedTitleLabel(this)) {
    titleLb->setText(QCoreApplication::translate("Panel", "硬件输入"));
    titleLb->setFont(systemFont(12));
    titleLb->setAlignment(Qt::AlignCenter);
    titleLb->setTextColor(Qt::black);
    titleLb->setBackgroundColor(kAccentColor);
    titleLb->setGeometry(kTitleInset, kTitleInset, kTitleWidth, kTitleHeight);
}

void NorvHomeBaseView::setTitleText(const QString& text) {
    titleText_ = text;
    titleLb->setText(text);
    // The badge is as wide as four Chinese characters; a longer title (another language)
    // widens it to fit, with half the badge's height of room on either side.
    const int textWidth = titleLb->fontMetrics().horizontalAdvance(text) + kTitleHeight;
    titleLb->resize(std::max(kTitleWidth, textWidth), kTitleHeight);
}

void NorvHomeBaseView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kBorderColor, kBorderWidth));
    p.setBrush(Qt::NoBrush);
    const qreal half = kBorderWidth / 2;
    p.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), kCornerRadius,
                      kCornerRadius);
}

}  // namespace h8::ui
