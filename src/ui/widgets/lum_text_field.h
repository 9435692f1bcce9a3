#pragma once

#include <QLineEdit>
#include <functional>

namespace h8::ui {

// An editable one-line field (the user names of the channel strips). A click selects the whole
// text, so typing replaces it; every user edit reports the whole new text. Text set by the program
// (setText) is not reported.
//
// Enter ends the editing, keeping the text (as losing the focus does). Escape puts back the
// text the field had when it took the focus, reports it like an edit (so the owner stores it
// again) and ends the editing too. Either way the field gives up the focus.
//
// Qt draws the text cursor in the palette's text colour, so the field's text, and with it the
// cursor, is white unless the owner picks another text colour.
class LumTextField : public QLineEdit {
    Q_OBJECT

public:
    explicit LumTextField(QWidget* parent = nullptr);

    std::function<void(const QString&)> textDidChange;

    void setTextColor(const QColor& color);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString textBeforeEditing_;
};

}  // namespace h8::ui
