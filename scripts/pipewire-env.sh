#!/usr/bin/env bash
# A private, headless PipeWire stack for the tests: a session bus, pipewire, wireplumber and a
# fake-card program, all living in one folder. The fake card (tests/pipewire/fake-card/, compiled
# into the folder on first use) presents two USB sound cards the way the session manager's ALSA
# monitor presents real ones: an Audio/Device object each, then its nodes, whose device.id is
# that device's global id. A webcam microphone comes first (2 channels, fed from DIR/webcam.fifo),
# then the H8, with a 2-channel playback node and an input node that follows its profile:
#   16   (at start)  16 channels, fed from DIR/usb16.fifo
#   2                2 channels, fed from DIR/usb2.fifo
#   off              no nodes; the device stays
# The FIFOs take S16LE at 48 kHz. Like ALSA nodes, the nodes take a runtime "audio.rate" in their
# Props param and report it back (0 until set: the server chooses). DIR/card.state says what the
# card shows, in one line:
#   profile=16 plugged=1 h8_device=ID h8_node=ID|none h8_rate=R|none h8_out_node=ID|none
#   h8_out_rate=R|none webcam_device=ID webcam_node=ID webcam_rate=R webcam_rate_writes=N
#   second_device=ID|none second_node=ID|none connected=1 generation=N
# (second_*: a second H8, another unit on another port, absent until `second-plug`;
# webcam_rate_writes counts the Props writes naming "audio.rate" that the webcam's node has
# received).
#
#   scripts/pipewire-env.sh start DIR   starts the stack in DIR (created if missing), waits until
#                                       the H8 input is there and the session manager has chosen
#                                       a default input, writes the variables the tests need to
#                                       DIR/env and prints them
#   scripts/pipewire-env.sh stop DIR    stops what `start DIR` started
#   scripts/pipewire-env.sh profile DIR 2|16|off
#                                       switches the H8's profile, as a desktop's sound settings
#                                       do, and waits until the card shows it
#   scripts/pipewire-env.sh unplug DIR
#   scripts/pipewire-env.sh plug DIR    takes the H8 away (its nodes, then its device) or brings it
#                                       back with new ids, as a re-plug does, and waits until the
#                                       card shows it
#   scripts/pipewire-env.sh second-plug DIR
#   scripts/pipewire-env.sh second-unplug DIR
#                                       plugs in a second H8 (serial 5678EF01 on port 2; the first
#                                       is on port 1) with a 2-channel input fed from
#                                       DIR/second.fifo, or takes it away, and waits until the card
#                                       shows it
#   scripts/pipewire-env.sh stop-server DIR
#                                       stops wireplumber and pipewire only; the card keeps
#                                       running, shows connected=0 and keeps trying to reconnect
#   scripts/pipewire-env.sh start-server DIR
#                                       starts them again and waits as `start` does; the card
#                                       exports everything again, with new ids
#   scripts/pipewire-env.sh restart-server DIR
#                                       both
#   source scripts/pipewire-env.sh start DIR
#                                       the same as start, and exports the variables into this shell
#
# Every subcommand works on a stack that another process started: the processes are found
# through their pid files in DIR.
#
# Variables written to DIR/env:
#   H8_TEST_PIPEWIRE_DIR   DIR, which holds the FIFOs, card.state and card.ctl
#   PIPEWIRE_RUNTIME_DIR   DIR; PipeWire clients find the server's socket DIR/pipewire-0 through it
#   (PIPEWIRE_REMOTE is unset so that a developer's own setting cannot redirect the tests)
#
# Nothing outside DIR is touched: the runtime, config and state folders of the daemons and their
# session bus are all inside DIR, so a developer's own PipeWire keeps running undisturbed.
# Works as root without a display or a running sound server.

# This script's folder, for the fake card's source. Taken when the file is read, since a shell
# that sources it may change its folder later.
H8_PW_SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

h8_pw_usage() {
    echo "usage: pipewire-env.sh start|stop|stop-server|start-server|restart-server|unplug|plug|second-plug|second-unplug DIR" >&2
    echo "       pipewire-env.sh profile DIR 2|16|off" >&2
}

