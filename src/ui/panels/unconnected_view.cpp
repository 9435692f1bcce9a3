#include "ui/panels/unconnected_view.h"

#include <QCoreApplication>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/widgets/images.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/style.h"

namespace h8::ui {

namespace {

const QColor kBackground{53, 57, 61};
const QColor kMessageColor{216, 30, 6};  // #d81e06
constexpr int kImageSize = 200;
constexpr int kImageToText = 10;

}  // namespace

NorvUnconnectedView::NorvUnconnectedView(QWidget* parent)
    : QWidget(parent),
      label(new LumLabel),
      content_(new QWidget(this)),
      image_(new QLabel),
      advice_(new QLabel) {
    image_->setFixedSize(kImageSize, kImageSize);
    image_->setPixmap(image(QStringLiteral("shebeiweilianjie"), QSize(kImageSize, kImageSize)));

    label->setText(QCoreApplication::translate("Panel", "当前设备未连接，请连接设备后使用！"));
    label->setFont(systemFont(20));
    label->setTextColor(kMessageColor);
    label->setAlignment(Qt::AlignCenter);

    // The picture and the message form one group, centred both ways in the view.
    auto* group = new QVBoxLayout(content_);
    group->setContentsMargins(0, 0, 0, 0);
    group->setSpacing(kImageToText);
    group->addWidget(image_, 0, Qt::AlignHCenter);
    group->addWidget(label, 0, Qt::AlignHCenter);
    // Commands the user copies into a terminal: selectable, wrapped to the window.
    advice_->setTextFormat(Qt::RichText);
    advice_->setWordWrap(true);
    advice_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    advice_->setFont(systemFont(13));
    advice_->setStyleSheet(QStringLiteral("color: rgb(224, 223, 223);"));
    advice_->setFixedWidth(820);
    advice_->hide();
    group->addWidget(advice_, 0, Qt::AlignHCenter);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(content_, 0, Qt::AlignCenter);
}

void NorvUnconnectedView::setAdvice(const QString& text) {
    advice_->setText(text);
    advice_->setVisible(!text.isEmpty());
}

void NorvUnconnectedView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
}

}  // namespace h8::ui
