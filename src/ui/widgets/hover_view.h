#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <optional>

#include "ui/widgets/mouse_move_event.h"

namespace h8::ui {

// A plain view that reports the pointer entering and leaving it (the destination channel rows).
// It can paint a background and a rounded border for its owner.
class HoverView : public QWidget {
    Q_OBJECT

public:
    explicit HoverView(QWidget* parent = nullptr);

    int actColIndex = 0;
    std::optional<QColor> tempColor;  // kept for the owner; not painted
    std::function<void(MouseMoveEvent, HoverView*)> observer;
    MouseMoveEvent hoverState = MouseMoveEvent::exited;

    void setBackgroundColor(std::optional<QColor> color);
    std::optional<QColor> backgroundColor() const { return background_; }
    void setBorder(std::optional<QColor> color, qreal width, qreal cornerRadius = 0);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void reportHover(MouseMoveEvent event);

    std::optional<QColor> background_;
    std::optional<QColor> border_;
    qreal borderWidth_ = 0;
    qreal cornerRadius_ = 0;
};

}  // namespace h8::ui
