#!/usr/bin/env bash
# Peak memory and time of netrevia-import on large tables of each layout: wide (genes in
# rows), DREAM (times in rows, several courses) and long (one value per row), written here
# with values that depend only on their place, so that every machine reads the same bytes.
#
#   bench/table_read.sh [-b BUILD_DIR] [-i IMPORT_TOOL]
#
# Defaults: build, BUILD_DIR/bin/netrevia-import. Prints one markdown table row per table: its
# size, the peak resident memory and the wall time (/usr/bin/time, Debian package time). The
# tables go to a temporary folder, removed at the end.
set -euo pipefail

build=build
import_tool=
while getopts "b:i:" opt; do
    case $opt in
        b) build=$OPTARG ;;
        i) import_tool=$OPTARG ;;
        *) exit 2 ;;
    esac
done
import_tool=${import_tool:-$build/bin/netrevia-import}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# 2000 genes x 1000 time points, log2 values with 7 decimals.
awk 'BEGIN {
    printf "gene"; for (j = 0; j < 1000; j++) printf ",%d", j; printf "\n"
    for (i = 0; i < 2000; i++) {
        printf "gene%04d", i
        for (j = 0; j < 1000; j++) printf ",%.7f", 1 + ((i * 7919 + j * 104729) % 90000) / 10000
        printf "\n"
    }
}' > "$tmp/wide.csv"
# 200 genes, 4 courses of 1250 time points, linear values, courses after blank lines.
awk 'BEGIN {
    printf "Time"; for (i = 0; i < 200; i++) printf "\tG%d", i; printf "\n"
    for (k = 0; k < 4; k++) {
        printf "\n"
        for (j = 0; j < 1250; j++) {
            printf "%d", j * 10
            for (i = 0; i < 200; i++) printf "\t%.7f", 0.01 + ((i * 7919 + j * 104729 + k) % 99000) / 100000
            printf "\n"
        }
    }
}' > "$tmp/dream.tsv"
# 1000 genes, 4 courses of 300 time points, one value per row.
awk 'BEGIN {
    print "gene,course,time,value"
    for (k = 0; k < 4; k++)
        for (j = 0; j < 300; j++)
            for (i = 0; i < 1000; i++)
                printf "G%d,c%d,%d,%.6f\n", i, k, j, 1 + ((i * 7919 + j * 104729 + k) % 90000) / 10000
}' > "$tmp/long.csv"

echo "| table | size (MB) | peak memory (MB) | wall (s) |"
echo "|---|---:|---:|---:|"
run() {
    local name=$1
    shift
    local size
    size=$(stat -c %s "$tmp/$name")
    /usr/bin/time -f "%M %e" -o "$tmp/time.txt" "$import_tool" --all-courses "$@" "$tmp/$name" \
        -o "$tmp/out.dat" > /dev/null
    read -r peak wall < "$tmp/time.txt"
    awk -v n="$name" -v s="$size" -v p="$peak" -v w="$wall" \
        'BEGIN { printf "| %s | %.1f | %.1f | %s |\n", n, s / 1e6, p / 1024, w }'
}
run wide.csv --scale log2
run dream.tsv
run long.csv --scale log2
