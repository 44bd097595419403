#!/usr/bin/env bash
# Fails when a binary holds a fused multiply-add instruction. Results are reproducible only while
# every multiply and add is rounded on its own (-ffp-contract=off); an FMA would round once and
# change the last bits on the processors that run it. Also checks that the disassembly shows
# lad_solve and its AVX-512 build, so that an empty or stripped input cannot pass unseen.
#
#   scripts/check_no_fma.sh BINARY_OR_ARCHIVE...
set -euo pipefail
[[ $# -gt 0 ]] || { echo "usage: $0 BINARY_OR_ARCHIVE..." >&2; exit 2; }
status=0
for file in "$@"; do
    listing=$(objdump -d --no-show-raw-insn "$file")
    fused=$(awk '/^[0-9a-f]+ <.*>:$/ { fn = $2 }
                 /\tv(f|fn)m(add|sub|addsub|subadd)[0-9]*[ps][sd]/ { print fn ": " $0 }' <<< "$listing")
    if [[ -n $fused ]]; then
        echo "$file: fused multiply-add instructions:" >&2
        head -n 20 <<< "$fused" >&2
        status=1
    fi
    if ! grep -q 'lad_solve.*avx512f>:$' <<< "$listing"; then
        echo "$file: no AVX-512 build of lad_solve found in the disassembly" >&2
        status=1
    fi
done
[[ $status -eq 0 ]] && echo "no fused multiply-add in: $*"
exit $status
