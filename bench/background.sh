#!/usr/bin/env bash
# What the panel costs in the background (`h8-controller --simulate --background`, bound to the
# emulated H8, its window never shown), measured by bench/cpu.sh over a long window, against its
# targets: under 0.05 % of one core for the whole process, and at most 2 wake-ups a second summed
# over its threads. Exits 1 when a target is missed.
# Usage: bench/background.sh [SECONDS]   (default 60; the H8_CPU_* variables of cpu.sh apply)
set -euo pipefail
cd "$(dirname "$0")/.."
window=${1:-60}
out=$(H8_CPU_ARGS="--background ${H8_CPU_ARGS:-}" bench/cpu.sh "$window" 5)
echo "$out"
awk '
    /^  process/ { cpu = $2 }
    /wake-ups\/s/ { wakes += $(NF - 1) }
    END {
        printf "in the background: %.3f %% of one core (target < 0.05), %.2f wake-ups/s (target <= 2)\n",
            cpu, wakes
        exit !(cpu < 0.05 && wakes <= 2)
    }' <<<"$out"
