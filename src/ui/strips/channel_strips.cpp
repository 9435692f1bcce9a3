#include "ui/strips/channel_strips.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMouseEvent>

#include "core/notification_names.h"
#include "core/routing_matrix.h"
#include "core/vendor_requests.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "ui/accessibility/accessible_panel.h"
#include "ui/matrix/drag_view.h"
#include "ui/strips/level_bar.h"
#include "ui/widgets/focus.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/lum_text_field.h"
#include "ui/widgets/lum_volume_vircle_view.h"
#include "ui/widgets/style.h"

namespace h8::ui {
namespace {

const QColor kTextColor(224, 223, 223);
const QColor kPlaybackBorder(58, 58, 58);  // "#3a3a3a"

LumLabel* titleLabel(const QString& text, QWidget* parent) {
    auto* label = new LumLabel(text, parent);
    label->setTextColor(kTextColor);
    label->setFont(systemFont(11));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

LumTextField* nameField(QWidget* parent) {
    auto* field = new LumTextField(parent);
    field->setTextColor(kTextColor);
    field->setFont(systemFont(10));
    field->setAlignment(Qt::AlignCenter);
    field->setFrame(false);
    field->setPlaceholderText(QStringLiteral("</>"));
    field->setStyleSheet(
        QStringLiteral("QLineEdit { background: rgb(18, 17, 24); border: none; }") +
        focusFrameRule(QStringLiteral("QLineEdit")));
    return field;
}

// What a screen reader calls a strip's meters ("OTG In 3 level").
void nameMeters(LevelBar* top, LevelBar* bottom, const QString& topChannel,
                const QString& bottomChannel) {
    top->setAccessibleName(
        QCoreApplication::translate("Accessibility", "%1 level").arg(topChannel));
    bottom->setAccessibleName(
        QCoreApplication::translate("Accessibility", "%1 level").arg(bottomChannel));
}

std::optional<int> payloadNumber(const Notification& n) {
    if (n.object.typeId() != QMetaType::Int) return std::nullopt;
    return n.object.toInt();
}

}  // namespace

// ---- source strips ----

NorvInputProgressView::NorvInputProgressView(const PanelContext& context, const QString& title,
                                             LayoutType layoutType, QWidget* parent)
    : QWidget(parent),
      nameText(title),
      type(layoutType),
      isHidenPro(layoutType == LayoutType::BL),
      topL(titleLabel(title, this)),
      topView(new LevelBar(this)),
      topBtn(new NorvDragView(context, this)),
      botL(nameField(this)),
      botView(new LevelBar(this)),
      botBtn(new NorvDragView(context, this)),
      linkBtn(new QPushButton(this)),
      BTMute(new QPushButton(QStringLiteral("M"), this)),
      defaults_(context.defaults),
      center_(context.center) {
    for (LevelBar* bar : {topView, botView}) {
        if (isHidenPro) {
            bar->setBarBackground(std::nullopt);
            bar->setBorderColor(kPlaybackBorder);
        }
    }
    // The link toggle chooses a single or a pair drag; it has no action of its own.
    linkBtn->setCheckable(true);
    linkBtn->setFlat(true);
    linkBtn->setIconSize(QSize(15, 35));
    QIcon linkIcon;
    linkIcon.addPixmap(image(QStringLiteral("group_off"), QSize(15, 35)), QIcon::Normal,
                       QIcon::Off);
    linkIcon.addPixmap(image(QStringLiteral("group_on"), QSize(15, 35)), QIcon::Normal, QIcon::On);
    linkBtn->setIcon(linkIcon);
    linkBtn->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; }") +
        focusFrameRule(QStringLiteral("QPushButton")));
    pressWithEnter(linkBtn);
    linkBtn->setToolTip(tr("Drag both channels together"));
    linkBtn->setAccessibleName(QCoreApplication::translate("Accessibility", "Link %1").arg(title));
    topBtn->linkedBtn = linkBtn;
    botBtn->linkedBtn = linkBtn;

    BTMute->setCheckable(true);
    BTMute->setFlat(true);
    BTMute->hide();
    connect(BTMute, &QPushButton::clicked, this, [this](bool on) { muteClick(on); });

    botL->textDidChange = [this](const QString& text) {
        diag(nameKey().toStdString());
        defaults_.setString(nameKey(), text);
    };
    botL->setAccessibleName(QCoreApplication::translate("Accessibility", "%1 name").arg(title));
    // A click anywhere else in the application ends the name's editing: the strip watches the
    // application's events while the name has the focus (watching them all the time would put
    // every event, a few hundred a second with the meters moving, through each strip).
    botL->installEventFilter(this);

