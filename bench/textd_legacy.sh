#!/usr/bin/env bash
# delvora-textd's legacy Office readers against catdoc, xls2csv and catppt (Debian's catdoc
# package: apt-get install catdoc; not part of scripts/deps.sh). Per format: 200 small documents
# through the server on one kept-alive connection (one curl process, as the engine sends files
# one after another) against one converter run per file; then one large generated document each
# (.doc of 20,000 paragraphs, .xls of 100,000 cells), one request against one run.
# Usage: bench/textd_legacy.sh [build dir]   (needs hyperfine, curl, python3, catdoc)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
build=${1:-$bench_root/build}
server=$build/textd/delvora-textd
[[ -x $server ]] || { echo "no $server: build the delvora-textd target first" >&2; exit 1; }
bench_need hyperfine curl python3 catdoc xls2csv catppt
fixtures=$bench_root/tests/textd/extract/fixtures

work=$(mktemp -d)
pid=""
cleanup() { [[ -n $pid ]] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

for ext in doc xls ppt; do
  mkdir -p "$work/$ext"
  for n in $(seq -w 1 200); do cp "$fixtures/sample.$ext" "$work/$ext/f$n.$ext"; done
done
python3 - "$fixtures" "$work" <<'PY'
import struct, sys
sys.path.insert(0, sys.argv[1])
import make_legacy_fixtures as m
work = sys.argv[2]
text = "".join("Paragraph %d of the harbour log: the tide turned at %d and the lamp was lit.\r"
               % (i, i % 24) for i in range(20000))
with open(work + "/large.doc", "wb") as f:
    f.write(m.word_file([(text, True)], [len(text), 0, 0, 0, 0, 0, 0, 0]))
cells = []
for row in range(10000):
    for col in range(10):
        cell = struct.pack("<HHH", row, col, 0)
        if col % 2:
            cells.append(m.record(0x0203, cell + struct.pack("<d", row * 1.25 + col)))
        else:
            label = ("Berth %d-%d" % (row, col)).encode("latin-1")
            cells.append(m.record(0x0204, cell + struct.pack("<HB", len(label), 0) + label))
book = m.workbook([m.record(0x00E0, b"\0" * 20)], [("Log", cells)])
with open(work + "/large.xls", "wb") as f:
    f.write(m.compound_file.write(lambda root: root.add("Workbook", book)))
PY

bench_start_server "$server" "$work"
url=http://127.0.0.1:$port/tika
for ext in doc xls ppt; do
  : >"$work/$ext.curl"
  for f in "$work/$ext"/*."$ext"; do
    printf 'upload-file = "%s"\nurl = "%s"\noutput = "/dev/null"\n' "$f" "$url" >>"$work/$ext.curl"
  done
done
# Sanity: both sides really extract the text (grep reads all: with -q it could stop early and
# fail the writer under pipefail).
curl -s --noproxy '*' -H 'Expect:' -T "$work/doc/f001.doc" "$url" | grep -F 'Minutes of the harbour council' >/dev/null
catdoc "$work/doc/f001.doc" | grep -F 'Minutes of the harbour council' >/dev/null
curl -s --noproxy '*' -H 'Expect:' -T "$work/xls/f001.xls" "$url" | grep -F 'Harbour dues' >/dev/null
xls2csv "$work/xls/f001.xls" | grep -F 'Harbour dues' >/dev/null
curl -s --noproxy '*' -H 'Expect:' -T "$work/ppt/f001.ppt" "$url" | grep -F 'First slide title' >/dev/null
curl -s --noproxy '*' -H 'Expect:' -T "$work/large.doc" "$url" | grep -F 'Paragraph 19999 of' >/dev/null
catdoc "$work/large.doc" | grep -F 'Paragraph 19999 of' >/dev/null
curl -s --noproxy '*' -H 'Expect:' -T "$work/large.xls" "$url" | grep -F 'Berth 9999-8' >/dev/null
xls2csv "$work/large.xls" | grep -F 'Berth 9999-8' >/dev/null

curl_all() { echo "curl -s --fail --noproxy '*' -H 'Expect:' --config '$work/$1.curl'"; }
one() { echo "curl -s --fail --noproxy '*' -H 'Expect:' -o /dev/null -T '$work/$1' '$url'"; }
hyperfine --output=pipe --warmup 1 --runs 3 --export-json "$work/small.json" \
  -n "textd 200 .doc" "$(curl_all doc)" \
  -n "catdoc 200 .doc" "for f in '$work'/doc/*.doc; do catdoc \"\$f\" >/dev/null; done" \
  -n "textd 200 .xls" "$(curl_all xls)" \
  -n "xls2csv 200 .xls" "for f in '$work'/xls/*.xls; do xls2csv \"\$f\" >/dev/null; done" \
  -n "textd 200 .ppt" "$(curl_all ppt)" \
  -n "catppt 200 .ppt" "for f in '$work'/ppt/*.ppt; do catppt \"\$f\" >/dev/null; done"
hyperfine --output=pipe --warmup 1 --runs 5 --export-json "$work/large.json" \
  -n "textd large .doc" "$(one large.doc)" -n "catdoc large .doc" "catdoc '$work/large.doc' >/dev/null" \
  -n "textd large .xls" "$(one large.xls)" -n "xls2csv large .xls" "xls2csv '$work/large.xls' >/dev/null"
bench_ratios "$work/small.json" "200 .doc: textd / catdoc" 0 1 "200 .xls: textd / xls2csv" 2 3 \
  "200 .ppt: textd / catppt" 4 5
bench_ratios "$work/large.json" "large .doc: textd / catdoc" 0 1 "large .xls: textd / xls2csv" 2 3
