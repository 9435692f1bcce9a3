#pragma once

// Colours, fonts and small colour helpers shared by the panel's widgets.

#include <QColor>
#include <QFont>
#include <QString>

namespace h8::ui {

// Route chips, handles and crosspoints of the four hardware inputs.
inline const QColor kHardwareColor{98, 55, 68};
// Route chips, handles and crosspoints of the eight playback channels.
inline const QColor kSoftwareColor{31, 101, 47};
// Accent used for hover and "off" highlight colouring.
inline const QColor kAccentColor{230, 150, 162};

// `color` with its alpha replaced by `alpha` (0..1).
QColor withAlpha(const QColor& color, qreal alpha);

// The application font at `points` points.
QFont systemFont(qreal points);

// "#" followed by exactly six hex digits (either case) gives that opaque colour; any other text
// gives an invalid QColor, which callers treat as "no colour".
QColor colorFromText(const QString& text);

}  // namespace h8::ui
