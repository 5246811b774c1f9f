#!/usr/bin/env bash
# The files found with and without the local decision (files without a plain-text extension
# whose first bytes tell the server's answer are read here or left out, not sent) must be the
# same. Searches the Linux sources and the documents corpus of bench/documents.sh (when made)
# with delvora-textd running and no cache, each text once with DELVORA_LOCAL_DECISION=0 and
# once without; fails when a found set differs. Also prints the number of messages (files that
# could not be searched) each way: empty files, which the server refuses, are no longer told.
# Usage: bench/local-decision.sh [build dir, default build]
#   TEXTS (default: PM_RESUME include für Müller "k?nig" struct; empty: none), DOC_TEXTS (default:
#   interrupt für "the kernel"), DOCS (default /tmp/delvora-docs), TREE as text-vs-rg.sh.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
bench_build "${1:-}"
bench_tree
server=$build/textd/delvora-textd
[[ -x $server ]] || { echo "build delvora-textd first" >&2; exit 1; }
docs=${DOCS:-/tmp/delvora-docs}
read -r -a texts <<<"${TEXTS-PM_RESUME include für Müller k?nig struct}"
read -r -a doc_texts <<<"${DOC_TEXTS-interrupt für kernel}"
work=$(mktemp -d)
pid=""
cleanup() { [[ -n $pid ]] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
bench_start_server "$server" "$work"
export DELVORA_EXTRACTION_URL=http://127.0.0.1:$port XDG_CACHE_HOME=$work/cache

failed=0
# check DIR TEXT: one search each way, the sorted found files compared.
check() {
  local dir=$1 text=$2 way
  for way in 0 1; do
    DELVORA_LOCAL_DECISION=$way "$bin" --no-cache --text "$text" "$dir" \
      >"$work/found$way" 2>"$work/messages$way" || true
    sort -o "$work/found$way" "$work/found$way"
  done
  local found messages0 messages1
  found=$(wc -l <"$work/found1")
  messages0=$(wc -l <"$work/messages0")
  messages1=$(wc -l <"$work/messages1")
  if cmp -s "$work/found0" "$work/found1"; then
    echo "same: \"$text\" in $dir: $found files; messages $messages0 (server) / $messages1 (local)"
  else
    echo "DIFFER: \"$text\" in $dir:" >&2
    diff "$work/found0" "$work/found1" | head -20 >&2
    failed=1
  fi
}
for text in "${texts[@]}"; do check "$TREE" "$text"; done
if [[ -d $docs ]]; then
  for text in "${doc_texts[@]}"; do check "$docs" "$text"; done
else
  echo "no documents corpus at $docs (bench/documents.sh makes it)" >&2
fi
exit $failed