    NotificationCenter& center = center_;
    center.addObserver(this, notify::kMouseEnteredChannelLabel, [this](const Notification& n) {
        const auto x = crosspointFromPayload(n.object);
        if (!x) return;
        if (x->row == actTopChannelIndex) topView->setBorderColor(QColor(Qt::white));
        if (x->row == actTopChannelIndex + 1) botView->setBorderColor(QColor(Qt::white));
    });
    center.addObserver(this, notify::kMouseExitedChannelLabel, [this](const Notification& n) {
        const auto x = crosspointFromPayload(n.object);
        if (!x) return;
        if (x->row == actTopChannelIndex) topView->setBorderColor(idleBorder());
        if (x->row == actTopChannelIndex + 1) botView->setBorderColor(idleBorder());
    });
    center.addObserver(this, notify::kIndexQuoteAddition, [this](const Notification& n) {
        const auto row = payloadNumber(n);
        if (row == actTopChannelIndex) topBtn->setLit(true);
        if (row == actTopChannelIndex + 1) botBtn->setLit(true);
    });
    center.addObserver(this, notify::kIndexQuoteSubtraction, [this](const Notification& n) {
        const auto row = payloadNumber(n);
        if (row == actTopChannelIndex) topBtn->setLit(false);
        if (row == actTopChannelIndex + 1) botBtn->setLit(false);
    });
    center.addObserver(this, notify::kEntranceFileSuccess,
                       [this](const Notification&) { loadName(); });
    setMinimumSize(200, 50);
}

NorvInputProgressView::~NorvInputProgressView() {
    center_.removeObserver(this);
}

QColor NorvInputProgressView::idleBorder() const {
    return kPlaybackBorder;
}

void NorvInputProgressView::setIndexTitle(int n) {
    indexTitle = n;
    topBtn->setTitleText(QString::number(n));
    botBtn->setTitleText(QString::number(n + 1));
}

void NorvInputProgressView::setRows(int r) {
    actTopChannelIndex = r;
    topBtn->actRowIndex = r;
    botBtn->actRowIndex = r + 1;
    nameMeters(topView, botView, accessibleSourceName(r), accessibleSourceName(r + 1));
    loadName();
}

void NorvInputProgressView::setHandleColor(const QColor& color) {
    topBtn->setLabelColor(color);
    botBtn->setLabelColor(color);
}

QString NorvInputProgressView::nameKey() const {
    return QStringLiteral("channelRowName") + QString::number(actTopChannelIndex + 1);
}

QList<QWidget*> NorvInputProgressView::tabStops() const {
    return {botL, topBtn, botBtn, linkBtn};
}

void NorvInputProgressView::loadName() {
    if (const auto name = defaults_.stringForKey(nameKey())) botL->setText(*name);
}

bool NorvInputProgressView::setTopLevel(double level, LevelBarBatch* batch) {
    return topView->setLevel(level, batch);
}
bool NorvInputProgressView::setBotLevel(double level, LevelBarBatch* batch) {
    return botView->setLevel(level, batch);
}

void NorvInputProgressView::muteClick(bool turnedOn) {
    // The poll shows the device's state; the click only asks for the change.
    BTMute->setChecked(!turnedOn);
    NorvaltUSBAudioSetBTEnable(turnedOn ? 1 : 0);
}

void NorvInputProgressView::timeRpeat() {
    uint8_t enabled = 0;
    NorvaltUSBAudioGetBTEnable(enabled);
    if (enabled != 1) {
        BTMute->setChecked(false);
        return;
    }
    uint8_t status = 0;
    NorvaltUSBAudioGetBTA2DPStatus(status);
    BTMute->setChecked(status == 3 || status == 4 ? true
                                                  : !BTMute->isChecked());  // blinks while linking
}

void NorvInputProgressView::resizeEvent(QResizeEvent*) {
    // Title and name on the left; the two bars with their handles; the link toggle on the right.
    const int w = width(), h = height();
    const int rowH = std::max(18, h / 2 - 4);
    const int left = std::min(120, w / 3);
    topL->setGeometry(6, 2, left - 8, rowH);
    botL->setGeometry(6, h - rowH - 2, left - 8, rowH);
    const int barX = left + 4, barW = std::max(20, w - barX - 17 - 8 - 15 - 10);
    topView->setGeometry(barX, 2 + (rowH - 12) / 2, barW, 12);
    botView->setGeometry(barX, h - rowH - 2 + (rowH - 12) / 2, barW, 12);
    topBtn->move(barX + barW + 6, 2 + (rowH - 17) / 2);
    botBtn->move(barX + barW + 6, h - rowH - 2 + (rowH - 17) / 2);
    linkBtn->setGeometry(w - 20, (h - 35) / 2, 15, 35);
    BTMute->setGeometry(w - 40, (h - 20) / 2, 20, 20);
}

bool NorvInputProgressView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == botL && event->type() == QEvent::FocusIn) qApp->installEventFilter(this);
    if (watched == botL && event->type() == QEvent::FocusOut) qApp->removeEventFilter(this);
    if (event->type() == QEvent::MouseButtonPress && botL->hasFocus()) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton && widget && widget != botL &&
            !botL->isAncestorOf(widget)) {
            botL->clearFocus();
        }
    }
    return false;  // the click goes on unchanged
}

