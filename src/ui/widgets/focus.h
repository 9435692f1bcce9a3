// Keyboard focus on the panel's widgets: the colour and ring that show which control has the
// keyboard, the stylesheet rule that frames a focused button or field, Enter as a second key
// that presses a button, and the step a knob takes for an arrow key.
#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QAbstractButton;
class QPainter;

namespace h8::ui {

// The focus indicator's colour: a light blue that stands out from the panel's dark background
// and from the pink of hovered controls.
inline const QColor kFocusColor{110, 185, 255};
inline constexpr qreal kFocusRingWidth = 2;

// Draws the focus ring just inside `bounds` (rounded when `radius` > 0).
void drawFocusRing(QPainter& painter, const QRectF& bounds, qreal radius = 0);

// The stylesheet rule that frames `selector` (e.g. "QPushButton") in the focus colour while it
// has the keyboard; appended to a widget's own stylesheet.
QString focusFrameRule(const QString& selector);

// The button takes focus with Tab and a click, and Enter or Return presses it as Space does
// (QPushButton reacts to Enter only as a dialog's default button).
void pressWithEnter(QAbstractButton* button);

// The arrow keys of a knob: +1 for Up and Right, -1 for Down and Left, 0 for any other key.
int arrowKeyStep(int key);

}  // namespace h8::ui
