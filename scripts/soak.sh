#!/usr/bin/env bash
# Unplugs and re-plugs the emulated H8 CYCLES times (default 1000) under the real h8-controller,
# through real libusb (umockdev), with two routes and a level stored. After every arrival the
# panel must send the H8 its routes and levels again; it must not crash, report a sanitizer
# error, or keep more descriptors or memory as the cycles go.
#
#   scripts/soak.sh [--build DIR] [CYCLES]
#
# DIR is a configured build folder (default: build/asan, built here with the asan preset). The
# last line reads "cycles=N failures=F fd_first=A fd_last=B rss_first_kb=C rss_last_kb=D", the
# open descriptors and resident memory of the panel after the first and the last cycle. Exits
# non-zero when a cycle failed, the panel did not end cleanly, or descriptors or memory grew.
# The panel gets neither a sound server nor a display: it binds on USB alone, offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."

build=""
cycles=1000
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build="$2"; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) cycles="$1"; shift ;;
    esac
done
if [ -z "$build" ]; then
    build=build/asan
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j "$(nproc)" --target h8-controller h8ctl h8-usb-harness
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/config" "$scratch/runtime" && chmod 700 "$scratch/runtime"
# The panel's own folders, and no sound server: it binds on USB alone.
export H8_CONFIG_DIR="$scratch/config" H8_LOG_DIR="$scratch/logs" XDG_STATE_HOME="$scratch/state"
export XDG_RUNTIME_DIR="$scratch/runtime" PIPEWIRE_RUNTIME_DIR="$scratch/runtime"
export QT_QPA_PLATFORM=offscreen
# A small quarantine, so that resident memory shows the program's growth rather than the
# sanitizer filling its 256 MB of freed blocks.
export ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1:quarantine_size_mb=4"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

h8ctl="$build/src/app/h8ctl/h8ctl"
for args in "route 1 5 on" "route 3 2 on" "level 1 5 70"; do
    # shellcheck disable=SC2086
    "$h8ctl" --simulate="$scratch/sim.json" $args >/dev/null 2>&1
done

printf 'wait-bound 60000\nprint-state\nwait 86400000\n' >"$scratch/script.txt"
echo "soak: $cycles re-plugs of $build/src/app/h8-controller/h8-controller"
status=0
umockdev-wrapper "$build/tests/usb/h8-usb-harness" --soak "$cycles" -- \
    "$build/src/app/h8-controller/h8-controller" --automation "$scratch/script.txt" \
    >"$scratch/out.log" 2>"$scratch/err.log" || status=$?

grep -E '^cycle [0-9]+:' "$scratch/out.log" || true
result=$(grep -E '^cycles=' "$scratch/out.log" | tail -1)
if [ "$status" -ne 0 ] || [ -z "$result" ] || grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error' "$scratch/err.log"; then
    grep -E 'h8-usb-harness|Sanitizer|runtime error|^    #' "$scratch/err.log" | head -60 >&2 || true
    echo "soak: the panel or the harness failed (status $status)" >&2
    status=1
fi
if [ -n "$result" ]; then
    eval "$(echo "$result" | tr ' ' '\n' | sed 's/^/r_/')"
    if [ "$r_failures" -ne 0 ] || [ "$r_cycles" -ne "$cycles" ]; then
        echo "soak: $r_failures of $cycles cycles failed" >&2
        status=1
    fi
    if [ "$r_fd_last" -gt "$r_fd_first" ]; then
        echo "soak: open descriptors grew from $r_fd_first to $r_fd_last" >&2
        status=1
    fi
    # Memory is judged from a tenth of the way in, once caches and the sanitizer's quarantine
    # have filled: within 4 MB, and with the sanitizers within 8 % more (their own records
    # grow by about 10 kB per cycle; the same panel without them stays within 100 kB over
    # 400 cycles).
    base=$(awk -v k=$((cycles / 10)) '/^cycle [0-9]+:/ { sub(":", "", $2); sub("rss_kb=", "", $4);
        if ($2 >= k) { print $4; exit } }' "$scratch/out.log")
    base=${base:-$r_rss_first_kb}
    allowed=4096
    if grep -q '^H8_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
        allowed=$((allowed + base * 8 / 100))
    fi
    if [ $((r_rss_last_kb - base)) -gt "$allowed" ]; then
        echo "soak: resident memory grew from $base kB (cycle $((cycles / 10))) to $r_rss_last_kb kB" >&2
        status=1
    fi
    echo "$result"
fi
exit $status
