#!/usr/bin/env bash
# Content search of the whole program against grep and ripgrep on the Linux sources:
# delvora-find --name '*.c;*.h' --text PM_RESUME over the tree, with the same file filter for
# the others. Prints each command's mean time and its ratio to delvora-find.
# Usage: bench/content-search.sh [build dir, default build] [text, default PM_RESUME]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
text=${2:-PM_RESUME}
tree=$(../shared/bench/linux-tree.sh)
find_bin=$build/cli/delvora-find
[[ -x $find_bin ]] || { echo "no $find_bin: build delvora-find first" >&2; exit 1; }
json=$(mktemp)
trap 'rm -f "$json"' EXIT
# --output=pipe: grep and rg stop early when they see their output go to /dev/null.
hyperfine --output=pipe --warmup 1 --runs "${RUNS:-5}" --export-json "$json" \
  -n delvora-find "$find_bin --name '*.c;*.h' --text $text $tree" \
  -n "grep -rliF" "grep -rliF $text --include='*.c' --include='*.h' $tree" \
  -n "rg -il -F" "rg -il -F $text -g '*.{c,h}' $tree" \
  -n "rg -j1 -il -F" "rg -j1 -il -F $text -g '*.{c,h}' $tree" >&2
python3 - "$json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
base = results[0]["mean"]
for r in results:
    print(f'{r["command"]:<16} {r["mean"]:7.3f} s   {r["mean"] / base:5.2f}x of delvora-find')
PY
