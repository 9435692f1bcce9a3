#!/usr/bin/env bash
# The panel's tray icon as a real tray host draws it, for checking by eye: Xfce's panel (its
# status tray hosts StatusNotifierItems) on its own Xvfb and session bus, the panel started in
# the background on the emulated H8, then the icon's tooltip, its menu (right button) and the
# window the icon brings back (left button), on a 1366 × 768 screen.
# Usage: scripts/tray-screenshots.sh [OUTPUT_DIR]   (default: build/screenshots)
# Needs: apt-get install xvfb x11-utils xfce4-panel dbus-x11 xdotool imagemagick
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshots}")
mkdir -p "$out"
for tool in Xvfb xdpyinfo xfce4-panel dbus-launch xdotool import; do
    command -v "$tool" >/dev/null || {
        echo "tray-screenshots.sh: $tool is needed (apt-get install xvfb x11-utils xfce4-panel dbus-x11 xdotool imagemagick)" >&2
        exit 1
    }
done
cmake --preset default >/dev/null
cmake --build --preset default --target h8-controller >/dev/null
app=$PWD/build/default/src/app/h8-controller/h8-controller

scratch=$(mktemp -d)
pids=()
stop() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap stop EXIT

# A display, a session bus, config and state of their own.
display=:$((90 + RANDOM % 100))
mkdir -m 700 "$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config" XDG_STATE_HOME="$scratch/state" XDG_RUNTIME_DIR="$scratch/runtime"
export H8_CONFIG_DIR="$scratch/h8-config" H8_LOG_DIR="$scratch/h8-log" DISPLAY=$display
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp -noreset >"$scratch/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "tray-screenshots.sh: Xvfb did not start" >&2; exit 1; }
eval "$(dbus-launch --sh-syntax)"
pids+=("$DBUS_SESSION_BUS_PID")

# One panel along the top with the status tray only.
channel="$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
mkdir -p "$channel"
cat >"$channel/xfce4-panel.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
EOF
xfce4-panel --disable-wm-check >"$scratch/xfce4-panel.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -q 'boolean true' && break
    sleep 0.1
done

QT_QPA_PLATFORM=xcb "$app" --simulate --background >"$scratch/app.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do grep -q 'The desktop has a tray' "$scratch/app.log" && break; sleep 0.1; done
grep -q 'The desktop has a tray' "$scratch/app.log" || {
    echo "tray-screenshots.sh: the panel found no tray:" >&2
    cat "$scratch/app.log" "$scratch/xfce4-panel.log" >&2
    exit 1
}
# The host draws the icon at the start of its tray, in the panel's first 32 pixels: the
# screenshots leave time for it to fetch the icon, the tooltip and the menu over the bus.
sleep 2
import -window root "$out/tray-icon.png"
xdotool mousemove 200 300 sleep 0.3 mousemove 12 16 sleep 2.5
import -window root "$out/tray-tooltip.png"
xdotool click 3 sleep 1.5
import -window root "$out/tray-menu.png"
xdotool key Escape sleep 0.5 mousemove 12 16 click 1 sleep 2
import -window root "$out/tray-window-shown.png"
echo "tray-screenshots.sh: $out/tray-icon.png, tray-tooltip.png, tray-menu.png, tray-window-shown.png"
