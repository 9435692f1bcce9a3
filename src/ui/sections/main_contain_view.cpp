#include "ui/sections/main_contain_view.h"

#include <QCoreApplication>
#include <algorithm>

#include "core/device_controls.h"
#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/panels/bottom_view.h"
#include "ui/sections/control_panels.h"
#include "ui/sections/matrix_panels.h"
#include "ui/strips/channel_strips.h"
#include "ui/strips/level_bar.h"
#include "ui/widgets/lum_circular_view.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/norv_button_view.h"

namespace h8::ui {
namespace {
constexpr int kStatusBarHeight = 26;
constexpr int kColumnWidth = 345;
constexpr int kInset = 3;
}  // namespace

NorvMainContainView::NorvMainContainView(const PanelContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      chips_(std::make_unique<RouteChips>(context.routing, context.store.indexQuoteArray,
                                          context.center)),
      meters_(context.clock, &context.poll, [this] {
          const bool changed = showLevels();
          return MeterClock::Shown{changed, metersEmpty() || !context_.store.inputUnits};
      }) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(30, 29, 36));
    setPalette(p);

    context_.registry = &registry_;
    micInView = new NorvMicINView(context_, this);
    outputView = new NorvHardwareOutView(context_, this);
    // The upper matrix panel registers the first destination rows, the lower one appends.
    tMidView = new NorvTMidView(context_, *chips_, this);
    botL = new NorvBLView(context_, this);
    botR = new NorvBRView(context_, this);
    bMidView = new NorvBMidView(context_, *chips_, this);
    bottomVew = new NorvBottomView(context_.store, context_.center, this);

    HardwarePoller& poll = context_.poll;
    connect(&poll.monitor(), &HardwareMonitor::updated, this,
            &NorvMainContainView::showHardwareState);
    // While the user turns the OTG knob, a readout must not overwrite what they dial in.
    pausePollWhileTurning(*outputView->output34VolumeView, poll);
    // Qt's timers keep firing while a menu is open or the window is moved.
    meters_.start();

    resize(945, 750);
    recoverLastBuildUI();
    // Widgets join the Tab chain in the order they are created: put them in reading order.
    const QList<QWidget*> stops = tabStops();
    for (qsizetype i = 1; i < stops.size(); ++i) QWidget::setTabOrder(stops[i - 1], stops[i]);
}

QList<QWidget*> NorvMainContainView::tabStops() const {
    return micInView->tabStops() + tMidView->tabStops() + outputView->tabStops() +
           botL->tabStops() + bMidView->tabStops() + botR->tabStops();
}

NorvMainContainView::~NorvMainContainView() {
    context_.center.removeObserver(this);
}

void NorvMainContainView::resizeEvent(QResizeEvent*) {
    const int w = width(), h = height() - kStatusBarHeight;
    const int usable = h - 10;
    const int upperH = static_cast<int>(usable * 0.52), lowerH = usable - upperH;
    const int top = 10, lowerTop = top + upperH;
    const int rightX = w - kInset - kColumnWidth;
    const int midX = kInset + kColumnWidth + kInset, midW = rightX - kInset - midX;
    micInView->setGeometry(kInset, top, kColumnWidth, upperH - kInset);
    outputView->setGeometry(rightX, top, kColumnWidth, upperH - kInset);
    tMidView->setGeometry(midX, top, midW, upperH - kInset);
    botL->setGeometry(kInset, lowerTop, kColumnWidth, lowerH - kInset);
    botR->setGeometry(rightX, lowerTop, kColumnWidth, lowerH - kInset);
    bMidView->setGeometry(midX, lowerTop, midW, lowerH - kInset);
    bottomVew->setGeometry(0, height() - kStatusBarHeight, w, kStatusBarHeight);
}

void NorvMainContainView::timerFired() {
    meters_.tick();
}

