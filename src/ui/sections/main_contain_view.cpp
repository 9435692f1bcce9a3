#include "ui/sections/main_contain_view.h"

#include <QCoreApplication>
#include <algorithm>

#include "core/device_controls.h"
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

NorvMainContainView::NorvMainContainView(RoutingModel& routing, QWidget* parent)
    : QWidget(parent),
      timer(new QTimer(this)),
      stateTimer(new QTimer(this)),
      routing_(routing),
      chips_(std::make_unique<RouteChips>(routing, NorvShareHelper::shared().indexQuoteArray,
                                          NotificationCenter::defaultCenter())) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(30, 29, 36));
    setPalette(p);

    MatrixRegistry& registry = MatrixRegistry::shared();
    registry.routing = &routing_;
    micInView = new NorvMicINView(this);
    outputView = new NorvHardwareOutView(this);
    // The upper matrix panel registers the first destination rows, the lower one appends.
    tMidView = new NorvTMidView(chips_.get(), &routing_, this);
    botL = new NorvBLView(this);
    botR = new NorvBRView(this);
    bMidView = new NorvBMidView(chips_.get(), &routing_, this);
    bottomVew = new NorvBottomView(this);

    // Qt's timers keep firing while a menu is open or the window is moved.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &NorvMainContainView::timerFired);
    connect(stateTimer, &QTimer::timeout, this, &NorvMainContainView::timerStateFired);
    stateTimer->setInterval(kPollIntervalMs);
    clock_.start();
    wakeMeters();

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
    NotificationCenter::defaultCenter().removeObserver(this);
    MatrixRegistry::shared().clear();
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
    const bool changed = showLevels();
    if (!timer->isActive()) return;  // driven by hand
    pollIfDue();
    const bool idle = !changed && (metersEmpty() || !NorvShareHelper::shared().inputUnits);
    quietTicks_ = idle ? quietTicks_ + 1 : 0;
    if (quietTicks_ >= kQuietTicksBeforeRest) restMeters();
}

void NorvMainContainView::pollIfDue() {
    constexpr qint64 kPollPeriodNs = 1'000'000'000 / 6;
    constexpr qint64 kHalfTickNs = qint64(kMeterIntervalMs) * 1'000'000 / 2;
    const qint64 now = clock_.nsecsElapsed();
    if (now + kHalfTickNs < nextPollNs_) return;
    // The next one a period after this one's due time; after a stall (a long preset import,
    // a suspended machine) a period from now, not a burst of the missed ones.
    nextPollNs_ = std::max(nextPollNs_ + kPollPeriodNs, now + kPollPeriodNs - kHalfTickNs);
    timerStateFired();
}

void NorvMainContainView::restMeters() {
    timer->stop();
    metersResting_ = true;
    stateTimer->start();
}

void NorvMainContainView::wakeMeters() {
    metersResting_ = false;
    quietTicks_ = 0;
    stateTimer->stop();
    nextPollNs_ = clock_.nsecsElapsed() + 1'000'000'000 / 6;
    timer->start(kMeterIntervalMs);
}

bool NorvMainContainView::showLevels() {
    const NorvShareHelper& store = NorvShareHelper::shared();
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

void NorvMainContainView::timerStateFired() {
    // Resting meters: a level that would move one starts their clock again.
    if (metersResting_ && showLevels()) wakeMeters();
    // An interface that stopped answering costs a short time-out per read: after
    // kPollFailuresBeforeBackOff silent ticks in a row only every kBackOffTicks-th tick reads,
    // until one answers.
    if (pollIsBackedOff() && ++skipped_ < kBackOffTicks) return;
    skipped_ = 0;
    const std::optional<HardwarePoll> poll = pollHardwareState();
    if (!poll) return;
    if (!poll->answered) {
        ++silentTicks_;
        return;
    }
    silentTicks_ = 0;
    NorvShareHelper& store = NorvShareHelper::shared();
    if (poll->otgConnected) {
        bottomVew->statuel->setText(*poll->otgConnected
                                        ? QCoreApplication::translate("Panel", "OTG MAX:已连接")
                                        : QCoreApplication::translate("Panel", "OTG MAX:未连接"));
    }
    // Show the readings without sending anything back.
    micInView->inputVolumeView->updateLevel(store.micIn1Volume);
    micInView->inputVolumeView2->updateLevel(store.micIn2Volume);
    outputView->output12VolumeView->updateLevel(store.micOutVolume);
    outputView->output34VolumeView->updateLevel(store.OTGOut34Volume);
    micInView->setIndicator(store.mic48VState, 1);
    micInView->setInputType(store.micInChangeState, 1);
    micInView->setIndicator(store.micInstState, 3);
    // The input mutes follow the panel's own record, the headphone mute follows the device.
    UserDefaults& defaults = UserDefaults::standard();
    const int mic1 = static_cast<int>(defaults.integerForKey(kMicMute1Key));
    if (mic1 != store.micMuteState) {
        micInView->btnMute->setState(mic1 == 1, true);
        store.micMuteState = mic1;
    }
    const int mic2 = static_cast<int>(defaults.integerForKey(kMicMute2Key));
    if (mic2 != store.mic2MuteState) {
        micInView->btn2Mute->setState(mic2 == 1, true);
        store.mic2MuteState = mic2;
    }
    micInView->setIndicator(store.mic248VState, 2);
    micInView->setInputType(store.mic2InChangeState, 2);
    micInView->setIndicator(store.mic2InstState, 4);
    if (poll->headphoneMute && *poll->headphoneMute != store.hpMuteState) {
        outputView->out12butn->setState(*poll->headphoneMute == 1, true);
        store.hpMuteState = *poll->headphoneMute;
    }
}

void NorvMainContainView::pushMuteStates() {
    const MuteStates m = h8::pushMuteStates();
    micInView->btnMute->setState(m.input1 == 1, true);
    micInView->btn2Mute->setState(m.input2 == 1, true);
    outputView->out12butn->setState(m.headphones == 1, true);
}

void NorvMainContainView::showMuteStates() {
    const NorvShareHelper& store = NorvShareHelper::shared();
    micInView->btnMute->setState(store.micMuteState == 1, true);
    micInView->btn2Mute->setState(store.mic2MuteState == 1, true);
    outputView->out12butn->setState(store.hpMuteState == 1, true);
}

void NorvMainContainView::recoverLastBuildUI() {
    chips_->recoverLastBuildUI();
}

}  // namespace h8::ui
