#!/usr/bin/env bash
# Content search of delvora-find against ripgrep on the Linux sources, one hyperfine run per
# comparison, after checking that both find the same files (diff of the sorted outputs).
# Prints one line per comparison: the ratio delvora-find / other of the wall time and of the
# CPU time (user + system), which is steadier on a busy machine.
# Usage: bench/text-vs-rg.sh [build dir, default build]
#   RUNS (default 5)   ALL=1 also runs "*.*" over the whole tree against rg -uu: without a
#   server, with delvora-textd and --no-cache, the first search with an empty cache and the
#   search with the cache filled
#   (ALL=only: those alone; RUNS_ALL runs, default 2)
#   TREE=dir           the tree to search (default: ../shared/bench/linux-tree.sh)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
bench_build "${1:-}"
bench_need hyperfine rg python3
bench_tree
runs=${RUNS:-5}
work=$(mktemp -d)
pid=""
cleanup() { [[ -n $pid ]] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
# No extraction server unless one is started below; a cache of our own, never the user's.
export DELVORA_EXTRACTION_URL=http://127.0.0.1:9/ XDG_CACHE_HOME=$work/cache
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), tree $TREE" >&2

real() { xargs -r -d '\n' realpath -- | sort -u; }

# compare NAME EXPECT_SAME OURS OTHER...: OTHER given as "name=command" pairs.
compare() {
  local name=$1 same=$2 ours=$3
  shift 3
  local args=(-n delvora-find "$ours") labels=() i=0
  # Files are compared by their real paths: the walk may reach a file through a linked folder.
  eval "$ours" | real >"$work/ours" || true
  local found
  found=$(wc -l <"$work/ours")
  for pair in "$@"; do
    i=$((i + 1))
    eval "${pair#*=}" | real >"$work/other$i" || true
    if ! cmp -s "$work/ours" "$work/other$i"; then
      local d
      d=$(diff "$work/ours" "$work/other$i" | grep -c '^[<>]' || true)
      if [[ $same == same ]]; then
        echo "$name: delvora-find and ${pair%%=*} differ in $d files:" >&2
        diff "$work/ours" "$work/other$i" | head -20 >&2
        return 1
      fi
      echo "$name: ${pair%%=*} differs in $d files (expected)" >&2
    fi
    args+=(-n "${pair%%=*}" "${pair#*=}")
    labels+=("$name ($found files) / ${pair%%=*}" 0 "$i")
  done
  hyperfine --output=pipe -i --warmup 1 --runs "$runs" --export-json "$work/json" "${args[@]}" >/dev/null 2>&1
  bench_ratios "$work/json" "${labels[@]}"
}

ours() { echo "$bin --name '*.c;*.h' --text '$1' $TREE"; }
rg2() { echo "rg -j2 -il -F -g '*.[ch]' '$1' $TREE"; }
if [[ ${ALL:-0} != only ]]; then
  compare PM_RESUME same "$(ours PM_RESUME)" "rg -j2=$(rg2 PM_RESUME)" \
    "rg -j1=rg -j1 -il -F -g '*.[ch]' PM_RESUME $TREE"
  compare include same "$(ours include)" "rg -j2=$(rg2 include)"
  compare für same "$(ours für)" "rg -j2=$(rg2 für)"
  compare Müller same "$(ours Müller)" "rg -j2=$(rg2 Müller)"
fi

if [[ ${ALL:-0} != 0 ]]; then
  # Every file, as the window's default filter "*.*" searches: files without a plain-text
  # extension are decided locally or go to the server. rg -uu reads every file, hidden ones
  # too (the tree has none); without a server the sets differ by the files only the server
  # reads, so their count is printed.
  runs=${RUNS_ALL:-2}
  rgall="rg -j2 -uu -il -F PM_RESUME $TREE"
  compare "*.* no server" differ "$bin --no-cache --text PM_RESUME $TREE" "rg -j2 -uu=$rgall"
  server=$build/textd/delvora-textd
  bench_start_server "$server" "$work"
  export DELVORA_EXTRACTION_URL=http://127.0.0.1:$port
  compare "*.* with server, --no-cache" same "$bin --no-cache --text PM_RESUME $TREE" \
    "rg -j2 -uu=$rgall"
  # The same with the cache: the first search with it empty, then with it filled.
  eval "$bin --text PM_RESUME $TREE" | real >"$work/ours" || true
  eval "$rgall" | real >"$work/other" || true
  cmp -s "$work/ours" "$work/other" || { echo "*.* with the cache: the sets differ" >&2; exit 1; }
  hyperfine --output=pipe -i --runs "$runs" --prepare "rm -rf $XDG_CACHE_HOME" \
    --export-json "$work/first.json" -n first "$bin --text PM_RESUME $TREE" -n rg "$rgall" \
    >/dev/null 2>&1
  bench_ratios "$work/first.json" "*.* first search, empty cache / rg" 0 1
  eval "$bin --text PM_RESUME $TREE" >/dev/null 2>&1 || true
  hyperfine --output=pipe -i --warmup 1 --runs "$runs" --export-json "$work/filled.json" \
    -n filled "$bin --text PM_RESUME $TREE" -n rg "$rgall" >/dev/null 2>&1
  bench_ratios "$work/filled.json" "*.* cache filled / rg" 0 1
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
