#!/usr/bin/env python3
"""delvora-textd under hostile peers and inputs: the figures of bench/reliability.md.

Starts the real server from the build tree on a free loopback port for each part and reports:
  - slow-loris: N connections sending one byte a second, and a legitimate request's latency
    next to the same request on a quiet server;
  - oversized upload: the answer to a 2 GiB declared upload and how long it took;
  - deep HTML: 3,000 levels (read whole) and 200,000 unclosed levels (refused, not cut);
  - a long PDF: time to the first byte of text, the longest gap between data, the whole time;
  - a client that leaves during a long parse: time until the next request is served by the
    only parser process;
  - load: C clients sending small documents for S seconds; errors and the server's memory.
Usage: bench/textd_reliability.py [build dir] [--slow N] [--load-seconds S]
"""
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args = [a for a in sys.argv[1:] if not a.startswith("--")]
BUILD = args[0] if args else os.path.join(ROOT, "build")
SERVER = os.path.join(BUILD, "textd", "delvora-textd")
SLOW = 200
LOAD_SECONDS = 20
for i, a in enumerate(sys.argv):
    if a == "--slow":
        SLOW = int(sys.argv[i + 1])
    if a == "--load-seconds":
        LOAD_SECONDS = int(sys.argv[i + 1])


class Server:
    def __init__(self, *options):
        self.proc = subprocess.Popen([SERVER, "--port", "0", *options], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r":(\d+)/", line)
        if not m:
            raise SystemExit("the server did not start: " + line + self.proc.stderr.read())
        self.port = int(m.group(1))

    def rss_kib(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.proc.terminate()
        self.proc.wait(30)


def request(port, body, headers=b"", timeout=60):
    """One PUT /tika; returns (status, body bytes, seconds, complete)."""
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    s.sendall(b"PUT /tika HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers +
              b"Content-Length: %d\r\n\r\n" % len(body) + body)
    raw = b""
    try:
        while True:
            d = s.recv(65536)
            if not d:
                break
            raw += d
    except (ConnectionResetError, socket.timeout):
        pass
    s.close()
    return parse(raw) + (time.monotonic() - start,)


def parse(raw):
    head, _, rest = raw.partition(b"\r\n\r\n")
    m = re.match(rb"HTTP/1\.\d (\d+)", head)
    status = int(m.group(1)) if m else 0
    if b"transfer-encoding: chunked" not in head.lower():
        return status, rest, True
    body, pos = b"", 0
    while True:
        end = rest.find(b"\r\n", pos)
        if end < 0:
            return status, body, False
        size = int(rest[pos:end].split(b";")[0], 16)
        if size == 0:
            return status, body, True
        body += rest[end + 2:end + 2 + size]
        pos = end + 4 + size


def pdf(pages, lines):
    """A PDF of many pages sharing one content stream."""
    stream = "BT /F1 10 Tf 50 750 Td 12 TL " + " ".join(
        "(Line %d of the ledger, entered and checked.) Tj T*" % k for k in range(lines)) + " ET"
    kids = " ".join("%d 0 R" % (5 + p) for p in range(pages))
    objs = ["<< /Type /Catalog /Pages 2 0 R >>",
            "<< /Type /Pages /Kids [%s] /Count %d >>" % (kids, pages),
            "<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream),
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    objs += ["<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 3 0 R "
             "/Resources << /Font << /F1 4 0 R >> >> >>"] * pages
    out = bytearray(b"%PDF-1.4\n")
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
    return bytes(out)


def streamed(port, body, leave_after_first=False):
    """Sends Body; returns (seconds to first body byte, longest gap, total, status, complete)."""
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=300)
    s.sendall(b"PUT /tika HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
              b"Content-Length: %d\r\n\r\n" % len(body) + body)
    raw, first, last, gap = b"", None, None, 0.0
    while True:
        d = s.recv(65536)
        if not d:
            break
        now = time.monotonic()
        raw += d
        if first is None and b"\r\n\r\n" in raw:
            first = now - start
            if leave_after_first:
                s.close()
                return first, 0.0, now - start, 0, False
        if last is not None:
            gap = max(gap, now - last)
        last = now
    s.close()
    status, text, complete = parse(raw)
    return first, gap, time.monotonic() - start, status, complete, len(text)


def slow_loris():
    quiet = Server("--workers", "1")
    base = statistics.median(request(quiet.port, b"a legitimate document\n")[3]
                             for _ in range(5))
    quiet.stop()

    srv = Server("--workers", "1")
    slow = []
    for _ in range(SLOW):
        s = socket.socket()
        s.settimeout(5)
        try:
            s.connect(("127.0.0.1", srv.port))
            s.send(b"PUT /tika HTTP/1.1\r\nHost: x\r\nX-Slow: ")
        except OSError:
            pass
        s.setblocking(False)
        slow.append(s)
    stop = threading.Event()

    def dribble():
        while not stop.is_set():
            for s in slow:
                try:
                    s.send(b"a")
                except OSError:
                    pass
            stop.wait(1.0)

    t = threading.Thread(target=dribble)
    t.start()
    time.sleep(3)
    results = [request(srv.port, b"a legitimate document\n", timeout=30) for _ in range(5)]
    stop.set()
    t.join()
    for s in slow:
        s.close()
    srv.stop()
    ok = sum(1 for r in results if r[0] == 200)
    worst = max(r[3] for r in results)
    med = statistics.median(r[3] for r in results)
    print("slow-loris: %d connections at 1 byte/s; legitimate requests served %d/5; median "
          "%.1f ms (quiet server %.1f ms, ratio %.1f), worst %.1f ms"
          % (SLOW, ok, med * 1000, base * 1000, med / base, worst * 1000))


def oversized():
    srv = Server("--workers", "1")
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", srv.port), timeout=30)
    s.sendall(b"PUT /tika HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
              b"Content-Length: %d\r\n\r\n" % (2 << 30))
    sent = 0
    chunk = b"x" * (1 << 20)
    try:
        while sent < (64 << 20):
            s.sendall(chunk)
            sent += len(chunk)
    except OSError:
        pass
    raw = b""
    try:
        while True:
            d = s.recv(65536)
            if not d:
                break
            raw += d
    except OSError:
        pass
    s.close()
    status = parse(raw)[0]
    print("oversized upload: 2 GiB declared -> %d after %.0f ms, %d MiB of body sent before the "
          "server closed" % (status, (time.monotonic() - start) * 1000, sent >> 20))
    srv.stop()


def deep_html():
    srv = Server("--workers", "1")
    deep = (b"<html><body>" + b"<div>" * 3000 + b"deep" + b"</div>" * 3000 +
            b"<p>after</p></body></html>")
    st, body, _, secs = request(srv.port, deep, b"Content-Type: text/html\r\n")
    print("deep HTML: 3,000 levels -> %d, text %r, %.0f ms" % (st, body.strip(), secs * 1000))
    unclosed = b"<html><body><p>shallow</p>" + b"<div>" * 200000 + b"deep"
    st, body, _, secs = request(srv.port, unclosed, b"Content-Type: text/html\r\n")
    print("deep HTML: 200,000 unclosed levels -> %d (%s), %.0f ms"
          % (st, body.strip().decode(errors="replace"), secs * 1000))
    srv.stop()


def long_document():
    doc = pdf(12000, 40)
    srv = Server("--workers", "1")
    first, gap, total, status, complete, size = streamed(srv.port, doc)
    print("long PDF (12,000 pages, %.1f MB of text): first text after %.2f s, longest gap "
          "%.2f s, whole in %.1f s -> %d, %s" % (size / 1e6, first, gap, total, status,
                                                "complete" if complete else "BROKEN"))
    # The client leaves after the first text; the next document waits only for the restart.
    start = time.monotonic()
    streamed(srv.port, doc, leave_after_first=True)
    st, body, _, secs = request(srv.port, b"next document\n")
    print("client left a long parse: next document -> %d after %.2f s (the parse alone took "
          "%.1f s)" % (st, secs, total))
    srv.stop()


def load():
    srv = Server()
    doc = b"".join(b"line %d of a small report\n" % i for i in range(2000))
    rss_before = srv.rss_kib()
    counts = {"ok": 0, "err": 0}
    lock = threading.Lock()
    end = time.monotonic() + LOAD_SECONDS

    def client():
        while time.monotonic() < end:
            st = request(srv.port, doc)[0]
            with lock:
                counts["ok" if st == 200 else "err"] += 1

    threads = [threading.Thread(target=client) for _ in range(16)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print("load: 16 clients for %d s -> %d documents (%.0f/s), %d errors; server RSS %d -> "
          "%d KiB" % (LOAD_SECONDS, counts["ok"], counts["ok"] / LOAD_SECONDS, counts["err"],
                      rss_before, srv.rss_kib()))
    srv.stop()


if __name__ == "__main__":
    if not os.access(SERVER, os.X_OK):
        raise SystemExit("no %s: build the delvora-textd target first" % SERVER)
    slow_loris()
    oversized()
    deep_html()
    long_document()
    load()
