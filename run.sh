#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds, then opens the window when a display is
# available, or else runs the batch tool on the bundled example network and draws it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_packages

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
# Only what is run below: the window, or the batch tool for the example. ./test.sh builds the
# rest (tests, fuzz replayers); benchmarks are built only with -DNETREVIA_BUILD_BENCH=ON.
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]] && cmake --build build -j "$(nproc)" --target netrevia; then
    exec build/bin/netrevia
fi
cmake --build build -j "$(nproc)" --target netrevia-batch

example=examples/twenty_genes.dat
[[ -f "$example" ]] || example=examples/three_genes.dat
out=build/example-run
mkdir -p "$out"
render=()
command -v dot > /dev/null && render=(--render svg)
build/bin/netrevia-batch --output-dir "$out" "${render[@]}" "$example"
echo
echo "Results of $example are in $out/"
