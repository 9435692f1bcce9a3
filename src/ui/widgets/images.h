#pragma once

// Application images: SVG files compiled into the resource ":/images/<name>.svg".

#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

namespace h8::ui {

// Every image name the panel uses.
QStringList imageNames();

// The image `name` rendered at `size` logical pixels. The pixmap holds size × devicePixelRatio
// device pixels and carries that ratio, so it stays sharp on high-density screens. dpr 0 means the
// application's ratio. An unknown name or an empty size gives a null pixmap.
QPixmap image(const QString& name, QSize size, qreal dpr = 0);

// The size the SVG declares for itself (invalid for an unknown name).
QSize imageNaturalSize(const QString& name);

}  // namespace h8::ui