bool NorvMainContainView::showLevels() {
    const NorvShareHelper& store = context_.store;
    if (!store.inputUnits) return false;
    const auto& engines = *store.inputUnits;
    // Engines without a channel (the interface reports fewer than 16) leave their meter empty.
    const auto level = [&](size_t i) {
        return i < engines.size() ? engines[i]->volumeIntensity() : 0.0;
    };
    // The bars that moved, painted straight into the window together at the end.
    std::optional<LevelBarBatch> batch;
    if (metersPaintDirectly_) batch.emplace(window());
    LevelBarBatch* const direct = batch ? &*batch : nullptr;
    bool changed = false;
    changed |= micInView->micIn->setTopLevel(level(0), direct);
    changed |= micInView->micIn->setBotLevel(level(1), direct);
    changed |= micInView->otgIn->setTopLevel(level(2), direct);
    changed |= micInView->otgIn->setBotLevel(level(3), direct);
    NorvOutProgressView* loops[] = {botR->channel12, botR->channel34, botR->channel56,
                                    botR->channel78};
    for (size_t k = 0; k < 4; ++k) {
        changed |= loops[k]->setTopLevel(level(4 + 2 * k), direct);
        changed |= loops[k]->setBotLevel(level(5 + 2 * k), direct);
    }
    changed |= outputView->HpOut->setTopLevel(level(12) * store.hpratio, direct);
    changed |= outputView->HpOut->setBotLevel(level(13) * store.hpratio, direct);
    changed |= outputView->otgOut->setTopLevel(level(14) * store.otgratio, direct);
    changed |= outputView->otgOut->setBotLevel(level(15) * store.otgratio, direct);
    if (batch) batch->finish();
    return changed;
}

bool NorvMainContainView::metersEmpty() const {
    const LevelBar* bars[] = {
        micInView->micIn->topView,  micInView->micIn->botView,  micInView->otgIn->topView,
        micInView->otgIn->botView,  botR->channel12->topView,   botR->channel12->botView,
        botR->channel34->topView,   botR->channel34->botView,   botR->channel56->topView,
        botR->channel56->botView,   botR->channel78->topView,   botR->channel78->botView,
        outputView->HpOut->topView, outputView->HpOut->botView, outputView->otgOut->topView,
        outputView->otgOut->botView};
    return std::all_of(std::begin(bars), std::end(bars),
                       [](const LevelBar* bar) { return bar->drawnWidth() == 0; });
}

void NorvMainContainView::showHardwareState(const HardwareState& state) {
    if (state.otgConnected) {
        bottomVew->statuel->setText(*state.otgConnected
                                        ? QCoreApplication::translate("Panel", "OTG MAX:已连接")
                                        : QCoreApplication::translate("Panel", "OTG MAX:未连接"));
    }
    micInView->inputVolumeView->updateLevel(state.input1Gain);
    micInView->inputVolumeView2->updateLevel(state.input2Gain);
    outputView->output12VolumeView->updateLevel(state.headphoneLevel);
    outputView->output34VolumeView->updateLevel(state.otgVolume);
    micInView->setIndicator(state.phantom1, 1);
    micInView->setInputType(state.inputType1, 1);
    micInView->setIndicator(state.instrument1, 3);
    micInView->setIndicator(state.phantom2, 2);
    micInView->setInputType(state.inputType2, 2);
    micInView->setIndicator(state.instrument2, 4);
    // A mute button follows only a change: in between it shows the user's own click and hover.
    const auto changed = [&](int HardwareState::*field) {
        return !shownState_ || (*shownState_).*field != state.*field;
    };
    if (changed(&HardwareState::inputMute1))
        micInView->btnMute->setState(state.inputMute1 == 1, true);
    if (changed(&HardwareState::inputMute2))
        micInView->btn2Mute->setState(state.inputMute2 == 1, true);
    if (changed(&HardwareState::headphoneMute))
        outputView->out12butn->setState(state.headphoneMute == 1, true);
    shownState_ = state;
}

void NorvMainContainView::showMuteStates() {
    const NorvShareHelper& store = context_.store;
    micInView->btnMute->setState(store.micMuteState == 1, true);
    micInView->btn2Mute->setState(store.mic2MuteState == 1, true);
    outputView->out12butn->setState(store.hpMuteState == 1, true);
}

void NorvMainContainView::recoverLastBuildUI() {
    chips_->recoverLastBuildUI();
}

}  // namespace h8::ui
