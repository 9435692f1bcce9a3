// A source handle: the numbered square on a source strip that the user drags onto a
// destination row. With the strip's link toggle on, the pair of channels is dragged and
// dropped onto a destination pair.
//
// The handle takes the keyboard focus (drawn as the focus ring on its square). Enter, Return or
// Space opens a menu of the destination rows a drag could land on (of the destination pairs,
// with the link toggle on); choosing one routes the source there as dropping it there does.
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>
#include <optional>
#include <utility>

#include "ui/panel_context.h"

class QMenu;

namespace h8 {
class RoutingModel;
}

namespace h8::ui {

class LumLabel;
class NorvSubDragView;

class NorvDragView : public QWidget {
    Q_OBJECT
public:
    // Drops onto the context's registered rows, into its routing.
    explicit NorvDragView(const PanelContext& context, QWidget* parent = nullptr);
    ~NorvDragView() override;

    void setTitleText(const QString& text);
    QString titleText() const { return titleText_; }
    void setLabelColor(const QColor& color);
    // The handle's border: white while the source has route chips, clear after its last one.
    void setLit(bool lit);

    int actRowIndex = 0;
    QPointer<QAbstractButton> linkedBtn;
    LumLabel* label;
    bool isDraging = false;

    NorvSubDragView* dragOneView() const { return dragOne_; }
    NorvSubDragView* dragTwoView() const { return dragTwo_; }

    // Ends a drag without dropping: the floating copy goes, and the rest of the gesture (until
    // the button is pressed again) drags nothing. Done when the interface is removed.
    void cancelDrag();

    // The menu of destinations, as Enter opens it (shown below the handle; it deletes itself
    // when closed). Null when no destination row is shown.
    QMenu* openRouteMenu();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool pairMode() const { return linkedBtn && linkedBtn->isChecked(); }
    // The sources of the pair this handle belongs to: an odd channel is the pair's top one.
    std::pair<int, int> pairSources() const;
    void dropSingle();
    void dropPair();
    // What a drop does, for the mouse and the menu alike: the source onto destination `col`,
    // and the pair onto destination pair `k` (cols 2k + 1 and 2k + 2), each channel unless its
    // row already shows it.
    void routeTo(int col);
    void routePairTo(int k);
    void endDrag();

    RoutingModel& routing_;
    NotificationCenter& center_;
    MatrixRegistry* registry_;
    QString titleText_ = QStringLiteral("0");
    std::optional<QColor> labelColor_;
    NorvSubDragView* dragOne_ = nullptr;
    NorvSubDragView* dragTwo_ = nullptr;
    bool cancelled_ = false;  // the current gesture was cut short by cancelDrag()
};

}  // namespace h8::ui
