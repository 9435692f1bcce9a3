#include "ui/matrix/destination_view.h"

#include <QVBoxLayout>

#include "ui/matrix/channel_row_view.h"

namespace h8::ui {

NorvDestinationView::NorvDestinationView(const PanelContext& context, RouteChips& chips, int topCol,
                                         QWidget* parent)
    : QWidget(parent),
      channelTop(new ChannelRowView(context, chips, topCol, this)),
      channelBot(new ChannelRowView(context, chips, topCol + 1, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(channelTop);
    layout->addWidget(channelBot);
    setFixedHeight(42);
}

}  // namespace h8::ui
