#!/usr/bin/env bash
# Peak resident set of a document search with and without the extracted-text cache, on
# documents whose texts are long (mails with a plain-text body of CHARS characters, sent to
# delvora-textd): the cache must not multiply a search's memory, whatever the texts' lengths.
# Prints the peak of delvora-find (/usr/bin/time) without the cache, with an empty cache (every
# text compressed and stored) and with the cache filled (every text read from it).
# Usage: bench/cache-memory.sh [build dir, default build]; FILES (default 8),
#   CHARS (default 15000000).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
bench_build "${1:-}"
server=$build/textd/delvora-textd
[[ -x $server ]] || { echo "build delvora-textd first" >&2; exit 1; }
files=${FILES:-8}
chars=${CHARS:-15000000}
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

mkdir -p "$work/mails"
python3 - "$work/mails" "$files" "$chars" <<'PY'
import random, sys
folder, files, chars = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(2, 9)))
         for _ in range(5000)]
for i in range(files):
    body, size = [], 0
    while size < chars:
        line = ' '.join(random.choice(words) for _ in range(12))
        body.append(line)
        size += len(line) + 1
    with open(f"{folder}/mail{i}.eml", "w") as f:
        f.write("From: a@example.org\nTo: b@example.org\nSubject: long\n"
                "Content-Type: text/plain; charset=us-ascii\n\n")
        f.write('\n'.join(body)[:chars] + '\n')
PY

bench_start_server "$server" "$work" --workers 2
export DELVORA_EXTRACTION_URL=http://127.0.0.1:$port
export XDG_CACHE_HOME=$work/cache
peak() {
  /usr/bin/time -f %M -o "$work/rss" "$bin" "$@" -t "zzzq-absent" "$work/mails" >/dev/null || true
  echo "$(($(tail -1 "$work/rss") / 1024)) MB"
}
echo "texts: $files of $chars characters; delvora-find peak resident set:"
echo "  without the cache:             $(peak --no-cache)"
echo "  with the cache, empty (fills): $(peak)"
echo "  with the cache, filled:        $(peak)"
