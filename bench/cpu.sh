#!/usr/bin/env bash
# CPU use of `h8-controller --simulate` (release build) as a user runs it: bound to the emulated
# H8, meters moving, hardware poll running, on a real X11 connection (its own Xvfb). After a
# warm-up it reads the CPU time of the process and of each of its threads over a window of
# wall time and prints them as % of one core, with each thread's wake-ups per second and the X
# server's CPU (target: the whole process under 1 %). At the end it prints what a bare Qt window
# changing 20 times a second costs on the same kind of server (bench/frame_cost.cpp) and what an
# idle thread waking 20 times a second costs on this machine (bench/wake_cost.cpp), to tell the
# panel's own work from the price of a frame and of a wake-up.
# Usage: bench/cpu.sh [SECONDS [WARMUP_SECONDS [RUNS]]]   (defaults 10, 5 and 1; builds the
#        release preset first). With several runs it also prints the median of the per-thread
#        sums (in nanoseconds; the process figure counts whole clock ticks).
#   H8_CPU_NO_BUILD=1      measure the binary as it is
#   H8_CPU_BINARY=PATH     measure another build of h8-controller (implies H8_CPU_NO_BUILD)
#   H8_CPU_ARGS="..."      more arguments for h8-controller
#   H8_CPU_SCREENSHOT=FILE saves the screen at the end of the (last) window, to look at
#   H8_CPU_WAYLAND=1       runs it on Wayland instead (weston's headless backend, Qt's Wayland
#                          platform); "X server" then means weston
#   H8_CPU_WESTON_RENDERER=--use-gl (default)|--use-pixman
#                          weston's renderer: GL releases the window's buffers once it has
#                          them, as desktop compositors do; pixman holds each until the next, so
#                          Qt copies the whole window into a fresh buffer at every frame
#   H8_CPU_WESTON_ARGS     more arguments for weston
set -euo pipefail
cd "$(dirname "$0")/.."
window=${1:-10}
warmup=${2:-5}
runs=${3:-1}
binary=${H8_CPU_BINARY:-build/release/src/app/h8-controller/h8-controller}
if [[ -z ${H8_CPU_NO_BUILD:-} && -z ${H8_CPU_BINARY:-} ]]; then
    cmake --preset release >/dev/null
    cmake --build --preset release --target h8-controller wake_cost frame_cost >/dev/null
fi
if [[ -n ${H8_CPU_WAYLAND:-} ]]; then
    command -v weston >/dev/null || { echo "cpu.sh: weston is needed (apt-get install weston qt6-wayland)" >&2; exit 1; }
else
    command -v Xvfb >/dev/null || { echo "cpu.sh: Xvfb is needed (apt-get install xvfb)" >&2; exit 1; }
fi
if [[ -n ${H8_CPU_SCREENSHOT:-} ]] && ! command -v import >/dev/null; then
    echo "cpu.sh: H8_CPU_SCREENSHOT needs ImageMagick's import (apt-get install imagemagick)" >&2
    exit 1
fi

scratch=$(mktemp -d)
xvfb_pid=""
app_pid=""
stop() {
    if [[ -n $app_pid ]]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
    if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    app_pid="" xvfb_pid=""
}
trap 'stop; rm -rf "$scratch"' EXIT

# Per thread: nanoseconds on a CPU (schedstat) and the times it went to sleep (voluntary context
# switches: each is a wake-up later); for the whole process also utime + stime in clock ticks
# (stat), which keeps the time of threads that ended within the window; and the X server's.
sample() {
    local out=$1
    : >"$out"
    for task in /proc/"$app_pid"/task/*; do
        local tid=${task##*/} comm ns sleeps
        comm=$(tr ' ' '_' <"$task/comm" 2>/dev/null) || continue
        ns=$(cut -d' ' -f1 "$task/schedstat" 2>/dev/null) || continue
        sleeps=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status" 2>/dev/null) || continue
        echo "thread $tid $comm $ns $sleeps" >>"$out"
    done
    # utime and stime: fields 14 and 15, i.e. 12 and 13 after the command name in parentheses.
    sed 's/^.*) //' /proc/"$app_pid"/stat | awk '{print "process", $12 + $13}' >>"$out"
    sed 's/^.*) //' /proc/"$xvfb_pid"/stat | awk '{print "xserver", $12 + $13}' >>"$out"
    echo "wall $(date +%s%N)" >>"$out"
}

