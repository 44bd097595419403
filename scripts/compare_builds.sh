#!/usr/bin/env bash
# Runs two builds of the batch tool on every data file and table of the test corpus and the
# examples, with each engine, and reports every input whose exit code, messages or result files
# (GRN.dat, GRN.dot, edges.tsv) differ. For checking that a change keeps the results of the
# inputs it should not touch byte for byte.
#
#   scripts/compare_builds.sh OLD_BUILD_DIR NEW_BUILD_DIR [EXTRA_INPUT ...]
#
# Exit status 0 when every run agrees, 1 otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
old=$1/bin/netrevia-batch
new=$2/bin/netrevia-batch
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

inputs=("$root"/tests/inference/data/* "$root"/tests/fuzz/corpus/data_file/*
        "$root"/tests/fuzz/regressions/data_file/* "$root"/examples/*.dat "$@")
tables=("$root/examples/five_genes_dream.tsv"
        "--scale log2 $root/examples/five_genes_long.csv"
        "--scale log2 $root/examples/five_genes_course1.csv $root/examples/five_genes_course2.csv")

runs=0
differ=0
compare() {  # label, then the arguments of one run
    local label=$1
    shift
    runs=$((runs + 1))
    local a=$work/old b=$work/new
    rm -rf "$a" "$b"
    mkdir -p "$a" "$b"
    local code_a=0 code_b=0
    "$old" --quiet --threads 1 --output-dir "$a" "$@" > "$a.out" 2> "$a.err" || code_a=$?
    "$new" --quiet --threads 1 --output-dir "$b" "$@" > "$b.out" 2> "$b.err" || code_b=$?
    sed -i "s|$a|OUT|g" "$a.err" "$a.out"
    sed -i "s|$b|OUT|g" "$b.err" "$b.out"
    local problem=""
    [[ $code_a == "$code_b" ]] || problem+=" exit $code_a/$code_b"
    cmp -s "$a.err" "$b.err" || problem+=" messages"
    for f in GRN.dat GRN.dot edges.tsv; do
        if [[ -e $a/$f || -e $b/$f ]]; then
            cmp -s "$a/$f" "$b/$f" 2> /dev/null || problem+=" $f"
        fi
    done
    if [[ -n $problem ]]; then
        differ=$((differ + 1))
        echo "differs:$problem: $label"
        diff "$a.err" "$b.err" | head -4 || true
    fi
}

for engine in exact fast ensemble trees consensus; do
    for input in "${inputs[@]}"; do
        [[ -f $input ]] || continue
        compare "$engine $(basename "$input")" --engine "$engine" "$input"
    done
    for table in "${tables[@]}"; do
        # shellcheck disable=SC2086 # the entry holds the options and files of one run
        compare "$engine $table" --engine "$engine" $table
    done
done
echo "$runs runs, $differ differ"
[[ $differ == 0 ]]