// ---- output strips ----

NorvOutProgressView::NorvOutProgressView(const PanelContext& context, const QString& title,
                                         bool showVolume, QWidget* parent)
    : QWidget(parent),
      nameText(title),
      topL(titleLabel(title, this)),
      topView(new LevelBar(this)),
      botL(nameField(this)),
      botView(new LevelBar(this)),
      defaults_(context.defaults),
      center_(context.center) {
    for (LevelBar* bar : {topView, botView}) bar->setBorderColor(std::nullopt);
    if (showVolume) {
        isShowVolume = true;
        volumeView = new LumVolumeVircleView(this);
        volumeView->avgCount = 100;
        volumeView->bgCcolor = QColor(Qt::black);
        volumeView->froColor = QColor(230, 150, 162);
        volumeLabel = new LumLabel(QStringLiteral("0"), this);
        volumeLabel->setTextColor(QColor(Qt::gray));
        volumeLabel->setFont(systemFont(9));
        volumeLabel->setAlignment(Qt::AlignCenter);
        // The knob's value is shown only; it is restored from presets and not sent anywhere.
        volumeView->callBack = [this](int level) { volumeLabel->setText(QString::number(level)); };
        volumeView->setAccessibleName(
            QCoreApplication::translate("Accessibility", "%1 volume").arg(title));
    }
    botL->textDidChange = [this](const QString& text) { defaults_.setString(nameKey(), text); };
    botL->setAccessibleName(QCoreApplication::translate("Accessibility", "%1 name").arg(title));

    NotificationCenter& center = center_;
    center.addObserver(this, notify::kMouseEnteredChannelLabel, [this](const Notification& n) {
        const auto x = crosspointFromPayload(n.object);
        if (!x) return;
        if (x->col == actTopChannelIndex) topView->setBorderColor(QColor(Qt::white));
        if (x->col == actTopChannelIndex + 1) botView->setBorderColor(QColor(Qt::white));
    });
    center.addObserver(this, notify::kMouseExitedChannelLabel, [this](const Notification& n) {
        const auto x = crosspointFromPayload(n.object);
        if (!x) return;
        if (x->col == actTopChannelIndex) topView->setBorderColor(std::nullopt);
        if (x->col == actTopChannelIndex + 1) botView->setBorderColor(std::nullopt);
    });
    center.addObserver(this, notify::kEntranceFileSuccess,
                       [this](const Notification&) { reloadAfterImport(); });
    setMinimumSize(200, 50);
}

NorvOutProgressView::~NorvOutProgressView() {
    center_.removeObserver(this);
}

QString NorvOutProgressView::nameKey() const {
    return QStringLiteral("channelName") + QString::number(actTopChannelIndex + 1);
}

QList<QWidget*> NorvOutProgressView::tabStops() const {
    if (!volumeView) return {botL};
    return {botL, volumeView};
}

void NorvOutProgressView::setPair(int n) {
    actTopChannelIndex = n;
    nameMeters(topView, botView, accessibleDestinationName(n), accessibleDestinationName(n + 1));
    if (const auto name = defaults_.stringForKey(nameKey())) botL->setText(*name);
}

bool NorvOutProgressView::setTopLevel(double level, LevelBarBatch* batch) {
    return topView->setLevel(level, batch);
}
bool NorvOutProgressView::setBotLevel(double level, LevelBarBatch* batch) {
    return botView->setLevel(level, batch);
}

void NorvOutProgressView::reloadAfterImport() {
    if (const auto name = defaults_.stringForKey(nameKey())) botL->setText(*name);
    if (!volumeView) return;
    const qint64 volume = defaults_.integerForKey(QStringLiteral("outputVolume") +
                                                  QString::number(actTopChannelIndex));
    if (volume >= 1) {
        volumeView->updateLevel(static_cast<double>(volume));
        volumeLabel->setText(QString::number(volume));
    }
}

void NorvOutProgressView::resizeEvent(QResizeEvent*) {
    const int w = width(), h = height();
    const int rowH = std::max(18, h / 2 - 4);
    const int left = std::min(120, w / 3);
    const int knob = volumeView ? std::min(h - 14, 34) : 0;
    topL->setGeometry(6, 2, left - 8, rowH);
    botL->setGeometry(6, h - rowH - 2, left - 8, rowH);
    const int barX = left + 4, barW = std::max(20, w - barX - (knob ? knob + 16 : 0) - 8);
    topView->setGeometry(barX, 2 + (rowH - 12) / 2, barW, 12);
    botView->setGeometry(barX, h - rowH - 2 + (rowH - 12) / 2, barW, 12);
    if (volumeView) {
        volumeView->setGeometry(w - knob - 8, 2, knob, knob);
        volumeLabel->setGeometry(w - knob - 8, 2 + knob, knob, 12);
    }
}

}  // namespace h8::ui
