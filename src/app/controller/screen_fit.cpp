#include "screen_fit.h"

#include <QApplication>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWindow>
#include <algorithm>

namespace h8 {
namespace {

// Below this the window would be of no use anyway; the content scrolls inside at least this.
constexpr QSize kSmallestViewport{160, 120};

// Gives the keyboard focus back to `widget` after its ancestors were moved to another parent
// (which takes the focus away).
void refocus(QWidget* widget) {
    if (widget && widget->isVisible() && QApplication::focusWidget() != widget)
        widget->setFocus(Qt::OtherFocusReason);
}

}  // namespace

ScreenFit::ScreenFit(QMainWindow& window, QWidget& content) : window_(window), content_(content) {
    window_.installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { focusChanged(now); });
    watchScreen(window_.screen());
}

ScreenFit::~ScreenFit() = default;

QRect ScreenFit::availableArea() const {
    const QScreen* screen = window_.screen();
    return screen ? screen->availableGeometry() : QRect();
}

QMargins ScreenFit::frameMargins() const {
    if (frameKnown_ && window_.windowHandle()) return window_.windowHandle()->frameMargins();
    return kAssumedFrame;
}

void ScreenFit::update() {
    if (updating_) return;
    updating_ = true;
    watchWindow();
    const QRect available = availableArea();
    const QMargins frame = frameMargins();
    const QSize room = available.size().shrunkBy(frame);
    const QWidget* menu = window_.menuWidget();
    const int menuHeight = menu ? menu->sizeHint().height() : 0;
    const QSize content = content_.size();
    const QSize natural(content.width(), content.height() + menuHeight);
    if (available.isEmpty() ||
        (natural.width() <= room.width() && natural.height() <= room.height())) {
        leaveScrolling();
    } else {
        enterScrolling(room.shrunkBy(QMargins(0, menuHeight, 0, 0)));
    }
    updating_ = false;
}

void ScreenFit::enterScrolling(const QSize& room) {
    QWidget* focus = QApplication::focusWidget();
    if (!area_) {
        auto* area = new QScrollArea;
        area->setObjectName(QStringLiteral("screenFitScrollArea"));
        area->setFrameShape(QFrame::NoFrame);
        area->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // The window's central widget moves into the scroll area, keeping its size and children.
        window_.takeCentralWidget();
        area->setWidget(&content_);
        window_.setCentralWidget(area);
        // Shown now rather than when the layout gets to it, so that it can be used at once.
        area->show();
        area_ = area;
    }
    // Scroll bars only where the content does not fit, with room for them beside it.
    const QSize content = content_.size();
    const int barWidth = area_->verticalScrollBar()->sizeHint().width();
    const int barHeight = area_->horizontalScrollBar()->sizeHint().height();
    bool vertical = content.height() > room.height();
    const bool horizontal = content.width() + (vertical ? barWidth : 0) > room.width();
    if (horizontal && !vertical) vertical = content.height() + barHeight > room.height();
    const QSize size =
        QSize(std::min(content.width() + (vertical ? barWidth : 0), room.width()),
              std::min(content.height() + (horizontal ? barHeight : 0), room.height()))
            .expandedTo(kSmallestViewport);
    // The bars are set, not left to the scroll area: "as needed" may keep one that was needed
    // at an earlier size.
    area_->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    area_->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn
                                                   : Qt::ScrollBarAlwaysOff);
    if (area_->size() == size && area_->minimumSize() == size) return;
    area_->setFixedSize(size);
    // The window takes its new size now, so that it can be placed within the free area.
    if (window_.layout()) window_.layout()->activate();
    keepOnScreen();
    refocus(focus);
}

void ScreenFit::leaveScrolling() {
    if (!area_) return;
    QWidget* focus = QApplication::focusWidget();
    QScrollArea* area = area_;
    area_ = nullptr;
    window_.takeCentralWidget();
    area->takeWidget();
    window_.setCentralWidget(&content_);
    content_.show();
    delete area;
    if (window_.layout()) window_.layout()->activate();
    refocus(focus);
}

void ScreenFit::keepOnScreen() {
    // Where no window manager places the window, it could start (or stay) partly off the free
    // area; its frame is moved inside.
    const QRect available = availableArea();
    const QMargins frame = frameMargins();
    const QSize outer = window_.size().grownBy(frame);
    const QPoint at = window_.pos();
    const int x = std::clamp(at.x(), available.left(),
                             std::max(available.left(), available.right() + 1 - outer.width()));
    const int y = std::clamp(at.y(), available.top(),
                             std::max(available.top(), available.bottom() + 1 - outer.height()));
    if (QPoint(x, y) != at) window_.move(x, y);
}

void ScreenFit::watchWindow() {
    QWindow* handle = window_.windowHandle();
    if (!handle || handle == watchedWindow_) return;
    if (watchedWindow_) {
        watchedWindow_->removeEventFilter(this);
        disconnect(watchedWindow_, nullptr, this, nullptr);
    }
    watchedWindow_ = handle;
    frameKnown_ = handle->isExposed();
    handle->installEventFilter(this);
    connect(handle, &QWindow::screenChanged, this, [this](QScreen* screen) {
        watchScreen(screen);
        update();
    });
    watchScreen(handle->screen());
}

void ScreenFit::watchScreen(QScreen* screen) {
    if (screen == watchedScreen_) return;
    if (watchedScreen_) disconnect(watchedScreen_, nullptr, this, nullptr);
    watchedScreen_ = screen;
    if (screen) connect(screen, &QScreen::availableGeometryChanged, this, [this] { update(); });
}

bool ScreenFit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Show) {
        update();
    } else if (watched == watchedWindow_ && event->type() == QEvent::Expose &&
               watchedWindow_->isExposed()) {
        // Shown on the screen: the frame the platform reports is the real one from now on (a
        // window manager may also change it later).
        frameKnown_ = true;
        update();
    }
    return QObject::eventFilter(watched, event);
}

void ScreenFit::focusChanged(QWidget* now) {
    // A control reached with the keyboard (Tab, a shortcut) is scrolled into view; one clicked
    // is already in view.
    if (!area_ || !now || !content_.isAncestorOf(now) ||
        QApplication::mouseButtons() != Qt::NoButton)
        return;
    // A container larger than the view (the panel taking the focus when it is built) would be
    // scrolled to its middle: the view stays where it is.
    if (now->width() > area_->viewport()->width() || now->height() > area_->viewport()->height())
        return;
    area_->ensureWidgetVisible(now);
}

}  // namespace h8
