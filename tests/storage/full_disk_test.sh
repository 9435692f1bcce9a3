#!/usr/bin/env bash
# The panel on a full disk, for real: its preferences on a small tmpfs that fills up while it
# runs. A route dragged while the disk is full is in the preferences file once space returns,
# without a restart, and the panel quits normally. Needs root (to mount); skips (77) otherwise.
# Usage: full_disk_test.sh PATH_TO_H8_CONTROLLER
set -euo pipefail
panel=$1
scratch=$(mktemp -d)
mnt=$scratch/disk
mkdir -p "$mnt" "$scratch/runtime"
chmod 700 "$scratch/runtime"
pid=""
cleanup() {
    [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    umount "$mnt" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=256k tmpfs "$mnt" 2>/dev/null; then
    echo "full_disk_test: cannot mount a tmpfs here (not root?): skipped"
    exit 77
fi

# Waits (at most $2 seconds) until the panel printed a line starting with $1.
wait_for_line() {
    for _ in $(seq 1 $(($2 * 20))); do
        grep -q "^$1" "$scratch/out" && return 0
        kill -0 "$pid" 2>/dev/null || { echo "the panel ended early:"; cat "$scratch/out"; exit 1; }
        sleep 0.05
    done
    echo "the panel did not print '$1':"
    cat "$scratch/out"
    exit 1
}

cat >"$scratch/script.txt" <<SCRIPT
wait-bound 20000
wait-menu 20000
print ready
wait-file $scratch/full 60000
drag 1 5
print dragged
wait-file $scratch/quit 60000
quit
SCRIPT
export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 H8_LOG_DIR="$scratch/logs" XDG_STATE_HOME="$scratch/state"
export XDG_RUNTIME_DIR="$scratch/runtime" DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus"
export H8_CONFIG_DIR="$mnt"
"$panel" --simulate="$mnt/h8.json" --automation "$scratch/script.txt" >"$scratch/out" 2>&1 &
pid=$!
wait_for_line ready 30

# The disk fills up; then the route is dragged.
dd if=/dev/zero of="$mnt/filler" bs=4k 2>/dev/null || true
touch "$scratch/full"
wait_for_line dragged 30
prefs=$mnt/h8.defaults.json
stored() {
    python3 -c 'import json,sys; m=json.load(open(sys.argv[1]))["H8TTChannelMapArray"]; sys.exit(0 if m[4][0] else 1)' "$prefs" 2>/dev/null
}
if stored; then echo "the route reached a full disk?"; exit 1; fi
grep -q "could not save preferences" "$scratch/out" || { echo "no word of the failed write:"; cat "$scratch/out"; exit 1; }

# Space returns: the next retry writes the route, with no restart.
rm -f "$mnt/filler"
for _ in $(seq 1 200); do stored && break; sleep 0.05; done
stored || { echo "the route dragged while the disk was full was lost:"; cat "$scratch/out"; exit 1; }
grep -q "saved to .* again" "$scratch/out" || { echo "no word of the preferences saved again"; exit 1; }
touch "$scratch/quit"
wait "$pid"
status=$?
pid=""
[[ $status == 0 ]] || { echo "the panel quit with $status"; exit 1; }
echo "full_disk_test: a route dragged on a full disk was saved once space returned"
