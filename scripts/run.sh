#!/usr/bin/env bash
# Installs the dependencies, builds Delvora, starts the local text server when nothing
# listens on port 9998 yet, then starts the program. Arguments are passed to the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDELVORA_TESTS=OFF
if [[ -x build/textd/delvora-textd ]] && ! (exec 3<>/dev/tcp/127.0.0.1/9998) 2>/dev/null; then
  nohup build/textd/delvora-textd >/dev/null 2>&1 &
fi
if [[ -x build/app/delvora ]]; then
  exec build/app/delvora "$@"
fi
exec build/cli/delvora-find "$@"
