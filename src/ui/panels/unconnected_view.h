// The full-window picture shown while no interface is bound: a "device not connected" image with
// a message under it, centred on a dark background. The view controller changes the message
// while an interface is being initialised.
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

    QLabel* imageView() const { return image_; }
    QWidget* contentView() const { return content_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* content_;
    QLabel* image_;
};

}  // namespace h8::ui
