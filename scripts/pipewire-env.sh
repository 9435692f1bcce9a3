#!/usr/bin/env bash
# A private, headless PipeWire stack for the tests: a session bus, pipewire and wireplumber,
# all living in one folder, plus a fake 16-channel USB interface input fed from a FIFO.
#
#   scripts/pipewire-env.sh start DIR   starts the stack in DIR (created if missing), waits until
#                                       the fake interface is visible, writes the variables the
#                                       tests need to DIR/env and prints them
#   scripts/pipewire-env.sh stop DIR    stops what `start DIR` started
#   source scripts/pipewire-env.sh start DIR
#                                       the same, and exports the variables into this shell
#
# Variables written to DIR/env:
#   H8_TEST_PIPEWIRE_DIR   DIR; the fake interface reads DIR/usb16.fifo (S16LE, 16 channels, 48 kHz)
#   PIPEWIRE_RUNTIME_DIR   DIR; PipeWire clients find the server's socket DIR/pipewire-0 through it
#   (PIPEWIRE_REMOTE is unset so that a developer's own setting cannot redirect the tests)
#
# Nothing outside DIR is touched: the runtime, config and state folders of the daemons and their
# session bus are all inside DIR, so a developer's own PipeWire keeps running undisturbed.
# Works as root without a display or a running sound server.

h8_pw_usage() {
    echo "usage: pipewire-env.sh start|stop DIR" >&2
}

# The node name of the fake interface; "usb" in it marks it as a USB device.
H8_PW_FAKE_NODE="alsa_input.usb-Fake_309c_0018_CI0001-00.multichannel-input"

h8_pw_write_config() {
    local dir=$1
    mkdir -p "$dir/config/pipewire/pipewire.conf.d" "$dir/config/wireplumber/main.lua.d" \
        "$dir/config/wireplumber/bluetooth.lua.d" "$dir/state"
    cat >"$dir/config/pipewire/pipewire.conf.d/50-fake-usb16.conf" <<EOF
# Fake 16-channel USB interface input: a source node fed from a FIFO.
context.modules = [
  { name = libpipewire-module-pipe-tunnel
    args = {
      tunnel.mode    = source
      pipe.filename  = "$dir/usb16.fifo"
      audio.format   = S16LE
      audio.rate     = 48000
      audio.channels = 16
      audio.position = [ AUX0 AUX1 AUX2 AUX3 AUX4 AUX5 AUX6 AUX7 AUX8 AUX9 AUX10 AUX11 AUX12 AUX13 AUX14 AUX15 ]
      stream.props = {
        node.name          = "$H8_PW_FAKE_NODE"
        node.description   = "Fake USB 16ch"
        media.class        = Audio/Source
        device.bus         = usb
        device.vendor.id   = "0x309c"
        device.product.id  = "0x0018"
        device.serial      = CI0001
      }
    }
  }
]
# Let the graph run at the interface's rates.
context.properties = { default.clock.allowed-rates = [ 44100 48000 88200 96000 ] }
EOF
    # The session manager must not open the machine's real sound cards, cameras or Bluetooth:
    # on a developer machine they belong to the developer's own PipeWire.
    cat >"$dir/config/wireplumber/main.lua.d/51-h8-test-monitors.lua" <<'EOF'
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
EOF
    cat >"$dir/config/wireplumber/bluetooth.lua.d/51-h8-test-monitors.lua" <<'EOF'
bluez_monitor.enabled = false
EOF
}

