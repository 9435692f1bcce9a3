// The four panels that carry the routing matrix: the upper and lower matrix panels, which show
// either the destination rows with their route chips (stack mode) or the crosspoint grids
// (matrix mode), switched together by two buttons in the upper panel; the lower-left panel with
// the playback source strips and the lower-right panel with the loopback output strips.
#pragma once

#include <QLabel>
#include <QPushButton>

#include "ui/panel_context.h"
#include "ui/panels/home_base_view.h"

namespace h8 {
class RouteChips;
}  // namespace h8

namespace h8::ui {

class NorvDestinationView;
class NorvGridView;
class NorvInputProgressView;
class NorvOutProgressView;

class NorvTMidView : public NorvHomeBaseView {
    Q_OBJECT
public:
    // Replaces the context's registry of destination rows and pairs with its own two pairs.
    NorvTMidView(const PanelContext& context, RouteChips& chips, QWidget* parent = nullptr);
    ~NorvTMidView() override;

    QLabel* HPImageView;
    QLabel* phoneImageView;
    NorvDestinationView* micInView;
    NorvDestinationView* otgInView;
    QPushButton* leftBtn;
    QPushButton* rightBtn;
    NorvGridView* gridView;

    void leftBtnClick();   // stack mode
    void rightBtnClick();  // matrix mode
    bool isMatrixMode() const;
    // The controls that take the keyboard, in reading order: the mode buttons, the destination
    // rows (stack mode) and the grid (matrix mode).
    QList<QWidget*> tabStops() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    NotificationCenter& center_;
};

class NorvBMidView : public NorvHomeBaseView {
    Q_OBJECT
public:
    // Appends its four pairs to the context's registry (after the upper panel's); follows the
    // upper panel's mode buttons through their notifications.
    NorvBMidView(const PanelContext& context, RouteChips& chips, QWidget* parent = nullptr);
    ~NorvBMidView() override;

    NorvGridView* gridView;
    NorvDestinationView* channle12;
    NorvDestinationView* channle34;
    NorvDestinationView* channle56;
    NorvDestinationView* channle78;

    void leftClick();
    void rightClick();
    // The grid (matrix mode), then the destination rows (stack mode).
    QList<QWidget*> tabStops() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    NotificationCenter& center_;
};

class NorvBLView : public NorvHomeBaseView {
    Q_OBJECT
public:
    explicit NorvBLView(const PanelContext& context, QWidget* parent = nullptr);
    NorvInputProgressView* channel12;
    NorvInputProgressView* channel34;
    NorvInputProgressView* channel56;
    NorvInputProgressView* channel78;
    // The controls that take the keyboard, in reading order (the main panel chains them).
    QList<QWidget*> tabStops() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

class NorvBRView : public NorvHomeBaseView {
    Q_OBJECT
public:
    explicit NorvBRView(const PanelContext& context, QWidget* parent = nullptr);
    NorvOutProgressView* channel12;
    NorvOutProgressView* channel34;
    NorvOutProgressView* channel56;
    NorvOutProgressView* channel78;
    // The controls that take the keyboard, in reading order (the main panel chains them).
    QList<QWidget*> tabStops() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

}  // namespace h8::ui
