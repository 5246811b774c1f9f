#!/usr/bin/env bash
# The price of watching during the walk on a tree of many small folders (FOLDERS, default
# 50,000, two empty files each, made here in a temporary folder): bench/refresh.sh on it, and
# what one inotify_add_watch through /proc/self/fd (as the walk adds it) costs against
# listing the folder, per folder.
# Usage: bench/refresh-folders.sh [build dir, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
python3 - "$tree" "${FOLDERS:-50000}" <<'PY'
import os, sys
root, folders = sys.argv[1], int(sys.argv[2])
for n in range(folders):
    d = f"{root}/a{n // 1000}/b{n % 1000}"
    os.makedirs(d)
    for f in ("f0.txt", "f1.txt"):
        open(f"{d}/{f}", "w").close()
PY
DELVORA_CORPUS=$tree bench/refresh.sh "${1:-build}"
python3 - "$tree" <<'PY'
import ctypes, os, sys, time
libc = ctypes.CDLL(None, use_errno=True)
# create, delete, moved from/to, close after writing, attributes, self deleted/moved, folders only
mask = 0x100 | 0x200 | 0x40 | 0x80 | 0x8 | 0x4 | 0x400 | 0x800 | 0x01000000
folders = [r for r, _, _ in os.walk(sys.argv[1])]
instance = libc.inotify_init1(os.O_CLOEXEC)
listing = watching = 0.0
for folder in folders:
    fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    t0 = time.perf_counter()
    os.listdir(fd)
    t1 = time.perf_counter()
    if libc.inotify_add_watch(instance, f"/proc/self/fd/{fd}".encode(), mask) < 0:
        sys.exit(f"inotify_add_watch: {os.strerror(ctypes.get_errno())}")
    t2 = time.perf_counter()
    listing += t1 - t0
    watching += t2 - t1
    os.close(fd)
os.close(instance)
n = len(folders)
print(f"per folder ({n}): listing {listing * 1e6 / n:.1f} us, inotify_add_watch "
      f"{watching * 1e6 / n:.1f} us (both with Python's own cost)")
PY