# True when the process in pid file $1 is running and is the program named $2 (a recycled pid
# or an exited process that nobody reaped yet does not count).
h8_pw_alive() {
    local pidfile=$1 comm=$2 pid stat
    [ -f "$pidfile" ] || return 1
    pid=$(cat "$pidfile")
    [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$comm" ] || return 1
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

# Starts program $3... in the background with its output in DIR/$2.log and records its pid in
# DIR/$2.pid. Everything the daemon looks up points into DIR $1, and the developer's own settings
# are dropped; the environment is given per command so that a sourcing shell keeps its own.
h8_pw_spawn() {
    local dir=$1 name=$2
    shift 2
    env -u PIPEWIRE_REMOTE -u PIPEWIRE_CONFIG_DIR -u PIPEWIRE_CONFIG_NAME \
        -u PIPEWIRE_CONFIG_PREFIX -u WIREPLUMBER_CONFIG_DIR -u WIREPLUMBER_DATA_DIR \
        -u PULSE_SERVER -u DISPLAY -u WAYLAND_DISPLAY \
        "XDG_RUNTIME_DIR=$dir" "PIPEWIRE_RUNTIME_DIR=$dir" \
        "XDG_CONFIG_HOME=$dir/config" "XDG_STATE_HOME=$dir/state" \
        "DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus" \
        "$@" </dev/null >"$dir/$name.log" 2>&1 &
    echo $! >"$dir/$name.pid"
}

# Written without `set -e` and without exporting anything, so that it can run in the shell that
# sources this file: the daemons are then that shell's children, and `stop` can reap them.
h8_pw_start() {
    local dir=$1 tool p
    for tool in pipewire wireplumber dbus-daemon pw-metadata; do
        if ! command -v "$tool" >/dev/null; then
            echo "pipewire-env: $tool is not installed (scripts/deps.sh installs it)" >&2
            return 1
        fi
    done
    mkdir -p "$dir" && dir=$(cd "$dir" && pwd) && chmod 700 "$dir" || return 1
    for p in dbus pipewire wireplumber; do
        if h8_pw_alive "$dir/$p.pid" "$(h8_pw_comm $p)"; then
            echo "pipewire-env: a stack is already running in $dir" >&2
            return 1
        fi
    done
    h8_pw_write_config "$dir" || return 1

    local started=$EPOCHREALTIME
    h8_pw_spawn "$dir" dbus dbus-daemon --session --nofork --nopidfile \
        --address="unix:path=$dir/bus"
    for _ in $(seq 1 200); do [ -S "$dir/bus" ] && break; sleep 0.01; done
    h8_pw_spawn "$dir" pipewire pipewire
    for _ in $(seq 1 200); do [ -S "$dir/pipewire-0" ] && break; sleep 0.01; done
    h8_pw_spawn "$dir" wireplumber wireplumber

    # Ready once the session manager has chosen the fake interface as the default input: then
    # pipewire serves the node and wireplumber is linking streams.
    local ready=0
    for _ in $(seq 1 400); do
        if PIPEWIRE_RUNTIME_DIR=$dir PIPEWIRE_REMOTE='' pw-metadata -n default 0 default.audio.source \
            2>/dev/null | grep -q "$H8_PW_FAKE_NODE"; then
            ready=1
            break
        fi
        for p in dbus pipewire wireplumber; do
            if ! h8_pw_alive "$dir/$p.pid" "$(h8_pw_comm $p)"; then
                echo "pipewire-env: $p exited; the end of its log:" >&2
                tail -n 20 "$dir/$p.log" >&2
                h8_pw_stop "$dir"
                return 1
            fi
        done
        sleep 0.025
    done
    if [ $ready -eq 0 ]; then
        echo "pipewire-env: the fake USB input did not appear within 10 s; logs in $dir" >&2
        h8_pw_stop "$dir"
        return 1
    fi
    local ms
    ms=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%d", (b - a) * 1000 }')

    cat >"$dir/env" <<EOF2
export H8_TEST_PIPEWIRE_DIR=$dir
export PIPEWIRE_RUNTIME_DIR=$dir
unset PIPEWIRE_REMOTE
EOF2
    echo "pipewire-env: PipeWire test stack ready in $dir after $ms ms" >&2
    cat "$dir/env"
}

# The process name of each daemon, as /proc shows it.
h8_pw_comm() {
    case $1 in
    dbus) echo dbus-daemon ;;
    *) echo "$1" ;;
    esac
}

h8_pw_stop() {
    local dir=$1 p comm pid
    [ -d "$dir" ] || return 0
    # Reverse order of start: clients first, the bus last.
    for p in wireplumber pipewire dbus; do
        comm=$(h8_pw_comm $p)
        if h8_pw_alive "$dir/$p.pid" "$comm"; then
            pid=$(cat "$dir/$p.pid")
            kill "$pid" 2>/dev/null
            # When another shell started the daemon, `wait` cannot reach it: poll until it is
            # gone, then force it.
            for _ in $(seq 1 200); do
                h8_pw_alive "$dir/$p.pid" "$comm" || break
                sleep 0.025
            done
            if h8_pw_alive "$dir/$p.pid" "$comm"; then
                kill -KILL "$pid" 2>/dev/null
            fi
            # Reaps it when this shell started it.
            wait "$pid" 2>/dev/null
        fi
        rm -f "$dir/$p.pid"
    done
    rm -f "$dir/env"
    return 0
}

h8_pw_main() {
    if [ $# -ne 2 ]; then
        h8_pw_usage
        return 2
    fi
    case $1 in
    start) h8_pw_start "$2" ;;
    stop) h8_pw_stop "$2" ;;
    *) h8_pw_usage; return 2 ;;
    esac
}

if [ "${BASH_SOURCE[0]}" != "$0" ]; then
    # Sourced: the daemons become this shell's children and the variables are exported here.
    h8_pw_main "$@" >/dev/null || return
    # shellcheck disable=SC1091 # DIR/env is written by start
    case $1 in
    start) . "$(cd "$2" && pwd)/env" ;;
    stop) unset H8_TEST_PIPEWIRE_DIR PIPEWIRE_RUNTIME_DIR ;;
    esac
else
    h8_pw_main "$@"
fi
