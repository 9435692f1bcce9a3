// The application shell in-process on the emulated H8: binding at start, removal and re-plug
// reusing the engine and the panel, the menus, and the sample-rate items.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <cstring>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "emulated_panel_test.h"
#include "platform/atomic_file.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/panels/unconnected_view.h"
#include "ui/sections/main_contain_view.h"
#include "ui/sections/matrix_panels.h"
#include "ui/strips/channel_strips.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_text_field.h"
#include "view_controller.h"

namespace h8 {
namespace {

class ControllerTest : public test::EmulatedPanelTest {
protected:
    void launch() { launchWindow(); }
    QMenu* menu(const QString& title) {
        for (QAction* a : window_->menuBar()->actions()) {
            if (a->text().remove('&') == title) return a->menu();
        }
        return nullptr;
    }
};

TEST_F(ControllerTest, InterfacePresentAtStartIsBoundAtOnce) {
    usb_.plug();
    launch();
    ASSERT_TRUE(controller()->hardwareDevice);
    ASSERT_TRUE(controller()->norvMainContaiView);
    EXPECT_TRUE(controller()->uncontectView->isHidden());
    EXPECT_EQ(NorvShareHelper::shared().audio, controller()->audio);
    EXPECT_TRUE(UserDefaults::standard().boolForKey("startup"));
    // The menus wait for the sample-rate sync, 2 s after the bind.
    EXPECT_FALSE(menu("File")->isEnabled());
    advance(std::chrono::milliseconds(1990));
    EXPECT_FALSE(menu("File")->isEnabled());
    advance(std::chrono::milliseconds(10));
    EXPECT_TRUE(menu("File")->isEnabled());
    ASSERT_TRUE(window_->lastItem);
    EXPECT_EQ(window_->lastItem->text(), "48000Hz");
    EXPECT_TRUE(menu("Simulation")->isEnabled());
}

TEST_F(ControllerTest, UnplugAndReplugReuseEngineAndPanelAndResendRoutes) {
    usb_.plug();
    launch();
    advance(std::chrono::milliseconds(2000));
    const auto engine = controller()->audio;
    ui::NorvMainContainView* panel = controller()->norvMainContaiView;
    controller()->routing().setRoute(1, 5, true);  // mic 1 → L1

    unplug();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !controller()->isBound(); }, 5000));
    EXPECT_FALSE(controller()->uncontectView->isHidden());
    EXPECT_TRUE(panel->isHidden());
    EXPECT_EQ(controller()->uncontectView->label->text(), "当前设备未连接，请连接设备后使用！");
    EXPECT_FALSE(menu("File")->isEnabled());
    EXPECT_FALSE(controller()->hardwareDevice);
    EXPECT_FALSE(NorvShareHelper::shared().isInit);

    emulated::H8State s = usb_.model().state();
    s.mixer.fill(0xFF);
    usb_.model().setState(s);
    replug();
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return controller()->hardwareDevice && usbInterface_.isAttached(); }, 5000));
    EXPECT_EQ(controller()->audio, engine);
    EXPECT_EQ(controller()->norvMainContaiView, panel);
    EXPECT_FALSE(panel->isHidden());
    // The route enabled before the removal is sent again (never-stored level: 100 %).
    EXPECT_EQ(usb_.model().state().mixer[8 + 12 * 4], 0x81);
}

TEST_F(ControllerTest, TheLoginItemShowsAndChangesWhetherThePanelStartsAtLogin) {
    bool registered = true;
    QList<bool> choices;
    usb_.plug();
    window_ = std::make_unique<AppDelegate>(usb_, usbInterface_, clock(), &usb_, audio_.get());
    window_->setLoginItem({[&] { return registered; },
                           [&](bool on) {
                               choices.append(on);
                               registered = on;
                           }});
    window_->applicationDidFinishLaunching();
    QAction* item = window_->loginItemAction;
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "登录时启动");
    EXPECT_TRUE(item->isCheckable());
    EXPECT_TRUE(item->isChecked());
    item->trigger();
    EXPECT_EQ(choices, QList<bool>{false});
    EXPECT_FALSE(item->isChecked());
    // Turned back on in the desktop's settings: the menu shows it when it opens.
    registered = true;
    emit menu("设置")->aboutToShow();
    EXPECT_TRUE(item->isChecked());
    // Without a login item (a demo) there is no such entry.
    window_ = std::make_unique<AppDelegate>(usb_, usbInterface_, clock(), &usb_, audio_.get());
    window_->applicationDidFinishLaunching();
    EXPECT_EQ(window_->loginItemAction, nullptr);
}

