// The full-window picture shown while no interface is bound: a "device not connected" image with
// a message under it, centred on a dark background. The view controller changes the message
// while an interface is being initialised, and says why an interface that is plugged in cannot
// be used, with what mends it.
#pragma once

#include <QWidget>

class QLabel;

namespace h8::ui {

class LumLabel;

class NorvUnconnectedView : public QWidget {
    Q_OBJECT

public:
    explicit NorvUnconnectedView(QWidget* parent = nullptr);

    LumLabel* label;  // the message under the picture

    // What to do about the message, as rich text (commands to copy in <pre> blocks), under it;
    // none hides it.
    void setAdvice(const QString& text);
    QLabel* adviceView() const { return advice_; }

    QLabel* imageView() const { return image_; }
    QWidget* contentView() const { return content_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* content_;
    QLabel* image_;
    QLabel* advice_;
};

}  // namespace h8::ui
