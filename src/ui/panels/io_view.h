// The corner cell of a routing grid's header: a gray diagonal from the bottom-left to the
// top-right corner, "I" above it on the side of the source headers (to the left) and "O" below
// it on the side of the destination labels (underneath).
#pragma once

#include <QWidget>

namespace h8::ui {

class LumLabel;

class NorvIOView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kLetterSize = 12;
    static constexpr int kLetterInset = 1;

    explicit NorvIOView(QWidget* parent = nullptr);

    LumLabel* iLabel;  // upper-left triangle
    LumLabel* oLabel;  // lower-right triangle

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeLetters();
};

}  // namespace h8::ui
