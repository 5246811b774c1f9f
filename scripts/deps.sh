#!/usr/bin/env bash
# Installs what Delvora needs to build, run and test on Debian 12; with "package", also what
# scripts/package.sh needs to make and check the Debian package.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  qt6-base-dev libqt6svg6 libcurl4-openssl-dev libsqlite3-dev libzstd-dev libxxhash-dev
  libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev libjpeg-dev
  libfreetype-dev libharfbuzz-dev libzip-dev zlib1g-dev libxml2-dev
  libuchardet-dev libgmime-3.0-dev libgsf-1-dev libmicrohttpd-dev
  clang clang-format libclang-rt-14-dev libbenchmark-dev
  poppler-utils xdg-utils tzdata shared-mime-info qt6-translations-l10n
  desktop-file-utils appstream systemd
)
if [[ ${1:-} == package ]]; then
  packages+=(debhelper lintian man-db)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
