#include "ui/sections/control_panels.h"

#include <QCoreApplication>

#include "core/device_controls.h"
#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/notification_names.h"
#include "platform/notification_center.h"
#include "ui/sections/section_layout.h"
#include "ui/strips/channel_strips.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_circular_view.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/norv_button_view.h"
#include "ui/widgets/style.h"

namespace h8::ui {
namespace {

const QColor kIndicatorOn(0xff, 0x83, 0x13);  // "#ff8313"
constexpr int kKnob = 100;

QLabel* knobBackground(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setPixmap(image(QStringLiteral("volumeBg"), QSize(kKnob, kKnob)));
    l->setFixedSize(kKnob, kKnob);
    return l;
}

LumCircularView* makeKnob(Clock& clock, int scale, bool turnable, QWidget* parent) {
    auto* k = new LumCircularView(clock, parent);
    k->avgCount = scale;
    k->canWheel = turnable;
    // A knob that only shows a level read from the interface is no stop for the keyboard.
    k->setFocusPolicy(turnable ? Qt::StrongFocus : Qt::NoFocus);
    k->setFixedSize(kKnob, kKnob);
    return k;
}

LumLabel* caption(const QString& text, QWidget* parent, qreal points = 11) {
    auto* l = new LumLabel(text, parent);
    l->setTextColor(QColor(224, 223, 223));
    l->setFont(systemFont(points));
    l->setAlignment(Qt::AlignCenter);
    return l;
}

LumLabel* indicator(const QString& text, QWidget* parent) {
    LumLabel* l = caption(text, parent, 10);
    l->setTextColor(QColor(Qt::gray));
    return l;
}

QLabel* typeImage(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setPixmap(image(QStringLiteral("sancha"), QSize(20, 20)));
    l->setFixedSize(20, 20);
    return l;
}

NorvButtonView* muteButton(QWidget* parent) {
    auto* b = new NorvButtonView(parent);
    b->setTitleText(QStringLiteral("M"));
    b->setFixedSize(34, 22);
    return b;
}

}  // namespace

// ---- inputs ----

NorvMicINView::NorvMicINView(const PanelContext& context, QWidget* parent)
    : NorvHomeBaseView(parent),
      volumeImgv(knobBackground(this)),
      volumeImgv2(knobBackground(this)),
      inputVolumeView(makeKnob(context.clock, 56, false, this)),
      inputVolumeView2(makeKnob(context.clock, 56, false, this)),
      btn48V(indicator(QStringLiteral("48V"), this)),
      btn248V(indicator(QStringLiteral("48V"), this)),
      INSTLabel(indicator(QStringLiteral("INST"), this)),
      INST2Label(indicator(QStringLiteral("INST"), this)),
      btnState(typeImage(this)),
      btn2State(typeImage(this)),
      btnMute(muteButton(this)),
      btn2Mute(muteButton(this)),
      micNameLb(caption(QCoreApplication::translate("Panel", "Mic In 1"), this)),
      InstNameLb(caption(QCoreApplication::translate("Panel", "Line/Inst In 2"), this)),
      micIn(new NorvInputProgressView(context, QCoreApplication::translate("Panel", "Mic/Line 1-2"),
                                      LayoutType::TL, this)),
      otgIn(new NorvInputProgressView(context, QCoreApplication::translate("Panel", "OTG In 3-4"),
                                      LayoutType::TL, this)) {
    darkBackground(this);
    setTitleText(QCoreApplication::translate("Panel", "硬件输入"));
    // What a screen reader calls the controls.
    inputVolumeView->setAccessibleName(QCoreApplication::translate("Panel", "Mic In 1 gain"));
    inputVolumeView2->setAccessibleName(
        QCoreApplication::translate("Panel", "Line/Inst In 2 gain"));
    btnMute->button->setAccessibleName(QCoreApplication::translate("Panel", "Mic In 1 mute"));
    btn2Mute->button->setAccessibleName(
        QCoreApplication::translate("Panel", "Line/Inst In 2 mute"));
    btn48V->setAccessibleName(QCoreApplication::translate("Panel", "Input 1 48 V"));
    btn248V->setAccessibleName(QCoreApplication::translate("Panel", "Input 2 48 V"));
    INSTLabel->setAccessibleName(QCoreApplication::translate("Panel", "Input 1 instrument"));
    INST2Label->setAccessibleName(QCoreApplication::translate("Panel", "Input 2 instrument"));
    micIn->setIndexTitle(1);
    micIn->setRows(1);
    otgIn->setIndexTitle(3);
    otgIn->setRows(3);
    for (NorvInputProgressView* strip : {micIn, otgIn}) strip->setHandleColor(kHardwareColor);
    HardwareMonitor& monitor = context.poll.monitor();
    btnMute->selectHandler = [&monitor](bool on) { monitor.setInputMute(1, on); };
    btn2Mute->selectHandler = [&monitor](bool on) { monitor.setInputMute(2, on); };
    restore();
}

QList<QWidget*> NorvMicINView::tabStops() const {
    // The gain knobs only show the interface's own knobs: the mutes come first.
    return QList<QWidget*>{btnMute->button, btn2Mute->button} + micIn->tabStops() +
           otgIn->tabStops();
}

void NorvMicINView::restore() {
    const InputMutes m = restoreInputMutes();
    btnMute->setState(m.input1 == 1, true);
    btn2Mute->setState(m.input2 == 1, true);
}

// Both are called on every poll tick (six a second) with mostly the same state: only a change
// touches the label.
void NorvMicINView::setIndicator(int state, int index) {
    LumLabel* labels[] = {btn48V, btn248V, INSTLabel, INST2Label};
    if (index < 1 || index > 4) return;
    const QColor color = state == 1 ? kIndicatorOn : QColor(Qt::gray);
    if (labels[index - 1]->textColor() == color) return;
    labels[index - 1]->setTextColor(color);
    // The colour says on or off; a screen reader says it in words.
    labels[index - 1]->setAccessibleDescription(state == 1
                                                    ? QCoreApplication::translate("Panel", "on")
                                                    : QCoreApplication::translate("Panel", "off"));
}

void NorvMicINView::setInputType(int state, int channel) {
    const bool jack = state == 1;
    std::optional<bool>& shown = channel == 1 ? inputTypeShown_[0] : inputTypeShown_[1];
    if (shown == jack) return;
    shown = jack;
    QLabel* view = channel == 1 ? btnState : btn2State;
    view->setPixmap(
        image(jack ? QStringLiteral("yuantou") : QStringLiteral("sancha"), QSize(20, 20)));
}

void NorvMicINView::resizeEvent(QResizeEvent*) {
    const int w = width(), h = height();
    const int k1 = w / 4 - kKnob / 2, k2 = 3 * w / 4 - kKnob / 2, top = 30;
    volumeImgv->move(k1, top);
    inputVolumeView->move(k1, top);
    volumeImgv2->move(k2, top);
    inputVolumeView2->move(k2, top);
    micNameLb->setGeometry(k1 - 20, top + kKnob + 2, kKnob + 40, 18);
    InstNameLb->setGeometry(k2 - 20, top + kKnob + 2, kKnob + 40, 18);
    const int row = top + kKnob + 26;
    btn48V->setGeometry(k1 - 18, row, 36, 20);
    INSTLabel->setGeometry(k1 + 20, row, 36, 20);
    btnState->move(k1 + 60, row);
    btnMute->move(k1 + 84, row - 1);
    btn248V->setGeometry(k2 - 18, row, 36, 20);
    INST2Label->setGeometry(k2 + 20, row, 36, 20);
    btn2State->move(k2 + 60, row);
    btn2Mute->move(k2 + 84, row - 1);
    const int stripTop = row + 30, stripH = (h - stripTop - 6) / 2;
    micIn->setGeometry(5, stripTop, w - 10, stripH);
    otgIn->setGeometry(5, stripTop + stripH, w - 10, stripH);
}

// ---- outputs ----

NorvHardwareOutView::NorvHardwareOutView(const PanelContext& context, QWidget* parent)
    : NorvHomeBaseView(parent),
      volumeImgv(knobBackground(this)),
      volumeImgv2(knobBackground(this)),
      output12VolumeView(makeKnob(context.clock, 100, false, this)),
      output34VolumeView(makeKnob(context.clock, 100, true, this)),
      hpNameLb(caption(QCoreApplication::translate("Panel", "HP"), this)),
      otgNameLb(caption(QCoreApplication::translate("Panel", "OTG Out 3-4"), this)),
      out12butn(muteButton(this)),
      HpOut(new NorvOutProgressView(context, QCoreApplication::translate("Panel", "HP"), false,
                                    this)),
      otgOut(new NorvOutProgressView(context, QCoreApplication::translate("Panel", "OTG Out 3-4"),
                                     false, this)),
      center_(context.center) {
    darkBackground(this);
    setTitleText(QCoreApplication::translate("Panel", "硬件输出"));
    output12VolumeView->setAccessibleName(QCoreApplication::translate("Panel", "HP level"));
    output34VolumeView->setAccessibleName(
        QCoreApplication::translate("Panel", "OTG Out 3-4 volume"));
    out12butn->button->setAccessibleName(QCoreApplication::translate("Panel", "HP mute"));
    HpOut->setPair(1);
    otgOut->setPair(3);
    HardwareMonitor& monitor = context.poll.monitor();
    output34VolumeView->callBack = [&monitor](int volume) { monitor.setOtgVolume(volume); };
    out12butn->selectHandler = [&monitor](bool on) { monitor.setHeadphoneMute(on); };
    center_.addObserver(this, notify::kRawDeviceAdded,
                        [this](const Notification&) { addDeviceFunc(); });
    addDeviceFunc();
}

NorvHardwareOutView::~NorvHardwareOutView() {
    center_.removeObserver(this);
}

QList<QWidget*> NorvHardwareOutView::tabStops() const {
    // The headphone knob only shows the interface's own knob.
    return QList<QWidget*>{output34VolumeView, out12butn->button} + HpOut->tabStops() +
           otgOut->tabStops();
}

void NorvHardwareOutView::addDeviceFunc() {
    const OutputSettings s = restoreOutputSettings();
    output34VolumeView->updateLevel(s.otgVolume);
    out12butn->setState(s.headphoneMute == 1, true);
}

void NorvHardwareOutView::resizeEvent(QResizeEvent*) {
    const int w = width(), h = height();
    const int k1 = w / 4 - kKnob / 2, k2 = 3 * w / 4 - kKnob / 2, top = 30;
    volumeImgv->move(k1, top);
    output12VolumeView->move(k1, top);
    volumeImgv2->move(k2, top);
    output34VolumeView->move(k2, top);
    hpNameLb->setGeometry(k1 - 20, top + kKnob + 2, kKnob + 40, 18);
    otgNameLb->setGeometry(k2 - 20, top + kKnob + 2, kKnob + 40, 18);
    const int row = top + kKnob + 26;
    out12butn->move(k1 + (kKnob - out12butn->width()) / 2, row - 1);
    const int stripTop = row + 30, stripH = (h - stripTop - 6) / 2;
    HpOut->setGeometry(5, stripTop, w - 10, stripH);
    otgOut->setGeometry(5, stripTop + stripH, w - 10, stripH);
}

}  // namespace h8::ui
