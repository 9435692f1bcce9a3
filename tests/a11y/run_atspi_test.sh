#!/usr/bin/env bash
# Runs atspi_client.py against the real panel as a screen reader meets it: its own X server
# (Xvfb), a session bus, the accessibility bus of at-spi2-core, and `h8-controller --simulate`
# in English with Qt's AT-SPI bridge on. Everything it starts is stopped on exit.
# Usage: run_atspi_test.sh PATH_TO_H8_CONTROLLER
set -euo pipefail
panel=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xdpyinfo dbus-run-session /usr/libexec/at-spi-bus-launcher; do
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

# Xvfb names its display when it starts listening; the panel starts only once a client has
# actually been answered there. -noreset: by default the server resets when its last client
# leaves (xdpyinfo here, or at-spi-bus-launcher publishing its address on the root window),
# and a panel connecting during that reset finds no display (seen on CI, 1 run in 8 here).
start_xvfb() {
    local displayfd display pid
    exec {displayfd}<> <(:)
    Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp -noreset >>"$scratch/xvfb.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    read -r -t 10 -u "$displayfd" display || return 1
    exec {displayfd}>&-
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || return 1
        if xdpyinfo -display ":$display" >/dev/null 2>&1; then
            export DISPLAY=:$display
            return 0
        fi
        sleep 0.1
    done
    return 1
}
if ! start_xvfb; then
    echo "Xvfb did not start; its output:" >&2
    cat "$scratch/xvfb.log" >&2
    exit 1
fi

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
    echo "--- X server output" >&2
    tail -30 "$scratch/xvfb.log" >&2
fi
exit $status
