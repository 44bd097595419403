#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds, then opens the window when a display is
# available, or else runs the batch tool on the bundled example network and draws it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_packages

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -x build/bin/netrevia ]]; then
    exec build/bin/netrevia
fi

example=examples/twenty_genes.dat
[[ -f "$example" ]] || example=examples/three_genes.dat
out=build/example-run
mkdir -p "$out"
render=()
command -v dot > /dev/null && render=(--render svg)
build/bin/netrevia-batch --output-dir "$out" "${render[@]}" "$example"
echo
echo "Results of $example are in $out/"
