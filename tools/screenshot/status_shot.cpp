// h8-status-shot FILE.png: renders the disconnected view (945 × 750), the status bar (945 × 30)
// with sample values, a section frame (345 × 260) and the grid's corner cell (25 × 20, at its
// real size and enlarged eight times) onto one image, for checking by eye. Runs offscreen.

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdio>

#include "core/share_helper.h"
#include "platform/notification_center.h"
#include "ui/panels/bottom_view.h"
#include "ui/panels/home_base_view.h"
#include "ui/panels/io_view.h"
#include "ui/panels/unconnected_view.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/style.h"

using namespace h8;
using namespace h8::ui;

namespace {

// The widget drawn into `p` at `at`, scaled by `scale`, after laying it out at its current size.
void paintWidget(QPainter& p, QWidget& w, QPoint at, qreal scale = 1) {
    w.show();
    QApplication::processEvents();
    p.save();
    p.translate(at);
    p.scale(scale, scale);
    w.render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
    p.restore();
}

void caption(QPainter& p, QPoint at, const QString& text) {
    p.setPen(QColor(200, 200, 200));
    p.setFont(systemFont(10));
    p.drawText(at, text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: h8-status-shot FILE.png\n");
        return 1;
    }
    QTemporaryDir config;  // never the user's own settings
    qputenv("H8_CONFIG_DIR", config.path().toUtf8());
    QApplication app(argc, argv);
    NorvShareHelper::disableLogFile();

    auto& store = NorvShareHelper::shared();
    store.deviceName = QStringLiteral("H8 Audio Interface");
    store.deviceSn = QStringLiteral("1234ABCD");
    store.deviceVersion = QStringLiteral("1.0.7");
    store.sampleRate = QStringLiteral("48000Hz");
    store.isHasOTGMax = true;

    NorvUnconnectedView unconnected;
    unconnected.resize(945, 750);
    NorvBottomView bar(store, NotificationCenter::defaultCenter());
    bar.resize(945, 30);
    bar.statuel->setText(QStringLiteral("OTG MAX:已连接"));
    NorvHomeBaseView section;
    section.resize(345, 260);
    NorvIOView corner;
    corner.resize(25, 20);

    constexpr int kScale = 8;
    const int lowerTop = 750 + 30 + 20;
    QImage shot(945, lowerTop + 260 + 20, QImage::Format_ARGB32);
    shot.fill(QColor(30, 29, 36));  // the main panel's background
    QPainter p(&shot);
    p.setRenderHint(QPainter::Antialiasing);
    paintWidget(p, unconnected, QPoint(0, 0));
    paintWidget(p, bar, QPoint(0, 750));
    paintWidget(p, section, QPoint(20, lowerTop));

    // The corner cell on the grid's background, at real size and enlarged.
    const QPoint small(420, lowerTop + 20);
    p.fillRect(QRect(small, corner.size()), QColor(18, 17, 24));
    paintWidget(p, corner, small);
    caption(p, small + QPoint(40, 14), QStringLiteral("1×"));
    const QPoint big(420, lowerTop + 60);
    p.fillRect(QRect(big, corner.size() * kScale), QColor(18, 17, 24));
    paintWidget(p, corner, big, kScale);
    caption(p, big + QPoint(25 * kScale + 10, 14), QStringLiteral("%1×").arg(kScale));
    p.end();

    const bool saved = shot.save(QString::fromLocal8Bit(argv[1]));
    std::printf("%s %s\n", saved ? "saved" : "could not save", argv[1]);
    return saved ? 0 : 1;
}
