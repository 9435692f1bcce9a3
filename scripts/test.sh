#!/usr/bin/env bash
# Builds H8 Controller and runs every test, first in the default (debug) build, then with
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs what it needs on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

export QT_QPA_PLATFORM=offscreen
# Tests never touch the user's real folders: every run gets its own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_STATE_HOME="$scratch/state"
export XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

jobs=$(nproc)
status=0
for preset in default asan; do
    echo "==== $preset build ===="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs" || status=1
done
exit $status
