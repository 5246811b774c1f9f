#!/usr/bin/env bash
# Searching documents: delvora-find (with delvora-textd) against ugrep with pdftotext and pandoc
# filters, and against recoll's query on its index, over a corpus of real documents:
#   - the PDF manuals of some Debian packages (installed here),
#   - DOCX, ODT, EPUB and HTML that pandoc makes from reStructuredText files of the Linux
#     sources (Documentation/),
# Measures: the first search (empty cache) against ugrep with two threads, on all documents
# and on the PDFs alone; the repeated search (cache filled) against the first; delvora-find's
# repeated search against recollq after recollindex. Prints the ratios (delvora-find / other),
# wall time and CPU time (user + system).
# Usage: bench/documents.sh [build dir, default build]
#   TEXT (default "interrupt"), RUNS (default 2), DOCS=dir (default /tmp/delvora-docs),
#   CHECK=0 skips the check of the found sets (two first searches),
#   RST (default 50: reStructuredText files turned into each format), TREE as text-vs-rg.sh.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
bench_build "${1:-}"
server=$build/textd/delvora-textd
[[ -x $server ]] || { echo "build delvora-textd first" >&2; exit 1; }
text=${TEXT:-interrupt}
runs=${RUNS:-2}
docs=${DOCS:-/tmp/delvora-docs}
rst=${RST:-50}

export DEBIAN_FRONTEND=noninteractive
pdf_packages="c++-annotations-pdf r-doc-pdf live-manual-pdf docbook-xsl-doc-pdf
  auto-multiple-choice-doc-pdf gri-pdf-doc texlive-latex-base-doc"
tools="ugrep pandoc recoll poppler-utils hyperfine python3-lxml"
# shellcheck disable=SC2086
if ! dpkg -s $tools $pdf_packages >/dev/null 2>&1; then
  apt-get install -y -q --no-install-recommends $tools $pdf_packages >&2 ||
    { apt-get update -q >&2 && apt-get install -y -q --no-install-recommends $tools $pdf_packages >&2; }
fi

if [[ ! -f $docs/.made ]]; then
  bench_tree
  mkdir -p "$docs/pdf" "$docs/docx" "$docs/odt" "$docs/epub" "$docs/html"
  # The packages' PDFs, some of them compressed.
  # shellcheck disable=SC2086
  for f in $(dpkg -L $pdf_packages | grep -E '\.pdf(\.gz)?$'); do
    out=$docs/pdf/$(echo "${f#/usr/share/doc/}" | tr '/' '_')
    case $f in
      *.gz) gzip -dc "$f" >"${out%.gz}" ;;
      *) cp "$f" "$out" ;;
    esac
  done
  # Larger reStructuredText files in four formats, two pandoc runs at a time; a file pandoc
  # cannot read is left out. Made files are kept when the making is cut short.
  make_docs() {
    local f=$1 docs=$2 name
    name=$(echo "${f#*/Documentation/}" | tr '/' '_')
    name=${name%.rst}
    for kind in docx odt epub html; do
      [[ -s $docs/$kind/$name.$kind ]] && continue
      pandoc -f rst -s --metadata title="$name" -o "$docs/$kind/$name.$kind" "$f" 2>/dev/null ||
        rm -f "$docs/$kind/$name.$kind"
    done
  }
  export -f make_docs
  find "$TREE/Documentation" -name '*.rst' -size +8k | sort | sed -n "1,${rst}p" |
    xargs -P 2 -I{} bash -c 'make_docs "$1" "$2"' _ {} "$docs"
  touch "$docs/.made"
fi
for kind in pdf docx odt epub html; do
  echo "corpus: $(find "$docs/$kind" -type f | wc -l) $kind, $(du -sh "$docs/$kind" | cut -f1)" >&2
done

work=$(mktemp -d)
pid=""
cleanup() { [[ -n $pid ]] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
bench_start_server "$server" "$work"
export DELVORA_EXTRACTION_URL=http://127.0.0.1:$port
export XDG_CACHE_HOME=$work/cache
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), text \"$text\"" >&2

filter='pdf:pdftotext -q % -,docx,odt,epub:pandoc --wrap=none -t plain % -o -'
ugrep_all="ugrep -J2 -r -l -i -F --filter='$filter' '$text' $docs"
ugrep_pdf="ugrep -J2 -r -l -i -F --filter='$filter' -O pdf '$text' $docs"
ours_all="$bin --text '$text' $docs"
ours_pdf="$bin --name '*.pdf' --text '$text' $docs"
empty="rm -rf $work/cache"

