#pragma once

#include <QColor>
#include <QWidget>
#include <optional>

#include "ui/widgets/lum_label.h"

namespace h8::ui {

// The floating copy of a handle or route chip that follows the pointer during a drag. It ignores
// the mouse so that whatever lies under it keeps receiving hover events.
//
// Single layout: 17 × 17, toplabel fills it (botlabel exists but is hidden).
// Pair layout: 17 × 41, toplabel at (0, 0) above botlabel at (0, 24).
// Both labels: border width 1, software colours, system font 10, white, centred.
class NorvSubDragView : public QWidget {
    Q_OBJECT

public:
    enum class Layout { single, pair };

    static constexpr int kLabelSize = 17;
    static constexpr int kPairHeight = 41;
    static constexpr int kBotLabelY = 24;
    // The pointer sits this far from the left edge and, by default, from the bottom edge.
    static constexpr int kPointerInset = 9;

    explicit NorvSubDragView(Layout layout = Layout::single, QWidget* parent = nullptr);

    LumLabel* const toplabel;
    LumLabel* const botlabel;

    Layout layout() const { return layout_; }

    // Colours both labels like a handle: background = colour at alpha 0.5, border = colour.
    // Absent leaves the labels as they are.
    void setLabelColor(std::optional<QColor> color);
    std::optional<QColor> labelColor() const { return labelColor_; }

    // Places the view, in its parent's coordinates, so that the pointer lies kPointerInset
    // pixels right of its left edge and `pointerAboveBottom` pixels above its bottom edge:
    // top-left = (pointer.x − 9, pointer.y − (height − pointerAboveBottom)). For the single
    // layout that is (pointer.x − 9, pointer.y − 8), the view centred under the pointer. A pair
    // dragged by its top handle passes 30 (pointer over the top label), by its bottom one 9.
    void moveUnderPointer(QPoint pointer, int pointerAboveBottom = kPointerInset);

private:
    Layout layout_;
    std::optional<QColor> labelColor_;
};

}  // namespace h8::ui
