// The destination rows and pairs of the two matrix panels, registered as the panels are built
// (the main panel owns it). The drag handles drop onto the registered rows.
#pragma once

#include <QList>
#include <QPointer>

namespace h8::ui {

class ChannelRowView;
class NorvDestinationView;

struct MatrixRegistry {
    // The 12 destination rows, index col - 1, and the 6 destination pairs, index k covering
    // cols 2k + 1 and 2k + 2. The upper panel registers the first 4 rows and 2 pairs.
    QList<QPointer<ChannelRowView>> channelViewArray;
    QList<QPointer<NorvDestinationView>> detiNationViewArray;
};

}  // namespace h8::ui
