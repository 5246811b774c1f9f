#!/usr/bin/env bash
# Automatic refresh of the result list on the Linux sources (warm cache): the search's time
# with the refresh on against off (ratio, target <= 1.05), the time from the end of the search
# until every folder is watched, and the change events caused by reading every file (must be 0).
# Usage: bench/refresh.sh [build dir, default build]   (DELVORA_CORPUS=tree to skip the fetch)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
. bench/lib.sh
TREE=${DELVORA_CORPUS:-}
bench_tree
tree=$TREE
bin=$build/bench/gui_refresh
[[ -x $bin ]] || { echo "no $bin: build the benchmarks (Release) first" >&2; exit 1; }
json=$(mktemp)
trap 'rm -f "$json"' EXIT
find "$tree" -type f | wc -l >/dev/null # warm the cache
DELVORA_CORPUS=$tree "$bin" --benchmark_out="$json" --benchmark_out_format=json >&2
python3 - "$json" <<'PY'
import json, sys
b = {r["name"].split("/")[0]: r for r in json.load(open(sys.argv[1]))["benchmarks"]}
off, on, tree = b["BM_SearchRefreshOff"], b["BM_SearchRefreshOn"], b["BM_WatchWholeTree"]
print(f'refresh: search off {off["real_time"]:7.1f} ms  on {on["real_time"]:7.1f} ms  '
      f'ratio on/off {on["real_time"]/off["real_time"]:.3f}  ({int(off["rows"])} rows)')
print(f'refresh: every folder watched {tree["real_time"]:7.1f} ms after the search '
      f'({int(tree["watches"])} watches, {tree["real_time"]/off["real_time"]:.2f} x the search)')
print(f'refresh: change events from reading every file: {int(tree["events_from_reads"])}')
PY
