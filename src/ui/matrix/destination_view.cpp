#include "ui/matrix/destination_view.h"

#include <QVBoxLayout>

#include "ui/matrix/channel_row_view.h"

namespace h8::ui {

NorvDestinationView::NorvDestinationView(int topCol, RouteChips* chips, RoutingModel* routing,
                                         QWidget* parent)
    : QWidget(parent),
      channelTop(new ChannelRowView(topCol, chips, routing, this)),
      channelBot(new ChannelRowView(topCol + 1, chips, routing, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(channelTop);
    layout->addWidget(channelBot);
    setFixedHeight(42);
}

}  // namespace h8::ui
