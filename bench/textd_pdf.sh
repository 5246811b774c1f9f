#!/usr/bin/env bash
# delvora-textd against pdftotext: 200 small PDFs through the server (one curl client, one
# connection, as the engine sends them one after another) versus one pdftotext run per file.
# Then the median latency of one small DOCX request.
# Usage: bench/textd_pdf.sh [build dir]   (needs hyperfine, curl, pdftotext, python3)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
build=${1:-$bench_root/build}
server=$build/textd/delvora-textd
[[ -x $server ]] || { echo "no $server: build the delvora-textd target first" >&2; exit 1; }
bench_need hyperfine curl pdftotext python3

work=$(mktemp -d)
pid=""
cleanup() { [[ -n $pid ]] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

python3 - "$work" <<'PY'
import sys, zipfile
work = sys.argv[1]

def pdf(text_lines):
    stream = "BT /F1 12 Tf 72 720 Td 14 TL " + " ".join(
        "(%s) Tj T*" % l.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")
        for l in text_lines) + " ET"
    objs = [
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = b"%PDF-1.4\n"
    offsets = []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out))
        out += ("%d 0 obj\n%s\nendobj\n" % (i, o)).encode("latin-1")
    xref = len(out)
    out += ("xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)).encode()
    for off in offsets:
        out += ("%010d 00000 n \n" % off).encode()
    out += ("trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n"
            % (len(objs) + 1, xref)).encode()
    return out

import os
os.makedirs(work + "/pdf")
for n in range(200):
    lines = ["Inspection report %d of the lighthouse service" % n] + [
        "Line %d: the lamp at station %d was checked and found in order." % (k, n * 7 + k)
        for k in range(30)]
    with open("%s/pdf/doc%03d.pdf" % (work, n), "wb") as f:
        f.write(pdf(lines))

W = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
body = "".join("<w:p><w:r><w:t>Paragraph %d of a short letter about the harbour.</w:t></w:r></w:p>" % i
               for i in range(40))
with zipfile.ZipFile(work + "/letter.docx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml",
        '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>'
        '</Types>')
    z.writestr("_rels/.rels",
        '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>'
        '</Relationships>')
    z.writestr("word/document.xml", '<?xml version="1.0"?><w:document %s><w:body>%s</w:body></w:document>' % (W, body))
PY

bench_start_server "$server" "$work"
url=http://127.0.0.1:$port/tika

# One curl process, 200 uploads on one kept-alive connection.
: >"$work/pdf.curl"
for f in "$work"/pdf/*.pdf; do
  printf 'upload-file = "%s"\nurl = "%s"\n' "$f" "$url" >>"$work/pdf.curl"
done
# Sanity: the server really extracts the text.
curl -s --noproxy '*' -H 'Expect:' -T "$work/pdf/doc007.pdf" "$url" | grep -q 'Inspection report 7' \
  || { echo "the server does not extract the PDF text" >&2; exit 1; }
pdftotext -q "$work/pdf/doc007.pdf" - | grep -q 'Inspection report 7'

hyperfine --output=pipe --warmup 2 --runs 10 --export-json "$work/pdf.json" \
  -n textd "curl -s --fail --noproxy '*' -H 'Expect:' --config '$work/pdf.curl'" \
  -n pdftotext "for f in '$work'/pdf/*.pdf; do pdftotext -q \"\$f\" -; done"

# DOCX latency: 200 sequential requests on one connection, time of each as curl saw it.
: >"$work/docx.curl"
for _ in $(seq 200); do
  printf 'upload-file = "%s"\nurl = "%s"\noutput = "/dev/null"\nwrite-out = "%%{time_total}\\n"\n' \
    "$work/letter.docx" "$url" >>"$work/docx.curl"
done
curl -s --noproxy '*' -H 'Expect:' -T "$work/letter.docx" "$url" | grep -q 'Paragraph 39 of a short letter' \
  || { echo "the server does not extract the DOCX text" >&2; exit 1; }
curl -s --fail --noproxy '*' -H 'Expect:' --config "$work/docx.curl" >"$work/docx.times"

python3 - "$work/pdf.json" "$work/docx.times" <<'PY'
import json, statistics, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
t, p = r["textd"]["mean"], r["pdftotext"]["mean"]
print("200 PDFs: textd %.3f s (%.2f ms/file), pdftotext %.3f s (%.2f ms/file), ratio textd/pdftotext = %.2f"
      % (t, t * 5, p, p * 5, t / p))
times = [float(x) for x in open(sys.argv[2]).read().split()]
print("DOCX request: median %.2f ms, p90 %.2f ms over %d requests"
      % (statistics.median(times) * 1000, sorted(times)[int(len(times) * 0.9)] * 1000, len(times)))
PY
