// One destination channel row: shows the route chips of its destination, 18 points apart.
// A chip double-clicked, or dragged and released outside its own row, removes the route.
//
// Each row is a stop of the Tab chain. With the keyboard on it, its border and its current chip
// carry the focus ring (that chip's source and destination light up as when it is hovered):
// Left and Right choose the chip, Delete or Backspace removes its route as a double-click does.
#pragma once

#include <QList>

#include "ui/panel_context.h"
#include "ui/widgets/hover_view.h"

namespace h8 {
class NotificationCenter;
class RouteChips;
class RoutingModel;
}  // namespace h8

namespace h8::ui {

class LumLabel;

class ChannelRowView : public HoverView {
    Q_OBJECT
public:
    static constexpr int kChipSize = 18;

    // Shows `chips`' chips of destination `col`; removing one goes to the context's routing.
    ChannelRowView(const PanelContext& context, RouteChips& chips, int col,
                   QWidget* parent = nullptr);

    int col() const { return col_; }
    // The chips currently shown, in order.
    const QList<LumLabel*>& chipLabels() const { return chipLabels_; }
    // The chip the keys act on (null without chips).
    LumLabel* focusChip() const { return chipLabels_.value(focusIndex_); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void rebuild();
    LumLabel* makeChip(int row, int position);
    void markFocusChip(bool shown);
    void showFocusBorder(bool shown);

    int col_;
    RouteChips& chips_;
    RoutingModel& routing_;
    NotificationCenter& center_;
    QList<LumLabel*> chipLabels_;
    int focusIndex_ = 0;  // into chipLabels_
};

// The border and background colours of a source's handles and chips.
QColor sourceColor(int row);
// A destination's short name: H1 H2 O3 O4 L1 … L8 for cols 1-12.
QString destinationTitle(int col);

}  // namespace h8::ui
