// Channel strips: one stereo pair of the routing matrix with a title, the user's name for it,
// a level bar per channel and, on source strips, the two drag handles and the pair-link
// toggle. Strips light up when a route chip or grid cell of their channels is hovered, and
// reload their names (and output volumes) after a preset import.
#pragma once

#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <optional>

#include "ui/panel_context.h"

namespace h8::ui {

class LumLabel;
class LumTextField;
class LevelBar;
class LevelBarBatch;
class NorvDragView;
class LumVolumeVircleView;

enum class LayoutType { TL, TR, BL, BR };

class NorvInputProgressView : public QWidget {
    Q_OBJECT
public:
    // `title`: "Mic/Line 1-2", "Playback 1-2", ...; playback strips (BL) draw their bars
    // without a background and with a dark border.
    // Names are kept in the context's user defaults; the strip follows its notifications.
    NorvInputProgressView(const PanelContext& context, const QString& title, LayoutType type,
                          QWidget* parent = nullptr);
    ~NorvInputProgressView() override;

    // The handles' numbers: n on the top handle, n + 1 on the bottom one.
    void setIndexTitle(int n);
    // The source rows: r for the top channel, r + 1 for the bottom one; loads the stored name.
    void setRows(int r);
    // Handle colours (hardware inputs use their own colour).
    void setHandleColor(const QColor& color);

    // The bars' levels; true when the bar repaints (its drawn width changed). With a `batch`,
    // as LevelBar::setLevel.
    bool setTopLevel(double level, LevelBarBatch* batch = nullptr);
    bool setBotLevel(double level, LevelBarBatch* batch = nullptr);

    // The user-defaults key of the name: "channelRowName" + bottom row.
    QString nameKey() const;
    // The controls that take the keyboard: the name, the handles top to bottom, the link toggle.
    QList<QWidget*> tabStops() const;

    QString nameText;
    int indexTitle = 0;
    int actTopChannelIndex = 0;
    LayoutType type;
    bool isHidenPro;
    LumLabel* topL;
    LevelBar* topView;
    NorvDragView* topBtn;
    LumTextField* botL;
    LevelBar* botView;
    NorvDragView* botBtn;
    QPushButton* linkBtn;
    QPushButton* BTMute;  // Bluetooth control: created hidden, nothing shows it
    QTimer* timer = nullptr;

    // The Bluetooth control's click and poll.
    void muteClick(bool turnedOn);
    void timeRpeat();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadName();
    QColor idleBorder() const;

    UserDefaults& defaults_;
    NotificationCenter& center_;
};

class NorvOutProgressView : public QWidget {
    Q_OBJECT
public:
    // `showVolume`: the "Mixer In" strips carry a volume knob with its value label.
    NorvOutProgressView(const PanelContext& context, const QString& title, bool showVolume,
                        QWidget* parent = nullptr);
    ~NorvOutProgressView() override;

    // The destination pair: cols n and n + 1; loads the stored name.
    void setPair(int n);
    // The bars' levels; true when the bar repaints (its drawn width changed). With a `batch`,
    // as LevelBar::setLevel.
    bool setTopLevel(double level, LevelBarBatch* batch = nullptr);
    bool setBotLevel(double level, LevelBarBatch* batch = nullptr);
    QString nameKey() const;  // "channelName" + (top col + 1)
    // The controls that take the keyboard: the name, then the volume knob if there is one.
    QList<QWidget*> tabStops() const;

    QString nameText;
    int actTopChannelIndex = 0;
    LumLabel* topL;
    LevelBar* topView;
    LumTextField* botL;
    LevelBar* botView;
    LumVolumeVircleView* volumeView = nullptr;
    LumLabel* volumeLabel = nullptr;
    std::optional<bool> isShowVolume;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void reloadAfterImport();

    UserDefaults& defaults_;
    NotificationCenter& center_;
};

}  // namespace h8::ui
