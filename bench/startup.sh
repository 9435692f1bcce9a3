#!/usr/bin/env bash
# Start-up of `h8-controller --simulate` to the first painted frame of the bound panel
# (target: under 400 ms) and its resident memory after 10 s (target: under 80 MB), offscreen.
# Usage: bench/startup.sh [RUNS]   (builds the release preset first)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
cmake --preset release >/dev/null
cmake --build --preset release --target h8-controller H8LaunchHelper >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen H8_REPORT_STARTUP=1 H8_CONFIG_DIR="$scratch/config" H8_LOG_DIR="$scratch/log"
export XDG_CONFIG_HOME="$scratch/xdg"
# A panel of its own: neither the session's bus name nor its locks, which a panel already
# running on this desktop holds (this start would only bring that one's window forward).
mkdir -m 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime" DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus"
for i in $(seq 1 "$runs"); do
    build/release/src/app/h8-controller/h8-controller --simulate --quit-after-ms 300 2>/dev/null | grep "first frame"
done
echo "after 10 s:"
build/release/src/app/h8-controller/h8-controller --simulate --quit-after-ms 10000 2>/dev/null | grep -E "first frame|resident"
