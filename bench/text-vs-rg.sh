#!/usr/bin/env bash
# Content search of delvora-find against ripgrep on the Linux sources, one hyperfine run per
# comparison, after checking that both find the same files (diff of the sorted outputs).
# Prints one line per comparison: the ratio delvora-find / other of the wall time and of the
# CPU time (user + system), which is steadier on a busy machine.
# Usage: bench/text-vs-rg.sh [build dir, default build]
#   RUNS (default 5)   ALL=1 also runs "*.*" over the whole tree, with and without delvora-textd
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
  # Every file: those without a text extension go to the server. rg reads them all as text, so
  # the sets differ by the documents the server finds no text in (and without a server, by all
  # of them); the count of differences is printed.
  runs=${RUNS_ALL:-2}
  compare "*.* no server" differ "$bin --no-cache --text PM_RESUME $TREE" \
    "rg -j2=rg -j2 -il -F PM_RESUME $TREE"
  server=$build/textd/delvora-textd
  bench_start_server "$server" "$work"
  export DELVORA_EXTRACTION_URL=http://127.0.0.1:$port
  compare "*.* with server" differ "$bin --no-cache --text PM_RESUME $TREE" \
    "rg -j2=rg -j2 -il -F PM_RESUME $TREE"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
