#!/usr/bin/env bash
# Recovery of simulated networks from replicates: the first replicate alone (the data file the
# simulator writes) against all replicates of the table, averaged at each time point
# (--replicates mean) or each a course of its own (--replicates courses).
#
#   bench/replicates.sh [-b BUILD_DIR] [-e "ENGINES"] [-n GENES] [-r REPLICATES]
#                       [-p "SIGMAS"] [-s "SEEDS"] [-k COURSES] [-t POINTS] [-d DT]
#
# Defaults: ensemble, 20 genes, 3 replicates, noise sigma 0.1 and 0.3 (added to every log2
# value, anew for each replicate), seeds 1..5, 4 courses of 21 points every 0.1 time units
# relaxing towards a positive steady state (netrevia-simulate --input). Prints per noise and
# engine the mean AUROC and AUPR over the seeds for each of the three inputs, and the mean wall
# time of a run. An engine that refuses an input (the exact and fast engines take at most four
# courses) is shown as refused.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
engines="ensemble"
genes=20
replicates=3
sigmas="0.1 0.3"
seeds="1 2 3 4 5"
courses=4
points=21
dt=0.1
while getopts "b:e:n:r:p:s:k:t:d:" opt; do
    case $opt in
        b) build=$OPTARG ;;
        e) engines=$OPTARG ;;
        n) genes=$OPTARG ;;
        r) replicates=$OPTARG ;;
        p) sigmas=$OPTARG ;;
        s) seeds=$OPTARG ;;
        k) courses=$OPTARG ;;
        t) points=$OPTARG ;;
        d) dt=$OPTARG ;;
        *) exit 2 ;;
    esac
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "| genes | replicates | noise sigma | engine | input | AUROC | AUPR | wall (s) |"
echo "|---:|---:|---:|---|---|---:|---:|---:|"
for sigma in $sigmas; do
    for engine in $engines; do
        for input in first mean courses; do
            sum_roc=0 sum_pr=0 sum_wall=0 runs=0 refused=0
            for seed in $seeds; do
                "$build/bin/netrevia-simulate" --genes "$genes" --courses "$courses" \
                    --points "$points" --dt "$dt" --input --seed "$seed" --noise "$sigma" \
                    --replicates "$replicates" --out-data "$work/sim.dat" \
                    --out-truth "$work/truth.tsv" --out-table "$work/sim.tsv" >/dev/null
                case $input in
                    first) args=("$work/sim.dat") ;;
                    *) args=(--input table --scale log2 --replicates "$input" "$work/sim.tsv") ;;
                esac
                rm -rf "$work/out"
                start=$(date +%s.%N)
                if ! "$build/bin/netrevia-batch" --quiet --engine "$engine" --seed 0 \
                    --output-dir "$work/out" "${args[@]}" >/dev/null 2>"$work/err"; then
                    refused=1
                    break
                fi
                wall=$(echo "$(date +%s.%N) - $start" | bc)
                line=$("$build/bin/netrevia-score" --grn "$work/out/GRN.dat" \
                    --truth "$work/truth.tsv" --data "$work/sim.dat")
                sum_roc=$(echo "$sum_roc + $(sed -n 's/.*auroc=\([^ ]*\).*/\1/p' <<<"$line")" | bc -l)
                sum_pr=$(echo "$sum_pr + $(sed -n 's/.*aupr=\([^ ]*\).*/\1/p' <<<"$line")" | bc -l)
                sum_wall=$(echo "$sum_wall + $wall" | bc -l)
                runs=$((runs + 1))
            done
            if [[ $refused == 1 ]]; then
                printf "| %s | %s | %s | %s | %s | refused: %s | | |\n" "$genes" "$replicates" \
                    "$sigma" "$engine" "$input" \
                    "$(sed -n 's/.*column [0-9]*: \([^;]*\).*/\1/p' "$work/err" | head -1)"
                continue
            fi
            printf "| %s | %s | %s | %s | %s | %.3f | %.3f | %.2f |\n" "$genes" "$replicates" \
                "$sigma" "$engine" "$input" "$(echo "$sum_roc / $runs" | bc -l)" \
                "$(echo "$sum_pr / $runs" | bc -l)" "$(echo "$sum_wall / $runs" | bc -l)"
        done
    done
done
