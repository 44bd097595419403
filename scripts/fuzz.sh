#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, and runs one of them. Not part of the default
# build or of CI: the toolchain (clang and its fuzzer runtime, Debian packages) is installed
# here when missing.
#   scripts/fuzz.sh TARGET [SECONDS] [extra libFuzzer flags...]
#     TARGET   data_file, parameter_field or table
#     SECONDS  fuzzing time, default 600
#   scripts/fuzz.sh --build-only
# New inputs go to build-fuzz/corpus/TARGET (the seed corpus in tests/fuzz/corpus/TARGET is
# only read); a crashing input is written to build-fuzz/artifacts/TARGET/. To keep it as a
# regression test, copy it into tests/fuzz/regressions/TARGET/ once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_packages=(clang libclang-rt-dev cmake make libgtest-dev)
missing=()
for p in "${fuzz_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    if [[ $(id -u) -eq 0 ]]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    else
        echo "Missing packages. Run: sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
fi

build_dir=build-fuzz
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$sanitize -fsanitize=fuzzer-no-link -D_GLIBCXX_ASSERTIONS" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitize" \
    -DNETREVIA_FUZZ=ON -DNETREVIA_BUILD_APP=OFF -DNETREVIA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target data_file_fuzzer parameter_field_fuzzer \
    table_fuzzer

[[ "${1:-}" == "--build-only" ]] && exit 0
target=${1:?"usage: scripts/fuzz.sh TARGET [SECONDS] [libFuzzer flags...]"}
seconds=${2:-600}
shift $(($# < 2 ? $# : 2))
case "$target" in
    data_file) max_len=4096 ;;
    parameter_field) max_len=512 ;;
    table) max_len=4096 ;;
    *) echo "unknown target: $target (data_file, parameter_field or table)" >&2; exit 2 ;;
esac

corpus="$build_dir/corpus/$target"
artifacts="$build_dir/artifacts/$target"
mkdir -p "$corpus" "$artifacts"
# Leaks are reported at the end of each input; the run stops at the first finding.
exec "$build_dir/bin/${target}_fuzzer" "$corpus" "tests/fuzz/corpus/$target" \
    "tests/fuzz/regressions/$target" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" "$@"
