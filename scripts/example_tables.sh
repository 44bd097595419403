#!/usr/bin/env bash
# Writes the example tables of examples/ from one simulated data file: the same two courses of
# five genes as a wide table per course (genes in rows, log2), as one DREAM time-series file
# (linear values, courses separated by blank lines) and as one long table (log2).
# Usage: scripts/example_tables.sh [BUILD_DIR] [OUT_DIR]   (defaults: build, examples)
set -euo pipefail
build=${1:-build}
out=${2:-examples}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$build/bin/netrevia-simulate" --genes 5 --courses 2 --points 6 --seed 7 \
    --out-data "$tmp/five.dat" --out-truth "$out/five_genes_truth.tsv"

# The simulator's layout: names after line 6, then per course a marker, three labels, "n T",
# a label, the time points, three lines (label, reserved value, label) and n rows of log2 values.
awk -v out="$out" '
function flush_course(   i, j, f) {
    f = out "/five_genes_course" k ".csv"
    printf "gene" > f
    for (j = 1; j <= T; ++j) printf ",%s", t[j] > f
    printf "\n" > f
    for (i = 1; i <= n; ++i) {
        printf "%s", name[i] > f
        for (j = 1; j <= T; ++j) printf ",%s", x[i, j] > f
        printf "\n" > f
    }
    close(f)
    if (k > 1) printf "\n" > dream
    for (j = 1; j <= T; ++j) {
        printf "%s", t[j] > dream
        for (i = 1; i <= n; ++i) printf "\t%.10g", 2 ^ x[i, j] > dream
        printf "\n" > dream
    }
    for (j = 1; j <= T; ++j)
        for (i = 1; i <= n; ++i) printf "%s,course%d,%s,%s\n", name[i], k, t[j], x[i, j] > long
}
BEGIN { dream = out "/five_genes_dream.tsv"; long = out "/five_genes_long.csv"
        printf "gene,course,time,value\n" > long }
NR == 4 { n = $1 }
NR >= 6 && NR < 6 + n { name[NR - 5] = $1
                        if (NR == 5 + n) { printf "\"Time\"" > dream
                                           for (i = 1; i <= n; ++i) printf "\t%s", name[i] > dream
                                           printf "\n" > dream } }
NR >= 6 + n {
    line = NR - (6 + n)          # 0-based line within the blocks
    if ($1 == "END") { exit }
    block = 9 + n
    pos = line % block
    if (pos == 0) { k = int(line / block) + 1 }
    if (pos == 3) { T = $2 }
    if (pos == 5) { for (j = 1; j <= T; ++j) t[j] = $j }
    if (pos >= 9) { for (j = 1; j <= T; ++j) x[pos - 8, j] = $j
                    if (pos == 8 + n) flush_course() }
}' "$tmp/five.dat"
