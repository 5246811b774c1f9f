# Shared by the benchmark scripts (sourced): the build to time, the Linux tree, the tools
# needed, and the ratios of a hyperfine run.

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# bench_build [dir]: sets build (absolute) and bin (its delvora-find), which must exist.
bench_build() {
  build=$(cd "${1:-$bench_root/build}" && pwd)
  bin=$build/cli/delvora-find
  [[ -x $bin ]] || { echo "no $bin: build delvora-find (Release) first" >&2; exit 1; }
}

# bench_tree: sets TREE to the Linux sources unless it is set already.
bench_tree() {
  if [[ -z ${TREE:-} ]]; then
    local script
    for script in "$bench_root/../shared/bench/linux-tree.sh" \
      "$bench_root/../../shared/bench/linux-tree.sh"; do
      [[ -x $script ]] && { TREE=$("$script"); break; }
    done
  fi
  [[ -n ${TREE:-} ]] || { echo "no Linux tree: set TREE" >&2; exit 1; }
}

# bench_need TOOL...: fails naming the first tool missing.
bench_need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
  done
}

# bench_ratios JSON [LABEL A B]...: for each triple, result A against result B of a hyperfine
# JSON export (mean wall time, and CPU time = user + system, which is steadier on a busy
# machine). Without triples: the first result against each other one, labelled by command.
bench_ratios() {
  python3 - "$@" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
cpu = lambda x: x["user"] + x["system"]
args = sys.argv[2:]
pairs = [(l, int(a), int(b)) for l, a, b in zip(args[0::3], args[1::3], args[2::3])] or \
        [(r[0]["command"] + " / " + o["command"], 0, i) for i, o in enumerate(r) if i]
for label, a, b in pairs:
    x, y = r[a], r[b]
    print(f'{label:<40} {x["mean"]*1000:8.1f} ms (cpu {cpu(x)*1000:7.1f}) / '
          f'{y["mean"]*1000:8.1f} ms (cpu {cpu(y)*1000:7.1f})  ratio wall '
          f'{x["mean"]/y["mean"]:.3f} cpu {cpu(x)/cpu(y):.3f}')
PY
}

# bench_start_server SERVER WORKDIR [OPTION...]: starts delvora-textd on a free port in the
# background; sets pid (the caller's trap kills it) and port.
bench_start_server() {
  local server=$1 dir=$2
  shift 2
  "$server" --port 0 "$@" >"$dir/server.out" 2>"$dir/server.err" &
  pid=$!
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on http:\/\/[^:]*:\([0-9]*\)\/.*/\1/p' "$dir/server.out")
    [[ -n $port ]] && return
    sleep 0.1
  done
  echo "the server did not start" >&2
  cat "$dir/server.err" >&2
  exit 1
}