report() {
    awk -v tck="$(getconf CLK_TCK)" -v pid="$app_pid" -v server="$server_name" '
        FNR == 1 { file++ }
        $1 == "thread" && file == 1 { ns0[$2] = $4; sleeps0[$2] = $5 }
        $1 == "thread" && file == 2 { ns1[$2] = $4; sleeps1[$2] = $5; name[$2] = $3 }
        $1 == "process" { process[file] = $2 }
        $1 == "xserver" { xserver[file] = $2 }
        $1 == "wall" { wall[file] = $2 }
        END {
            secs = (wall[2] - wall[1]) / 1e9
            printf "h8-controller --simulate under %s, %.1f s after the warm-up:\n", server, secs
            printf "  process      %5.2f %% of one core\n", (process[2] - process[1]) / tck / secs * 100
            total = 0
            for (t in ns1) {
                used = (ns1[t] - (t in ns0 ? ns0[t] : 0)) / 1e9
                wakes = (sleeps1[t] - (t in sleeps0 ? sleeps0[t] : 0)) / secs
                total += used
                label = (t == pid) ? "main thread" : name[t]
                line = sprintf("    %-16s %5.2f %%  %5.0f wake-ups/s", label, used / secs * 100, wakes)
                if (t == pid) first = line; else rest = rest line "\n"
            }
            printf "  per thread   %5.2f %% in all\n%s\n%s", total / secs * 100, first, rest
            printf "  X server     %5.2f %% (not part of the process)\n",
                (xserver[2] - xserver[1]) / tck / secs * 100
        }' "$scratch/before" "$scratch/after"
}

if [[ -n ${H8_CPU_WAYLAND:-} ]]; then
    export QT_QPA_PLATFORM=wayland
    renderer=${H8_CPU_WESTON_RENDERER:---use-gl}
    server_name="weston (Wayland, ${renderer#--use-} renderer)"
else
    export QT_QPA_PLATFORM=xcb
    server_name=Xvfb
fi
export XDG_CONFIG_HOME="$scratch/xdg-config" XDG_STATE_HOME="$scratch/xdg-state"
export H8_CONFIG_DIR="$scratch/config" H8_LOG_DIR="$scratch/log"
# A panel of its own: neither the session's bus name nor its locks, which a panel already
# running on this desktop holds (this start would only bring that one's window forward).
mkdir -m 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime" DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus"
# Starts the display server (its socket or display named after NAME) and points Qt at it.
start_server() {  # NAME
    if [[ -n ${H8_CPU_WAYLAND:-} ]]; then
        export WAYLAND_DISPLAY=h8-cpu-$1
        weston --backend=headless-backend.so ${H8_CPU_WESTON_RENDERER:---use-gl} --width=1920 --height=1080 \
            ${H8_CPU_WESTON_ARGS:-} --socket="$WAYLAND_DISPLAY" --idle-time=0 >"$scratch/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 1 200); do [[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] && break; sleep 0.05; done
        [[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] || {
            echo "cpu.sh: weston did not start (without GL: H8_CPU_WESTON_RENDERER=--use-pixman):" >&2
            cat "$scratch/xvfb.log" >&2
            exit 1
        }
    else
        # A display number nobody uses; Xvfb writes it to the pipe once it accepts connections.
        exec {displayfd}<> <(:)
        Xvfb -displayfd "$displayfd" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$scratch/xvfb.log" 2>&1 &
        xvfb_pid=$!
        read -r -t 10 -u "$displayfd" display || { echo "cpu.sh: Xvfb did not start" >&2; exit 1; }
        exec {displayfd}>&-
        export DISPLAY=":$display"
    fi
}

frame_cost=build/release/bench/frame_cost
floor=""
results=()
for run in $(seq 1 "$runs"); do
    start_server "$run"

    # Ends on its own shortly after the window even if this script is interrupted.
    quit_ms=$(( (warmup + window + 5) * 1000 ))
    # shellcheck disable=SC2086
    "$binary" --simulate --quit-after-ms "$quit_ms" ${H8_CPU_ARGS:-} >"$scratch/app.log" 2>&1 &
    app_pid=$!
    sleep "$warmup"
    [[ -d /proc/$app_pid ]] || { echo "cpu.sh: h8-controller ended early:" >&2; cat "$scratch/app.log" >&2; exit 1; }
    sample "$scratch/before"
    sleep "$window"
    sample "$scratch/after"
    [[ -n ${H8_CPU_SCREENSHOT:-} ]] && import -window root "$H8_CPU_SCREENSHOT"
    out=$(report)
    echo "$out"
    results+=("$(awk '/^  per thread/ {print $3}' <<<"$out")")
    stop
    # After the last run, on the same kind of server (the panel is gone): what any window that
    # changes as often as the meters costs here, with the settings the panel makes for itself.
    if (( run == runs )) && [[ -x $frame_cost ]]; then
        start_server "$run-floor"
        floor=$(QT_XCB_NO_MITSHM=${QT_XCB_NO_MITSHM:-1} \
            QT_WAYLAND_FRAME_CALLBACK_TIMEOUT=${QT_WAYLAND_FRAME_CALLBACK_TIMEOUT:-1000} \
            timeout $((window + 20)) "$frame_cost" "$window" "$warmup" 2>/dev/null) || floor=""
        stop
    fi
done
if (( runs > 1 )); then
    printf '%s\n' "${results[@]}" | sort -n |
        awk '{v[NR] = $1} END {printf "median of %d runs (per thread, in all): %.2f %% of one core (from %.2f to %.2f)\n",
             NR, (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[1], v[NR]}'
fi
[[ -n $floor ]] && echo "this server: $floor"
# What the machine charges for waking up, which the two threads above pay 20 times a second.
wake_cost=build/release/bench/wake_cost
if [[ -x $wake_cost ]]; then
    echo "this machine: $("$wake_cost" 3)"
fi
