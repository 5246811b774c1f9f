#!/usr/bin/env bash
# What `cmake --install` puts in place: the programs run from bin and find their data, the
# desktop entry and the AppStream metadata pass their validators, the units and the manual
# pages are there, and the Debian package's version is the program's.
# tests/install_check.sh <source dir> <build dir> <version> <configured program folder>
set -u
src=$1 build=$2 version=$3 bindir=$4
status=0
fail() { echo "FAIL: $*"; status=1; }

desktop-file-validate "$src/resources/desktop/delvora.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$build/resources/invalid.delvora.Delvora.metainfo.xml" ||
  fail "AppStream metadata"

changelog=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
[[ $changelog == "$version" ]] || fail "debian/changelog says $changelog, the program $version"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
for program in delvora delvora-find delvora-textd; do
  [[ -x $prefix/bin/$program ]] || fail "bin/$program missing"
done
# No table beside the installed program: it is read from the data folder.
[[ ! -e $prefix/bin/transl.dt && -f $prefix/share/delvora/transl.dt ]] || fail "translation table"
out=$("$prefix/bin/delvora-find" --version) || fail "delvora-find --version"
[[ $out == *"$version"* ]] || fail "delvora-find --version says '$out'"
"$prefix/bin/delvora-textd" --help | grep -q -- --idle-exit || fail "delvora-textd --help"
for file in share/applications/delvora.desktop share/metainfo/invalid.delvora.Delvora.metainfo.xml \
  share/icons/hicolor/scalable/apps/delvora.svg share/icons/hicolor/48x48/apps/delvora.png \
  share/man/man1/delvora.1 share/man/man1/delvora-find.1 share/man/man1/delvora-textd.1 \
  share/bash-completion/completions/delvora-find \
  lib/systemd/user/delvora-textd.socket lib/systemd/user/delvora-textd.service; do
  [[ -f $prefix/$file ]] || fail "$file missing"
done
# The unit names the program folder of the configured prefix (/usr in the package).
grep -q "^ExecStart=$bindir/delvora-textd --idle-exit " "$prefix/lib/systemd/user/delvora-textd.service" ||
  fail "the service does not start the installed server"
grep -q "Delvora $version" "$prefix/share/man/man1/delvora-find.1" || fail "manual page version"
bash -n "$prefix/share/bash-completion/completions/delvora-find" || fail "bash completion"
exit $status
