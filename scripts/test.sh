#!/usr/bin/env bash
# Builds H8 Controller and runs every test, first in the default (debug) build, then with
# AddressSanitizer and UndefinedBehaviorSanitizer, then fuzzes the preset reader briefly.
# Installs what it needs on Debian 12.
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

# Re-plugs under the real panel (ASan build): every arrival gets the routes back, nothing leaks.
echo "==== soak ===="
scripts/soak.sh --build build/asan 50 || status=1

# The Debian package, built and checked (lintian, desktop-file-validate, appstreamcli).
echo "==== package ===="
scripts/package.sh || status=1

# A short run of the preset-file fuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer):
# a crash, a sanitizer report or a hang fails the script. New inputs stay in the scratch folder;
# the input of a failure is kept in build/fuzz/artifacts/.
echo "==== fuzz build ===="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
mkdir -p "$scratch/fuzz-corpus" build/fuzz/artifacts
if build/fuzz/fuzz/preset_fuzzer -runs=20000 -timeout=10 -dict=fuzz/preset.dict \
    -artifact_prefix=build/fuzz/artifacts/ "$scratch/fuzz-corpus" fuzz/corpus \
    >"$scratch/fuzz.log" 2>&1; then
    grep -E '^(#[0-9]+ +DONE|Done )' "$scratch/fuzz.log" || true
else
    cat "$scratch/fuzz.log" >&2
    echo "preset_fuzzer failed; its input is in build/fuzz/artifacts/" >&2
    status=1
fi
exit $status
