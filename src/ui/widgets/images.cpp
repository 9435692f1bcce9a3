#include "ui/widgets/images.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

// The resource lives in a static library; referencing its initialiser keeps the linker from
// dropping it. Q_INIT_RESOURCE must be used outside any namespace.
static void initImageResources() {
    Q_INIT_RESOURCE(images);
}

namespace h8::ui {

namespace {

QString resourcePath(const QString& name) {
    static const bool once = (initImageResources(), true);
    (void)once;
    return QStringLiteral(":/images/%1.svg").arg(name);
}

}  // namespace

QStringList imageNames() {
    return {QStringLiteral("selected"),
            QStringLiteral("hardware"),
            QStringLiteral("software"),
            QStringLiteral("volumeBg"),
            QStringLiteral("bg"),
            QStringLiteral("yuantou"),
            QStringLiteral("sancha"),
            QStringLiteral("group_off"),
            QStringLiteral("group_on"),
            QStringLiteral("bluetoothgray"),
            QStringLiteral("bluetoothlight"),
            QStringLiteral("volume"),
            QStringLiteral("shebeiweilianjie"),
            QStringLiteral("headphones"),
            QStringLiteral("phone"),
            QStringLiteral("stack_a"),
            QStringLiteral("stack_b"),
            QStringLiteral("matrix_a"),
            QStringLiteral("matrix_b")};
}

QPixmap image(const QString& name, QSize size, qreal dpr) {
    if (size.isEmpty()) return {};
    if (dpr <= 0) dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    const QString key =
        QStringLiteral("h8img:%1:%2x%3@%4").arg(name).arg(size.width()).arg(size.height()).arg(dpr);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap)) return pixmap;

    const QString path = resourcePath(name);
    if (!QFile::exists(path)) return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) return {};
    pixmap = QPixmap((QSizeF(size) * dpr).toSize());
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixmap.size())));
    }
    pixmap.setDevicePixelRatio(dpr);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QSize imageNaturalSize(const QString& name) {
    const QString path = resourcePath(name);
    if (!QFile::exists(path)) return {};
    QSvgRenderer renderer(path);
    return renderer.isValid() ? renderer.defaultSize() : QSize();
}

}  // namespace h8::ui
