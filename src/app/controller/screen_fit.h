// Keeps every control of a window with fixed-size content reachable on a screen whose free area
// is smaller than the window (1366 × 768, or 1920 × 1080 at 150 %): there the content goes into
// a scroll area and the window is made as large as the free area allows; on a screen where the
// window fits, the content stays the window's central widget at its own size, untouched.
// Follows the window to another screen and the free area changing (a panel added, a resolution
// changed), and scrolls the control that takes the keyboard focus into view.
#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>

class QMainWindow;
class QScreen;
class QScrollArea;
class QWidget;
class QWindow;

namespace h8 {

class ScreenFit : public QObject {
    Q_OBJECT
public:
    // `content` is `window`'s central widget, of fixed size; both must outlive this object.
    ScreenFit(QMainWindow& window, QWidget& content);
    ~ScreenFit() override;

    // Fits the window to its screen's free area now (it does so by itself on a show, a move, a
    // change of screen and a change of the free area).
    void update();

    // The area the window must fit into with its frame: its screen's available geometry.
    QRect availableArea() const;

    // Whether the content scrolls, and the scroll area holding it then (null otherwise).
    bool isScrolling() const { return area_ != nullptr; }
    QScrollArea* scrollArea() const { return area_; }

    // What the window's frame is assumed to take until the platform has told (before the
    // window is first shown): a title bar.
    static constexpr QMargins kAssumedFrame{0, 40, 0, 0};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMargins frameMargins() const;
    void watchWindow();
    void watchScreen(QScreen* screen);
    // `room`: what the free area leaves for the scroll area.
    void enterScrolling(const QSize& room);
    void leaveScrolling();
    void keepOnScreen();
    void focusChanged(QWidget* now);

    QMainWindow& window_;
    QWidget& content_;
    QScrollArea* area_ = nullptr;
    QPointer<QWindow> watchedWindow_;
    QPointer<QScreen> watchedScreen_;
    bool frameKnown_ = false;  // the window was exposed: the platform's frame margins hold
    bool updating_ = false;
};

}  // namespace h8
