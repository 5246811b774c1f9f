#!/usr/bin/env bash
# Folder walk of delvora-find against find on the Linux sources (warm cache), and the walk's
# peak memory. Prints the mean times, the ratio delvora-find / find and the peak resident set.
# Usage: bench/walk.sh [build dir, default build]   (RUNS=n for more runs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tree=$(../shared/bench/linux-tree.sh)
bin=$build/cli/delvora-find
[[ -x $bin ]] || { echo "no $bin: build delvora-find (Release) first" >&2; exit 1; }
json=$(mktemp)
trap 'rm -f "$json"' EXIT

# Warm the cache once; --output=pipe so that nobody sees /dev/null and takes a shortcut.
$bin --name '*' "$tree" | wc -l >/dev/null
find "$tree" -type f | wc -l >/dev/null

hyperfine --output=pipe --warmup 2 --runs "${RUNS:-15}" --export-json "$json" \
  -n delvora-find "$bin --name '*' $tree" \
  -n "find -type f" "find $tree -type f" \
  -n "find -L -type f" "find -L $tree -type f" >&2
python3 - "$json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
ours = r[0]
for other in r[1:]:
    print(f'walk: delvora-find {ours["mean"]*1000:6.1f} ms (user+sys {1000*(ours["user"]+ours["system"]):5.1f})'
          f'  {other["command"]:<16} {other["mean"]*1000:6.1f} ms (user+sys {1000*(other["user"]+other["system"]):5.1f})'
          f'  ratio {ours["mean"]/other["mean"]:.2f}')
PY

peak=$( { /usr/bin/time -f '%M' "$bin" --name '*' "$tree" >/dev/null; } 2>&1 | tail -n 1)
echo "walk: peak resident set ${peak} KB ($((peak / 1024)) MB)"
