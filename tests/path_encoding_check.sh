#!/usr/bin/env bash
# Paths are bytes: QFile::encodeName and QFileInfo turn a byte that is not UTF-8 into other
# bytes and so name another file, or none. They are not used in the programs' code except in
# the files of path_encoding_allow.txt, whose paths are the program's own (never one the walk
# or the user's selection found). Comments do not count.
set -u
root=${1:-.}
allow="$(dirname "$0")/path_encoding_allow.txt"
allowed=$(sed -e 's/#.*//' -e 's/[[:space:]]*$//' -e '/^$/d' "$allow")
found=$(cd "$root" && grep -rnE 'QFile::encodeName|QFileInfo' core gui cli app \
          --include='*.cpp' --include='*.h' |
        grep -vE '^[^:]+:[0-9]+:[[:space:]]*(//|#[[:space:]]*include)' |
        grep -vE ':[0-9]+:[^"]*//.*(QFile::encodeName|QFileInfo)')
status=0
while IFS= read -r line; do
  [[ -z $line ]] && continue
  file=${line%%:*}
  if ! grep -qxF "$file" <<<"$allowed"; then
    [[ $status -eq 0 ]] && echo "QFile::encodeName or QFileInfo outside the allowed files:"
    echo "$line"
    status=1
  fi
done <<<"$found"
[[ $status -eq 0 ]] && echo "path encoding ok"
exit $status
