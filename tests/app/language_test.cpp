// The panel's language: the locale variables choose the table, an English locale shows no
// Chinese anywhere (widgets, tooltips, menus, alerts, status bar, --help of both programs), a
// Chinese one shows the panel's own texts exactly.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>

#include "app_delegate.h"
#include "core/audio_helper.h"
#include "core/preset_file.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "emulated_panel_test.h"
#include "platform/translations.h"
#include "platform/user_defaults.h"
#include "temp_env.h"
#include "ui/accessibility/accessible_panel.h"
#include "ui/panels/bottom_view.h"
#include "ui/panels/unconnected_view.h"
#include "ui/presets/preset_dialogs.h"
#include "ui/sections/main_contain_view.h"
#include "ui/widgets/lum_label.h"
#include "view_controller.h"

namespace h8 {
namespace {

TEST(UiLanguageTest, TheFirstSetLocaleVariableChoosesChineseOrEnglish) {
    const struct {
        QStringList vars;  // NAME=VALUE
        UiLanguage expected;
    } cases[] = {
        {{}, UiLanguage::english},
        {{"LANG=C.UTF-8"}, UiLanguage::english},
        {{"LANG=zh_CN.UTF-8"}, UiLanguage::chinese},
        {{"LANG=zh_TW.UTF-8"}, UiLanguage::chinese},
        {{"LANG=de_DE.UTF-8"}, UiLanguage::english},
        // LANGUAGE (a list) comes first, then LC_ALL, LC_MESSAGES, LANG.
        {{"LANGUAGE=en_GB:zh_CN", "LANG=zh_CN.UTF-8"}, UiLanguage::english},
        {{"LANGUAGE=zh_CN:en", "LANG=en_US.UTF-8"}, UiLanguage::chinese},
        {{"LC_ALL=en_US.UTF-8", "LC_MESSAGES=zh_CN.UTF-8"}, UiLanguage::english},
        {{"LC_MESSAGES=zh_CN.UTF-8", "LANG=en_US.UTF-8"}, UiLanguage::chinese},
        {{"LANGUAGE=", "LC_ALL=", "LANG=zh_SG.UTF-8"}, UiLanguage::chinese},
    };
    for (const auto& c : cases) {
        QProcessEnvironment env;
        for (const QString& v : c.vars) env.insert(v.section('=', 0, 0), v.section('=', 1));
        EXPECT_EQ(uiLanguage(env), c.expected) << c.vars.join(' ').toStdString();
    }
}

bool hasChinese(const QString& text) {
    // CJK ideographs and their punctuation, full-width forms included.
    static const QRegularExpression cjk(QStringLiteral(
        "[\\x{2E80}-\\x{9FFF}\\x{F900}-\\x{FAFF}\\x{FE30}-\\x{FE4F}\\x{FF00}-\\x{FFEF}]"));
    return cjk.match(text).hasMatch();
}

// Every text a user can see or hear in `root`: labels, buttons, fields, tooltips, window
// titles, accessible names.
QStringList widgetTexts(const QWidget* root) {
    QStringList texts;
    QList<const QWidget*> all{root};
    for (const QWidget* w : root->findChildren<QWidget*>()) all.append(w);
    for (const QWidget* w : all) {
        if (const auto* l = qobject_cast<const QLabel*>(w)) texts << l->text();
        if (const auto* b = qobject_cast<const QAbstractButton*>(w)) texts << b->text();
        if (const auto* f = qobject_cast<const QLineEdit*>(w))
            texts << f->text() << f->placeholderText();
        texts << w->toolTip() << w->windowTitle() << w->accessibleName()
              << w->accessibleDescription();
        // What a screen reader reads: the panel's own accessible interfaces included.
        if (QAccessibleInterface* a =
                QAccessible::queryAccessibleInterface(const_cast<QWidget*>(w))) {
            texts << a->text(QAccessible::Name) << a->text(QAccessible::Description)
                  << a->text(QAccessible::Value);
            if (QAccessibleActionInterface* actions = a->actionInterface()) {
                for (const QString& action : actions->actionNames())
                    texts << actions->localizedActionName(action);
            }
        }
    }
    texts.removeAll(QString());
    return texts;
}

QStringList menuTexts(const QList<QAction*>& actions) {
    QStringList texts;
    for (const QAction* a : actions) {
        texts << a->text() << a->toolTip();
        if (a->menu()) texts << a->menu()->title() << menuTexts(a->menu()->actions());
    }
    texts.removeAll(QString());
    return texts;
}

QStringList alertTexts(const QMessageBox* alert) {
    QStringList texts{alert->windowTitle(), alert->text(), alert->informativeText()};
    for (const QAbstractButton* b : alert->buttons()) texts << b->text();
    return texts;
}

class LanguageTest : public test::EmulatedPanelTest {
protected:
    void TearDown() override {
        EmulatedPanelTest::TearDown();
        for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }
    // The window in `language`, bound to the emulated H8, with every text it can show put up
    // once: the panel, the menus, the status bar without a sound server, both microphone
    // alerts, the preset alert and the disconnected view.
    QStringList everyText(UiLanguage language) {
        EXPECT_TRUE(installTranslations(*qApp, language));
        ui::installAccessibleInterfaces();
        usb_.plug();
        launchWindow();
        ViewController* controller = this->controller();
        EXPECT_TRUE(controller->norvMainContaiView);
        QStringList texts = widgetTexts(window_.get()) + menuTexts(window_->menuBar()->actions());

        audio_->setServerRunning(false);
        ui::NorvBottomView* bar = controller->norvMainContaiView->bottomVew;
        const QString before = bar->samplel->text();
        EXPECT_TRUE(QTest::qWaitFor([&] { return bar->samplel->text() != before; }, 5000));
        texts << bar->samplel->text() << bar->samplel->toolTip();

        controller->showPermissionDeniedAlert();
        controller->showPermissionRestrictedAlert();
        // A preset of this H8 read while the store names another model: refused.
        const QString preset = env_.root() + "/panel.norv";
        NorvExportFileHelper::shared().exportFile(preset);
        NorvShareHelper::shared().deviceName = QStringLiteral("H9");
        EXPECT_NE(window_->controller->importPreset(preset), nullptr);
        NorvShareHelper::shared().deviceName = QStringLiteral("H8");
        for (QMessageBox* alert : window_->findChildren<QMessageBox*>()) texts << alertTexts(alert);
        EXPECT_EQ(window_->findChildren<QMessageBox*>().size(), 3);

        usb_.unplug();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller->uncontectView->isHidden(); }, 2000));
        texts << widgetTexts(controller->uncontectView);
        return texts;
    }
    // What `program ARGS` prints in the locale `lang`.
    QString outputOf(const QString& program, const QString& lang,
                     const QStringList& args = {QStringLiteral("--help")}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) env.remove(v);
        env.insert(QStringLiteral("LANG"), lang);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(program, args);
        EXPECT_TRUE(p.waitForFinished(20000)) << program.toStdString();
        EXPECT_EQ(p.exitCode(), 0) << program.toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }
};

