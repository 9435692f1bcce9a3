// The two upper corner sections: the hardware inputs (gain knobs, 48 V / instrument / input
// type indicators, the input mutes, the input strips) and the hardware outputs (headphone
// level, OTG output volume, headphone mute, the output strips). Both send their stored mute and
// volume settings to the device when they are created; the output panel again on every
// arrival of the interface.
#pragma once

#include <QLabel>
#include <optional>

#include "ui/panel_context.h"
#include "ui/panels/home_base_view.h"

namespace h8::ui {

class LumCircularView;
class LumLabel;
class NorvButtonView;
class NorvInputProgressView;
class NorvOutProgressView;

class NorvMicINView : public NorvHomeBaseView {
    Q_OBJECT
public:
    explicit NorvMicINView(const PanelContext& context, QWidget* parent = nullptr);

    // index: 1 input 1 48 V, 2 input 2 48 V, 3 input 1 instrument, 4 input 2 instrument.
    void setIndicator(int state, int index);
    // The input-type picture of input `channel` (1 or 2).
    void setInputType(int state, int channel);

    QLabel* volumeImgv;
    QLabel* volumeImgv2;
    LumCircularView* inputVolumeView;
    LumCircularView* inputVolumeView2;
    LumLabel* btn48V;
    LumLabel* btn248V;
    LumLabel* INSTLabel;
    LumLabel* INST2Label;
    QLabel* btnState;
    QLabel* btn2State;
    NorvButtonView* btnMute;
    NorvButtonView* btn2Mute;
    LumLabel* micNameLb;
    LumLabel* InstNameLb;
    NorvInputProgressView* micIn;
    NorvInputProgressView* otgIn;

    // Sends the stored input mutes to the device and shows them.
    void restore();
    // The controls that take the keyboard, in reading order (the main panel chains them).
    QList<QWidget*> tabStops() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The picture each input type label shows: true the jack, false the default; none before
    // the first poll (the labels start with the default picture).
    std::optional<bool> inputTypeShown_[2];
};

class NorvHardwareOutView : public NorvHomeBaseView {
    Q_OBJECT
public:
    explicit NorvHardwareOutView(const PanelContext& context, QWidget* parent = nullptr);
    ~NorvHardwareOutView() override;

    QLabel* volumeImgv;
    QLabel* volumeImgv2;
    LumCircularView* output12VolumeView;
    LumCircularView* output34VolumeView;
    LumLabel* hpNameLb;
    LumLabel* otgNameLb;
    NorvButtonView* out12butn;
    NorvOutProgressView* HpOut;
    NorvOutProgressView* otgOut;

    // Sends the stored OTG volume and headphone mute to the device and shows them (at creation
    // and on every "rawDeviceAdded").
    void addDeviceFunc();
    // The controls that take the keyboard, in reading order (the main panel chains them).
    QList<QWidget*> tabStops() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    NotificationCenter& center_;
};

}  // namespace h8::ui
