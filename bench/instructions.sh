#!/usr/bin/env bash
# The work `h8-controller --simulate` (release build) does per second while it runs as a user runs
# it (its own Xvfb, meters moving, poll running), counted in instructions per thread by
# callgrind. CPU time on a shared virtual machine moves by tens of percent from run to run and
# from minute to minute; instruction counts move by well under one percent, so they tell whether
# a change to the panel made its steady work smaller, where bench/cpu.sh cannot.
#
# Two runs of the same build under callgrind, one SECONDS longer than the other, both past the
# start-up: their difference is the steady state. Printed per thread, per second of wall time and
# per meter tick (valgrind slows the program, so the ticks actually run are counted too).
# Usage: bench/instructions.sh [SECONDS [START_SECONDS]]   (defaults 30 and 20; builds the
#        release preset first)
#   H8_INSTR_BINARY=PATH   count another build of h8-controller
set -euo pipefail
cd "$(dirname "$0")/.."
window=${1:-30}
start=${2:-20}
binary=${H8_INSTR_BINARY:-build/release/src/app/h8-controller/h8-controller}
if [[ -z ${H8_INSTR_BINARY:-} ]]; then
    cmake --preset release >/dev/null
    cmake --build --preset release --target h8-controller >/dev/null
fi
binary=$(realpath "$binary")  # the runs start in folders of their own
for tool in Xvfb valgrind; do
    command -v "$tool" >/dev/null ||
        { echo "instructions.sh: $tool is needed (apt-get install xvfb valgrind)" >&2; exit 1; }
done

scratch=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$scratch"' EXIT

# One run under callgrind that quits by itself after $2 ms, in its own Xvfb and folders.
count() {
    local dir=$scratch/$1 quit_ms=$2 displayfd display xvfb
    mkdir -p "$dir" && mkdir -m 700 "$dir/runtime"
    exec {displayfd}<> <(:)
    Xvfb -displayfd "$displayfd" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
    xvfb=$!
    read -r -t 10 -u "$displayfd" display || { echo "instructions.sh: Xvfb did not start" >&2; exit 1; }
    exec {displayfd}>&-
    (
        cd "$dir"
        DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$dir/xdg-config" \
            XDG_STATE_HOME="$dir/xdg-state" H8_CONFIG_DIR="$dir/config" H8_LOG_DIR="$dir/log" \
            XDG_RUNTIME_DIR="$dir/runtime" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus" \
            valgrind --tool=callgrind --separate-threads=yes --callgrind-out-file="$dir/out" \
            "$binary" --simulate --quit-after-ms "$quit_ms" >"$dir/app.log" 2>&1
    ) || {
        echo "instructions.sh: the run under callgrind failed:" >&2
        tail "$dir/app.log" >&2
        kill "$xvfb" 2>/dev/null || true
        return 1
    }
    kill "$xvfb" 2>/dev/null || true
}

count short $((start * 1000)) &
pids+=($!)
count long $(((start + window) * 1000)) &
pids+=($!)
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
pids=()
((failed == 0)) || exit 1

# Per thread file (out-01 is the main thread; the emulated capture is the one that renders the
# signal): its name and its total.
totals() {
    local file
    for file in "$scratch/$1"/out-*; do
        local n=${file##*-} name total
        total=$(awk '/^totals:/ {print $2}' "$file")
        if [[ $n == 01 ]]; then
            name="main thread"
        elif grep -q SyntheticCapture "$file"; then
            name="h8-emu-audio"
        else
            name="thread $n"
        fi
        echo "$name|$total"
    done
}
# The meter ticks a run made: the calls of MeterClock::tick().
ticks() {
    # callgrind names a function in full once, then by its number: "cfn=(12) name", "cfn=(12)".
    # A "calls=N ..." line follows each call site.
    awk '
        /^c?fn=\(/ {
            id = substr($0, index($0, "(") + 1)
            rest = substr(id, index(id, ")") + 1)
            id = substr(id, 1, index(id, ")") - 1)
            if (rest != "") names[id] = substr(rest, 2)
            if ($0 ~ /^cfn=/) callee = id
        }
        /^calls=/ {
            split(substr($0, 7), c, " ")
            if (index(names[callee], "MeterClock::tick()")) n += c[1]
        }
        END { print n + 0 }' "$scratch/$1/out-01"
}
ticks_short=$(ticks short)
ticks_long=$(ticks long)
tick_count=$((ticks_long - ticks_short))
echo "h8-controller --simulate under Xvfb and callgrind, the ${window} s after the first ${start} s:"
printf '  meter ticks run: %d (%.1f a second)\n' "$tick_count" "$(awk -v t="$tick_count" -v w="$window" 'BEGIN {print t / w}')"
join -t'|' <(totals short | sort) <(totals long | sort) |
    awk -F'|' -v w="$window" -v t="$tick_count" '{
        rate = ($3 - $2) / w / 1e6
        if (rate < 0.01 && rate > -0.01) { idle++; next }
        printf "  %-14s %8.2f M instructions a second", $1, rate
        if ($1 == "main thread" && t > 0) printf ", %6.0f k a meter tick", ($3 - $2) / t / 1e3
        printf "\n"
    }
    END { if (idle) printf "  %d more threads: under 0.01 M instructions a second each\n", idle }'
