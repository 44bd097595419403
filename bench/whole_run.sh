#!/usr/bin/env bash
# Whole inference runs on synthetic data: wall and user time, peak memory and iterations, per
# gene count, engine and thread count.
#
#   bench/whole_run.sh [-b BUILD_DIR] [-k COURSES] [-t POINTS] [-s SEED] [-l LAMBDA]
#                      [-e ENGINE ...] [-j THREADS ...] [-x EXACT_MAX] N [N ...]
#
# Defaults: build, 4 courses, 10 points, seed 1, lambda 0, engine exact, 1 thread; the exact
# engine runs only up to EXACT_MAX genes (default 2000). Prints one markdown table row per run,
# with the 1-minute load average when the run started (other work inflates wall times). Data
# files come from netrevia_make_data (seeded, so every machine times the same runs; configure
# with -DNETREVIA_BUILD_BENCH=ON to build it). Needs
# /usr/bin/time (Debian package time).
set -euo pipefail

build=build
courses=4
points=10
seed=1
lambda=0
exact_max=2000
engines=()
threads=()
while getopts "b:k:t:s:l:e:j:x:" opt; do
    case $opt in
        b) build=$OPTARG ;;
        k) courses=$OPTARG ;;
        t) points=$OPTARG ;;
        s) seed=$OPTARG ;;
        l) lambda=$OPTARG ;;
        e) engines+=("$OPTARG") ;;
        j) threads+=("$OPTARG") ;;
        x) exact_max=$OPTARG ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[[ $# -gt 0 ]] || { echo "give at least one gene count" >&2; exit 2; }
[[ ${#engines[@]} -gt 0 ]] || engines=(exact)
[[ ${#threads[@]} -gt 0 ]] || threads=(1)
for tool in netrevia_make_data netrevia-batch; do
    [[ -x $build/bin/$tool ]] || { echo "missing $build/bin/$tool" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "| n | K | T | engine | threads | iterations | wall s | user s | peak RSS MB | load |"
echo "|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|"
for n in "$@"; do
    "$build/bin/netrevia_make_data" "$n" "$courses" "$points" "$seed" > "$work/data.dat"
    for engine in "${engines[@]}"; do
        if [[ $engine == exact && $n -gt $exact_max ]]; then continue; fi
        for j in "${threads[@]}"; do
            load=$(cut -d' ' -f1 /proc/loadavg)
            /usr/bin/time -f "%e %U %M" -o "$work/time" \
                "$build/bin/netrevia-batch" --quiet --engine "$engine" --threads "$j" \
                --lambda "$lambda" --output-dir "$work" "$work/data.dat" > "$work/summary"
            read -r wall user rss < "$work/time"
            iterations=$(awk '/^iterations:/ {print $2}' "$work/summary")
            echo "| $n | $courses | $points | $engine | $j | $iterations | $wall | $user |" \
                "$((rss / 1024)) | $load |"
        done
    done
done
