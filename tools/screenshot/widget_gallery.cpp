// h8-widget-gallery: lays out every widget of the panel in its states and every application image,
// then saves the whole page as a PNG for checking by eye.
//
//   QT_QPA_PLATFORM=offscreen h8-widget-gallery [output.png]   (default /tmp/widget-gallery.png)
#include <QApplication>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cstdio>

#include "ui/widgets/hover_button.h"
#include "ui/widgets/hover_view.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_text_field.h"
#include "ui/widgets/norv_button_view.h"
#include "ui/widgets/norv_sub_drag_view.h"
#include "ui/widgets/style.h"

using namespace h8::ui;

namespace {

void hover(QWidget* w) {
    QEnterEvent event(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(w, &event);
}

// A cell of the page: the widget above a small gray caption.
QWidget* cell(QWidget* content, const QString& caption) {
    auto* box = new QWidget;
    auto* v = new QVBoxLayout(box);
    v->setContentsMargins(4, 4, 4, 4);
    v->setSpacing(4);
    v->addWidget(content, 0, Qt::AlignHCenter | Qt::AlignBottom);
    auto* text = new QLabel(caption);
    text->setStyleSheet(QStringLiteral("color: rgb(150, 150, 158);"));
    text->setFont(systemFont(8));
    text->setAlignment(Qt::AlignHCenter);
    v->addWidget(text, 0, Qt::AlignHCenter | Qt::AlignTop);
    return box;
}

QLabel* heading(const QString& title) {
    auto* label = new QLabel(title);
    label->setStyleSheet(QStringLiteral("color: rgb(224, 223, 223);"));
    label->setFont(systemFont(11));
    return label;
}

// A page row: a heading, then its cells side by side.
void addRow(QVBoxLayout* page, const QString& title, const QList<QWidget*>& cells) {
    page->addWidget(heading(title));
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    for (QWidget* c : cells) row->addWidget(c, 0, Qt::AlignBottom);
    row->addStretch();
    page->addLayout(row);
}

LumLabel* chip(const QString& text, const QColor& kind) {
    auto* l = new LumLabel(text);
    l->setFixedSize(18, 18);
    l->setFont(systemFont(10));
    l->setTextColor(Qt::white);
    l->setAlignment(Qt::AlignCenter);
    l->setBorder(kind, 1);
    l->setBackgroundColor(withAlpha(kind, 0.5));
    return l;
}

LumLabel* textLabel(const QString& text, std::optional<QColor> bg = std::nullopt,
                    std::optional<QColor> border = std::nullopt) {
    auto* l = new LumLabel(text);
    l->setFixedSize(190, 28);
    l->setFont(systemFont(12));
    l->setTextColor(QColor(224, 223, 223));
    l->setAlignment(Qt::AlignCenter);
    l->setBackgroundColor(bg);
    if (border) l->setBorder(*border, 1);
    return l;
}

HoverButton* crosspoint(const QString& onImage, bool on, bool highlighted, bool hovered,
                        float volume) {
    auto* b = new HoverButton;
    b->setFixedSize(HoverButton::kWidth, HoverButton::kHeight);
    b->setOnImage(onImage);
    b->setChecked(on);
    b->setHighlighted(highlighted);
    b->volume = volume;
    b->label->setText(QString::number(static_cast<int>(volume)));
    if (hovered) hover(b);
    return b;
}

// Crosspoints drawn on the grid's own background so the highlight reads as it will there.
QWidget* onGrid(QWidget* w) {
    auto* frame = new QWidget;
    frame->setAutoFillBackground(true);
    QPalette pal = frame->palette();
    pal.setColor(QPalette::Window, QColor(18, 17, 24));
    frame->setPalette(pal);
    auto* l = new QHBoxLayout(frame);
    l->setContentsMargins(6, 6, 6, 6);
    l->addWidget(w);
    return frame;
}

NorvButtonView* muteButton(const QString& title, bool on, bool hovered) {
    auto* v = new NorvButtonView;
    v->setFixedSize(44, 22);
    v->setTitleText(title);
    if (on) v->button->click();
    if (hovered) hover(v);
    return v;
}

NorvSubDragView* floating(NorvSubDragView::Layout layout, const QColor& kind, const QString& top,
                          const QString& bot) {
    auto* v = new NorvSubDragView(layout);
    v->setFixedSize(v->size());
    v->setLabelColor(kind);
    v->toplabel->setText(top);
    v->botlabel->setText(bot);
    return v;
}

HoverView* channelRow(const QList<std::pair<QString, QColor>>& chips) {
    auto* row = new HoverView;
    row->setFixedSize(120, 20);
    row->setBorder(QColor(Qt::gray), 1, 2);
    int x = 0;
    for (const auto& [text, kind] : chips) {
        LumLabel* c = chip(text, kind);
        c->setParent(row);
        c->move(x, 1);
        x += 18;
    }
    return row;
}

QWidget* imageCell(const QString& name) {
    QSize size = imageNaturalSize(name);
    if (size.width() > 100 || size.height() > 100) size.scale(100, 100, Qt::KeepAspectRatio);
    if (size.width() < 24 && size.height() < 24) size *= 2;  // small icons doubled to be seen
    auto* view = new QLabel;
    view->setPixmap(image(name, size));
    view->setFixedSize(size);
    return cell(view, QStringLiteral("%1 %2×%3")
                          .arg(name)
                          .arg(imageNaturalSize(name).width())
                          .arg(imageNaturalSize(name).height()));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/widget-gallery.png");

    QWidget page;
    page.setAutoFillBackground(true);
    QPalette pal = page.palette();
    pal.setColor(QPalette::Window, QColor(36, 35, 42));
    page.setPalette(pal);
    auto* layout = new QVBoxLayout(&page);
    layout->setContentsMargins(16, 12, 16, 16);
    layout->setSpacing(6);

    addRow(layout, QStringLiteral("LumLabel"),
           {cell(textLabel(QStringLiteral("Mic In 1")), QStringLiteral("plain")),
            cell(textLabel(QStringLiteral("序列号 / 固件 / 采样率")), QStringLiteral("Chinese")),
            cell(textLabel(QStringLiteral("48000Hz"), QColor(64, 64, 64), QColor(117, 117, 117)),
                 QStringLiteral("background + border")),
            cell(chip(QStringLiteral("1"), kHardwareColor), QStringLiteral("hw chip")),
            cell(chip(QStringLiteral("8"), kSoftwareColor), QStringLiteral("sw chip"))});

    auto* plainField = new LumTextField;
    plainField->setText(QStringLiteral("Vocal"));
    auto* cjkField = new LumTextField;
    cjkField->setText(QStringLiteral("人声 麦克风"));
    auto* selectedField = new LumTextField;
    selectedField->setText(QStringLiteral("Guitar DI"));
    selectedField->selectAll();
    for (LumTextField* f : {plainField, cjkField, selectedField}) {
        f->setFixedSize(130, 24);
        f->setFont(systemFont(10));
        f->setStyleSheet(
            QStringLiteral("QLineEdit { background: rgb(24, 23, 29); border: 1px solid "
                           "rgb(80, 79, 86); border-radius: 3px; color: white; "
                           "selection-background-color: rgb(90, 110, 160); }"));
    }
    addRow(layout, QStringLiteral("LumTextField"),
           {cell(plainField, QStringLiteral("text")), cell(cjkField, QStringLiteral("Chinese")),
            cell(selectedField, QStringLiteral("all selected"))});

    addRow(layout, QStringLiteral("HoverButton (grid crosspoint 25×20)"),
           {cell(onGrid(crosspoint("hardware", false, false, false, 100)), QStringLiteral("off")),
            cell(onGrid(crosspoint("hardware", false, true, false, 100)),
                 QStringLiteral("off, highlighted")),
            cell(onGrid(crosspoint("hardware", true, false, false, 100)), QStringLiteral("on hw")),
            cell(onGrid(crosspoint("software", true, false, false, 100)), QStringLiteral("on sw")),
            cell(onGrid(crosspoint("hardware", true, false, true, 100)),
                 QStringLiteral("on hw, hovered")),
            cell(onGrid(crosspoint("software", true, true, true, 73)),
                 QStringLiteral("on sw, hovered, highlighted"))});

    addRow(layout, QStringLiteral("NorvButtonView"),
           {cell(muteButton(QString(), false, false), QStringLiteral("off (no title)")),
            cell(muteButton(QStringLiteral("M"), false, false), QStringLiteral("off")),
            cell(muteButton(QStringLiteral("M"), false, true), QStringLiteral("off, hovered")),
            cell(muteButton(QStringLiteral("M"), true, false), QStringLiteral("on")),
            cell(muteButton(QStringLiteral("M"), true, true), QStringLiteral("on, hovered")),
            cell(muteButton(QStringLiteral("静音"), true, false), QStringLiteral("on, Chinese"))});

    addRow(layout, QStringLiteral("NorvSubDragView and HoverView"),
           {cell(floating(NorvSubDragView::Layout::single, kSoftwareColor, "5", ""),
                 QStringLiteral("single sw")),
            cell(floating(NorvSubDragView::Layout::single, kHardwareColor, "2", ""),
                 QStringLiteral("single hw")),
            cell(floating(NorvSubDragView::Layout::pair, kSoftwareColor, "3", "4"),
                 QStringLiteral("pair sw")),
            cell(floating(NorvSubDragView::Layout::pair, kHardwareColor, "1", "2"),
                 QStringLiteral("pair hw")),
            cell(channelRow({{"1", kHardwareColor}, {"1", kSoftwareColor}, {"8", kSoftwareColor}}),
                 QStringLiteral("channel row with chips"))});

    const QStringList names = imageNames();
    addRow(layout, QStringLiteral("Images"), [&] {
        QList<QWidget*> cells;
        for (int i = 0; i < 8; ++i) cells.append(imageCell(names[i]));
        return cells;
    }());
    addRow(layout, QString(), [&] {
        QList<QWidget*> cells;
        for (int i = 8; i < names.size(); ++i) cells.append(imageCell(names[i]));
        return cells;
    }());

    page.adjustSize();
    page.show();
    QCoreApplication::processEvents();
    if (!page.grab().save(out)) {
        std::fprintf(stderr, "h8-widget-gallery: cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}
