#!/usr/bin/env bash
# The awk conditions are single-quoted on purpose: $1, $2 ... in them are awk's fields.
# shellcheck disable=SC2016,SC2001
# Measures how well the inference recovers simulated networks whose truth is known, over a fixed
# grid of conditions, and writes the tables that docs/guide.md quotes into docs/guide_tables/.
#
#   scripts/guide_grid.sh [BIN_DIR [TABLE_DIR]]
#
# BIN_DIR holds netrevia-simulate, netrevia-batch and netrevia-score (default: build/bin);
# TABLE_DIR receives the markdown tables (default: docs/guide_tables). Every run uses one worker
# thread and two runs go in parallel (JOBS=1 or JOBS=4 to change that). The results do not depend
# on the machine: simulation and inference are deterministic, only the timing line changes.
# RAW=FILE also keeps every scored row (about 3 MB) in FILE.
#
# The grid (seeds 1 to 5 everywhere):
#   main        n = 10, 20, 50 genes; 1, 2, 4 time courses; T = 6, 11, 21 points per course;
#               noise none and 5 %; lambda 0, 0.05, 0.2; regular sampling every 0.01 time
#               units; the courses decay towards zero (dx/dt = J x, the model's own assumption).
#   noise       n = 10, 20; 2 and 4 courses; T = 11, 21; noise 0.1 % and 1 %; lambda 0.
#   sampling    the noise-free main grid at lambda 0 again with irregular intervals.
#   units       n = 10, 20; 2 and 4 courses; T = 11, 21; no noise; lambda 0: the main grid's
#               data files with every time point multiplied by 10 (a time unit ten times
#               smaller), which divides the rates, and so J, by 10.
#   basal       n = 10 and 20 with a constant input (dx/dt = J x + u, every gene relaxes towards
#   basal_long  a positive steady state), inferred with and without the constant gene CONST;
#               noise none and 5 %, lambda 0; sampled every 0.01 (basal) or every 0.1 time
#               units (basal_long). CONST's own row and column are not scored.
# Noise p % multiplies every value by 2^(s z), z ~ N(0, 1), with s = log2(1 + p/100).
# Every inference is scored from its one GRN.dat at the absolute thresholds in THRESHOLDS and at
# the fractions in FRACTIONS of the largest off-diagonal |R(i,j)| (the edges are those GRN.dot
# would hold at that threshold).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
tables=${2:-$root/docs/guide_tables}
jobs=${JOBS:-2}
for tool in netrevia-simulate netrevia-batch netrevia-score; do
    [[ -x $bin/$tool ]] || { echo "guide_grid.sh: $bin/$tool not found; build first" >&2; exit 1; }
done

export THRESHOLDS="1e-6,1e-4,0.01,0.03,0.1,0.2,0.3,0.5,0.8"
export FRACTIONS="0.001,0.01,0.03,0.1,0.2,0.3,0.5"
seeds="1 2 3 4 5"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export BIN=$bin WORK=$work

