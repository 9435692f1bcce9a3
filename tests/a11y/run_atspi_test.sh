#!/usr/bin/env bash
# Runs atspi_client.py against the real panel as a screen reader meets it: its own X server
# (Xvfb), a session bus, the accessibility bus of at-spi2-core, and `h8-controller --simulate`
# in English with Qt's AT-SPI bridge on. Everything it starts is stopped on exit.
# Usage: run_atspi_test.sh PATH_TO_H8_CONTROLLER
set -euo pipefail
panel=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb dbus-run-session /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "run_atspi_test.sh: $tool is missing" >&2; exit 1; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
    { echo "run_atspi_test.sh: python3-pyatspi is missing" >&2; exit 1; }

if [[ -z ${H8_ATSPI_INNER:-} ]]; then
    # Once more inside a private session bus.
    H8_ATSPI_INNER=1 exec dbus-run-session -- "$0" "$@"
fi

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset LANGUAGE LC_ALL LC_MESSAGES
export LANG=en_US.UTF-8

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 10 -u "$displayfd" display || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$scratch/atspi.log" 2>&1 &
pids+=($!)

QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    "$panel" --simulate="$scratch/emulated-h8.json" >"$scratch/panel.log" 2>&1 &
pids+=($!)

status=0
timeout 120 /usr/bin/python3 "$here/atspi_client.py" "$scratch/emulated-h8.json" || status=$?
if [[ $status != 0 ]]; then
    echo "--- panel output" >&2
    tail -30 "$scratch/panel.log" >&2
fi
exit $status
