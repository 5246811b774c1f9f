#!/usr/bin/env bash
# The Debian package end to end, as root on a fresh Debian 12:
#   ../shared/tools/fresh-debian-check -- scripts/package-check.sh
# Makes the package (scripts/package.sh, which also runs lintian), installs it with apt, runs
# the programs from PATH, validates the installed desktop entry and AppStream metadata, finds
# a PDF through the text server started by socket activation as the installed unit would
# start it, then removes the package and checks that nothing of it is left.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[[ $(id -u) -eq 0 ]] || { echo "package-check.sh: run as root (it installs the package)" >&2; exit 2; }
step() { echo "== $*"; }
fail() { echo "package-check.sh: $*" >&2; exit 1; }

scripts/package.sh
version=$(dpkg-parsechangelog -S Version)
deb=build/delvora_${version}_$(dpkg --print-architecture).deb

step "install $deb"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "./$deb"
mapfile -t files < <(dpkg -L delvora)

step "programs from PATH"
[[ $(command -v delvora-find) == /usr/bin/delvora-find ]] || fail "delvora-find is not on PATH"
[[ $(delvora-find --version) == *"$version"* ]] || fail "delvora-find --version: $(delvora-find --version)"
delvora-find --help | grep -q -- --name || fail "delvora-find --help"
delvora-textd --help | grep -q -- --idle-exit || fail "delvora-textd --help"
command -v delvora >/dev/null || fail "delvora is not on PATH"
for page in delvora delvora-find delvora-textd; do
  man -w "$page" || fail "no manual page $page"
done

step "desktop entry, metadata, units"
desktop-file-validate /usr/share/applications/delvora.desktop
appstreamcli validate --no-net /usr/share/metainfo/invalid.delvora.Delvora.metainfo.xml
[[ -f /usr/share/icons/hicolor/scalable/apps/delvora.svg ]] || fail "no icon"
[[ -f /usr/share/delvora/transl.dt ]] || fail "no translation table"
enabled=/etc/systemd/user/sockets.target.wants/delvora-textd.socket
[[ -L $enabled ]] || fail "the socket is not enabled for every user ($enabled)"

step "document search through the socket-activated server"
exec_start=$(sed -n 's/^ExecStart=//p' /usr/lib/systemd/user/delvora-textd.service)
listen=$(sed -n 's/^ListenStream=//p' /usr/lib/systemd/user/delvora-textd.socket)
[[ $listen == 127.0.0.1:9998 ]] || fail "the socket listens on $listen"
# A chroot shares the machine's loopback: when something there holds the port already, the
# server is activated on another one and the finder pointed at it.
export DELVORA_EXTRACTION_URL=http://127.0.0.1:9998
if (exec 3<>/dev/tcp/127.0.0.1/9998) 2>/dev/null; then
  listen=127.0.0.1:$((20000 + RANDOM % 20000))
  DELVORA_EXTRACTION_URL=http://$listen
  echo "port 9998 is taken on this machine; the check uses $listen"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/docs"
cp tests/textd/extract/fixtures/sample.pdf "$work/docs/inspection.pdf"
printf 'nothing to see\n' >"$work/docs/other.txt"
# shellcheck disable=SC2086 # the unit's command line, split as systemd splits this one
systemd-socket-activate --listen="$listen" $exec_start >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/${listen%:*}/${listen#*:}") 2>/dev/null && break
  sleep 0.1
done
found=$(XDG_CACHE_HOME=$work/cache delvora-find --name '*.*' --text 'Lighthouse inspection' "$work/docs") ||
  { cat "$work/server.log"; fail "delvora-find found nothing (status $?)"; }
[[ $found == "$work/docs/inspection.pdf" ]] || fail "delvora-find found '$found'"
grep -q "delvora-textd $version listening on http://$listen/" "$work/server.log" ||
  { cat "$work/server.log"; fail "the server did not take the socket"; }
kill -TERM "$server"
wait "$server" || fail "the server ended with status $? on SIGTERM"

step "remove"
apt-get remove -y -q delvora
left=()
for f in "${files[@]}"; do
  [[ -d $f ]] && continue # folders shared with other packages
  [[ -e $f || -L $f ]] && left+=("$f")
done
[[ -e $enabled || -L $enabled ]] && left+=("$enabled")
compgen -G '/var/lib/systemd/deb-systemd-user-helper-enabled/*delvora*' >/dev/null &&
  left+=(/var/lib/systemd/deb-systemd-user-helper-enabled/*delvora*)
[[ ${#left[@]} -eq 0 ]] || fail "left after removal: ${left[*]}"
[[ ! -e /usr/share/delvora ]] || fail "/usr/share/delvora is left"
echo "package check passed: $deb"
