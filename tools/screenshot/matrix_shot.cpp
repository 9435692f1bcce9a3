// h8-matrix-shot FILE.png: renders the routing matrix — the upper grid (hardware inputs), the
// lower grid (playback), and the stacked destination rows with their route chips — for a route
// map with a few routes, and saves it as a PNG, for checking by eye. Runs offscreen.

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <cstdio>

#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/routing_matrix.h"
#include "core/share_helper.h"
#include "core/usb_interface.h"
#include "platform/clock.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "ui/matrix/destination_view.h"
#include "ui/matrix/drag_view.h"
#include "ui/matrix/grid_view.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/widgets/style.h"

using namespace h8;
using namespace h8::ui;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: h8-matrix-shot FILE.png\n");
        return 1;
    }
    QTemporaryDir config;  // never the user's own settings
    qputenv("H8_CONFIG_DIR", config.path().toUtf8());
    QApplication app(argc, argv);
    NorvShareHelper::disableLogFile();

    // Routes: playback 1/2 to the headphones, mic 1 to L1 and L2, OTG 3 to O3, playback 8 to L8.
    const QList<Crosspoint> routes = {{5, 1}, {6, 2}, {1, 5}, {1, 6}, {3, 3}, {12, 12}, {2, 12}};
    QVariantList map;
    for (int d = 1; d <= 12; ++d) {
        QVariantList flags;
        for (int s = 1; s <= 16; ++s) flags.append(routes.contains(Crosspoint{s, d}));
        map.append(QVariant(flags));
    }
    NorvShareHelper::shared().setChannelMapArray(map);
    UserDefaults::standard().setFloat("volume212", 40);

    RoutingModel routing(UserDefaults::standard(), NotificationCenter::defaultCenter());
    RouteChips chips(routing, NorvShareHelper::shared().indexQuoteArray,
                     NotificationCenter::defaultCenter());
    // Nothing polls the interface here: a monitor and a poll without a device.
    UsbInterface usb;
    SystemClock clock;
    HardwareMonitor monitor(usb, NorvShareHelper::shared(), UserDefaults::standard());
    HardwarePoller poll(monitor, NorvShareHelper::shared(), clock);
    MatrixRegistry registry;
    PanelContext context{routing,
                         poll,
                         clock,
                         NorvShareHelper::shared(),
                         UserDefaults::standard(),
                         NotificationCenter::defaultCenter()};
    context.registry = &registry;
    QWidget window;
    window.setStyleSheet("background: rgb(30, 29, 36);");
    window.resize(560, 560);

    auto* upper = new NorvGridView(context, {"M1", "M2", "O3", "O4"}, &window);
    upper->move(20, 20);
    auto* lower =
        new NorvGridView(context, {"O1", "O2", "O3", "O4", "O5", "O6", "O7", "O8"}, &window);
    lower->move(180, 20);
    const char* names[] = {"Headphones 1-2", "OTG Out 3-4",  "Loopback 1-2",
                           "Loopback 3-4",   "Loopback 5-6", "Loopback 7-8"};
    for (int k = 0; k < 6; ++k) {
        auto* title = new QLabel(names[k], &window);
        title->setStyleSheet("color: white; background: transparent;");
        title->setFont(systemFont(10));
        title->setGeometry(20, 310 + k * 40, 110, 20);
        auto* pair = new NorvDestinationView(context, chips, 2 * k + 1, &window);
        pair->setGeometry(130, 300 + k * 40, 200, 42);
    }
    for (int row = 1; row <= 12; ++row) {
        auto* handle = new NorvDragView(context, &window);
        handle->actRowIndex = row;
        handle->setTitleText(sourceHandleText(row));
        handle->setLabelColor(isHardwareSource(row) ? kHardwareColor : kSoftwareColor);
        handle->move(360 + ((row - 1) % 2) * 24, 300 + ((row - 1) / 2) * 24);
        QObject::connect(&chips, &RouteChips::chipsChanged, handle, [handle, row] {
            handle->setLit(NorvShareHelper::shared().indexQuoteArray[row - 1] > 0);
        });
    }
    chips.recoverLastBuildUI();
    window.show();
    QApplication::processEvents();
    const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
    std::printf("%s %s\n", saved ? "saved" : "could not save", argv[1]);
    return saved ? 0 : 1;
}
