// The status bar at the bottom of the main panel: device name, serial number, firmware version,
// the OTG indicator and the sample rate, read from the shared state store whenever the interface
// arrives, the panel finishes its start-up, the sample rate changes or the interface goes away.
#pragma once

#include <QWidget>

class QHBoxLayout;

namespace h8 {
class NorvShareHelper;
class NotificationCenter;
}  // namespace h8

namespace h8::ui {

class LumLabel;

class NorvBottomView : public QWidget {
    Q_OBJECT

public:
    // Shows what `store` holds, following the device notifications on `center`.
    NorvBottomView(const NorvShareHelper& store, NotificationCenter& center,
                   QWidget* parent = nullptr);
    ~NorvBottomView() override;

    // Left to right in the bar, each taking an equal share of its width. bufferl is a hidden
    // spare that never receives a text.
    LumLabel* namel;
    LumLabel* snl;
    LumLabel* softVersionl;
    LumLabel* statuel;  // "OTG MAX:"; the hardware poll appends the connection state
    LumLabel* samplel;
    LumLabel* bufferl;

    // Sets every text from the store and shows statuel only when the interface has an OTG port.
    void addDeviceFunc();
    // Empties all six texts; which labels are shown does not change.
    void removeDeviceFunc();
    // Refreshes samplel on a later pass of the event loop, after the poster has returned.
    void changeSampeRate();
    // Refreshes namel only.
    void deviceNameGet();
    // While not empty, samplel shows `note` (why there is no rate) instead of the rate, with
    // `details` as its tooltip.
    void setAudioNote(const QString& note, const QString& details = {});

    QHBoxLayout* stackView() const { return stack_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    LumLabel* makeLabel();
    void setSampleText();

    const NorvShareHelper& store_;
    NotificationCenter& center_;
    QHBoxLayout* stack_;
    QString audioNote_;
    QString audioDetails_;
};

}  // namespace h8::ui
