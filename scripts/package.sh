#!/usr/bin/env bash
# Builds the Debian package velmora_<version>_<arch>.deb into the checkout's
# top folder: a release build (build-release/ unless a build folder is
# given, e.g. build/ to reuse the test build; its binaries are stripped in
# the package either way), then cpack -G DEB.
#   ./scripts/package.sh && sudo apt install ./velmora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
"$top/scripts/setup.sh"
. "$top/scripts/env.sh"

build=${1:-build-release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF
fi
cmake --build "$build" -j "$jobs"
rm -f "$build"/velmora_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/velmora_*.deb)
cp "$deb" "$top/"
echo "package: $top/$(basename "$deb")"
