// The status bar, the disconnected view, the section frame and the grid's corner cell, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QPainter>
#include <memory>

#include "core/notification_names.h"
#include "core/share_helper.h"
#include "platform/notification_center.h"
#include "ui/panels/bottom_view.h"
#include "ui/panels/home_base_view.h"
#include "ui/panels/io_view.h"
#include "ui/panels/unconnected_view.h"
#include "ui/widgets/lum_label.h"

namespace h8::ui {
namespace {

void post(const char* name) {
    NotificationCenter::defaultCenter().post(QString::fromUtf8(name));
}

void runEventLoop() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

class BottomViewTest : public ::testing::Test {
protected:
    BottomViewTest() { store().resetForTesting(); }
    ~BottomViewTest() override { store().resetForTesting(); }

    static NorvShareHelper& store() { return NorvShareHelper::shared(); }

    static void fillStore() {
        store().deviceName = QStringLiteral("H8");
        store().deviceSn = QStringLiteral("1234ABCD");
        store().deviceVersion = QStringLiteral("1.0.7");
        store().sampleRate = QStringLiteral("48000Hz");
    }

    static void expectFilled(const NorvBottomView& bar) {
        EXPECT_EQ(bar.namel->text(), QStringLiteral("H8"));
        EXPECT_EQ(bar.snl->text(), QStringLiteral("序列号：1234ABCD"));
        EXPECT_EQ(bar.softVersionl->text(), QStringLiteral("固件:v1.0.7"));
        EXPECT_EQ(bar.statuel->text(), QStringLiteral("OTG MAX:"));
        EXPECT_EQ(bar.samplel->text(), QStringLiteral("采样率:48000Hz"));
    }
};

TEST_F(BottomViewTest, EmptyStoreShowsOnlyTheFixedParts) {
    NorvBottomView bar(store(), NotificationCenter::defaultCenter());
    EXPECT_EQ(bar.namel->text(), QString());
    EXPECT_EQ(bar.snl->text(), QStringLiteral("序列号："));
    EXPECT_EQ(bar.softVersionl->text(), QStringLiteral("固件:v"));
    EXPECT_EQ(bar.statuel->text(), QStringLiteral("OTG MAX:"));
    EXPECT_EQ(bar.samplel->text(), QStringLiteral("采样率:"));
    EXPECT_EQ(bar.bufferl->text(), QString());
    EXPECT_FALSE(bar.statuel->isHidden());
    EXPECT_TRUE(bar.bufferl->isHidden());
    EXPECT_EQ(bar.namel->textColor(), QColor(224, 223, 223));
    EXPECT_EQ(bar.namel->font().pointSizeF(), 12);
    EXPECT_EQ(bar.namel->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

TEST_F(BottomViewTest, VisibleLabelsShareTheWidthEquallyInOrder) {
    fillStore();
    store().deviceName = QStringLiteral("A much longer device name than the others");
    NorvBottomView bar(store(), NotificationCenter::defaultCenter());
    bar.resize(945, 30);
    bar.show();
    bar.layout()->activate();
    const LumLabel* order[] = {bar.namel, bar.snl, bar.softVersionl, bar.statuel, bar.samplel};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(order[k]->width(), 189) << k;
        EXPECT_EQ(order[k]->x(), 189 * k) << k;
        EXPECT_EQ(order[k]->height(), 30) << k;
    }

    // Hiding the OTG label hands its share to the other four.
    store().isHasOTGMax = false;
    bar.addDeviceFunc();
    bar.layout()->activate();
    EXPECT_NEAR(bar.samplel->width(), 945 / 4, 1);
    EXPECT_EQ(bar.samplel->geometry().right(), 944);
}

TEST_F(BottomViewTest, ArrivalAndReadinessRefreshFromTheStore) {
    NorvBottomView bar(store(), NotificationCenter::defaultCenter());
    fillStore();
    post(notify::kRawDeviceAdded);
    expectFilled(bar);

    // After a removal the hardware sync stores new values and then announces readiness.
    post(notify::kRawDeviceRemoved);
    store().deviceSn = QStringLiteral("Z9");
    store().isHasOTGMax = false;
    post(notify::kInitFinish);
    EXPECT_EQ(bar.snl->text(), QStringLiteral("序列号：Z9"));
    EXPECT_EQ(bar.statuel->text(), QStringLiteral("OTG MAX:"));
    EXPECT_TRUE(bar.statuel->isHidden());
    EXPECT_TRUE(bar.bufferl->isHidden());

    store().isHasOTGMax = true;
    post(notify::kRawDeviceAdded);
    EXPECT_FALSE(bar.statuel->isHidden());
}

TEST_F(BottomViewTest, RemovalEmptiesEveryTextButKeepsVisibility) {
    fillStore();
    for (const bool otg : {true, false}) {
        store().isHasOTGMax = otg;
        NorvBottomView bar(store(), NotificationCenter::defaultCenter());
        post(notify::kRawDeviceRemoved);
        for (const LumLabel* label :
             {bar.namel, bar.snl, bar.softVersionl, bar.statuel, bar.samplel, bar.bufferl}) {
            EXPECT_EQ(label->text(), QString());
        }
        EXPECT_EQ(bar.statuel->isHidden(), !otg);
        EXPECT_TRUE(bar.bufferl->isHidden());
    }
}

TEST_F(BottomViewTest, SampleRateChangeLandsOnALaterEventLoopPass) {
    fillStore();
    NorvBottomView bar(store(), NotificationCenter::defaultCenter());
    store().sampleRate = QStringLiteral("96000Hz");
    store().deviceSn = QStringLiteral("changed");
    post(notify::kChangeSampleRate);
    EXPECT_EQ(bar.samplel->text(), QStringLiteral("采样率:48000Hz"));

    // The store may still change between the post and the refresh; the label shows the latest.
    store().sampleRate = QStringLiteral("44100Hz");
    runEventLoop();
    EXPECT_EQ(bar.samplel->text(), QStringLiteral("采样率:44100Hz"));
    EXPECT_EQ(bar.snl->text(), QStringLiteral("序列号：1234ABCD"));  // only the sample rate
}

TEST_F(BottomViewTest, NameReadoutRefreshesOnlyTheName) {
    fillStore();
    NorvBottomView bar(store(), NotificationCenter::defaultCenter());
    store().deviceName = QStringLiteral("H8 Studio");
    store().deviceVersion = QStringLiteral("2.0");
    post("deviceNameGet");
    EXPECT_EQ(bar.namel->text(), QStringLiteral("H8 Studio"));
    EXPECT_EQ(bar.softVersionl->text(), QStringLiteral("固件:v1.0.7"));
}

TEST_F(BottomViewTest, DestroyedBarIgnoresNotificationsAndPendingRefreshes) {
    auto bar = std::make_unique<NorvBottomView>(store(), NotificationCenter::defaultCenter());
    post(notify::kChangeSampleRate);  // queued refresh still pending
    bar.reset();
    for (const char* name :
         {notify::kRawDeviceAdded, notify::kInitFinish, notify::kRawDeviceRemoved,
          notify::kChangeSampleRate, "deviceNameGet"}) {
        post(name);
    }
    runEventLoop();
    SUCCEED();
}

// ---- Disconnected view ----

TEST(UnconnectedViewTest, ShowsPictureAndRedMessageCentred) {
    NorvUnconnectedView view;
    EXPECT_EQ(view.label->text(), QStringLiteral("当前设备未连接，请连接设备后使用！"));
    EXPECT_EQ(view.label->textColor(), QColor(0xd8, 0x1e, 0x06));
    EXPECT_EQ(view.label->font().pointSizeF(), 20);
    ASSERT_FALSE(view.imageView()->pixmap().isNull());

    view.resize(945, 750);
    view.show();
    view.layout()->activate();
    view.contentView()->layout()->activate();
    const QRect content = view.contentView()->geometry();
    EXPECT_NEAR(content.center().x(), 945 / 2, 1);
    EXPECT_NEAR(content.center().y(), 750 / 2, 1);

    const QRect picture = view.imageView()->geometry();
    const QRect message = view.label->geometry();
    EXPECT_EQ(picture.size(), QSize(200, 200));
    EXPECT_EQ(message.top() - picture.bottom() - 1, 10);
    EXPECT_NEAR(picture.center().x(), message.center().x(), 1);

    const QImage shot = view.grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, 2), QColor(53, 57, 61));
}

TEST(UnconnectedViewTest, ControllerCanReplaceTheMessage) {
    NorvUnconnectedView view;
    view.label->setText(QStringLiteral("初始化中..."));
    EXPECT_EQ(view.label->text(), QStringLiteral("初始化中..."));
}

// ---- Section frame ----

TEST(HomeBaseViewTest, TitleTagDefaultsAndFollowsTitleText) {
    NorvHomeBaseView view;
    view.resize(345, 260);
    EXPECT_EQ(view.titleLb->text(), QStringLiteral("硬件输入"));
    EXPECT_TRUE(view.titleText().isEmpty());
    EXPECT_EQ(view.titleLb->size(), QSize(130, 20));
    EXPECT_LE(view.titleLb->x(), 2);
    EXPECT_LE(view.titleLb->y(), 2);
    EXPECT_EQ(view.titleLb->backgroundColor(), QColor(230, 150, 162));
    EXPECT_EQ(view.titleLb->textColor(), QColor(Qt::black));

    view.setTitleText(QStringLiteral("硬件输出"));
    EXPECT_EQ(view.titleText(), QStringLiteral("硬件输出"));
    EXPECT_EQ(view.titleLb->text(), QStringLiteral("硬件输出"));
}

// ---- Corner cell ----

QImage renderOnBlack(QWidget& w) {
    QImage img(w.size(), QImage::Format_ARGB32);
    img.fill(Qt::black);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

bool litNear(const QImage& img, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const QPoint p(x + dx, y + dy);
            if (img.rect().contains(p) && img.pixelColor(p) != QColor(Qt::black)) return true;
        }
    }
    return false;
}

TEST(IOViewTest, DiagonalRisesFromBottomLeftWithLettersOnEitherSide) {
    NorvIOView view;
    view.resize(25, 20);
    view.show();  // a hidden widget gets its resize event only when shown
    EXPECT_EQ(view.iLabel->text(), QStringLiteral("I"));
    EXPECT_EQ(view.oLabel->text(), QStringLiteral("O"));
    EXPECT_EQ(view.iLabel->geometry(), QRect(1, 1, 12, 12));
    EXPECT_EQ(view.oLabel->geometry(), QRect(12, 7, 12, 12));

    const QImage img = renderOnBlack(view);
    EXPECT_TRUE(litNear(img, 2, 18));   // bottom-left end
    EXPECT_TRUE(litNear(img, 12, 10));  // middle
    EXPECT_TRUE(litNear(img, 22, 2));   // top-right end
    // The other diagonal's ends stay dark.
    EXPECT_FALSE(litNear(img, 1, 1));
    EXPECT_FALSE(litNear(img, 23, 18));

    // The letters follow the corners when the cell is resized.
    view.resize(40, 30);
    EXPECT_EQ(view.oLabel->geometry(), QRect(27, 17, 12, 12));
}

}  // namespace
}  // namespace h8::ui
