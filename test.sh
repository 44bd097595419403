#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds, runs every test. Exits non-zero on any failure.
#   ./test.sh             Release build in build/, all tests
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-sanitize/
#                         (Debug, -fno-sanitize-recover=all: the first report fails its test;
#                         leak checking stays on, the Qt tests included, as they report none)
#   ./test.sh --format    clang-format check of every tracked C++ file, no build
# The fuzz targets of tests/fuzz/ replay their corpus and regressions in both builds;
# scripts/fuzz.sh runs the fuzzers themselves.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_packages

if [[ "${1:-}" == "--format" ]]; then
    mapfile -d '' files < <(git ls-files -z '*.cpp' '*.h')
    clang-format --dry-run --Werror "${files[@]}"
    echo "Format check: ${#files[@]} files formatted as .clang-format says"
    exit 0
fi

build_dir=build
cmake_args=(-DCMAKE_BUILD_TYPE=Release)
if [[ "${1:-}" == "--sanitize" ]]; then
    build_dir=build-sanitize
    cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DNETREVIA_SANITIZE=ON -DNETREVIA_BUILD_BENCH=OFF)
    export UBSAN_OPTIONS="print_stacktrace=1"
elif [[ -n "${1:-}" ]]; then
    echo "usage: ./test.sh [--sanitize | --format]" >&2
    exit 2
fi
if [[ -n "${CI:-}" ]]; then
    cmake_args+=(-DNETREVIA_WERROR=ON)
fi

cmake -S . -B "$build_dir" "${cmake_args[@]}"
cmake --build "$build_dir" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