TEST_F(LanguageTest, AnEnglishLocaleShowsNoChineseText) {
    const QStringList texts = everyText(UiLanguage::english);
    QStringList chinese;
    for (const QString& t : texts) {
        if (hasChinese(t)) chinese << t;
    }
    EXPECT_TRUE(chinese.isEmpty()) << chinese.join(" | ").toStdString();
    // Spot checks that the English table, not an empty one, is what shows.
    for (const char* expected :
         {"Settings", "Sample Rate", "Hardware Inputs", "Hardware Outputs", "Software Playback",
          "Mix Recording", "Warning", "Microphone Access Needed", "Mic/Line 1-2",
          "Playback 1 to HP 1", "Mic In 1 gain", "OTG In 3 level",
          "The device is not connected. Connect it to use the panel!"}) {
        EXPECT_TRUE(texts.contains(QString::fromUtf8(expected))) << expected;
    }
    for (const QString& program :
         {QStringLiteral(H8_CONTROLLER_PATH), QStringLiteral(H8CTL_PATH)}) {
        const QString help = outputOf(program, QStringLiteral("en_US.UTF-8"));
        EXPECT_TRUE(help.startsWith("Usage: ")) << help.toStdString();
        EXPECT_FALSE(hasChinese(help)) << help.toStdString();
    }
    const QStringList status{"--simulate=" + env_.root() + "/h8.json", "status"};
    const QString report =
        outputOf(QStringLiteral(H8CTL_PATH), QStringLiteral("en_US.UTF-8"), status);
    EXPECT_TRUE(report.startsWith("Device:")) << report.toStdString();
    EXPECT_FALSE(hasChinese(report)) << report.toStdString();
}

TEST_F(LanguageTest, AChineseLocaleShowsThePanelsOwnTexts) {
    const QStringList texts = everyText(UiLanguage::chinese);
    for (const char* expected : {"设置",
                                 "采样率",
                                 "硬件输入",
                                 "硬件输出",
                                 "软件播放",
                                 "混音录制",
                                 "Mic/Line 1-2",
                                 "OTG In 3-4",
                                 "Playback 1-2",
                                 "Mixer In 7-8",
                                 "序列号：",
                                 "警告",
                                 "导入的文件设备与当前设备型号不符！",
                                 "确定",
                                 "需要麦克风权限",
                                 "取消",
                                 "麦克风访问受限",
                                 "无声音服务器：无电平",
                                 "Playback 1 到 HP 1",
                                 "当前设备未连接，请连接设备后使用！"}) {
        const QString text = QString::fromUtf8(expected);
        // The serial number follows the label's own text.
        const bool shown = text.endsWith(QStringLiteral("："))
                               ? !texts.filter(QRegularExpression("^" + text)).isEmpty()
                               : texts.contains(text);
        EXPECT_TRUE(shown) << expected;
    }
    for (const QString& program :
         {QStringLiteral(H8_CONTROLLER_PATH), QStringLiteral(H8CTL_PATH)}) {
        const QString help = outputOf(program, QStringLiteral("zh_CN.UTF-8"));
        EXPECT_TRUE(help.startsWith(QStringLiteral("用法："))) << help.toStdString();
    }
    const QStringList status{"--simulate=" + env_.root() + "/h8.json", "status"};
    const QString report =
        outputOf(QStringLiteral(H8CTL_PATH), QStringLiteral("zh_CN.UTF-8"), status);
    EXPECT_TRUE(report.startsWith(QStringLiteral("设备："))) << report.toStdString();
}

}  // namespace
}  // namespace h8