h8_pw_write_config() {
    local dir=$1
    mkdir -p "$dir/config/pipewire/pipewire.conf.d" "$dir/config/wireplumber/main.lua.d" \
        "$dir/config/wireplumber/bluetooth.lua.d" "$dir/state"
    # Older stacks declared a fake input of their own in this file.
    rm -f "$dir/config/pipewire/pipewire.conf.d/50-fake-usb16.conf"
    cat >"$dir/config/pipewire/pipewire.conf.d/50-h8-test-rates.conf" <<'EOF'
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

# Compiles the fake card into DIR/h8-fake-card, unless that copy is newer than its source.
h8_pw_build_card() {
    local dir=$1 src="$H8_PW_SCRIPT_DIR/../tests/pipewire/fake-card/h8-fake-card.c" flags
    if [ ! -f "$src" ]; then
        echo "pipewire-env: $src is missing" >&2
        return 1
    fi
    [ -x "$dir/h8-fake-card" ] && [ "$dir/h8-fake-card" -nt "$src" ] && return 0
    if ! flags=$(pkg-config --cflags --libs libpipewire-0.3); then
        echo "pipewire-env: libpipewire-0.3 is not installed (scripts/deps.sh installs it)" >&2
        return 1
    fi
    # shellcheck disable=SC2086 # the flags are several words
    if ! cc -std=c11 -Wall -Wextra -Werror -O1 -o "$dir/h8-fake-card.new" "$src" $flags -lm; then
        echo "pipewire-env: the fake card did not compile" >&2
        rm -f "$dir/h8-fake-card.new"
        return 1
    fi
    mv -f "$dir/h8-fake-card.new" "$dir/h8-fake-card"
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

# The process name of each part, as /proc shows it.
h8_pw_comm() {
    case $1 in
    dbus) echo dbus-daemon ;;
    card) echo h8-fake-card ;;
    *) echo "$1" ;;
    esac
}

# True when part $2 of the stack in DIR $1 is running.
h8_pw_running() {
    h8_pw_alive "$1/$2.pid" "$(h8_pw_comm "$2")"
}

# Starts program $3... in the background with its output in DIR/$2.log and records its pid in
# DIR/$2.pid. Everything the program looks up points into DIR $1, and the developer's own
# settings are dropped (a test's preloaded libraries too); the environment is given per command
# so that a sourcing shell keeps its own.
h8_pw_spawn() {
    local dir=$1 name=$2
    shift 2
    env -u PIPEWIRE_REMOTE -u PIPEWIRE_CONFIG_DIR -u PIPEWIRE_CONFIG_NAME \
        -u PIPEWIRE_CONFIG_PREFIX -u WIREPLUMBER_CONFIG_DIR -u WIREPLUMBER_DATA_DIR \
        -u PULSE_SERVER -u DISPLAY -u WAYLAND_DISPLAY -u LD_PRELOAD \
        "XDG_RUNTIME_DIR=$dir" "PIPEWIRE_RUNTIME_DIR=$dir" \
        "XDG_CONFIG_HOME=$dir/config" "XDG_STATE_HOME=$dir/state" \
        "DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus" \
        "$@" </dev/null >"$dir/$name.log" 2>&1 &
    echo $! >"$dir/$name.pid"
}

# Stops part $2 of the stack in DIR $1, if it runs.
h8_pw_stop_one() {
    local dir=$1 p=$2 comm pid
    comm=$(h8_pw_comm "$p")
    if h8_pw_alive "$dir/$p.pid" "$comm"; then
        pid=$(cat "$dir/$p.pid")
        # `|| true` throughout: a sourcing shell may run this under `set -e`, from its exit trap.
        kill "$pid" 2>/dev/null || true
        # When another shell started it, `wait` cannot reach it: poll until it is gone, then
        # force it.
        for _ in $(seq 1 200); do
            h8_pw_alive "$dir/$p.pid" "$comm" || break
            sleep 0.025
        done
        if h8_pw_alive "$dir/$p.pid" "$comm"; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
        # Reaps it when this shell started it.
        wait "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/$p.pid"
}

# The card's state line with a space at each end, so that " key=value " matches whole fields;
# "missing" without the file.
h8_pw_card_state() {
    local line
    line=$(cat "$1/card.state" 2>/dev/null) || line=missing
    echo " $line "
}

