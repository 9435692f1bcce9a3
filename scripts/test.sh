#!/usr/bin/env bash
# Builds H8 Controller and runs every test, first in the default (debug) build, then with
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs what it needs on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

export QT_QPA_PLATFORM=offscreen
# Tests never touch the user's real folders: every run gets its own.
scratch=$(mktemp -d)
cleanup() {
    if declare -F h8_pw_stop >/dev/null; then
        h8_pw_stop "$scratch/pipewire"
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
export XDG_CONFIG_HOME="$scratch/config" XDG_STATE_HOME="$scratch/state"
export XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# A private PipeWire server with a fake 16-channel USB input for the audio backend's tests; it
# exports H8_TEST_PIPEWIRE_DIR and PIPEWIRE_RUNTIME_DIR. Sourced, so that the cleanup above can
# stop and reap its daemons however this script ends. Without it the PipeWire tests skip, or
# fail when CI=true.
# shellcheck source=scripts/pipewire-env.sh
if ! source scripts/pipewire-env.sh start "$scratch/pipewire"; then
    echo "warning: the PipeWire test stack did not start; PipeWire tests will skip (fail in CI)" >&2
fi

jobs=$(nproc)
status=0
for preset in default asan; do
    echo "==== $preset build ===="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs" || status=1
done
exit $status
