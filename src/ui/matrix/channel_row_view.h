// One destination channel row: shows the route chips of its destination, 18 points apart.
// A chip double-clicked, or dragged and released outside its own row, removes the route.
#pragma once

#include <QList>

#include "ui/widgets/hover_view.h"

namespace h8 {
class RouteChips;
}

namespace h8::ui {

class LumLabel;

class ChannelRowView : public HoverView {
    Q_OBJECT
public:
    static constexpr int kChipSize = 18;

    ChannelRowView(int col, RouteChips* chips, QWidget* parent = nullptr);

    int col() const { return col_; }
    // The chips currently shown, in order.
    const QList<LumLabel*>& chipLabels() const { return chipLabels_; }

private:
    void rebuild();
    LumLabel* makeChip(int row, int position);

    int col_;
    RouteChips* chips_;
    QList<LumLabel*> chipLabels_;
};

// The border and background colours of a source's handles and chips.
QColor sourceColor(int row);

}  // namespace h8::ui
