#include "ui/panels/bottom_view.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPainter>

#include "core/notification_names.h"
#include "core/share_helper.h"
#include "platform/notification_center.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/style.h"

namespace h8::ui {

namespace {

const QColor kBarColor{40, 40, 46};
const QColor kTextColor{224, 223, 223};

// Posted by nothing in the program today; kept so a future name readout can refresh the bar.
constexpr const char* kDeviceNameGet = "deviceNameGet";

}  // namespace

NorvBottomView::NorvBottomView(const NorvShareHelper& store, NotificationCenter& center,
                               QWidget* parent)
    : QWidget(parent), store_(store), center_(center), stack_(new QHBoxLayout(this)) {
    // The labels paint no background, so a gap between them would not show; without one the
    // shares stay exactly equal.
    stack_->setSpacing(0);
    stack_->setContentsMargins(0, 0, 0, 0);

    namel = makeLabel();
    snl = makeLabel();
    softVersionl = makeLabel();
    statuel = makeLabel();
    samplel = makeLabel();
    bufferl = makeLabel();

    addDeviceFunc();
    bufferl->hide();

    const auto refreshAll = [this](const Notification&) { addDeviceFunc(); };
    center.addObserver(this, notify::kRawDeviceAdded, refreshAll);
    center.addObserver(this, notify::kInitFinish, refreshAll);
    center.addObserver(this, notify::kRawDeviceRemoved,
                       [this](const Notification&) { removeDeviceFunc(); });
    center.addObserver(this, notify::kChangeSampleRate,
                       [this](const Notification&) { changeSampeRate(); });
    center.addObserver(this, kDeviceNameGet, [this](const Notification&) { deviceNameGet(); });
}

NorvBottomView::~NorvBottomView() {
    center_.removeObserver(this);
}

LumLabel* NorvBottomView::makeLabel() {
    auto* label = new LumLabel(this);
    label->setTextColor(kTextColor);
    label->setFont(systemFont(12));
    label->setAlignment(Qt::AlignCenter);
    // Ignoring the text's width makes the equal stretch factors give equal widths.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    stack_->addWidget(label, 1);
    return label;
}

void NorvBottomView::addDeviceFunc() {
    const NorvShareHelper& store = store_;
    namel->setText(store.deviceName);
    snl->setText(QCoreApplication::translate("Panel", "序列号：%1").arg(store.deviceSn));
    softVersionl->setText(
        QCoreApplication::translate("Panel", "固件:v%1").arg(store.deviceVersion));
    statuel->setText(QStringLiteral("OTG MAX:"));
    setSampleText();
    statuel->setVisible(store.isHasOTGMax);
}

void NorvBottomView::removeDeviceFunc() {
    for (LumLabel* label : {namel, snl, softVersionl, statuel, samplel, bufferl}) label->clear();
}

void NorvBottomView::changeSampeRate() {
    // The poster may still be updating the store; the label reads it once that code is done.
    // With `this` as context the call is dropped if the bar is destroyed first.
    QMetaObject::invokeMethod(
        this, [this] { setSampleText(); }, Qt::QueuedConnection);
}

void NorvBottomView::deviceNameGet() {
    namel->setText(store_.deviceName);
}

void NorvBottomView::setAudioNote(const QString& note, const QString& details) {
    audioNote_ = note;
    audioDetails_ = details;
    setSampleText();
}

void NorvBottomView::setSampleText() {
    samplel->setToolTip(audioDetails_);
    if (!audioNote_.isEmpty()) {
        samplel->setText(audioNote_);
        return;
    }
    samplel->setText(QCoreApplication::translate("Panel", "采样率:%1").arg(store_.sampleRate));
}

void NorvBottomView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBarColor);
}

}  // namespace h8::ui
