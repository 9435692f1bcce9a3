#include "ui/widgets/norv_button_view.h"

#include <QEnterEvent>
#include <QPainter>

#include "ui/widgets/focus.h"
#include "ui/widgets/style.h"

namespace h8::ui {

namespace {

const QColor kFrameColor{117, 117, 117};

QString cssColor(const QColor& c) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(c.alpha());
}

}  // namespace

QColor NorvButtonView::onColor() {
    return withAlpha(Qt::red, 0.6);
}
QColor NorvButtonView::offColor() {
    return withAlpha(kAccentColor, 0.7);
}
QColor NorvButtonView::restColor() {
    return QColor(64, 64, 64);
}

NorvButtonView::NorvButtonView(QWidget* parent) : QWidget(parent), button(new QPushButton(this)) {
    button->setCheckable(true);
    button->setFlat(true);
    pressWithEnter(button);
    button->setFont(systemFont(10));
    button->setGeometry(rect());
    setButtonBackground(std::nullopt);
    connect(button, &QPushButton::clicked, this, &NorvButtonView::buttonClick);
}

void NorvButtonView::setTitleText(const QString& title) {
    button->setText(title);
}

void NorvButtonView::setState(bool on, bool recolour) {
    button->setChecked(on);
    // A state set from the device or the stored settings shows red when on and the resting
    // colour when off (the pink "off" colour is the feedback of a click).
    if (recolour) setButtonBackground(on ? onColor() : restColor());
}

void NorvButtonView::buttonClick(bool on) {
    setButtonBackground(on ? onColor() : offColor());
    if (selectHandler) selectHandler(on);
}

void NorvButtonView::setButtonBackground(std::optional<QColor> color) {
    buttonBackground_ = color;
    button->setStyleSheet(
        QStringLiteral("QPushButton { border: 1px solid %1; background-color: %2; color: white; "
                       "padding: 0px; }")
            .arg(cssColor(kFrameColor), color ? cssColor(*color) : QStringLiteral("transparent")) +
        focusFrameRule(QStringLiteral("QPushButton")));
}

void NorvButtonView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), restColor());
}

void NorvButtonView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    button->setGeometry(rect());
}

void NorvButtonView::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    if (!button->isChecked()) setButtonBackground(offColor());
}

void NorvButtonView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (!button->isChecked()) setButtonBackground(restColor());
}

}  // namespace h8::ui
