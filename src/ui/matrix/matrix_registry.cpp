#include "ui/matrix/matrix_registry.h"

namespace h8::ui {

MatrixRegistry& MatrixRegistry::shared() {
    static MatrixRegistry registry;
    return registry;
}

void MatrixRegistry::clear() {
    channelViewArray.clear();
    detiNationViewArray.clear();
    routing = nullptr;
}

}  // namespace h8::ui
