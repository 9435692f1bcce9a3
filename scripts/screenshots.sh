#!/usr/bin/env bash
# Renders the panel's views to PNG files for checking by eye (offscreen, no display needed).
# Usage: scripts/screenshots.sh [OUTPUT_DIR]   (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
mkdir -p "$out"
cmake --preset default >/dev/null
cmake --build --preset default --target h8-widget-gallery h8-matrix-shot h8-knobs-shot h8-status-shot h8-panel-shot
export QT_QPA_PLATFORM=offscreen
build/default/tools/screenshot/h8-widget-gallery "$out/widgets.png"
build/default/tools/screenshot/h8-matrix-shot "$out/matrix.png"
build/default/tools/screenshot/h8-knobs-shot "$out/knobs.png"
build/default/tools/screenshot/h8-status-shot "$out/status.png"
build/default/tools/screenshot/h8-panel-shot "$out/panel-stack.png" stack
build/default/tools/screenshot/h8-panel-shot "$out/panel-matrix.png" matrix
echo "Screenshots in $out"
