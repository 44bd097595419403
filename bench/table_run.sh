#!/usr/bin/env bash
# Time and peak memory of a large table run straight to the ensemble engine against the same
# numbers through a data file (netrevia-import, then the batch tool on the data file, and the
# data file the numbers came from), and whether all give the same files.
#
#   bench/table_run.sh [-b BUILD_DIR] [-n GENES] [-k COURSES] [-t POINTS] [-j THREADS]
#
# Defaults: build, 2000 genes, 4 courses of 21 points, 1 thread. The numbers come from
# netrevia_make_data (seed 1); the table holds them as a course column, a time column and one
# column per gene, log2 values as the data file writes them. Prints one markdown table row per
# step (/usr/bin/time -v, Debian package time), then whether GRN.dat, GRN.dot and edges.tsv of
# the two roads are byte for byte the same. Everything goes to a temporary folder.
set -euo pipefail

build=build
genes=2000
courses=4
points=21
threads=1
while getopts "b:n:k:t:j:" opt; do
    case $opt in
        b) build=$OPTARG ;;
        n) genes=$OPTARG ;;
        k) courses=$OPTARG ;;
        t) points=$OPTARG ;;
        j) threads=$OPTARG ;;
        *) exit 2 ;;
    esac
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$build/bin/netrevia_make_data" "$genes" "$courses" "$points" 1 > "$tmp/made.dat"
# The data file's courses as one table: course, time, then the genes.
awk '
    NR == 4 { n = $1 }
    /^Gene names$/ { for (i = 1; i <= n; ++i) { getline; name[i] = $1 } ; next }
    /^Set[0-9]+$/ { k = substr($0, 4) }
    /^Time points$/ { getline; T = split($0, t, " ") ; next }
    /^Expression values/ { for (i = 1; i <= n; ++i) { getline; split($0, row, " ")
                                                         for (j = 1; j <= T; ++j) x[k, j, i] = row[j] }
                           K = k; for (j = 1; j <= T; ++j) tt[k, j] = t[j] ; next }
    END {
        printf "course\ttime"; for (i = 1; i <= n; ++i) printf "\t%s", name[i]; printf "\n"
        for (c = 1; c <= K; ++c) for (j = 1; j <= T; ++j) {
            printf "course%d\t%s", c, tt[c, j]
            for (i = 1; i <= n; ++i) printf "\t%s", x[c, j, i]
            printf "\n"
        }
    }' "$tmp/made.dat" > "$tmp/table.tsv"

echo "| step | wall (s) | user (s) | peak RSS (MB) | exit |"
echo "|---|---:|---:|---:|---:|"
measure() {  # label, then the command
    local label=$1
    shift
    local code=0
    /usr/bin/time -v "$@" > "$tmp/out" 2> "$tmp/time" || code=$?
    local wall user rss
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$tmp/time" |
        awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; print s }')
    user=$(sed -n 's/.*User time (seconds): //p' "$tmp/time")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$tmp/time")
    printf "| %s | %.2f | %.2f | %.1f | %d |\n" "$label" "$wall" "$user" "$(echo "$rss / 1024" | bc -l)" "$code"
    if [[ $code != 0 ]]; then grep -v "^\s" "$tmp/time" | head -3; fi
}
batch=("$build/bin/netrevia-batch" --quiet --engine ensemble --threads "$threads")
mkdir -p "$tmp/direct" "$tmp/imported" "$tmp/made"
measure "table ($genes genes, $courses x $points) to the engine" \
    "${batch[@]}" --scale log2 --output-dir "$tmp/direct" "$tmp/table.tsv"
measure "netrevia-import of the table" \
    "$build/bin/netrevia-import" --scale log2 "$tmp/table.tsv" -o "$tmp/imported.dat"
measure "its data file to the engine" \
    "${batch[@]}" --output-dir "$tmp/imported" "$tmp/imported.dat"
measure "netrevia_make_data's data file to the engine" \
    "${batch[@]}" --output-dir "$tmp/made" "$tmp/made.dat"
same=yes
for f in GRN.dat GRN.dot edges.tsv; do
    cmp -s "$tmp/direct/$f" "$tmp/imported/$f" || same="no ($f differs from the import)"
    cmp -s "$tmp/direct/$f" "$tmp/made/$f" || same="no ($f differs from the made data file)"
done
echo
echo "table size: $(stat -c %s "$tmp/table.tsv") bytes; the same files on every road: $same"