# Waits until the server runs with everything in place: the card is connected and shows the
# H8's input (unless its profile is off or it is unplugged), and the session manager has chosen
# a default input,
# so it is linking streams. $2 names what is awaited in messages. On failure, says why and
# returns 1; the caller stops what it started.
h8_pw_wait_ready() {
    local dir=$1 what=$2 state p metadata
    for _ in $(seq 1 400); do
        state=$(h8_pw_card_state "$dir")
        if [[ $state == *" connected=1 "* ]] &&
            [[ $state == *" profile=off "* || $state == *" plugged=0 "* ||
                $state =~ \ h8_node=[0-9]+\  ]]; then
            # Read whole rather than piped into `grep -q`, which a caller's pipefail would fail.
            metadata=$(PIPEWIRE_RUNTIME_DIR=$dir PIPEWIRE_REMOTE='' pw-metadata -n default 0 \
                default.audio.source 2>/dev/null)
            [[ $metadata == *"key:'default.audio.source'"* ]] && return 0
        fi
        for p in dbus pipewire wireplumber card; do
            if ! h8_pw_running "$dir" $p; then
                echo "pipewire-env: $p exited; the end of its log:" >&2
                tail -n 20 "$dir/$p.log" >&2
                return 1
            fi
        done
        sleep 0.025
    done
    echo "pipewire-env: $what not ready within 10 s (card.state:${state% }); logs in $dir" >&2
    return 1
}

h8_pw_elapsed_ms() {
    awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%d", (b - a) * 1000 }'
}

# Starts pipewire, then wireplumber.
h8_pw_spawn_server() {
    local dir=$1
    h8_pw_spawn "$dir" pipewire pipewire
    for _ in $(seq 1 200); do [ -S "$dir/pipewire-0" ] && break; sleep 0.01; done
    h8_pw_spawn "$dir" wireplumber wireplumber
}

# Written without `set -e` and without exporting anything, so that it can run in the shell that
# sources this file: the processes are then that shell's children, and `stop` can reap them.
h8_pw_start() {
    local dir=$1 tool p started
    for tool in pipewire wireplumber dbus-daemon pw-metadata cc pkg-config; do
        if ! command -v "$tool" >/dev/null; then
            echo "pipewire-env: $tool is not installed (scripts/deps.sh installs it)" >&2
            return 1
        fi
    done
    mkdir -p "$dir" && dir=$(cd "$dir" && pwd) && chmod 700 "$dir" || return 1
    for p in dbus pipewire wireplumber card; do
        if h8_pw_running "$dir" $p; then
            echo "pipewire-env: a stack is already running in $dir" >&2
            return 1
        fi
    done
    h8_pw_write_config "$dir" || return 1
    started=$EPOCHREALTIME
    h8_pw_build_card "$dir" || return 1
    local built_ms
    built_ms=$(h8_pw_elapsed_ms "$started")

    started=$EPOCHREALTIME
    h8_pw_spawn "$dir" dbus dbus-daemon --session --nofork --nopidfile \
        --address="unix:path=$dir/bus"
    for _ in $(seq 1 200); do [ -S "$dir/bus" ] && break; sleep 0.01; done
    h8_pw_spawn_server "$dir"
    # A card.state left by an earlier card would look ready.
    rm -f "$dir/card.state"
    h8_pw_spawn "$dir" card "$dir/h8-fake-card" "$dir"
    if ! h8_pw_wait_ready "$dir" "the stack"; then
        h8_pw_stop "$dir"
        return 1
    fi

    cat >"$dir/env" <<EOF
export H8_TEST_PIPEWIRE_DIR=$dir
export PIPEWIRE_RUNTIME_DIR=$dir
unset PIPEWIRE_REMOTE
EOF
    echo "pipewire-env: PipeWire test stack ready in $dir after $(h8_pw_elapsed_ms "$started") ms" \
        "(fake card build: $built_ms ms)" >&2
    cat "$dir/env"
}

h8_pw_stop() {
    local dir=$1 p
    [ -d "$dir" ] || return 0
    # Reverse order of start: clients first, the bus last.
    for p in card wireplumber pipewire dbus; do
        h8_pw_stop_one "$dir" $p
    done
    rm -f "$dir/env"
    return 0
}

# Stops the sound server and its session manager, and waits until the card has noticed.
h8_pw_stop_server() {
    local dir=$1
    h8_pw_stop_one "$dir" wireplumber
    h8_pw_stop_one "$dir" pipewire
    h8_pw_running "$dir" card || return 0
    for _ in $(seq 1 200); do
        [[ $(h8_pw_card_state "$dir") == *" connected=0 "* ]] && return 0
        sleep 0.025
    done
    echo "pipewire-env: the card did not notice that the server stopped within 5 s" >&2
    return 1
}

