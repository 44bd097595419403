#!/usr/bin/env bash
# Runs every command line of a Markdown file that calls one of the project's executables, in
# order, in a scratch folder that looks like the repository root (build/bin of the fresh build,
# a copy of examples/), and fails when one of them fails. Documentation drifts as options change;
# this keeps the commands a reader copies working as written.
#
#   run_doc_commands.sh BIN_DIR SOURCE_DIR FILE.md
#
# A command is a line inside a ``` fence whose first word is build/bin/<program> or a bare
# <program> of this project; a line ending in a backslash continues on the next. A comment at
# the end of a line ("# GRN.svg") is not part of the command; "# exits N" there says the command
# is expected to exit with N. Lines with optional parts in brackets ("[--lambda L]") are usage
# summaries, not commands, and so is the window without --help or --version (it would wait for
# a user).
set -uo pipefail

if [[ $# -ne 3 ]]; then
    echo "usage: run_doc_commands.sh BIN_DIR SOURCE_DIR FILE.md" >&2
    exit 2
fi
bin_dir=$(cd "$1" && pwd) || exit 2
source_dir=$(cd "$2" && pwd) || exit 2
doc="$source_dir/$3"
[[ -f "$doc" ]] || { echo "no such file: $doc" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/netrevia-doc.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/build"
ln -s "$bin_dir" "$scratch/build/bin"
cp -R "$source_dir/examples" "$scratch/examples"

# One command per output line: fenced lines only, continuations joined.
commands=$(awk '
    /^[[:space:]]*```/ { fenced = !fenced; next }
    !fenced { next }
    {
        line = $0
        if (pending != "") { sub(/^[[:space:]]+/, "", line); line = pending " " line }
        if (line ~ /\\[[:space:]]*$/) { sub(/\\[[:space:]]*$/, "", line); pending = line; next }
        pending = ""
        print line
    }' "$doc")

programs='netrevia|netrevia-batch|netrevia-simulate|netrevia-score|netrevia-import'
ran=0
failed=0
while IFS= read -r line; do
    cmd=$(sed -E 's/^[[:space:]]+//' <<< "$line")
    first=${cmd%% *}
    program=${first#build/bin/}
    [[ "$program" =~ ^($programs)$ ]] || continue
    [[ "$cmd" =~ \[-- ]] && continue
    expected=0
    if [[ "$cmd" =~ [[:space:]]#[[:space:]]*exits[[:space:]]+([0-9]+) ]]; then
        expected=${BASH_REMATCH[1]}
    fi
    cmd=$(sed -E 's/[[:space:]]+#[^"'\'']*$//' <<< "$cmd")
    if [[ "$program" == netrevia && ! "$cmd" =~ --help|--version ]]; then
        continue
    fi
    # A bare program name in prose-style examples means the one of this build.
    [[ "$first" == "$program" ]] && cmd="build/bin/$cmd"
    ran=$((ran + 1))
    (cd "$scratch" && timeout 300 bash -c "$cmd" > "$scratch/.out" 2>&1 < /dev/null)
    status=$?
    if [[ $status -ne $expected ]]; then
        failed=$((failed + 1))
        echo "FAILED (exit $status, expected $expected): $cmd"
        sed 's/^/    /' "$scratch/.out" | head -n 20
    else
        echo "ok: $cmd"
    fi
done <<< "$commands"

echo "$3: $ran commands, $failed failed"
[[ $ran -gt 0 && $failed -eq 0 ]]
