#!/ usr / bin / env bash
#Whole inference runs on synthetic data : wall time, peak memory and iterations per size.
#
#bench / whole_run.sh[-b BUILD_DIR][-k COURSES][-t POINTS][-s SEED][-j THREADS...]
#[-- extra netrevia - batch options] N[N...]
#
#Prints one markdown table row per(N, thread count).Data files come from netrevia_make_data
#(seeded, so every machine times the same runs).Needs / usr / bin / time(Debian package time).
set -
    euo pipefail

        build = build courses = 4 points = 10 seed = 1 threads = () while getopts "b:k:t:s:j:" opt;
do
    case $opt in
        b) build=$OPTARG ;;
        k) courses=$OPTARG ;;
        t) points=$OPTARG ;;
        s) seed=$OPTARG ;;
        j) threads+=("$OPTARG") ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
extra=()
sizes=()
while [[ $# -gt 0 ]]; do
    if [[ $1 == "--" ]]; then
        shift
        while [[ $# -gt 0 && $1 =~ ^- ]]; do extra+=("$1" "$2"); shift 2; done
        continue
    fi
    sizes+=("$1")
    shift
done
[[ ${#threads[@]} -gt 0 ]] || threads=(1)
[[ ${#sizes[@]} -gt 0 ]] || { echo "give at least one gene count" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "| n | K | T | threads | iterations | wall s | peak RSS MB |"
echo "|---:|---:|---:|---:|---:|---:|---:|"
for n in "${sizes[@]}"; do
    data=$work/data_$n.dat
    "$build/bin/netrevia_make_data" "$n" "$courses" "$points" "$seed" > "$data"
    for j in "${threads[@]}"; do
        /usr/bin/time -f "%e %M" -o "$work/time" \
            "$build/bin/netrevia-batch" --quiet --threads "$j" "${extra[@]}" \
            --output-dir "$work" "$data" > "$work/summary"
        read -r wall rss < "$work/time"
        iterations=$(awk '/^iterations:/ {print $2}' "$work/summary")
        printf "| %s | %s | %s | %s | %s | %s | %.0f |\n" "$n" "$courses" "$points" "$j" \
            "$iterations" "$wall" "$((rss / 1024))"
    done
done
