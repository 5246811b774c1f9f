#!/usr/bin/env bash
# Folder walk of delvora-find against find on the Linux sources (warm cache), and the walk's
# peak memory. Prints the mean times, the ratio delvora-find / find and the peak resident set.
# Usage: bench/walk.sh [build dir, default build]   (RUNS=n for more runs)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
bench_build "${1:-}"
bench_tree
tree=$TREE
json=$(mktemp)
trap 'rm -f "$json"' EXIT

# Warm the cache once; --output=pipe so that nobody sees /dev/null and takes a shortcut.
$bin --name '*' "$tree" | wc -l >/dev/null
find "$tree" -type f | wc -l >/dev/null

hyperfine --output=pipe --warmup 2 --runs "${RUNS:-15}" --export-json "$json" \
  -n delvora-find "$bin --name '*' $tree" \
  -n "find -type f" "find $tree -type f" \
  -n "find -L -type f" "find -L $tree -type f" >&2
bench_ratios "$json" | sed 's/^/walk: /'

peak=$( { /usr/bin/time -f '%M' "$bin" --name '*' "$tree" >/dev/null; } 2>&1 | tail -n 1)
echo "walk: peak resident set ${peak} KB ($((peak / 1024)) MB)"
