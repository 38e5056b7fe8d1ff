#!/usr/bin/env bash
# Installs the Debian 12 packages Velmora builds and runs with. Installs only
# what is missing, so it is cheap to run again; works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev sqlite3
  postgresql-15 libpq-dev
  libboost-dev
  qt6-base-dev qt6-webengine-dev qt6-webchannel-dev qt6-svg-dev libqt6svg6
  qt6-multimedia-dev libqt6multimedia6
  libjs-leaflet libjs-leaflet.markercluster
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth libgl1-mesa-dri x11-utils libxcb1-dev xdotool
  clang-14 libclang-rt-14-dev
  fonts-dejavu-core
  locales
  desktop-file-utils appstream lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install packages" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
