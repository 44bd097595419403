#!/usr/bin/env bash
# Recovery of simulated networks by the ensemble, tree and consensus engines beside the exact or
# fast engine, and their F1 over a range of thresholds (the measurement behind their default
# thresholds).
#
#   bench/ensemble_sim.sh [-b BUILD_DIR] [-n "GENES ..."] [-p "NOISE% ..."] [-s "SEEDS"]
#                         [-e "ENGINES"] [-k COURSES] [-t POINTS] [-d DT]
#
# Defaults: genes 10 20 50 100, noise 0 1 5 %, seeds 1..5, engines ensemble exact (exact only up
# to 50 genes; fast, which agrees with it to rounding, above), 4 courses of 21 points every 0.1
# time units relaxing towards a positive steady state (netrevia-simulate --input). Noise p %
# multiplies every value by 2^(s z) with s = log2(1 + p/100). Prints per genes, noise and engine
# the mean AUROC and AUPR over the seeds and the mean wall time of a run; then, for the
# ensemble, trees and consensus engines, the mean F1 at each threshold of THRESHOLDS (ensemble),
# TREES_THRESHOLDS and CONSENSUS_THRESHOLDS. Engines other than exact and fast run with
# --threads THREADS (default 1).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
genes="10 20 50 100"
noises="0 1 5"
seeds="1 2 3 4 5"
engines="ensemble exact"
courses=4
points=21
dt=0.1
THRESHOLDS=${THRESHOLDS:-0.5,0.6,0.65,0.7,0.75,0.8,0.85,0.9,0.95}
TREES_THRESHOLDS=${TREES_THRESHOLDS:-0.01,0.02,0.03,0.05,0.07,0.1,0.15,0.2,0.3}
CONSENSUS_THRESHOLDS=${CONSENSUS_THRESHOLDS:-0.05,0.1,0.15,0.18,0.2,0.22,0.25,0.3,0.4}
THREADS=${THREADS:-1}
while getopts "b:n:p:s:e:k:t:d:" opt; do
    case $opt in
        b) build=$OPTARG ;;
        n) genes=$OPTARG ;;
        p) noises=$OPTARG ;;
        s) seeds=$OPTARG ;;
        e) engines=$OPTARG ;;
        k) courses=$OPTARG ;;
        t) points=$OPTARG ;;
        d) dt=$OPTARG ;;
        *) exit 2 ;;
    esac
done
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "| genes | noise % | engine | AUROC | AUPR | wall (s) |"
echo "|---:|---:|---|---:|---:|---:|"
for n in $genes; do
    for p in $noises; do
        sigma=$(echo "l(1 + $p / 100) / l(2)" | bc -l)
        for e in $engines; do
            engine=$e
            [[ $e == exact && $n -gt 50 ]] && engine=fast
            roc=0
            pr=0
            wall=0
            for s in $seeds; do
                "$bin/netrevia-simulate" --genes "$n" --courses "$courses" --points "$points" \
                    --dt "$dt" --input --noise "$sigma" --seed "$s" \
                    --out-data "$work/d.dat" --out-truth "$work/t.tsv" >/dev/null
                start=$(date +%s.%N)
                threads=1
                [[ $engine == exact || $engine == fast ]] || threads=$THREADS
                "$bin/netrevia-batch" --quiet --threads "$threads" --engine "$engine" \
                    --output-dir "$work" "$work/d.dat" >/dev/null
                wall=$(echo "$wall + $(date +%s.%N) - $start" | bc -l)
                line=$("$bin/netrevia-score" --grn "$work/GRN.dat" --truth "$work/t.tsv")
                roc=$(echo "$roc + $(sed -n 's/.*auroc=\([^ ]*\).*/\1/p' <<<"$line")" | bc -l)
                pr=$(echo "$pr + $(sed -n 's/.*aupr=\([^ ]*\).*/\1/p' <<<"$line")" | bc -l)
                scan=
                case $engine in
                    ensemble) scan=$THRESHOLDS ;;
                    trees) scan=$TREES_THRESHOLDS ;;
                    consensus) scan=$CONSENSUS_THRESHOLDS ;;
                esac
                if [[ -n $scan ]]; then
                    "$bin/netrevia-score" --grn "$work/GRN.dat" --truth "$work/t.tsv" \
                        --thresholds "$scan" |
                        sed -n 's/^threshold=\([^ ]*\) .*f1=\([^ ]*\).*/\1 \2/p' \
                            >>"$work/f1_$engine.txt"
                fi
            done
            count=$(wc -w <<<"$seeds")
            printf "| %s | %s | %s | %.3f | %.3f | %.3f |\n" "$n" "$p" "$engine" \
                "$(echo "$roc / $count" | bc -l)" "$(echo "$pr / $count" | bc -l)" \
                "$(echo "$wall / $count" | bc -l)"
        done
    done
done
for engine in ensemble trees consensus; do
    [[ -s $work/f1_$engine.txt ]] || continue
    echo
    echo "| $engine threshold | mean F1 over all runs above |"
    echo "|---:|---:|"
    awk '{ s[$1] += $2; c[$1]++ } END { for (t in s) printf "| %s | %.3f |\n", t, s[t] / c[t] }' \
        "$work/f1_$engine.txt" | sort -t'|' -k2 -g
done
