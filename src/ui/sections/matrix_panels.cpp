#include "ui/sections/matrix_panels.h"

#include <QCoreApplication>

#include "core/notification_names.h"
#include "platform/notification_center.h"
#include "ui/matrix/channel_row_view.h"
#include "ui/matrix/destination_view.h"
#include "ui/matrix/grid_view.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/sections/section_layout.h"
#include "ui/strips/channel_strips.h"
#include "ui/widgets/focus.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_label.h"

namespace h8::ui {
namespace {

QPushButton* modeButton(const QString& imageName, QWidget* parent) {
    auto* b = new QPushButton(parent);
    b->setFlat(true);
    b->setIconSize(QSize(21, 18));
    b->setIcon(QIcon(image(imageName, QSize(21, 18))));
    b->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }") +
                     focusFrameRule(QStringLiteral("QPushButton")));
    pressWithEnter(b);
    return b;
}

QLabel* imageView(const QString& name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setPixmap(image(name, QSize(15, 15)));
    l->setFixedSize(15, 15);
    return l;
}

void registerPair(MatrixRegistry* registry, NorvDestinationView* pair) {
    if (!registry) return;
    registry->detiNationViewArray.append(pair);
    registry->channelViewArray.append(pair->channelTop);
    registry->channelViewArray.append(pair->channelBot);
}

}  // namespace

// ---- upper matrix panel ----

NorvTMidView::NorvTMidView(const PanelContext& context, RouteChips& chips, QWidget* parent)
    : NorvHomeBaseView(parent),
      HPImageView(imageView(QStringLiteral("headphones"), this)),
      phoneImageView(imageView(QStringLiteral("phone"), this)),
      micInView(new NorvDestinationView(context, chips, 1, this)),
      otgInView(new NorvDestinationView(context, chips, 3, this)),
      leftBtn(modeButton(QStringLiteral("stack_a"), this)),
      rightBtn(modeButton(QStringLiteral("matrix_b"), this)),
      gridView(new NorvGridView(context, {"M1", "M2", "O3", "O4"}, this)),
      center_(context.center) {
    darkBackground(this);
    titleLb->hide();
    leftBtn->setToolTip(tr("Routes as rows"));
    rightBtn->setToolTip(tr("Routes as a grid"));
    leftBtn->setAccessibleName(leftBtn->toolTip());
    rightBtn->setAccessibleName(rightBtn->toolTip());
    if (MatrixRegistry* registry = context.registry) {
        registry->channelViewArray.clear();
        registry->detiNationViewArray.clear();
    }
    registerPair(context.registry, micInView);
    registerPair(context.registry, otgInView);
    gridView->hide();
    connect(leftBtn, &QPushButton::clicked, this, &NorvTMidView::leftBtnClick);
    connect(rightBtn, &QPushButton::clicked, this, &NorvTMidView::rightBtnClick);
}

NorvTMidView::~NorvTMidView() = default;

QList<QWidget*> NorvTMidView::tabStops() const {
    return {leftBtn,
            rightBtn,
            micInView->channelTop,
            micInView->channelBot,
            otgInView->channelTop,
            otgInView->channelBot,
            gridView};
}

bool NorvTMidView::isMatrixMode() const {
    return !gridView->isHidden();
}

void NorvTMidView::rightBtnClick() {
    rightBtn->setIcon(QIcon(image(QStringLiteral("matrix_a"), QSize(21, 18))));
    leftBtn->setIcon(QIcon(image(QStringLiteral("stack_b"), QSize(21, 18))));
    gridView->show();
    for (QWidget* w : {static_cast<QWidget*>(HPImageView), static_cast<QWidget*>(phoneImageView),
                       static_cast<QWidget*>(micInView), static_cast<QWidget*>(otgInView)}) {
        w->hide();
    }
    center_.post(notify::kRightBtnClick);
}

void NorvTMidView::leftBtnClick() {
    leftBtn->setIcon(QIcon(image(QStringLiteral("stack_a"), QSize(21, 18))));
    rightBtn->setIcon(QIcon(image(QStringLiteral("matrix_b"), QSize(21, 18))));
    gridView->hide();
    for (QWidget* w : {static_cast<QWidget*>(HPImageView), static_cast<QWidget*>(phoneImageView),
                       static_cast<QWidget*>(micInView), static_cast<QWidget*>(otgInView)}) {
        w->show();
    }
    center_.post(notify::kLeftBtnClick);
}

void NorvTMidView::resizeEvent(QResizeEvent*) {
    const int w = width();
    leftBtn->setGeometry(w - 56, 6, 24, 20);
    rightBtn->setGeometry(w - 30, 6, 24, 20);
    // Stack mode: the two destination pairs, 40 high, the second 25 below the first.
    const int pairX = 26, pairW = w - pairX - 8;
    micInView->setGeometry(pairX, 40, pairW, 42);
    otgInView->setGeometry(pairX, 40 + 42 + 25, pairW, 42);
    HPImageView->move(7, 40 + 13);
    phoneImageView->move(7, 40 + 42 + 25 + 13);
    // Matrix mode: the grid below the mode buttons.
    gridView->move((w - gridView->width()) / 2, 26 + 20 - NorvGridView::kCellHeight);
}

