#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds, runs every test. Exits non-zero on any failure.
#   ./test.sh             Release build in build/, all tests
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_packages

build_dir=build
cmake_args=(-DCMAKE_BUILD_TYPE=Release)
if [[ "${1:-}" == "--sanitize" ]]; then
    build_dir=build-sanitize
    cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DNETREVIA_SANITIZE=ON -DNETREVIA_BUILD_BENCH=OFF)
fi
if [[ -n "${CI:-}" ]]; then
    cmake_args+=(-DNETREVIA_WERROR=ON)
fi

cmake -S . -B "$build_dir" "${cmake_args[@]}"
cmake --build "$build_dir" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
