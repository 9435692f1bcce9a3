#include "ui/widgets/lum_text_field.h"

#include <QKeyEvent>

namespace h8::ui {

LumTextField::LumTextField(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(false);
    setTextColor(Qt::white);
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (textDidChange) textDidChange(text);
    });
}

void LumTextField::setTextColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::Text, color);
    setPalette(pal);
}

// The line edit places the cursor and may start a drag selection on press; the click as a whole
// still ends with everything selected, so select again on release.
void LumTextField::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    selectAll();
}

void LumTextField::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    selectAll();
}

void LumTextField::mouseDoubleClickEvent(QMouseEvent* event) {
    QLineEdit::mouseDoubleClickEvent(event);
    selectAll();
}

void LumTextField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    textBeforeEditing_ = text();
}

void LumTextField::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            QLineEdit::keyPressEvent(event);  // returnPressed and editingFinished
            event->accept();
            clearFocus();
            return;
        case Qt::Key_Escape:
            event->accept();
            if (text() != textBeforeEditing_) {
                setText(textBeforeEditing_);
                if (textDidChange) textDidChange(text());
            }
            clearFocus();
            return;
        default:
            QLineEdit::keyPressEvent(event);
    }
}

}  // namespace h8::ui
