// The level meter of one channel: a rounded bar filled from the left with a green-to-orange
// gradient; below 60 % only the green part shows, above it yellow and orange reach the end.
#pragma once

#include <QWidget>
#include <optional>

namespace h8::ui {

class LevelBar : public QWidget {
    Q_OBJECT
public:
    explicit LevelBar(QWidget* parent = nullptr);

    // The level, 0..1 (clamped). Repaints only when the drawn width changes.
    void setLevel(double level);
    double level() const { return level_; }

    void setBorderColor(std::optional<QColor> color);
    std::optional<QColor> borderColor() const { return border_; }
    void setBarBackground(std::optional<QColor> color);

    // Where the gradient ends, in bar widths of the filled part: 5 (green only) up to 60 %,
    // then 2 - level.
    static double gradientEnd(double level) { return level > 0.6 ? 2.0 - level : 5.0; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double level_ = 0;
    int drawnWidth_ = 0;
    std::optional<QColor> border_;
    std::optional<QColor> background_ = QColor(Qt::gray);
};

}  // namespace h8::ui
