// A source handle: the numbered square on a source strip that the user drags onto a
// destination row. With the strip's link toggle on, the pair of channels is dragged and
// dropped onto a destination pair.
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>
#include <optional>

namespace h8::ui {

class LumLabel;
class NorvSubDragView;

class NorvDragView : public QWidget {
    Q_OBJECT
public:
    explicit NorvDragView(QWidget* parent = nullptr);
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

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pairMode() const { return linkedBtn && linkedBtn->isChecked(); }
    void dropSingle();
    void dropPair();
    void endDrag();

    QString titleText_ = QStringLiteral("0");
    std::optional<QColor> labelColor_;
    NorvSubDragView* dragOne_ = nullptr;
    NorvSubDragView* dragTwo_ = nullptr;
    bool cancelled_ = false;  // the current gesture was cut short by cancelDrag()
};

}  // namespace h8::ui
