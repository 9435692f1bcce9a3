#pragma once

namespace h8::ui {

// What a hover callback is told: the pointer has just left or just entered the widget.
enum class MouseMoveEvent { exited = 0, entered = 1 };

}  // namespace h8::ui
