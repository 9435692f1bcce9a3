#pragma once

#include <QColor>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <optional>

namespace h8::ui {

// A framed two-state button (the mute buttons). The checkable button fills the view; its 1 px
// frame is RGB(117, 117, 117) and the view behind it RGB(64, 64, 64).
//
// A click that turns it on paints the button red at alpha 0.6, one that turns it off
// RGB(230, 150, 162) at alpha 0.7; then selectHandler gets the new state. While off, hovering
// paints it RGB(230, 150, 162) at alpha 0.7 and leaving restores RGB(64, 64, 64); while on,
// hovering changes nothing. The button takes the keyboard focus (framed in the focus colour
// while it has it); Space and Enter press it as a click does.
class NorvButtonView : public QWidget {
    Q_OBJECT

public:
    explicit NorvButtonView(QWidget* parent = nullptr);

    QPushButton* const button;
    std::function<void(bool on)> selectHandler;

    void setTitleText(const QString& title);
    QString titleText() const { return button->text(); }

    // Sets the state the way an owner restores it: no callback and, unless `recolour`, no colour
    // change (the background stays as the last click or hover left it). With `recolour` the
    // button shows the state: red when on, the resting colour when off.
    void setState(bool on, bool recolour = false);
    bool state() const { return button->isChecked(); }

    // The button's own background; absent until the first click or hover.
    std::optional<QColor> buttonBackground() const { return buttonBackground_; }

    static QColor onColor();
    static QColor offColor();
    static QColor restColor();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void buttonClick(bool on);
    void setButtonBackground(std::optional<QColor> color);

    std::optional<QColor> buttonBackground_;
};

}  // namespace h8::ui