TEST_F(ControllerTest, SampleRateItemsSetTheDeviceAndMoveTheCheck) {
    usb_.plug();
    launch();
    advance(std::chrono::milliseconds(2000));
    QAction* item96 = window_->sanpleMenu->actions()[3];
    window_->clickOutline(item96);
    EXPECT_EQ(NorvShareHelper::shared().sampleRate, "96000Hz");
    EXPECT_EQ(usb_.model().state().sampleRate, 96000u);
    EXPECT_TRUE(item96->isChecked());
    EXPECT_FALSE(window_->sanpleMenu->actions()[1]->isChecked());
    // The item of the current rate changes nothing.
    window_->clickOutline(item96);
    EXPECT_TRUE(item96->isChecked());
}

TEST_F(ControllerTest, WithoutTheInterfaceTheDisconnectedViewStays) {
    launch();
    EXPECT_FALSE(controller()->hardwareDevice);
    EXPECT_FALSE(controller()->uncontectView->isHidden());
    EXPECT_FALSE(menu("File")->isEnabled());
    // A rate item without an interface does nothing.
    window_->clickOutline(window_->sanpleMenu->actions()[0]);
    EXPECT_TRUE(NorvShareHelper::shared().sampleRate.isEmpty());
    replug();
    EXPECT_TRUE(QTest::qWaitFor([this] { return controller()->hardwareDevice != nullptr; }, 5000));
}

// The commonest first run: the udev rule is not installed yet. The sound server lists the H8,
// but nothing the panel does could reach it: it is not bound, and the view says why and how to
// mend it, until access arrives (no re-plug needed).
TEST_F(ControllerTest, AnInterfaceThisUserMayNotOpenIsNotBoundUntilAccessArrives) {
    usb_.model().denyAccess(std::nullopt);
    usb_.plug();
    launch();
    // The audio side lists it at once; the USB side has tried and failed.
    ASSERT_TRUE(QTest::qWaitFor([this] { return usbInterface_.isAccessDenied(); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(controller()->isBound());
    EXPECT_FALSE(controller()->hardwareDevice);
    EXPECT_FALSE(controller()->uncontectView->isHidden());
    EXPECT_EQ(controller()->uncontectView->label->text(), "无法访问 H8 的 USB 设备");
    const QString advice = controller()->uncontectView->adviceView()->text();
    EXPECT_TRUE(controller()->uncontectView->adviceView()->isVisibleTo(controller()));
    EXPECT_TRUE(advice.contains("h8ctl udev-rule | sudo tee")) << advice.toStdString();
    EXPECT_TRUE(advice.contains("sudo apt install ./build/package/h8-controller_"))
        << advice.toStdString();
    EXPECT_FALSE(menu("File")->isEnabled());
    EXPECT_FALSE(controller()->norvMainContaiView);

    // The rule is installed: the next look binds it, and the advice goes.
    usb_.model().denyAccess(std::chrono::milliseconds(0));
    ASSERT_TRUE(QTest::qWaitFor([this] { return controller()->isBound(); }, 5000));
    EXPECT_TRUE(usbInterface_.isAttached());
    EXPECT_FALSE(usbInterface_.isAccessDenied());
    EXPECT_TRUE(controller()->hardwareDevice);
    EXPECT_TRUE(controller()->uncontectView->isHidden());
    EXPECT_FALSE(controller()->uncontectView->adviceView()->isVisibleTo(controller()));
}

TEST_F(ControllerTest, UnpluggingAnInterfaceThisUserMayNotOpenForgetsIt) {
    usb_.model().denyAccess(std::nullopt);
    usb_.plug();
    launch();
    ASSERT_TRUE(QTest::qWaitFor([this] { return usbInterface_.isAccessDenied(); }, 5000));
    unplug();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !usbInterface_.isAccessDenied(); }, 5000));
    EXPECT_EQ(controller()->uncontectView->label->text(), "当前设备未连接，请连接设备后使用！");
    EXPECT_FALSE(controller()->uncontectView->adviceView()->isVisibleTo(controller()));
    // Plugged in again with access, it binds as any arrival does.
    usb_.model().denyAccess(std::chrono::milliseconds(0));
    replug();
    EXPECT_TRUE(QTest::qWaitFor([this] { return controller()->isBound(); }, 5000));
}

// A full disk under the preferences: the window says so while it lasts, a drag made meanwhile
// is in the file once the disk has room again, without a restart; a preset that cannot be
// written says why.
TEST_F(ControllerTest, StorageThatFailsIsShownAndNothingDoneMeanwhileIsLost) {
    usb_.plug();
    launch();
    advance(std::chrono::milliseconds(2000));
    const QString preferences = UserDefaults::standard().filePath();
    bool full = true;
    injectWriteFaults([&](const QString&) { return full ? ENOSPC : 0; });
    auto* warning = controller()->findChild<QLabel*>("saveWarning");
    ASSERT_TRUE(warning);
    EXPECT_FALSE(warning->isVisibleTo(controller()));

    controller()->routing().drop(1, 5);  // mic 1 -> loop 1
    EXPECT_TRUE(warning->isVisibleTo(controller()));
    EXPECT_TRUE(warning->text().contains(std::strerror(ENOSPC))) << warning->text().toStdString();
    EXPECT_EQ(warning->y(), 0);

    QMessageBox* alert = window_->savePreset(env_.root() + "/p.norv");
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "无法保存预设");
    EXPECT_TRUE(alert->informativeText().contains(std::strerror(ENOSPC)));
    alert->close();

    full = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !warning->isVisibleTo(controller()); }, 5000));
    injectWriteFaults({});
    QFile file(preferences);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray map = QJsonDocument::fromJson(file.readAll())["H8TTChannelMapArray"].toArray();
    ASSERT_GT(map.size(), 4);
    EXPECT_TRUE(map[4].toArray()[0].toBool());
    EXPECT_FALSE(window_->savePreset(env_.root() + "/p.norv"));
}

