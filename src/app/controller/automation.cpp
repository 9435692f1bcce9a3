#include "automation.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app_delegate.h"
#include "core/notification_names.h"
#include "platform/notification_center.h"
#include "ui/matrix/channel_row_view.h"
#include "ui/matrix/drag_view.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/panels/unconnected_view.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/sections/control_panels.h"
#include "ui/sections/main_contain_view.h"
#include "ui/sections/matrix_panels.h"
#include "ui/strips/channel_strips.h"
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

// Runs the event loop until `done` holds or `ms` pass.
bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

}  // namespace

Automation::Automation(AppDelegate& window, const QStringList& script)
    : window_(window), script_(script) {
    NotificationCenter::defaultCenter().addObserver(this, notify::kRawDeviceAdded,
                                                    [this](const Notification&) { ++arrivals_; });
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
    if (!panel || col < 1 || col > ui::MatrixRegistry::shared().channelViewArray.size())
        return false;
    ui::NorvDragView* handle = handleForRow(panel, row);
    ui::ChannelRowView* target = ui::MatrixRegistry::shared().channelViewArray[col - 1];
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
        } else if (command == "drag") {
            if (!drag(arg1, arg2)) return fail("no handle or destination for the drag");
        } else if (command == "print-state") {
            bool menu = false;
            // The File menu, by name: its title follows the language.
            for (QAction* a : window_.menuBar()->actions()) {
                if (a->menu() && a->menu()->objectName() == QLatin1String("fileMenu"))
                    menu = a->isEnabled() && a->menu()->isEnabled();
            }
            std::printf("state: bound=%d audio=%d disconnected=%d menu=%d engine=%p panel=%p\n",
                        c->isBound(), c->hardwareDevice != nullptr, !c->uncontectView->isHidden(),
                        menu, static_cast<void*>(c->audio.get()),
                        static_cast<void*>(c->norvMainContaiView));
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
        } else if (command == "wait-file") {
            const QString path = words.value(1);
            if (!waitFor([path] { return QFileInfo::exists(path); }, arg2))
                return fail("no file " + path);
        } else if (command == "import") {
            // Straight to the import, as the file dialog hands it over; an alert stays open.
            ui::importPresetFile(words.value(1), window_.controller->norvMainContaiView);
        } else if (command == "measure-gaps") {
            return measureGaps(arg1);
        } else if (command == "quit") {
            QApplication::exit(0);
            return;
        } else {
            return fail("unknown command '" + command + "'");
        }
    }
}

}  // namespace h8
