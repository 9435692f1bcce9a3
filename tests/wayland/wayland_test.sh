#!/usr/bin/env bash
# The panel native on Wayland: `h8-controller --simulate` under weston's headless backend (its
# pixman renderer, so that the compositor holds real pixels), with Qt's Wayland platform. The
# meters tick (twenty ticks that move a bar, painted straight into the window's buffer), then a last tick
# paints them empty and the meter clock stops; the compositor's own capture of the screen
# (weston-screenshooter, allowed by --debug) must then show, where the window is, exactly what
# a full repaint of the window draws (the panel's `screenshot`). Then the window is minimized,
# which a Wayland client learns only as a loss of exposure: the panel must find itself out of
# sight (no meters, capture or poll). Everything it starts is stopped on exit.
# Usage: wayland_test.sh PATH_TO_H8_CONTROLLER PATH_TO_H8_IMAGE_FIND
# H8_WAYLAND_KEEP=DIR keeps the compositor's capture there (and, when they differ, the window's own
# picture and the difference).
set -euo pipefail
panel=$1
find_image=$2
for tool in weston weston-screenshooter; do
    command -v "$tool" >/dev/null || { echo "wayland_test.sh: $tool is missing (apt-get install weston)" >&2; exit 1; }
done
[[ -e /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so ]] ||
    ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
    { echo "wayland_test.sh: Qt's Wayland platform is missing (apt-get install qt6-wayland)" >&2; exit 1; }

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -m 700 "$scratch/run"
export XDG_RUNTIME_DIR=$scratch/run WAYLAND_DISPLAY=h8-wayland-test
unset DISPLAY
export XDG_CONFIG_HOME=$scratch/xdg-config XDG_STATE_HOME=$scratch/state
export H8_CONFIG_DIR=$scratch/config H8_LOG_DIR=$scratch/logs
export DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus"
unset LANGUAGE LC_ALL LC_MESSAGES
export LANG=C.UTF-8

weston --backend=headless-backend.so --use-pixman --width=1280 --height=1024 \
    --socket="$WAYLAND_DISPLAY" --idle-time=0 --debug >"$scratch/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 200); do
    [[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] && break
    kill -0 "${pids[0]}" 2>/dev/null || { echo "weston ended:"; cat "$scratch/weston.log"; exit 1; }
    sleep 0.05
done
[[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] || { echo "weston did not start:"; cat "$scratch/weston.log"; exit 1; }

cat >"$scratch/script.txt" <<SCRIPT
wait-bound 20000
wait-menu 20000
wait-ticks 20 20000
meters 0
wait-presented 20000
print ready
wait-file $scratch/go 60000
screenshot $scratch/window.png
meters 1
minimize
wait-unseen 20000
print unseen
quit
SCRIPT
QT_QPA_PLATFORM=wayland "$panel" --simulate="$scratch/h8.json" --automation "$scratch/script.txt" \
    >"$scratch/panel.log" 2>&1 &
pids+=($!)
panel_pid=$!
for _ in $(seq 1 600); do
    grep -q '^ready' "$scratch/panel.log" && break
    kill -0 "$panel_pid" 2>/dev/null || { echo "the panel ended early:"; cat "$scratch/panel.log"; exit 1; }
    sleep 0.05
done
grep -q '^ready' "$scratch/panel.log" || { echo "the panel did not get ready:"; cat "$scratch/panel.log"; exit 1; }

(cd "$scratch" && weston-screenshooter) || { echo "weston-screenshooter failed"; cat "$scratch/weston.log"; exit 1; }
capture=$(ls "$scratch"/wayland-screenshot*.png)
touch "$scratch/go"
wait "$panel_pid" || { echo "the panel quit with $?:"; cat "$scratch/panel.log"; exit 1; }
[[ -s $scratch/window.png ]] || { echo "the panel saved no picture of itself"; exit 1; }
if ! result=$(QT_QPA_PLATFORM=offscreen "$find_image" "$capture" "$scratch/window.png" "$scratch/diff.png" 2>/dev/null); then
    echo "on the compositor's screen the window is not what a full repaint draws: $result"
    [[ -n ${H8_WAYLAND_KEEP:-} ]] && cp "$capture" "$scratch/window.png" "$scratch/diff.png" "$H8_WAYLAND_KEEP"/
    exit 1
fi
[[ -n ${H8_WAYLAND_KEEP:-} ]] && cp "$capture" "$H8_WAYLAND_KEEP"/
echo "wayland_test: the window on weston equals a full repaint ($result)"
# Minimized, the window is out of sight (Wayland says so only through exposure): the meters, the
# capture and the poll stop.
grep -q '^unseen' "$scratch/panel.log" || { echo "minimized, the window stayed in sight:"; cat "$scratch/panel.log"; exit 1; }
echo "wayland_test: minimized, nobody sees the window and its meters, capture and poll stop"
