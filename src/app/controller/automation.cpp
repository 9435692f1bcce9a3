#include "automation.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/meter_clock.h"
#include "core/notification_names.h"
#include "core/share_helper.h"
#include "emulated/emulated_h8.h"
#include "emulated/emulated_usb_transport.h"
#include "emulated/physical_controls.h"
#include "login_session_follower.h"
#include "platform/atomic_file.h"
#include "platform/notification_center.h"
#include "routing_agreement.h"
#include "screen_fit.h"
#include "ui/matrix/channel_row_view.h"
#include "ui/matrix/drag_view.h"
#include "ui/matrix/grid_view.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/panels/unconnected_view.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/sections/control_panels.h"
#include "ui/sections/main_contain_view.h"
#include "ui/sections/matrix_panels.h"
#include "ui/strips/channel_strips.h"
#include "ui/widgets/hover_button.h"
#include "ui/widgets/lum_label.h"
#include "view_controller.h"

namespace h8 {
namespace {

ui::NorvDragView* handleForRow(ui::NorvMainContainView* panel, int row) {
    ui::NorvInputProgressView* strips[] = {panel->micInView->micIn, panel->micInView->otgIn,
                                           panel->botL->channel12,  panel->botL->channel34,
                                           panel->botL->channel56,  panel->botL->channel78};
    if (row < 1 || row > 12) return nullptr;
    ui::NorvInputProgressView* strip = strips[(row - 1) / 2];
    return row % 2 == 1 ? strip->topBtn : strip->botBtn;
}

void send(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button,
          Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void click(QWidget* w) {
    const QPoint centre = w->rect().center();
    send(w, QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    send(w, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
}

// Runs the event loop until `done` holds or `ms` pass.
bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Counts the update requests a window receives.
class UpdateRequests : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::UpdateRequest) ++count;
        return false;
    }
};

}  // namespace

Automation::Automation(AppDelegate& window, const QStringList& script)
    : window_(window), script_(script) {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(this, notify::kRawDeviceAdded, [this](const Notification&) { ++arrivals_; });
    center.addObserver(this, notify::kChangeSampleRate,
                       [this](const Notification&) { ++rateNotices_; });
}

Automation::~Automation() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

void Automation::start() {
    QTimer::singleShot(0, this, &Automation::next);
}

void Automation::fail(const QString& why) {
    std::fprintf(stderr, "automation: line %d: %s\n", line_, qPrintable(why));
    QApplication::exit(3);
}

bool Automation::drag(int row, int col) {
    ui::NorvMainContainView* panel = window_.controller->norvMainContaiView;
    if (!panel || col < 1 || col > panel->registry().channelViewArray.size()) return false;
    ui::NorvDragView* handle = handleForRow(panel, row);
    ui::ChannelRowView* target = panel->registry().channelViewArray[col - 1];
    if (!handle || !target) return false;
    const QPoint start(8, 8);
    const QPoint end =
        handle->mapFrom(handle->window(), target->mapTo(target->window(), QPoint(40, 10)));
    send(handle, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i <= 8; ++i)
        send(handle, QEvent::MouseMove, start + (end - start) * i / 8, Qt::NoButton,
             Qt::LeftButton);
    send(handle, QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
    return true;
}

bool Automation::menusEnabled() const {
    // The File menu, by name: its title follows the language.
    for (QAction* a : window_.menuBar()->actions()) {
        if (a->menu() && a->menu()->objectName() == QLatin1String("fileMenu"))
            return a->isEnabled() && a->menu()->isEnabled();
    }
    return false;
}

bool Automation::chipGesture(int row, int col, bool doubleClick) {
    ui::NorvMainContainView* panel = window_.controller->norvMainContaiView;
    if (!panel) return false;
    const auto& rows = panel->registry().channelViewArray;
    if (col < 1 || col > rows.size() || !rows[col - 1]) return false;
    ui::LumLabel* chip = nullptr;
    for (ui::LumLabel* c : rows[col - 1]->chipLabels()) {
        if (c->actRowIndex == row) chip = c;
    }
    if (!chip) return false;
    const QPoint centre = chip->rect().center();
    send(chip, QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    if (doubleClick) {
        send(chip, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
        send(chip, QEvent::MouseButtonDblClick, centre, Qt::LeftButton, Qt::LeftButton);
        send(chip, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
        return true;
    }
    // Down and out of the row, well clear of its 5-point margin.
    const QPoint end = centre + QPoint(0, 80);
    for (int i = 1; i <= 8; ++i)
        send(chip, QEvent::MouseMove, centre + (end - centre) * i / 8, Qt::NoButton,
             Qt::LeftButton);
    send(chip, QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
    return true;
}

bool Automation::gridGesture(int row, int col, int notches) {
    ui::NorvMainContainView* panel = window_.controller->norvMainContaiView;
    if (!panel) return false;
    ui::NorvGridView* grid = row <= 4 ? panel->tMidView->gridView : panel->bMidView->gridView;
    ui::HoverButton* button = grid->button(row, col);
    if (!button || !button->isVisible()) return false;
    if (notches == 0) {
        click(button);
        return true;
    }
    const QPoint centre = button->rect().center();
    for (int i = 0; i < std::abs(notches); ++i) {
        QWheelEvent e(QPointF(centre), QPointF(button->mapToGlobal(centre)), QPoint(),
                      QPoint(0, notches > 0 ? 120 : -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(button, &e);
    }
    return true;
}

bool Automation::switchPlugged(bool on) {
    auto* plugged = window_.findChild<QAction*>(QStringLiteral("simPlugged"));
    if (!plugged) return false;
    plugged->setChecked(on);
    return true;
}

bool Automation::chooseRate(int hz) {
    if (!window_.sanpleMenu || !menusEnabled()) return false;
    for (QAction* item : window_.sanpleMenu->actions()) {
        if (item->text() != QString::number(hz) + QStringLiteral("Hz")) continue;
        // The menu posts the change once; the engine's rebuild for the device's new rate posts
        // it again.
        const int before = rateNotices_;
        item->trigger();
        return waitFor([this, before] { return rateNotices_ >= before + 2; }, 2000);
    }
    return false;
}

void Automation::measureGaps(int ms) {
    // A 10 ms timer on the main thread: the longest time between two of its ticks is the
    // longest time the window could not answer.
    auto* ticker = new QTimer(this);
    auto* clock = new QElapsedTimer;
    auto longest = std::make_shared<qint64>(0);
    auto last = std::make_shared<qint64>(0);
    clock->start();
    ticker->setTimerType(Qt::PreciseTimer);
    connect(ticker, &QTimer::timeout, this, [=] {
        const qint64 now = clock->elapsed();
        *longest = std::max(*longest, now - *last);
        *last = now;
    });
    ticker->start(10);
    QTimer::singleShot(ms, this, [=, this] {
        ticker->deleteLater();
        std::printf("gaps: longest=%lld ms\n", static_cast<long long>(*longest));
        std::fflush(stdout);
        delete clock;
        next();
    });
}

void Automation::next() {
    while (line_ < script_.size()) {
        const QStringList words = script_[line_++].simplified().split(' ', Qt::SkipEmptyParts);
        if (words.isEmpty() || words[0].startsWith('#')) continue;
        const QString& command = words[0];
        const int arg1 = words.value(1).toInt(), arg2 = words.value(2).toInt();
        ViewController* c = window_.controller;
        if (command == "wait") {
            QTimer::singleShot(arg1, this, &Automation::next);
            return;
        } else if (command == "wait-bound") {
            if (!waitFor([c] { return c->isBound(); }, arg1))
                return fail("the interface was not bound");
        } else if (command == "wait-unbound") {
            if (!waitFor([c] { return !c->uncontectView->isHidden(); }, arg1))
                return fail("still bound");
        } else if (command == "wait-arrivals") {
            if (!waitFor([this, c, arg1] { return arrivals_ >= arg1 && c->isBound(); }, arg2))
                return fail(QString("%1 of %2 arrivals").arg(arrivals_).arg(arg1));
        } else if (command == "wait-ticks") {
            ui::NorvMainContainView* const panel = c->norvMainContaiView;
            if (!panel) return fail("no meters");
            const int until = panel->meters().movingTicks() + arg1;
            if (!waitFor([panel, until] { return panel->meters().movingTicks() >= until; }, arg2))
                return fail(QString("fewer than %1 meter ticks moved a meter").arg(arg1));
        } else if (command == "drag") {
            if (!drag(arg1, arg2)) return fail("no handle or destination for the drag");
        } else if (command == "chip-double-click" || command == "chip-drag-out") {
            if (!chipGesture(arg1, arg2, command == "chip-double-click"))
                return fail("no such chip");
        } else if (command == "mode") {
            ui::NorvMainContainView* panel = c->norvMainContaiView;
            if (!panel) return fail("no panel");
            click(words.value(1) == "grid" ? panel->tMidView->rightBtn : panel->tMidView->leftBtn);
        } else if (command == "grid-click") {
            if (!gridGesture(arg1, arg2, 0)) return fail("no grid button showing");
        } else if (command == "grid-scroll") {
            const int notches = words.value(3).toInt();
            if (notches == 0 || !gridGesture(arg1, arg2, notches))
                return fail("no grid button showing, or no notches");
        } else if (command == "unplug" || command == "plug") {
            if (!switchPlugged(command == "plug")) return fail("no emulated H8 (--simulate)");
        } else if (command == "wait-menu") {
            if (!waitFor([this] { return menusEnabled(); }, arg1))
                return fail("the menus stayed disabled");
        } else if (command == "wait-settled") {
            const auto settled = [] {
                const auto& stamp = NorvShareHelper::shared().timestamp;
                return !stamp || QDateTime::currentMSecsSinceEpoch() / 1000.0 - *stamp > 3.05;
            };
            if (!waitFor(settled, arg1)) return fail("the interface did not settle");
        } else if (command == "rate") {
            if (!chooseRate(arg1)) return fail("the sample rate did not change");
        } else if (command == "print-state") {
            const bool menu = menusEnabled();
            int alerts = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                alerts += w->inherits("QMessageBox") && w->isVisible();
            std::printf(
                "state: bound=%d audio=%d disconnected=%d menu=%d engine=%p panel=%p alerts=%d\n",
                c->isBound(), c->hardwareDevice != nullptr, !c->uncontectView->isHidden(), menu,
                static_cast<void*>(c->audio.get()), static_cast<void*>(c->norvMainContaiView),
                alerts);
            std::fflush(stdout);
        } else if (command == "check-routing") {
            emulated::EmulatedUsbTransport* sim = window_.emulatedUsb();
            const emulated::H8State device =
                sim ? sim->model().state() : emulated::H8State::factory();
            const std::string why =
                routingDisagreements(*c, sim && sim->isPlugged() ? &device : nullptr);
            std::printf("routing: %s\n", why.empty() ? "agrees" : ("disagrees\n" + why).c_str());
            std::fflush(stdout);
        } else if (command == "hide") {
            window_.hide();
        } else if (command == "minimize") {
            window_.showMinimized();
        } else if (command == "wait-unseen") {
            if (!waitFor([this] { return window_.controller && !window_.controller->isExposed(); },
                         arg1))
                return fail("the window stayed in sight");
        } else if (command == "wait-presented") {
            // On Wayland a window's update request comes once the compositor has shown its last
            // frame (the frame callback). The first one also paints what is still pending as a
            // frame of its own; the second comes once that frame is on the screen.
            QWindow* const handle = window_.windowHandle();
            if (!handle) return fail("no window");
            UpdateRequests requests;
            handle->installEventFilter(&requests);
            bool presented = true;
            for (int wanted = 1; presented && wanted <= 2; ++wanted) {
                handle->requestUpdate();
                presented = waitFor([&requests, wanted] { return requests.count >= wanted; }, arg1);
            }
            handle->removeEventFilter(&requests);
            if (!presented) return fail("the window's last frame was not shown");
        } else if (command == "wait-shown") {
            if (!waitFor([this] { return window_.isVisible(); }, arg1))
                return fail("the window stayed hidden");
        } else if (command == "scroll") {
            // On a screen too small for the window, the panel scrolls inside it.
            const QString to = words.value(1);
            if (to != "top" && to != "bottom") return fail("scroll takes top or bottom");
            if (QScrollArea* area = window_.screenFit().scrollArea()) {
                QScrollBar* bar = area->verticalScrollBar();
                bar->setValue(to == "top" ? bar->minimum() : bar->maximum());
            }
        } else if (command == "print-fit") {
            const QSize size = window_.frameGeometry().size();
            std::printf("fit: scrolls=%d window=%dx%d free=%dx%d\n",
                        window_.screenFit().isScrolling(), size.width(), size.height(),
                        window_.screenFit().availableArea().width(),
                        window_.screenFit().availableArea().height());
            std::fflush(stdout);
        } else if (command == "screenshot") {
            if (!window_.grab().save(words.value(1))) return fail("cannot save " + words.value(1));
        } else if (command == "screenshot-alert") {
            QWidget* alert = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->inherits("QMessageBox") && w->isVisible()) alert = w;
            }
            if (!alert || !alert->grab().save(words.value(1))) return fail("no alert to save");
        } else if (command == "print") {
            std::printf("%s\n", qPrintable(words.mid(1).join(' ')));
            std::fflush(stdout);
        } else if (command == "meters") {
            // Stops the meter clock where it stands (what it painted last stays), or runs it.
            if (!c->norvMainContaiView || (arg1 != 0 && arg1 != 1)) return fail("meters 0|1");
            MeterClock& meters = c->norvMainContaiView->meters();
            if (arg1 == 1) {
                if (c->audio) c->audio->setCapturing(true);
                meters.start();
            } else {
                // The capture stops (every level 0) and one last tick paints the bars empty, the
                // way ticks paint them: what the window then shows stays put.
                meters.stop();
                if (c->audio) c->audio->setCapturing(false);
                meters.tick();
            }
        } else if (command == "fail-writes") {
            // Every file write fails as on a full disk (ENOSPC) or a read-only one (EROFS), or
            // works again (off): the storage faults, for screenshots and end-to-end runs.
            const QString how = words.value(1);
            if (how != "ENOSPC" && how != "EROFS" && how != "off")
                return fail("fail-writes takes ENOSPC, EROFS or off");
            const int err = how == "ENOSPC" ? ENOSPC : how == "EROFS" ? EROFS : 0;
            injectWriteFaults(
                err ? std::function<int(const QString&)>([err](const QString&) { return err; })
                    : std::function<int(const QString&)>());
        } else if (command == "wait-file") {
            const QString path = words.value(1);
            if (!waitFor([path] { return QFileInfo::exists(path); }, arg2))
                return fail("no file " + path);
        } else if (command == "import") {
            // Straight to the import, as the file dialog hands it over; an alert stays open.
            c->importPreset(words.value(1));
        } else if (command == "measure-gaps") {
            return measureGaps(arg1);
        } else if (command == "sim-set") {
            emulated::EmulatedUsbTransport* sim = window_.emulatedUsb();
            if (!sim) return fail("no emulated H8 (--simulate)");
            QString error;
            const auto control =
                emulated::parsePhysicalControl(words.value(1), words.value(2), &error);
            if (!control) return fail(error);
            emulated::applyPhysicalControl(sim->model(), *control);
        } else if (command == "wait-resumed") {
            LoginSessionFollower* f = follower_;
            if (!f || !waitFor([f, arg1] { return f->resumeChecks() >= arg1; }, arg2))
                return fail("no crosspoint check after a wake-up");
        } else if (command == "print-reason") {
            std::printf("reason: %s\n", qPrintable(c->uncontectView->label->text()));
            std::fflush(stdout);
        } else if (command == "quit") {
            QApplication::exit(0);
            return;
        } else {
            return fail("unknown command '" + command + "'");
        }
    }
}

}  // namespace h8
