// A destination pair: the rows of its two channels, one above the other.
#pragma once

#include <QWidget>

#include "ui/panel_context.h"

namespace h8 {
class RouteChips;
}  // namespace h8

namespace h8::ui {

class ChannelRowView;

class NorvDestinationView : public QWidget {
    Q_OBJECT
public:
    // The pair of destinations `topCol` and `topCol` + 1.
    NorvDestinationView(const PanelContext& context, RouteChips& chips, int topCol,
                        QWidget* parent = nullptr);

    ChannelRowView* channelTop;
    ChannelRowView* channelBot;
};

}  // namespace h8::ui
