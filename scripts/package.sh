#!/usr/bin/env bash
# Makes the Debian package, build/delvora_<version>_<architecture>.deb, with dpkg-buildpackage
# and debhelper (debian/), after installing what it needs, and checks it with lintian (no
# errors). The build runs in a copy under build/package/, so the checkout gets none of
# debhelper's files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh package
jobs=${DELVORA_JOBS:-$(nproc)}
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
deb=delvora_${version}_${arch}.deb
# The update dialog installs this package: its version is the program's.
program=$(sed -n 's/^project(Delvora VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
if [[ $program != "$version" ]]; then
  echo "package.sh: debian/changelog says $version, CMakeLists.txt $program" >&2
  exit 1
fi

work=build/package
rm -rf "$work"
mkdir -p "$work/delvora-$version"
tar --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/delvora-$version" -xf -
(cd "$work/delvora-$version" && dpkg-buildpackage -b -us -uc -j"$jobs")
mv "$work/$deb" "build/$deb"

lintian --fail-on error --info "build/$deb"
echo "build/$deb"
