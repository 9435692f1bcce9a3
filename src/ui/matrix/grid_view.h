// The crosspoint grid of one matrix panel: a header of source labels, one toggle button per
// (destination, source) and the destination labels on the right. The upper panel shows the
// four hardware inputs, the lower one the eight playback channels. Hovering a button lights
// the path from it to its source header and its destination label.
#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

namespace h8 {
class CrosspointGrid;
}

namespace h8::ui {

class HoverButton;

class NorvGridView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCellWidth = 25;
    static constexpr int kCellHeight = 20;

    // `titles`: "M1" "M2" "O3" "O4" (upper grid, sources 1-4) or "O1" … "O8" (lower, 5-12).
    NorvGridView(const QStringList& titles, CrosspointGrid* grid, QWidget* parent = nullptr);

    const QStringList verticalArray;  // the destination labels
    const QList<HoverButton*>& buttonArray() const { return buttons_; }
    HoverButton* button(int row, int col) const;
    // The corner view at the top right (the panel puts its input/output mark there).
    QWidget* cornerView() const { return corner_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void syncButton(int row, int col);
    void highlight(HoverButton* hovered, bool on);

    CrosspointGrid* grid_;
    int firstRow_;
    int sources_;
    QList<HoverButton*> buttons_;
    QWidget* corner_;
};

}  // namespace h8::ui
