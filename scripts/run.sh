#!/usr/bin/env bash
# Builds H8 Controller and opens the panel on the emulated H8 (no hardware needed). Arguments
# are passed on to the program (e.g. --simulate=FILE to keep the emulated H8's state elsewhere).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
exec build/default/src/app/h8-controller/h8-controller "${@:---simulate}"
