// A destination pair: the rows of its two channels, one above the other.
#pragma once

#include <QWidget>

namespace h8 {
class RouteChips;
class RoutingModel;
}  // namespace h8

namespace h8::ui {

class ChannelRowView;

class NorvDestinationView : public QWidget {
    Q_OBJECT
public:
    // The pair of destinations `topCol` and `topCol` + 1.
    NorvDestinationView(int topCol, RouteChips* chips, RoutingModel* routing,
                        QWidget* parent = nullptr);

    ChannelRowView* channelTop;
    ChannelRowView* channelBot;
};

}  // namespace h8::ui
