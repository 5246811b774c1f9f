#!/usr/bin/env bash
# Hostile trees for the folder walk of delvora-find, against find: a graph of links to folders,
# a tree deeper than the descriptor limit, and a very deep tree (time and peak memory).
# Usage: bench/hostile-walk.sh [build dir, default build]
#   BEFORE=path/to/an/older/delvora-find   measures that binary as well
#   LINK_LEVELS (20), DEEP_LEVELS (5000), DEEPEST_LEVELS (30000) change the sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bins=("$build/cli/delvora-find")
[[ -x ${bins[0]} ]] || { echo "no ${bins[0]}: build delvora-find first" >&2; exit 1; }
[[ -n ${BEFORE:-} ]] && bins+=("$BEFORE")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command with a time limit; prints "<paths> paths, <s> s, <KB> KB peak" or "timed out".
measure() {
  local limit=$1; shift
  local out=$work/out stats=$work/stats
  if timeout "$limit" /usr/bin/time -f '%e %M' -o "$stats" "$@" >"$out" 2>/dev/null ||
     [[ -s $stats && $(tail -n 1 "$stats") != *"signal"* ]]; then
    read -r secs peak < <(tail -n 1 "$stats")
    echo "$(wc -l <"$out") paths, ${secs} s, ${peak} KB peak"
  else
    echo "timed out after ${limit} (more than $(wc -l <"$out") paths)"
  fi
}

# A chain of folders named d, with a file every 1000 levels and one at the bottom; made with
# relative steps, since the paths soon pass PATH_MAX.
deep_tree() {
  local root=$1 levels=$2
  mkdir -p "$root"
  python3 - "$root" "$levels" <<'PY'
import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_DIRECTORY)
levels = int(sys.argv[2])
for k in range(levels):
    if k % 1000 == 0:
        os.close(os.open(f"f{k}", os.O_CREAT | os.O_WRONLY, 0o644, dir_fd=fd))
    os.mkdir("d", dir_fd=fd)
    nxt = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
    os.close(fd)
    fd = nxt
os.close(os.open("bottom", os.O_CREAT | os.O_WRONLY, 0o644, dir_fd=fd))
PY
}

# 1. Each level holds a file and two links to the next level: 2^n ways down.
n=${LINK_LEVELS:-20}
graph=$work/graph
for ((k = 0; k <= n; k++)); do
  mkdir -p "$graph/l$k"
  : >"$graph/l$k/f$k"
  if ((k < n)); then ln -s "../l$((k + 1))" "$graph/l$k/a"; ln -s "../l$((k + 1))" "$graph/l$k/b"; fi
done
echo "link graph, $n levels, two links per level ($((n + 1)) files; walked from l0):"
for bin in "${bins[@]}"; do echo "  $bin: $(measure 120s "$bin" "$graph/l0")"; done
echo "  find -L: $(measure 120s find -L "$graph/l0" -type f)"

# 2. Deeper than the descriptor limit.
levels=${DEEP_LEVELS:-5000}
deep_tree "$work/deep" "$levels"
files=$(( (levels + 999) / 1000 + 1 ))
echo "deep tree, $levels levels, $files files, ulimit -n 1024:"
for bin in "${bins[@]}"; do
  echo "  $bin: $(ulimit -n 1024; measure 120s "$bin" "$work/deep")"
done
echo "  find: $(ulimit -n 1024; measure 120s find "$work/deep" -type f)"
rm -rf "$work/deep" # rm works relative to each folder, at any depth

# 3. Very deep: path memory must grow with the depth, not with its square.
levels=${DEEPEST_LEVELS:-30000}
deep_tree "$work/deepest" "$levels"
echo "deepest tree, $levels levels ($(( (levels + 999) / 1000 + 1 )) files):"
for bin in "${bins[@]}"; do echo "  $bin: $(measure 300s "$bin" "$work/deepest")"; done
echo "  find: $(measure 300s find "$work/deepest" -type f)"
rm -rf "$work/deepest"
