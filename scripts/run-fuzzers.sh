#!/usr/bin/env bash
# Runs every fuzz_* executable of a build tree for a few seconds each on its seed corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-fuzz}
seconds=${2:-10}
found=0
while IFS= read -r exe; do
  found=1
  name=$(basename "$exe")
  corpus=$(mktemp -d)
  seeds=$(find "$root" -path "$root/build*" -prune -o -type d -name "$name" -path '*corpus*' -print | head -n 1)
  echo "fuzzing $name for ${seconds}s"
  "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "$corpus" ${seeds:+"$seeds"} >"$corpus.log" 2>&1 \
    || { tail -n 40 "$corpus.log"; exit 1; }
  rm -rf "$corpus" "$corpus.log"
done < <(find "$dir" -maxdepth 3 -type f -executable -name 'fuzz_*' | sort)
[[ $found -eq 1 ]] || echo "no fuzz targets built"
