#include "ui/widgets/style.h"

#include <QApplication>

namespace h8::ui {

QColor withAlpha(const QColor& color, qreal alpha) {
    QColor c = color;
    c.setAlphaF(static_cast<float>(alpha));
    return c;
}

QFont systemFont(qreal points) {
    QFont font = QApplication::font();
    font.setPointSizeF(points);
    return font;
}

QColor colorFromText(const QString& text) {
    if (text.size() != 7 || text.front() != u'#') return {};
    QRgb rgb = 0;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        int digit;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else {
            return {};
        }
        rgb = rgb * 16 + static_cast<QRgb>(digit);
    }
    return QColor::fromRgb(rgb);
}

}  // namespace h8::ui