h8_pw_start_server() {
    local dir=$1 p started
    for p in dbus card; do
        if ! h8_pw_running "$dir" $p; then
            echo "pipewire-env: no stack in $dir ($p is not running); use start" >&2
            return 1
        fi
    done
    for p in pipewire wireplumber; do
        if h8_pw_running "$dir" $p; then
            echo "pipewire-env: $p is already running in $dir" >&2
            return 1
        fi
    done
    started=$EPOCHREALTIME
    h8_pw_spawn_server "$dir"
    if ! h8_pw_wait_ready "$dir" "the restarted server"; then
        h8_pw_stop_one "$dir" wireplumber
        h8_pw_stop_one "$dir" pipewire
        return 1
    fi
    echo "pipewire-env: PipeWire server back in $dir after $(h8_pw_elapsed_ms "$started") ms" >&2
}

# Sends the card the command $2 and waits (at most 5 s) until the predicate $3 holds for the
# card's state line (passed as its argument, connected to the server).
h8_pw_tell_card() {
    local dir=$1 command=$2 shows=$3 fd state
    if ! h8_pw_running "$dir" card; then
        echo "pipewire-env: no fake card runs in $dir" >&2
        return 1
    fi
    # Opening a FIFO for reading and writing never blocks, even if the card just exited.
    exec {fd}<>"$dir/card.ctl" || return 1
    echo "$command" >&"$fd"
    exec {fd}>&-
    for _ in $(seq 1 200); do
        state=$(h8_pw_card_state "$dir")
        if [[ $state == *" connected=1 "* ]] && "$shows" "$state"; then
            return 0
        fi
        sleep 0.025
    done
    echo "pipewire-env: the card did not show \"$command\" within 5 s" \
        "(card.state:${state% }; log: $dir/card.log)" >&2
    return 1
}

# Asks the card for H8 profile $2 and waits until it shows it.
h8_pw_profile() {
    local dir=$1
    H8_PW_PROFILE=$2
    case $H8_PW_PROFILE in
    2 | 16 | off) ;;
    *) h8_pw_usage; return 2 ;;
    esac
    h8_pw_tell_card "$dir" "profile $H8_PW_PROFILE" h8_pw_shows_profile
}
h8_pw_shows_profile() {
    [[ $1 == *" profile=$H8_PW_PROFILE "* ]] &&
        [[ $H8_PW_PROFILE == off || $1 == *" plugged=0 "* || $1 =~ \ h8_node=[0-9]+\  ]]
}

# Unplugs (`unplug`) or re-plugs (`plug`) the H8 and waits until the card shows it: unplugged,
# no device; plugged, a device and, unless the profile is off, an input node.
h8_pw_plug() {
    h8_pw_tell_card "$1" "$2" "h8_pw_shows_$2"
}
h8_pw_shows_unplug() {
    [[ $1 == *" plugged=0 "* && $1 == *" h8_device=none "* ]]
}
h8_pw_shows_plug() {
    [[ $1 == *" plugged=1 "* && $1 =~ \ h8_device=[0-9]+\  ]] &&
        [[ $1 == *" profile=off "* || $1 =~ \ h8_node=[0-9]+\  ]]
}

# Plugs in (`plug`) or takes away (`unplug`) the second H8 and waits until the card shows it.
h8_pw_second() {
    h8_pw_tell_card "$1" "second $2" "h8_pw_shows_second_$2"
}
h8_pw_shows_second_unplug() {
    [[ $1 == *" second_device=none "* ]]
}
h8_pw_shows_second_plug() {
    [[ $1 =~ \ second_node=[0-9]+\  ]]
}

h8_pw_main() {
    local cmd=${1:-}
    if [ "$cmd" = profile ] && [ $# -eq 3 ]; then
        h8_pw_profile "$2" "$3"
        return
    fi
    if [ $# -ne 2 ]; then
        h8_pw_usage
        return 2
    fi
    case $cmd in
    start) h8_pw_start "$2" ;;
    stop) h8_pw_stop "$2" ;;
    stop-server) h8_pw_stop_server "$2" ;;
    start-server) h8_pw_start_server "$2" ;;
    restart-server) h8_pw_stop_server "$2" && h8_pw_start_server "$2" ;;
    unplug | plug) h8_pw_plug "$2" "$cmd" ;;
    second-plug | second-unplug) h8_pw_second "$2" "${cmd#second-}" ;;
    *) h8_pw_usage; return 2 ;;
    esac
}

if [ "${BASH_SOURCE[0]}" != "$0" ]; then
    # Sourced: the processes become this shell's children and the variables are exported here.
    h8_pw_main "$@" >/dev/null || return
    # shellcheck disable=SC1091 # DIR/env is written by start
    case $1 in
    start) . "$(cd "$2" && pwd)/env" ;;
    stop) unset H8_TEST_PIPEWIRE_DIR PIPEWIRE_RUNTIME_DIR ;;
    esac
else
    h8_pw_main "$@"
fi