TEST_F(ControllerTest, CtrlOCtrlSAndCtrlQWorkOnceTheFileMenuDoes) {
    usb_.plug();
    launch();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    const auto press = [this](Qt::Key key) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window_.get();
        QTest::keyClick(target, key, Qt::ControlModifier);
    };
    const auto openDialog = [this]() -> QFileDialog* {
        for (QFileDialog* d : window_->findChildren<QFileDialog*>())
            if (d->isVisible()) return d;
        return nullptr;
    };
    // While the menu waits for the interface, its keys wait too.
    ASSERT_FALSE(menu("File")->isEnabled());
    press(Qt::Key_O);
    QCoreApplication::processEvents();
    EXPECT_EQ(openDialog(), nullptr);

    advance(std::chrono::milliseconds(2000));
    ASSERT_TRUE(menu("File")->isEnabled());
    // Also while a name is being edited.
    ui::LumTextField* name = controller()->norvMainContaiView->botL->channel12->botL;
    name->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([name] { return name->hasFocus(); }, 1000));
    for (const auto& [key, mode] : {std::pair{Qt::Key_O, QFileDialog::AcceptOpen},
                                    std::pair{Qt::Key_S, QFileDialog::AcceptSave}}) {
        press(key);
        ASSERT_TRUE(QTest::qWaitFor([&] { return openDialog() != nullptr; }, 1000));
        EXPECT_EQ(openDialog()->acceptMode(), mode);
        openDialog()->reject();
        ASSERT_TRUE(QTest::qWaitFor([&] { return openDialog() == nullptr; }, 1000));
    }
    QAction* quit = nullptr;
    for (QAction* a : menu("File")->actions())
        if (a->text().remove('&') == "Quit") quit = a;
    ASSERT_NE(quit, nullptr);
    QSignalSpy quits(quit, &QAction::triggered);
    press(Qt::Key_Q);
    EXPECT_EQ(quits.size(), 1);
}

struct PermissionCase {
    const char* outcome;
    const char* alertName;  // the alert that shows, or nullptr
    bool monitoringStarts;  // the device list is followed and "startup" written
};

class PermissionTest : public ControllerTest, public testing::WithParamInterface<PermissionCase> {};

TEST_P(PermissionTest, EachOutcomeLeadsWhereItShould) {
    const PermissionCase& c = GetParam();
    qputenv("H8_MIC_AUTH", c.outcome);
    launch();
    // The alerts and the request come 0.3 s after the start; the answer to the request, on the
    // event loop's next round.
    advance(std::chrono::milliseconds(300));
    QCoreApplication::processEvents();
    qunsetenv("H8_MIC_AUTH");
    QMessageBox* alert = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) alert = box;
    }
    if (c.alertName) {
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->objectName(), c.alertName);
        alert->close();
    } else {
        EXPECT_EQ(alert, nullptr);
    }
    EXPECT_EQ(UserDefaults::standard().boolForKey("startup"), c.monitoringStarts);
    // Whatever the permission, a USB arrival still binds the interface.
    usb_.plug();
    EXPECT_TRUE(QTest::qWaitFor([this] { return controller()->hardwareDevice != nullptr; }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, PermissionTest,
                         testing::Values(PermissionCase{"authorized", nullptr, true},
                                         PermissionCase{"notDetermined", nullptr, true},
                                         PermissionCase{"denied", "permissionDeniedAlert", false},
                                         PermissionCase{"restricted", "permissionRestrictedAlert",
                                                        false}));

TEST_F(ControllerTest, DeniedAlertTexts) {
    qputenv("H8_MIC_AUTH", "denied");
    launch();
    advance(std::chrono::milliseconds(300));
    qunsetenv("H8_MIC_AUTH");
    QMessageBox* alert = controller()->findChild<QMessageBox*>("permissionDeniedAlert");
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), "需要麦克风权限");
    EXPECT_EQ(alert->informativeText(), "请在系统设置中允许此应用访问麦克风，以便使用录音功能。");
    ASSERT_EQ(alert->buttons().size(), 2);
    QStringList texts;
    for (auto* b : alert->buttons()) texts.append(b->text());
    EXPECT_TRUE(texts.contains("打开系统设置"));
    EXPECT_TRUE(texts.contains("取消"));
    alert->close();
}

}  // namespace
}  // namespace h8
