// The crosspoint grid of one matrix panel: a header of source labels, one toggle button per
// (destination, source) and the destination labels on the right. The upper panel shows the
// four hardware inputs, the lower one the eight playback channels. Hovering a button lights
// the path from it to its source header and its destination label.
//
// The grid is one stop of the Tab chain. With the keyboard on it, one cell carries the focus
// ring and its path is lit: the arrow keys move that cell, Space toggles it as a click does,
// and + / − (also = and the keypad's keys) and Page Up / Page Down change its level as one
// notch and as a fast two-notch turn of the wheel do. A click on a cell moves the ring there.
#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

#include "ui/panel_context.h"

namespace h8 {
class NotificationCenter;
class RoutingModel;
}  // namespace h8

namespace h8::ui {

class HoverButton;

class NorvGridView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCellWidth = 25;
    static constexpr int kCellHeight = 20;

    // `titles`: "M1" "M2" "O3" "O4" (upper grid, sources 1-4) or "O1" … "O8" (lower, 5-12).
    // The buttons show the context's routes and levels; clicks and level steps go to it.
    NorvGridView(const PanelContext& context, const QStringList& titles, QWidget* parent = nullptr);

    const QStringList verticalArray;  // the destination labels
    const QList<HoverButton*>& buttonArray() const { return buttons_; }
    HoverButton* button(int row, int col) const;
    // The corner view at the top right (the panel puts its input/output mark there).
    QWidget* cornerView() const { return corner_; }
    // The cell the keys act on.
    HoverButton* focusCell() const { return buttons_[focusIndex_]; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void syncButton(int row, int col);
    void highlight(HoverButton* hovered, bool on);
    void moveFocusCell(int index);
    void markFocusCell(bool shown);

    RoutingModel& routing_;
    NotificationCenter& center_;
    int firstRow_;
    int sources_;
    QList<HoverButton*> buttons_;
    QWidget* corner_;
    int focusIndex_ = 0;  // into buttons_
};

}  // namespace h8::ui
