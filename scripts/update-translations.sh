#!/usr/bin/env bash
# Brings the translation tables in translations/ up to date with the texts in src/: new texts
# are added as unfinished entries, texts no longer used are dropped. Translate the unfinished
# entries (Qt Linguist, or by hand) and commit the .ts files; the build compiles them.
# Usage: scripts/update-translations.sh [--check]
#   --check  change nothing; fail when a table misses a text of src/, keeps one that src/ no
#            longer has, or has an unfinished entry (the test suite runs this)
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate=${LUPDATE:-/usr/lib/qt6/bin/lupdate}
tables=(translations/h8_en.ts translations/h8_zh_CN.ts)
run() { "$lupdate" -no-obsolete -locations none -source-language zh_CN src -ts "$@"; }

if [[ ${1:-} != --check ]]; then
    run "${tables[@]}"
    exit
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for table in "${tables[@]}"; do
    cp "$table" "$scratch/"
    run "$scratch/${table##*/}" >"$scratch/lupdate.log" 2>&1 || { cat "$scratch/lupdate.log"; exit 1; }
    if ! diff -u "$table" "$scratch/${table##*/}" >"$scratch/diff"; then
        echo "$table is not up to date with src/ (run scripts/update-translations.sh):"
        head -40 "$scratch/diff"
        status=1
    fi
    unfinished=$(grep -c 'type="unfinished"' "$scratch/${table##*/}" || true)
    if [[ $unfinished != 0 ]]; then
        echo "$table: $unfinished unfinished entries:"
        grep -B2 'type="unfinished"' "$scratch/${table##*/}" | grep '<source>' | head -20
        status=1
    fi
done
[[ $status == 0 ]] && echo "translation tables complete: ${tables[*]}"
exit $status