# sets NAME A B: how far the found files of two commands differ.
sets() {
  eval "$2" | sort >"$work/a" || true
  eval "$3" | sort >"$work/b" || true
  echo "$1: $(wc -l <"$work/a") and $(wc -l <"$work/b") files found" \
    "($(grep -c '\.pdf$' "$work/a" || true) and $(grep -c '\.pdf$' "$work/b" || true) PDFs), differ in" \
    "$(diff "$work/a" "$work/b" | grep -c '^[<>]' || true)" >&2
  diff "$work/a" "$work/b" | grep '^[<>]' | head -5 >&2 || true
}

# The PDFs' sets are those of all documents, less the other files. CHECK=0 leaves the check
# out (it costs two more first searches).
if [[ ${CHECK:-1} == 1 ]]; then
  sets "all documents, delvora-find vs ugrep" "$empty; $ours_all" "$ugrep_all"
  echo "PDFs alone: differ in $(diff <(grep '\.pdf$' "$work/a") <(grep '\.pdf$' "$work/b") |
    grep -c '^[<>]' || true)" >&2
fi
# The server's CPU time is not in delvora-find's: it is taken from /proc before and after, the
# server's own, its worker processes' and that of workers that ended.
server_cpu() {
  for p in $pid $(pgrep -P "$pid"); do
    awk '{print ($14 + $15 + $16 + $17) / 100}' "/proc/$p/stat" 2>/dev/null
  done | paste -sd+ | bc
}
before=$(server_cpu)
# One preparation for all commands (hyperfine takes one or one per command): the cache is
# emptied before each run, ugrep's too.
hyperfine --output=pipe -i --runs "$runs" --export-json "$work/first.json" --prepare "$empty" \
  -n "first, all" "$ours_all" -n "ugrep, all" "$ugrep_all" \
  -n "first, PDFs" "$ours_pdf" -n "ugrep, PDFs" "$ugrep_pdf" >"$work/hyperfine.log" 2>&1 ||
  { cat "$work/hyperfine.log" >&2; exit 1; }
echo "server CPU during the first searches: $(echo "$(server_cpu) - $before" | bc) s" \
  "(over $((runs * 2)) first searches)" >&2
eval "$ours_all" >/dev/null # fills the cache
hyperfine --output=pipe -i --warmup 1 --runs $((runs * 3)) --export-json "$work/again.json" \
  -n "repeated, all" "$ours_all" -n "repeated, PDFs" "$ours_pdf" >/dev/null 2>&1

# recoll: index once, then time the query alone.
conf=$work/recoll
mkdir -p "$conf"
printf 'topdirs = %s\nindexallfilenames = 0\n' "$docs" >"$conf/recoll.conf"
start=$(date +%s.%N)
recollindex -c "$conf" >/dev/null 2>&1 || true
echo "recollindex: $(echo "$(date +%s.%N) - $start" | bc) s" >&2
recoll_cmd="recollq -c $conf -b '$text'"
sets "all documents, delvora-find (cached) vs recollq" "$ours_all" \
  "$recoll_cmd 2>/dev/null | sed 's|^file://||'"
hyperfine --output=pipe -i --warmup 1 --runs $((runs * 3)) --export-json "$work/recoll.json" \
  -n "repeated, all" "$ours_all" -n recollq "$recoll_cmd" >/dev/null 2>&1

bench_ratios "$work/first.json" "first search / ugrep, all" 0 1 "first search / ugrep, PDFs" 2 3
python3 - "$work/first.json" "$work/again.json" <<'PY'
import json, sys
first = json.load(open(sys.argv[1]))["results"]
again = json.load(open(sys.argv[2]))["results"]
for label, a, f in (("repeated / first, all", 0, 0), ("repeated / first, PDFs", 1, 2)):
    x, y = again[a], first[f]
    print(f'{label:<34} {x["mean"]*1000:8.0f} ms / {y["mean"]*1000:8.0f} ms  ratio wall '
          f'{x["mean"]/y["mean"]:.3f}')
PY
bench_ratios "$work/recoll.json" "repeated search / recollq" 0 1
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
