#!/usr/bin/env bash
# Imports each DREAM4 size-10 time-series file (courses 1 to 4, times 0, 50, ..., 1000) and runs
# the batch tool on the table and on the imported data file; the two GRN.dat (and GRN.dot) must
# be identical. The copies hold no time column and no blank lines, and a few values clipped to
# 0, which --floor replaces.
# Usage: scripts/dream4_tables.sh [DREAM_DIR] [BUILD_DIR] [FLOOR]
#   defaults: ../shared/dream4 (relative to the repository root), build, 0.001
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dream=${1:-$root/../shared/dream4}
build=${2:-$root/build}
floor=${3:-0.001}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

options=(--interval 50 --points 21 --courses 1-4 --floor "$floor")
status=0
for k in 1 2 3 4 5; do
    table="$dream/dream4/timeseries/insilico_size10_${k}_timeseries.tsv"
    mkdir -p "$tmp/$k/table" "$tmp/$k/data"
    "$build/bin/netrevia-import" "${options[@]}" "$table" -o "$tmp/$k/imported.dat" \
        > "$tmp/$k/import.txt"
    "$build/bin/netrevia-batch" --quiet --output-dir "$tmp/$k/data" "$tmp/$k/imported.dat" \
        > /dev/null
    "$build/bin/netrevia-batch" --quiet "${options[@]}" --output-dir "$tmp/$k/table" "$table" \
        > /dev/null
    floored=$(awk '/^floored:/ { print $2 }' "$tmp/$k/import.txt")
    if cmp -s "$tmp/$k/table/GRN.dat" "$tmp/$k/data/GRN.dat" &&
        cmp -s "$tmp/$k/table/GRN.dot" "$tmp/$k/data/GRN.dot"; then
        echo "insilico_size10_$k: 10 genes, 4 courses of 21 points, $floored floored: identical"
    else
        echo "insilico_size10_$k: GRN.dat or GRN.dot DIFFER"
        status=1
    fi
done
exit $status
