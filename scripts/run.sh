#!/usr/bin/env bash
# Builds H8 Controller and starts it on the emulated H8 (no hardware needed). Arguments are
# passed on to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
exec build/default/src/app/h8ctl/h8ctl --simulate "${@:-status}"
