// h8-knobs-shot FILE.png: renders both volume knobs at zero, half and full scale, with scales of
// 56 and 100 steps, on the panel's dark background, and saves the page as a PNG for checking by
// eye. The control-panel knob sits on the "volumeBg" image the way the control panels place it;
// the strip knob is shown at its strip size and enlarged. Runs offscreen.

#include <QApplication>
#include <QLabel>
#include <cstdio>
#include <functional>
#include <vector>

#include "core/share_helper.h"
#include "platform/clock.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_circular_view.h"
#include "ui/widgets/lum_volume_vircle_view.h"
#include "ui/widgets/style.h"

using namespace h8;
using namespace h8::ui;

namespace {

QLabel* caption(const QString& text, QWidget* parent, QRect geometry, qreal points = 9) {
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: rgb(190, 190, 198); background: transparent;"));
    label->setFont(systemFont(points));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(geometry);
    return label;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: h8-knobs-shot FILE.png\n");
        return 1;
    }
    QApplication app(argc, argv);
    h8::SystemClock clock;
    NorvShareHelper::disableLogFile();

    QWidget window;
    window.setObjectName(QStringLiteral("page"));
    window.setStyleSheet(QStringLiteral("#page { background: rgb(30, 29, 36); }"));
    window.resize(760, 560);

    const int scales[] = {56, 100};
    // Levels are applied after the first paint, which always shows 0 on the panel knob.
    std::vector<std::function<void()>> setLevels;

    int y = 10;
    caption(QStringLiteral("LumCircularView on volumeBg (80 px)"), &window, QRect(10, y, 740, 18),
            11);
    y += 24;
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 3; ++k) {
            const int steps = scales[s];
            const int level = steps * k / 2;
            const int x = 20 + (s * 3 + k) * 122;
            auto* bg = new QLabel(&window);
            bg->setPixmap(image(QStringLiteral("volumeBg"), QSize(80, 80)));
            bg->setGeometry(x, y, 80, 80);
            auto* knob = new LumCircularView(clock, &window);
            knob->avgCount = steps;
            knob->setGeometry(x, y, 80, 80);
            setLevels.push_back([knob, level] { knob->updateLevel(level); });
            caption(QStringLiteral("%1 of %2").arg(level).arg(steps), &window,
                    QRect(x - 10, y + 84, 100, 16));
        }
    }
    y += 120;

    caption(QStringLiteral("LumVolumeVircleView (34 px, strip size)"), &window,
            QRect(10, y, 740, 18), 11);
    y += 24;
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 3; ++k) {
            const int steps = scales[s];
            const int level = steps * k / 2;
            const int x = 20 + (s * 3 + k) * 122 + 23;
            auto* knob = new LumVolumeVircleView(&window);
            knob->avgCount = steps;
            knob->setGeometry(x, y, 34, 34);
            knob->updateLevel(level);
            caption(QStringLiteral("%1 of %2").arg(level).arg(steps), &window,
                    QRect(x - 33, y + 38, 100, 16));
        }
    }
    y += 70;

    caption(QStringLiteral("LumVolumeVircleView (100 px)"), &window, QRect(10, y, 740, 18), 11);
    y += 24;
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 3; ++k) {
            const int steps = scales[s];
            const int level = steps * k / 2;
            const int x = 10 + (s * 3 + k) * 122;
            auto* knob = new LumVolumeVircleView(&window);
            knob->avgCount = steps;
            knob->setGeometry(x, y, 100, 100);
            knob->updateLevel(level);
            caption(QStringLiteral("%1 of %2").arg(level).arg(steps), &window,
                    QRect(x, y + 104, 100, 16));
        }
    }
    y += 130;
    window.resize(760, y);

    window.show();
    QApplication::processEvents();
    (void)window.grab();  // the first paint
    for (const auto& set : setLevels) set();
    const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
    std::printf("%s %s\n", saved ? "saved" : "could not save", argv[1]);
    return saved ? 0 : 1;
}