# One job: simulate one data file, infer it at each lambda, score every threshold.
# Arguments: experiment n K T noise sampling const seed lambdas(comma-separated)
run_job() {
    local exp=$1 n=$2 K=$3 T=$4 noise=$5 sampling=$6 const=$7 seed=$8 lambdas=$9
    local id="$exp-$n-$K-$T-$noise-$sampling-$const-$seed"
    local dir=$WORK/$id
    mkdir -p "$dir"
    local dt=0.01
    [[ $exp == basal_long ]] && dt=0.1
    local sim=(--genes "$n" --courses "$K" --points "$T" --seed "$seed" --dt "$dt")
    [[ $noise != 0 ]] && sim+=(--noise "$(awk -v p="$noise" 'BEGIN { print log(1 + p / 100) / log(2) }')")
    [[ $sampling == irregular ]] && sim+=(--irregular)
    [[ $exp == basal* ]] && sim+=(--input)
    [[ $const == const ]] && sim+=(--constant-gene)
    local score=()
    [[ $const == const ]] && score+=(--ignore CONST)
    if ! "$BIN/netrevia-simulate" "${sim[@]}" --out-data "$dir/sim.dat" \
        --out-truth "$dir/truth.tsv" > /dev/null 2> "$dir/sim.err"; then
        echo "guide_grid.sh: no data for $id: $(cat "$dir/sim.err")" >&2
        return 0
    fi
    if [[ $sampling == times10 ]]; then  # the line after each "Time points" label
        awk 'label == "Time points" { for (i = 1; i <= NF; ++i) $i = $i * 10 }
             { print; label = $0 }' "$dir/sim.dat" > "$dir/scaled.dat"
        mv "$dir/scaled.dat" "$dir/sim.dat"
    fi
    local lambda kind list
    for lambda in ${lambdas//,/ }; do
        "$BIN/netrevia-batch" --quiet --threads 1 --lambda "$lambda" --output-dir "$dir" \
            "$dir/sim.dat" > /dev/null || return 1
        for kind in abs rel; do
            # Relative rows keep the fraction in place of the absolute threshold.
            if [[ $kind == abs ]]; then list=(--thresholds "$THRESHOLDS") fields=1-; else
                list=(--thresholds "$FRACTIONS" --relative) fields=2-; fi
            "$BIN/netrevia-score" --grn "$dir/GRN.dat" --truth "$dir/truth.tsv" "${score[@]}" \
                "${list[@]}" --tsv > "$dir/score.tsv" || return 1
            tail -n +2 "$dir/score.tsv" | cut -f"$fields" |
                sed "s/^/$exp\t$n\t$K\t$T\t$noise\t$sampling\t$const\t$seed\t$lambda\t$kind\t/"
        done
    done > "$dir/rows.tsv"
}
export -f run_job

{
    for n in 10 20 50; do for K in 1 2 4; do for T in 6 11 21; do for s in $seeds; do
        for noise in 0 5; do echo "main $n $K $T $noise regular none $s 0,0.05,0.2"; done
        echo "sampling $n $K $T 0 irregular none $s 0"
    done; done; done; done
    for n in 10 20; do for K in 2 4; do for T in 11 21; do for s in $seeds; do
        for noise in 0.1 1; do echo "noise $n $K $T $noise regular none $s 0"; done
        echo "units $n $K $T 0 times10 none $s 0"
    done; done; done; done
    for exp in basal basal_long; do
        for n in 10 20; do for K in 1 2 4; do for T in 6 11 21; do for s in $seeds; do
            for noise in 0 5; do for const in none const; do
                echo "$exp $n $K $T $noise regular $const $s 0"
            done; done
        done; done; done; done
    done
} > "$work/jobs"

start=$(date +%s)
# Largest runs first, so that the two workers finish together.
sort -k2,2nr -k3,3nr -k4,4nr "$work/jobs" | xargs -P "$jobs" -L 1 bash -c 'run_job "$@"' _
elapsed=$(($(date +%s) - start))

# Columns: exp n K T noise sampling const seed lambda kind threshold true_edges auroc aupr sign_R
# drawn self_drawn hits precision recall f1 sign_dot (threshold: the fraction for kind rel).
cat "$work"/*/rows.tsv > "$work/all.tsv"
mkdir -p "$tables"
[[ -n ${RAW:-} ]] && cp "$work/all.tsv" "$RAW"

# Means over seeds of rows selected by an awk condition, grouped by the fields named in keys.
# Output: key fields, then count, auroc, aupr, drawn per true edge, precision, recall, f1,
# self_drawn, sign_dot.
group_means() {  # condition keys(comma-separated column numbers)
    awk -F'\t' -v keys="$2" '
        BEGIN { nk = split(keys, k, ",") }
        '"$1"' {
            g = $k[1]; for (c = 2; c <= nk; ++c) g = g "\t" $k[c]
            if (!(g in cnt)) order[++groups] = g
            cnt[g]++; au[g] += $13; ap[g] += $14; dr[g] += $16 / $12; re[g] += $20; sd[g] += $17
            if ($19 != "NA") { pr[g] += $19; pc[g]++ }  # undefined when nothing is drawn
            f[g] += ($21 == "NA" ? 0 : $21)             # nothing drawn: F1 0
            if ($22 != "NA") { sg[g] += $22; sc[g]++ }
        }
        END {
            for (o = 1; o <= groups; ++o) { g = order[o]; c = cnt[g]
                printf "%s\t%d\t%.3f\t%.3f\t%.2f\t%s\t%.3f\t%.3f\t%.1f\t%s\n", g, c, au[g] / c,
                    ap[g] / c, dr[g] / c, pc[g] ? sprintf("%.3f", pr[g] / pc[g]) : "-",
                    re[g] / c, f[g] / c, sd[g] / c,
                    sc[g] ? sprintf("%.3f", sg[g] / sc[g]) : "-"
            }
        }' "$work/all.tsv"
}

# The chance level of precision (and of AUPR): true edges / possible off-diagonal edges.
density() {  # n
    awk -F'\t' -v n="$1" '$1 == "main" && $2 == n && $11 == "1e-06" && $9 == 0 {
        s += $12 / (n * (n - 1)); c++ } END { printf "%.3f", s / c }' "$work/all.tsv"
}

md_header() { echo "| $1 |"; echo "|$(sed 's/[^|]*/---/g' <<< "$1")|"; }

{
    echo "# Measured tables for the user's guide"
    echo
    echo "Written by \`scripts/guide_grid.sh\` on simulated networks (seeds 1 to 5 per cell; each"
    echo "cell is the mean over the seeds). Chance level of precision and AUPR, the share of true"
    echo "edges among the n(n-1) possible ones: n = 10: $(density 10), n = 20: $(density 20),"
    echo "n = 50: $(density 50). A ranking by chance has AUROC 0.5. \`drawn/true\` counts"
    echo "off-diagonal drawn edges per true edge; precision is averaged over the runs that drew"
    echo "an edge, F1 counts 0 where nothing was drawn; \`right colour\` is the share of the drawn"
    echo "true edges whose colour (blue or red) has the true sign."
    echo
    echo "## 1. Threshold, absolute (no noise, lambda 0; mean over 1, 2, 4 courses and T = 6, 11, 21)"
    echo
    md_header "n | threshold | drawn/true | precision | recall | F1 | self edges drawn | right colour"
    group_means '$1=="main" && $5==0 && $9==0 && $10=="abs"' 2,11 |
        awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n", $1, $2, $6, $7, $8, $9,
            $10, $11 }'
    echo
    echo "## 2. Threshold as a fraction of the largest |R(i,j)|, i != j (the same runs)"
    echo
    md_header "n | fraction | drawn/true | precision | recall | F1"
    group_means '$1=="main" && $5==0 && $9==0 && $10=="rel"' 2,11 |
        awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %s |\n", $1, $2, $6, $7, $8, $9 }'
    echo
    echo "## 3. Best F1 per condition: default threshold against the best absolute and relative ones"
    echo
    echo "Lambda 0, no noise, mean F1 over the seeds at each threshold; the best threshold is the"
    echo "one with the highest mean."
    echo
    md_header "n | courses | T | F1 at 1e-6 | best absolute | F1 | best fraction of max | F1"
    for n in 10 20 50; do for K in 1 2 4; do for T in 6 11 21; do
        cond='$1=="main" && $2=='$n' && $3=='$K' && $4=='$T' && $5==0 && $9==0'
        default=$(group_means "$cond"' && $10=="abs" && $11=="1e-06"' 11 | cut -f8)
        best_abs=$(group_means "$cond"' && $10=="abs"' 11 | sort -s -t$'\t' -k8,8gr | head -1)
        best_rel=$(group_means "$cond"' && $10=="rel"' 11 | sort -s -t$'\t' -k8,8gr | head -1)
        printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n" "$n" "$K" "$T" "$default" \
            "$(cut -f1 <<< "$best_abs")" "$(cut -f8 <<< "$best_abs")" \
            "$(cut -f1 <<< "$best_rel")" "$(cut -f8 <<< "$best_rel")"
    done; done; done
    echo
    echo "## 4. Time points and time courses (ranking of all entries: AUROC / AUPR, lambda 0)"
    echo
    md_header "n | courses | noise | T = 6 | T = 11 | T = 21"
    for n in 10 20 50; do for K in 1 2 4; do for noise in 0 5; do
        row="| $n | $K | $([[ $noise == 0 ]] && echo none || echo 5 %)"
        for T in 6 11 21; do
            row+=" | $(group_means '$1=="main" && $2=='$n' && $3=='$K' && $4=='$T' && $5=='$noise' &&
                $9==0 && $10=="abs" && $11=="1e-06"' 2 | awk -F'\t' '{ print $3 " / " $4 }')"
        done
        echo "$row |"
    done; done; done
    echo
    echo "## 5. Noise (AUROC / AUPR, lambda 0)"
    echo
    md_header "n | courses | T | none | 0.1 % | 1 % | 5 %"
    for n in 10 20; do for K in 2 4; do for T in 11 21; do
        row="| $n | $K | $T"
        for noise in 0 0.1 1 5; do
            row+=" | $(group_means '($1=="main" || $1=="noise") && $2=='$n' && $3=='$K' && $4=='$T' &&
                $5=='$noise' && $9==0 && $10=="abs" && $11=="1e-06"' 2 |
                awk -F'\t' '{ print $3 " / " $4 }')"
        done
        echo "$row |"
    done; done; done
    echo
    echo "## 6. Time unit (no noise, lambda 0; times as simulated and multiplied by 10)"
    echo
    echo "F1 at two absolute thresholds and at 0.2 x the largest |R(i,j)|, i != j."
    echo
    md_header "n | courses | T | times | AUROC | F1 at 0.3 | F1 at 0.03 | F1 at 0.2 x max"
    for n in 10 20; do for K in 2 4; do for T in 11 21; do for exp in main units; do
        cond='$1=="'$exp'" && $2=='$n' && $3=='$K' && $4=='$T' && $5==0 && $9==0'
        f() { group_means "$cond"' && $10=="'"$1"'" && $11=="'"$2"'"' 2 | cut -f"$3"; }
        echo "| $n | $K | $T | $([[ $exp == main ]] && echo "x 1" || echo "x 10") |" \
            "$(f abs 1e-06 3) | $(f abs 0.3 8) | $(f abs 0.03 8) | $(f rel 0.2 8) |"
    done; done; done; done
    echo
    echo "## 7. Lambda (no noise, T = 11; F1 at threshold 1e-6 and at 0.2 x the largest |R|)"
    echo
    md_header "n | courses | lambda | AUROC | drawn/true at 1e-6 | F1 at 1e-6 | F1 at 0.2 x max"
    for n in 10 20 50; do for K in 1 2 4; do for lambda in 0 0.05 0.2; do
        cond='$1=="main" && $2=='$n' && $3=='$K' && $4==11 && $5==0 && $9=='$lambda
        a=$(group_means "$cond"' && $10=="abs" && $11=="1e-06"' 2)
        r=$(group_means "$cond"' && $10=="rel" && $11=="0.2"' 2)
        echo "| $n | $K | $lambda | $(cut -f3 <<< "$a") | $(cut -f5 <<< "$a") |" \
            "$(cut -f8 <<< "$a") | $(cut -f8 <<< "$r") |"
    done; done; done
    echo
    echo "## 8. Regular against irregular sampling (no noise, lambda 0; mean over T = 6, 11, 21)"
    echo
    md_header "n | courses | AUROC regular | AUROC irregular | AUPR regular | AUPR irregular"
    for n in 10 20 50; do for K in 1 2 4; do
        cond='$2=='$n' && $3=='$K' && $5==0 && $9==0 && $10=="abs" && $11=="1e-06"'
        reg=$(group_means '$1=="main" && '"$cond" 2)
        irr=$(group_means '$1=="sampling" && '"$cond" 2)
        echo "| $n | $K | $(cut -f3 <<< "$reg") | $(cut -f3 <<< "$irr") | $(cut -f4 <<< "$reg") |" \
            "$(cut -f4 <<< "$irr") |"
    done; done
    echo
    echo "## 9. Genes with a steady state (dx/dt = J x + u): with and without the constant gene"
    echo
    echo "Lambda 0; AUROC / AUPR over the gene-gene entries only (CONST's row and column left out),"
    echo "mean over T = 6, 11, 21 and the seeds; sampled every 0.01 or every 0.1 time units."
    echo
    md_header "n | courses | interval | noise | without CONST | with CONST"
    for n in 10 20; do for K in 1 2 4; do for exp in basal basal_long; do for noise in 0 5; do
        cond='$1=="'$exp'" && $2=='$n' && $3=='$K' && $5=='$noise' && $10=="abs" && $11=="1e-06"'
        without=$(group_means "$cond"' && $7=="none"' 2 | awk -F'\t' '{ print $3 " / " $4 }')
        with=$(group_means "$cond"' && $7=="const"' 2 | awk -F'\t' '{ print $3 " / " $4 }')
        echo "| $n | $K | $([[ $exp == basal ]] && echo 0.01 || echo 0.1) |" \
            "$([[ $noise == 0 ]] && echo none || echo 5 %) | $without | $with |"
    done; done; done; done
    echo
    echo "Grid time: ${elapsed} s with $jobs parallel runs of one thread each."
} > "$tables/tables.md"
echo "guide_grid.sh: $(wc -l < "$work/jobs") simulations in ${elapsed} s; tables in $tables" >&2
