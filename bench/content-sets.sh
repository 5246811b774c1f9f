#!/usr/bin/env bash
# Content search of delvora-find against grep -rliF, rg -j1 and rg on all cores on the Linux
# sources, with a check that grep, rg and delvora-find find the same set of files.
# Usage: bench/content-sets.sh [build dir, default build] [text, default PM_RESUME]
set -euo pipefail
. "$(dirname "$0")/lib.sh"
bench_build "${1:-}"
bench_tree
tree=$TREE
text=${2:-PM_RESUME}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ours="$bin --name '*.c;*.h' --text $text $tree"
grep_cmd="grep -rliF --include='*.[ch]' $text $tree"
rg_cmd="rg -j1 -il -F -g '*.{c,h}' $text $tree"
rg_all_cmd="rg -il -F -g '*.{c,h}' $text $tree"

eval "$ours" | sort >"$work/ours"
eval "$grep_cmd" | sort >"$work/grep"
eval "$rg_cmd" | sort >"$work/rg"
same=yes
cmp -s "$work/ours" "$work/grep" || { same=no; echo "differs from grep:" >&2; diff "$work/ours" "$work/grep" >&2 || true; }
cmp -s "$work/ours" "$work/rg" || { same=no; echo "differs from rg:" >&2; diff "$work/ours" "$work/rg" >&2 || true; }
echo "content: $(wc -l <"$work/ours") files found, same set as grep and rg: $same"

hyperfine --output=pipe --warmup 1 --runs "${RUNS:-10}" --export-json "$work/json" \
  -n delvora-find "$ours" -n "grep -rliF" "$grep_cmd" -n "rg -j1" "$rg_cmd" -n "rg (all cores)" "$rg_all_cmd" >&2
bench_ratios "$work/json" | sed 's/^/content: /'
[[ $same == yes ]]
