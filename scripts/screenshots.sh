#!/usr/bin/env bash
# Renders the panel's views to PNG files for checking by eye (offscreen, no display needed).
# Usage: scripts/screenshots.sh [OUTPUT_DIR]   (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
mkdir -p "$out"
cmake --preset default >/dev/null
cmake --build --preset default --target h8-widget-gallery h8-matrix-shot h8-knobs-shot h8-status-shot h8-panel-shot h8-controller
export QT_QPA_PLATFORM=offscreen
build/default/tools/screenshot/h8-widget-gallery "$out/widgets.png"
build/default/tools/screenshot/h8-matrix-shot "$out/matrix.png"
build/default/tools/screenshot/h8-knobs-shot "$out/knobs.png"
build/default/tools/screenshot/h8-status-shot "$out/status.png"
build/default/tools/screenshot/h8-panel-shot "$out/panel-stack.png" stack
build/default/tools/screenshot/h8-panel-shot "$out/panel-matrix.png" matrix
# The program itself on the emulated H8: bound, bound without a sound server, unplugged, and the
# two permission alerts.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# On a 1920 × 1080 screen (the offscreen platform's own is 800 × 600, where the panel would
# scroll).
printf '{ "screens": [ { "name": "hd", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "dpr": 1 } ] }\n' \
    >"$scratch/screen.json"
export QT_QPA_PLATFORM="offscreen:configfile=$scratch/screen.json"
# A panel of its own: neither the session's bus name nor its locks, which a panel already
# running on this desktop holds (this start would only bring that one's window forward).
mkdir -m 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime" DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus"
app=build/default/src/app/h8-controller/h8-controller
# In English and in Chinese.
for lang in en:C.UTF-8 zh:zh_CN.UTF-8; do
    printf 'wait-bound 5000\nwait 800\nscreenshot %s\nquit\n' "$out/app-bound-${lang%%:*}.png" > "$scratch/bound.txt"
    env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG="${lang#*:}" H8_CONFIG_DIR="$scratch/config" \
        H8_LOG_DIR="$scratch/log" "$app" --simulate --automation "$scratch/bound.txt"
done
# Bound on USB alone, as on a desktop without a sound server: no meters, no rate.
printf 'wait-bound 5000\nwait 800\nscreenshot %s\nquit\n' "$out/app-no-sound-server.png" > "$scratch/nosrv.txt"
H8_CONFIG_DIR="$scratch/config" H8_LOG_DIR="$scratch/log" "$app" --simulate --no-sound-server --automation "$scratch/nosrv.txt"
printf 'wait 200\nscreenshot %s\nquit\n' "$out/app-disconnected.png" > "$scratch/none.txt"
H8_CONFIG_DIR="$scratch/config" H8_LOG_DIR="$scratch/log" "$app" --automation "$scratch/none.txt" || true
# An H8 this user may not open (no udev rule yet), in English: the view says how to mend it.
printf 'wait 800\nscreenshot %s\nquit\n' "$out/app-no-usb-access.png" > "$scratch/noaccess.txt"
env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=C.UTF-8 H8_SIMULATE_FAULT=denied \
    H8_CONFIG_DIR="$scratch/config" H8_LOG_DIR="$scratch/log" "$app" --simulate --automation "$scratch/noaccess.txt"
# Preferences that cannot be saved (a full disk), in English: a route dragged is kept in memory,
# and the window says why it cannot be written.
printf 'wait-bound 5000\nwait-menu 5000\nfail-writes ENOSPC\ndrag 1 5\nwait 800\nscreenshot %s\nfail-writes off\nquit\n' \
    "$out/app-settings-not-saved.png" > "$scratch/nosave.txt"
env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=C.UTF-8 H8_CONFIG_DIR="$scratch/config" \
    H8_LOG_DIR="$scratch/log" "$app" --simulate="$scratch/nosave/h8.json" --automation "$scratch/nosave.txt"
for outcome in denied restricted; do
    printf 'wait 800\nscreenshot-alert %s\nquit\n' "$out/alert-$outcome.png" > "$scratch/$outcome.txt"
    H8_MIC_AUTH=$outcome H8_CONFIG_DIR="$scratch/config" H8_LOG_DIR="$scratch/log" "$app" --simulate --automation "$scratch/$outcome.txt"
done
# Screens smaller than the window, under a real X server without a window manager: 1366 × 768,
# and 1920 × 1080 at 150 % (1280 × 720 for the program). The panel scrolls inside a window that
# fits the screen; the second shot of each is scrolled to the bottom (the status bar).
small_screen() {  # SIZE NAME [VAR=VALUE...]
    local size=$1 name=$2 display xvfb
    shift 2
    : > "$scratch/display"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$scratch/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 200); do [ -s "$scratch/display" ] && break; sleep 0.05; done
    display=$(head -n1 "$scratch/display")
    printf 'wait-bound 5000\nwait 800\nprint-fit\nscreenshot %s\nscroll bottom\nwait 300\nscreenshot %s\nquit\n' \
        "$out/app-$name.png" "$out/app-$name-bottom.png" > "$scratch/$name.txt"
    local status=0
    env "$@" DISPLAY=":$display" QT_QPA_PLATFORM=xcb H8_CONFIG_DIR="$scratch/config" \
        H8_LOG_DIR="$scratch/log" "$app" --simulate --automation "$scratch/$name.txt" || status=$?
    kill "$xvfb"
    wait "$xvfb" 2>/dev/null || true
    return "$status"
}
if command -v Xvfb >/dev/null; then
    small_screen 1366x768 screen-1366x768
    small_screen 1920x1080 screen-1920x1080-150 QT_SCALE_FACTOR=1.5
else
    echo "No Xvfb (package xvfb): no shots on small screens" >&2
fi
echo "Screenshots in $out"
