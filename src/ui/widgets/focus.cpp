#include "ui/widgets/focus.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPainter>

namespace h8::ui {
namespace {

// Owned by the button it filters, so it goes with it.
class EnterPresses : public QObject {
public:
    explicit EnterPresses(QAbstractButton* button) : QObject(button), button_(button) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != button_ || event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        if (key->modifiers() & ~Qt::KeypadModifier) return false;
        // A held key presses once, as Space does.
        if (!key->isAutoRepeat() && button_->isEnabled()) button_->click();
        return true;
    }

private:
    QAbstractButton* button_;
};

}  // namespace

void drawFocusRing(QPainter& painter, const QRectF& bounds, qreal radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kFocusColor, kFocusRingWidth));
    painter.setBrush(Qt::NoBrush);
    const qreal half = kFocusRingWidth / 2;
    painter.drawRoundedRect(bounds.adjusted(half, half, -half, -half), radius, radius);
    painter.restore();
}

QString focusFrameRule(const QString& selector) {
    return QStringLiteral(" %1:focus { border: %2px solid rgb(%3, %4, %5); }")
        .arg(selector)
        .arg(static_cast<int>(kFocusRingWidth))
        .arg(kFocusColor.red())
        .arg(kFocusColor.green())
        .arg(kFocusColor.blue());
}

void pressWithEnter(QAbstractButton* button) {
    button->setFocusPolicy(Qt::StrongFocus);
    button->installEventFilter(new EnterPresses(button));
}

int arrowKeyStep(int key) {
    switch (key) {
        case Qt::Key_Up:
        case Qt::Key_Right:
            return 1;
        case Qt::Key_Down:
        case Qt::Key_Left:
            return -1;
        default:
            return 0;
    }
}

}  // namespace h8::ui
