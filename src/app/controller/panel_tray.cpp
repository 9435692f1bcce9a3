#include "panel_tray.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include "core/usb_interface.h"
#include "panel_service.h"
#include "platform/dbus/desktop_shell.h"
#include "platform/diagnostics.h"
#include "platform/user_defaults.h"

namespace h8 {

namespace {

QIcon appIcon(bool bound) {
    static const QIcon full = QIcon::fromTheme(QStringLiteral("org.h8controller.H8Controller"),
                                               QIcon(QStringLiteral(":/images/app.svg")));
    if (bound) return full;
    // Not bound: the same icon greyed, as a disabled control looks.
    QIcon grey;
    for (int size : {16, 22, 24, 32, 48, 64}) grey.addPixmap(full.pixmap(size, QIcon::Disabled));
    return grey;
}

}  // namespace

PanelTray::PanelTray(PanelService& service, QWidget& window, TrayHost& host, QObject* parent)
    : QObject(parent), service_(service), window_(window), menu_(std::make_unique<QMenu>()) {
    show_ = menu_->addAction(QCoreApplication::translate("Tray", "显示窗口"));
    headphoneMute_ = menu_->addAction(QCoreApplication::translate("Tray", "耳机静音"));
    headphoneMute_->setCheckable(true);
    menu_->addSeparator();
    quit_ = menu_->addAction(QCoreApplication::translate("Tray", "退出"));
    connect(show_, &QAction::triggered, this, [this] { service_.showWindow(QString()); });
    connect(headphoneMute_, &QAction::triggered, this, [this](bool muted) {
        if (const BusResult refused = service_.setMute(QStringLiteral("headphones"), muted))
            diag("The headphone mute from the tray: " + refused->message.toStdString());
        refresh();
    });
    connect(quit_, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    connect(&service_, &PanelService::propertiesChanged, this, [this] { refresh(); });
    connect(&host, &TrayHost::availableChanged, this, &PanelTray::hostChanged);
    refresh();
    hostChanged(host.available());
}

PanelTray::~PanelTray() {
    delete icon_;
}

void PanelTray::hostChanged(bool available) {
    if (available == active()) return;
    if (available) {
        // Made only now: Qt decides once, when the first icon is made, whether the desktop
        // takes StatusNotifierItems. Made before the host came, it would never show.
        icon_ = new QSystemTrayIcon(this);
        icon_->setContextMenu(menu_.get());
        connect(
            icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    service_.showWindow(QString());
            });
        refresh();
        icon_->show();
        diag("The desktop has a tray: the panel's icon is there, and closing the window hides it");
    } else {
        delete icon_;
        icon_ = nullptr;
        diag("The desktop's tray went away: closing the window quits the panel");
        // Nothing would be left to bring a hidden window back.
        if (!window_.isVisible()) service_.showWindow(QString());
    }
    emit activeChanged(active());
}

QString PanelTray::toolTip() const {
    const bool bound = service_.value("Bound").toBool();
    if (!bound) return QCoreApplication::translate("Tray", "H8 Controller：H8 未连接");
    const QString name = service_.value("Name").toString();
    return QCoreApplication::translate("Tray", "H8 Controller：已连接 %1")
        .arg(name.isEmpty() ? QStringLiteral("H8") : name);
}

void PanelTray::refresh() {
    const bool bound = service_.value("Bound").toBool();
    headphoneMute_->setEnabled(bound);
    headphoneMute_->setChecked(bound && service_.value("HeadphonesMuted").toBool());
    if (!icon_) return;
    icon_->setIcon(appIcon(bound));
    icon_->setToolTip(toolTip());
}

HiddenProblems::HiddenProblems(QWidget& window, UsbInterface& usb, UserDefaults& defaults,
                               DesktopNotifications& notifications, QObject* parent)
    : QObject(parent),
      window_(window),
      usb_(usb),
      defaults_(defaults),
      notifications_(notifications) {
    connect(&usb_, &UsbInterface::accessChanged, this, &HiddenProblems::checkAccess);
    connect(defaults_.notifier(), &UserDefaultsNotifier::saveStateChanged, this,
            &HiddenProblems::checkSaving);
    // Problems already there when the panel starts hidden (at login).
    checkAccess();
    checkSaving();
}

void HiddenProblems::checkAccess() {
    if (!usb_.isAccessDenied()) {
        toldAccess_ = false;
        return;
    }
    if (toldAccess_ || window_.isVisible()) return;
    toldAccess_ = true;
    notifications_.notify(
        QCoreApplication::translate("Panel", "无法访问 H8 的 USB 设备"),
        QCoreApplication::translate("Tray",
                                    "请安装 udev 规则（h8ctl udev-rule）或软件包。"
                                    "打开窗口可查看详情。"));
}

void HiddenProblems::checkSaving() {
    const QString problem = defaults_.saveProblem();
    if (problem.isEmpty()) {
        toldSaving_ = false;
        return;
    }
    if (toldSaving_ || window_.isVisible()) return;
    toldSaving_ = true;
    notifications_.notify(QCoreApplication::translate("Tray", "设置无法保存"),
                          QCoreApplication::translate(
                              "Panel", "设置无法保存：%1\n更改会保留，并在可以写入后立即保存。")
                              .arg(problem));
}

}  // namespace h8
