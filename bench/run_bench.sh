#!/bin/sh
# Whole-run timing of the two selection engines: synthetic data files of K = 4 time courses of
# T = 10 points (netrevia_make_data, seed 1) for a range of gene counts, each run once through
# netrevia-batch under /usr/bin/time -v. Prints one table row per run: genes, engine, wall
# seconds, user seconds, peak resident memory, selection iterations and the 1-minute load
# average when the run started (other work on the machine inflates the wall time).
#
#   bench/run_bench.sh [BUILD_DIR [GENE_COUNTS [EXACT_MAX [LAMBDA]]]]
#
# BUILD_DIR defaults to build, GENE_COUNTS to "100 200 500 1000 2000"; the exact engine runs
# only up to EXACT_MAX genes (default 200: beyond that it takes hours); LAMBDA defaults to 0.
# Threads: the batch tool's default, one per hardware thread.
set -eu

build=${1:-build}
sizes=${2:-"100 200 500 1000 2000"}
exact_max=${3:-200}
lambda=${4:-0}
make_data="$build/bin/netrevia_make_data"
batch="$build/bin/netrevia-batch"
for tool in "$make_data" "$batch"; do
    if [ ! -x "$tool" ]; then
        echo "missing $tool: build the targets netrevia_make_data and netrevia-batch" >&2
        exit 2
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '| genes | engine | wall (s) | user (s) | peak memory (MB) | iterations | load |\n'
printf '|---:|---|---:|---:|---:|---:|---:|\n'
for n in $sizes; do
    "$make_data" "$n" 4 10 1 > "$work/data.dat"
    for engine in exact fast; do
        if [ "$engine" = exact ] && [ "$n" -gt "$exact_max" ]; then continue; fi
        load=$(cut -d' ' -f1 /proc/loadavg)
        /usr/bin/time -v -o "$work/time.txt" \
            "$batch" --quiet --engine "$engine" --lambda "$lambda" --output-dir "$work" "$work/data.dat" \
            > "$work/summary.txt"
        wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt" |
            awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; printf "%.2f", s }')
        user=$(sed -n 's/.*User time (seconds): //p' "$work/time.txt")
        peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt" |
            awk '{ printf "%.0f", $1 / 1024 }')
        iterations=$(sed -n 's/^iterations: *//p' "$work/summary.txt")
        printf '| %s | %s | %s | %s | %s | %s | %s |\n' \
            "$n" "$engine" "$wall" "$user" "$peak" "$iterations" "$load"
    done
done
