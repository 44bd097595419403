#!/usr/bin/env bash
# The measured comparison behind the tree engine: one regressor and its settings (options of
# netrevia_trees_compare, see bench/trees_compare.cpp) on the DREAM4 networks and on simulated
# ones, AUROC / AUPR per network and their mean.
#
#   bench/trees_compare.sh [-b BUILD_DIR] [-z SIZE ...] [-n "GENES ..."] [-p "NOISE% ..."]
#                          [-d DREAM4_DIR] -- [netrevia_trees_compare options]
#
# Needs a build with -DNETREVIA_BUILD_BENCH=ON (the packaged gradient-boosting library, Debian
# libxgboost-dev, for --method xgb-rf and xgb-gb). DREAM4 sizes default to 10 and 100 (-z 0: none);
# the simulator (as bench/ensemble_sim.sh makes it: 4 courses of 21 points every 0.1 time
# units, --input, seeds 1 to 5) to genes 10 20 and noise 0 1 5 % (-n "": none).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
dir=$root/../shared/dream4
sizes=()
genes="10 20"
noises="0 1 5"
while getopts "b:z:n:p:d:" opt; do
    case $opt in
        b) build=$OPTARG ;;
        z) sizes+=("$OPTARG") ;;
        n) genes=$OPTARG ;;
        p) noises=$OPTARG ;;
        d) dir=$OPTARG ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[[ ${#sizes[@]} -gt 0 ]] || sizes=(10 100)
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# score GRN TRUTH [DATA] -> "auroc aupr"
score() {
    local line
    line=$("$bin/netrevia-score" --grn "$1" --truth "$2" ${3:+--data "$3"})
    echo "$(sed -n 's/.*auroc=\([^ ]*\).*/\1/p' <<<"$line") $(sed -n 's/.*aupr=\([^ ]*\).*/\1/p' <<<"$line")"
}

echo "options: $*"
for n in "${sizes[@]}"; do
    [[ $n == 0 ]] && continue
    mkdir -p "$work/d4"
    KEEP=$work/d4 "$root/bench/dream4.sh" -b "$build" -z "$n" "$dir" >/dev/null
    row="| DREAM4 $n |"
    sum_roc=0
    sum_pr=0
    start=$(date +%s.%N)
    for k in 1 2 3 4 5; do
        awk '$3 == 1 { print $1 "\t" $2 "\t+" }' \
            "$dir/dream4/goldstandards/DREAM4_GoldStandard_InSilico_Size${n}_${k}.tsv" \
            >"$work/truth.tsv"
        "$bin/netrevia_trees_compare" "$@" "$work/d4/size${n}_${k}.dat" "$work/GRN.dat"
        read -r roc pr <<<"$(score "$work/GRN.dat" "$work/truth.tsv" "$work/d4/size${n}_${k}.dat")"
        row="$row $(printf '%.3f / %.3f' "$roc" "$pr") |"
        sum_roc=$(echo "$sum_roc + $roc" | bc -l)
        sum_pr=$(echo "$sum_pr + $pr" | bc -l)
    done
    wall=$(echo "$(date +%s.%N) - $start" | bc)
    printf "%s **%.3f / %.3f** | %.1f s |\n" "$row" "$(echo "$sum_roc / 5" | bc -l)" \
        "$(echo "$sum_pr / 5" | bc -l)" "$wall"
done
for g in $genes; do
    for p in $noises; do
        sigma=$(echo "l(1 + $p / 100) / l(2)" | bc -l)
        sum_roc=0
        sum_pr=0
        for s in 1 2 3 4 5; do
            "$bin/netrevia-simulate" --genes "$g" --courses 4 --points 21 --dt 0.1 --input \
                --noise "$sigma" --seed "$s" --out-data "$work/d.dat" --out-truth "$work/t.tsv" \
                >/dev/null
            "$bin/netrevia_trees_compare" "$@" "$work/d.dat" "$work/GRN.dat"
            read -r roc pr <<<"$(score "$work/GRN.dat" "$work/t.tsv")"
            sum_roc=$(echo "$sum_roc + $roc" | bc -l)
            sum_pr=$(echo "$sum_pr + $pr" | bc -l)
        done
        printf "| simulated %s genes, %s %% noise | %.3f / %.3f |\n" "$g" "$p" \
            "$(echo "$sum_roc / 5" | bc -l)" "$(echo "$sum_pr / 5" | bc -l)"
    done
done
