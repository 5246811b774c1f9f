#!/usr/bin/env bash
# Fails when a tracked C++ source differs from what clang-format (the root .clang-format)
# would make of it, and names the files that do. scripts/check-format.sh [file...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
command -v clang-format >/dev/null || { echo "clang-format is not installed (scripts/deps.sh)" >&2; exit 2; }
if [[ $# -gt 0 ]]; then
  files=("$@")
else
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.hpp' '*.cc')
  else
    # A copy without its history (an unpacked archive): every source outside the build trees.
    mapfile -t files < <(find . -path './build*' -prune -o -type f \
      \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.cc' \) -print | sed 's|^\./||' | sort)
  fi
fi
[[ ${#files[@]} -gt 0 ]] || { echo "no C++ sources"; exit 0; }
# One run over all files; each difference is reported as "<file>:<line>:<col>: error: ...".
status=0
report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1) || status=$?
if [[ $status -ne 0 ]]; then
  differ=$(grep -oE '^[^:]+:[0-9]+:[0-9]+: error: code should be clang-formatted' <<<"$report" |
    cut -d: -f1 | sort -u || true)
  if [[ -z $differ ]]; then
    echo "$report" >&2 # clang-format itself failed (a missing file, a bad .clang-format)
    exit "$status"
  fi
  echo "$differ"
  echo "$(wc -l <<<"$differ") of ${#files[@]} files are not formatted; run clang-format -i on them" >&2
  exit 1
fi
echo "format ok (${#files[@]} files)"