// ---- lower matrix panel ----

NorvBMidView::NorvBMidView(const PanelContext& context, RouteChips& chips, QWidget* parent)
    : NorvHomeBaseView(parent),
      gridView(new NorvGridView(context, {"O1", "O2", "O3", "O4", "O5", "O6", "O7", "O8"}, this)),
      channle12(new NorvDestinationView(context, chips, 5, this)),
      channle34(new NorvDestinationView(context, chips, 7, this)),
      channle56(new NorvDestinationView(context, chips, 9, this)),
      channle78(new NorvDestinationView(context, chips, 11, this)),
      center_(context.center) {
    darkBackground(this);
    titleLb->hide();
    for (NorvDestinationView* pair : {channle12, channle34, channle56, channle78})
        registerPair(context.registry, pair);
    gridView->hide();
    center_.addObserver(this, notify::kLeftBtnClick, [this](const Notification&) { leftClick(); });
    center_.addObserver(this, notify::kRightBtnClick,
                        [this](const Notification&) { rightClick(); });
}

NorvBMidView::~NorvBMidView() {
    center_.removeObserver(this);
}

QList<QWidget*> NorvBMidView::tabStops() const {
    QList<QWidget*> stops{gridView};
    for (NorvDestinationView* pair : {channle12, channle34, channle56, channle78})
        stops << pair->channelTop << pair->channelBot;
    return stops;
}

void NorvBMidView::leftClick() {
    gridView->hide();
    for (NorvDestinationView* pair : {channle12, channle34, channle56, channle78}) pair->show();
}

void NorvBMidView::rightClick() {
    gridView->show();
    for (NorvDestinationView* pair : {channle12, channle34, channle56, channle78}) pair->hide();
}

void NorvBMidView::resizeEvent(QResizeEvent*) {
    gridView->move(9, 20 - NorvGridView::kCellHeight + 4);
    const int w = width(), inset = 5;
    int y = 26;
    for (NorvDestinationView* pair : {channle12, channle34, channle56, channle78}) {
        pair->setGeometry(26, y, w - 26 - 8, 42);
        y += 42 + (height() - 26 - 4 * 42) / 4 + inset / 2;
    }
}

// ---- side panels ----

NorvBLView::NorvBLView(const PanelContext& context, QWidget* parent)
    : NorvHomeBaseView(parent),
      channel12(new NorvInputProgressView(
          context, QCoreApplication::translate("Panel", "Playback 1-2"), LayoutType::BL, this)),
      channel34(new NorvInputProgressView(
          context, QCoreApplication::translate("Panel", "Playback 3-4"), LayoutType::BL, this)),
      channel56(new NorvInputProgressView(
          context, QCoreApplication::translate("Panel", "Playback 5-6"), LayoutType::BL, this)),
      channel78(new NorvInputProgressView(
          context, QCoreApplication::translate("Panel", "Playback 7-8"), LayoutType::BL, this)) {
    darkBackground(this);
    setTitleText(QCoreApplication::translate("Panel", "软件播放"));
    titleLb->setBackgroundColor(QColor(116, 223, 121));
    int n = 1;
    for (NorvInputProgressView* strip : {channel12, channel34, channel56, channel78}) {
        strip->setIndexTitle(n);
        strip->setRows(n + 4);
        n += 2;
    }
}

QList<QWidget*> NorvBLView::tabStops() const {
    QList<QWidget*> stops;
    for (NorvInputProgressView* strip : {channel12, channel34, channel56, channel78})
        stops += strip->tabStops();
    return stops;
}

void NorvBLView::resizeEvent(QResizeEvent*) {
    stackVertically(this, {channel12, channel34, channel56, channel78}, 26, 5);
}

NorvBRView::NorvBRView(const PanelContext& context, QWidget* parent)
    : NorvHomeBaseView(parent),
      channel12(new NorvOutProgressView(
          context, QCoreApplication::translate("Panel", "Mixer In 1-2"), true, this)),
      channel34(new NorvOutProgressView(
          context, QCoreApplication::translate("Panel", "Mixer In 3-4"), true, this)),
      channel56(new NorvOutProgressView(
          context, QCoreApplication::translate("Panel", "Mixer In 5-6"), true, this)),
      channel78(new NorvOutProgressView(
          context, QCoreApplication::translate("Panel", "Mixer In 7-8"), true, this)) {
    darkBackground(this);
    setTitleText(QCoreApplication::translate("Panel", "混音录制"));
    titleLb->setBackgroundColor(QColor(247, 207, 135));
    int col = 5;
    for (NorvOutProgressView* strip : {channel12, channel34, channel56, channel78}) {
        strip->setPair(col);
        col += 2;
    }
}

QList<QWidget*> NorvBRView::tabStops() const {
    QList<QWidget*> stops;
    for (NorvOutProgressView* strip : {channel12, channel34, channel56, channel78})
        stops += strip->tabStops();
    return stops;
}

void NorvBRView::resizeEvent(QResizeEvent*) {
    stackVertically(this, {channel12, channel34, channel56, channel78}, 26, 5);
}

}  // namespace h8::ui
