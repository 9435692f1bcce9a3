#include "routing_agreement.h"

#include <sstream>

#include "core/audio_helper.h"
#include "core/routing_matrix.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "emulated/emulated_h8.h"
#include "ui/sections/main_contain_view.h"
#include "view_controller.h"

namespace h8 {

std::string routingDisagreements(const ViewController& controller,
                                 const emulated::H8State* device) {
    std::ostringstream why;
    const std::vector<Output> stored =
        columnsFromStoredMap(NorvShareHelper::shared().channelMapArray());
    const ui::NorvMainContainView* panel = controller.norvMainContaiView;
    const auto& audio = controller.audio;
    const bool bound = controller.isBound();
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        for (int row = 1; row <= kMatrixSources; ++row) {
            const bool on =
                static_cast<size_t>(col) <= stored.size() && stored[col - 1].enableArray[row - 1];
            const float level = storedCrosspointLevel(row, col);
            const std::string at =
                " at source " + std::to_string(row) + " destination " + std::to_string(col);
            if (panel) {
                if (panel->chips()->hasChip(row, col) != on)
                    why << "chip " << !on << " vs stored " << on << at << "\n";
                if (panel->routing().isOn(row, col) != on)
                    why << "grid button " << !on << " vs stored " << on << at << "\n";
                if (on && panel->routing().level(row, col) != level)
                    why << "grid level " << panel->routing().level(row, col) << " vs stored "
                        << level << at << "\n";
            }
            if (audio && static_cast<size_t>(col) <= audio->outputUnits().size() &&
                audio->outputUnits()[col - 1]->enableArray[row - 1] != on) {
                why << "engine column " << !on << " vs stored " << on << at << "\n";
            }
            if (bound && device) {
                const uint8_t byte = device->mixer[sourceCodeForRow(row - 1) + 12 * (col - 1)];
                const uint8_t expected = on ? crosspointLevelByte(level) : 0xFF;
                // A route switched on from the matrix is sent as 0x80, full level.
                const bool fresh = on && level == 100.0f && byte == 0x80;
                if (byte != expected && !fresh)
                    why << "mixer byte " << int(byte) << " vs " << int(expected) << at
                        << (on ? " (on, level " + std::to_string(level) + ")" : " (off)") << "\n";
            }
        }
    }
    return why.str();
}

}  // namespace h8
