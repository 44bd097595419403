#!/usr/bin/env bash
# Recovery of the DREAM4 in-silico time-series networks (public benchmark data kept outside the
# repository): AUROC and AUPR per network and their mean over the five networks of a size.
#
#   bench/dream4.sh [-b BUILD_DIR] [-c COURSES] [-e ENGINE] [-s SEED] [-j THREADS] [-r|-m]
#                   [-z SIZE ...] [DREAM4_DIR]
#
# DREAM4_DIR defaults to ../shared/dream4 relative to the repository root; it holds
# dream4/timeseries/insilico_size{10,100}_{1..5}_timeseries.tsv (21 points per course, times
# 0, 50, ..., 1000 restored here) and dream4/goldstandards/. COURSES: use only the first ones
# (default: all; the exact and fast engines read at most 4). Levels of exactly 0 (noise clipped
# at zero) become 1e-6 before log2. ENGINE: ensemble (default), exact or fast. Prints one
# markdown table row per network, then the means, with the wall time of each run. KEEP=DIR keeps
# the converted data files there (size<N>_<network>.dat). -r gives the engine the regulators of
# the gold standard (the genes with at least one out-edge) with --regulators; -m instead runs
# without the list and sets the scores of the other genes' edges to 0 afterwards (what a list
# would give if it merely masked the scores).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
courses=0
engine=ensemble
seed=0
threads=1
regulators=none
sizes=()
while getopts "b:c:e:s:j:z:rm" opt; do
    case $opt in
        b) build=$OPTARG ;;
        c) courses=$OPTARG ;;
        e) engine=$OPTARG ;;
        s) seed=$OPTARG ;;
        j) threads=$OPTARG ;;
        z) sizes+=("$OPTARG") ;;
        r) regulators=list ;;
        m) regulators=mask ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
dir=${1:-$root/../shared/dream4}
[[ ${#sizes[@]} -gt 0 ]] || sizes=(10 100)
[[ -d $dir/dream4/timeseries ]] || { echo "no DREAM4 data under $dir" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# TSV (a header of names, 21 rows per course) -> data file of the first `courses` courses.
convert() {
    awk -v want="$2" 'BEGIN { FS = "\t" }
        NR == 1 { n = NF; for (g = 1; g <= n; ++g) name[g] = $g; next }
        NF == n { r = NR - 2; c = int(r / 21) + 1; p = r % 21 + 1
                  if (want > 0 && c > want) next
                  for (g = 1; g <= n; ++g) { v = $g + 0; x[c, g, p] = log(v > 0 ? v : 1e-6) / log(2) }
                  if (c > K) K = c }
        END {
            printf "Number of datasets\n%d\nNumber of genes\n%d\nGene names\n", K, n
            for (g = 1; g <= n; ++g) print name[g]
            for (c = 1; c <= K; ++c) {
                printf "Set%d\nCourse %d\nGenes and time points\n%d 21\nTime points\n", c, c, n
                for (p = 1; p <= 21; ++p) printf "%d%s", 50 * (p - 1), p < 21 ? " " : "\n"
                printf "Reserved\n1.0\nExpression values (log2)\n"
                for (g = 1; g <= n; ++g)
                    for (p = 1; p <= 21; ++p) printf "%.10g%s", x[c, g, p], p < 21 ? " " : "\n"
            }
            print "END"
        }' "$1"
}

echo "| size | network | courses | engine | regulators | AUROC | AUPR | wall (s) |"
echo "|---:|---:|---|---|---|---:|---:|---:|"
for n in "${sizes[@]}"; do
    sum_roc=0
    sum_pr=0
    for k in 1 2 3 4 5; do
        convert "$dir/dream4/timeseries/insilico_size${n}_${k}_timeseries.tsv" "$courses" \
            >"$work/d.dat"
        [[ -z ${KEEP:-} ]] || cp "$work/d.dat" "$KEEP/size${n}_${k}.dat"
        awk '$3 == 1 { print $1 "\t" $2 "\t+" }' \
            "$dir/dream4/goldstandards/DREAM4_GoldStandard_InSilico_Size${n}_${k}.tsv" \
            >"$work/truth.tsv"
        cut -f1 "$work/truth.tsv" | sort -u >"$work/regulators.txt"
        list=()
        [[ $regulators != list ]] || list=(--regulators "$work/regulators.txt")
        start=$(date +%s.%N)
        "$build/bin/netrevia-batch" --quiet --engine "$engine" --seed "$seed" \
            --threads "$threads" "${list[@]}" --output-dir "$work" "$work/d.dat" >/dev/null
        wall=$(echo "$(date +%s.%N) - $start" | bc)
        if [[ $regulators == mask ]]; then
            # GRN.dat: n lines of n fields of 25 characters; column j is regulator j.
            awk -v names="$work/regulators.txt" -v data="$work/d.dat" '
                BEGIN { while ((getline g < names) > 0) keep[g] = 1
                        while ((getline l < data) > 0) { if (++k > 5 && k <= 5 + n) col[k - 5] = l
                                                        if (k == 4) n = l + 0 } }
                { line = ""
                  for (j = 1; j <= n; ++j) { f = substr($0, 25 * (j - 1) + 1, 25)
                      line = line (col[j] in keep ? f : sprintf("%25.12f", 0)) }
                  print line }' "$work/GRN.dat" >"$work/masked.dat"
            mv "$work/masked.dat" "$work/GRN.dat"
        fi
        line=$("$build/bin/netrevia-score" --grn "$work/GRN.dat" --truth "$work/truth.tsv" \
            --data "$work/d.dat")
        roc=$(sed -n 's/.*auroc=\([^ ]*\).*/\1/p' <<<"$line")
        pr=$(sed -n 's/.*aupr=\([^ ]*\).*/\1/p' <<<"$line")
        used=$(sed -n 2p "$work/d.dat")
        printf "| %s | %s | %s | %s | %s | %.3f | %.3f | %.2f |\n" "$n" "$k" "$used" "$engine" \
            "$regulators" "$roc" "$pr" "$wall"
        sum_roc=$(echo "$sum_roc + $roc" | bc -l)
        sum_pr=$(echo "$sum_pr + $pr" | bc -l)
    done
    printf "| %s | mean | | %s | %s | %.3f | %.3f | |\n" "$n" "$engine" "$regulators" \
        "$(echo "$sum_roc / 5" | bc -l)" "$(echo "$sum_pr / 5" | bc -l)"
done
